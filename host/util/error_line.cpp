#include "util/error_line.h"

#include <cstdio>

namespace dof {

std::string oneLine(const std::string& text) {
    std::string line;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::size_t first = start, last = end;
        while (first < last && (text[first] == ' ' || text[first] == '\r' || text[first] == '\t'))
            ++first;
        while (last > first &&
               (text[last - 1] == ' ' || text[last - 1] == '\r' || text[last - 1] == '\t'))
            --last;
        if (last > first) {
            if (!line.empty()) line += "; ";
            line.append(text, first, last - first);
        }
        start = end + 1;
    }
    return line.empty() ? std::string("unknown error") : line;
}

std::string libraryFailure(const std::string& path, const std::string& failure,
                           const std::string& message) {
    const std::string line = oneLine(message);
    const bool memory = line.find("bad_alloc") != std::string::npos ||
                        line.find("allocate memory") != std::string::npos ||
                        line.find("out of memory") != std::string::npos;
    return path + ": " + (memory ? "out of memory (" + line + ")" : failure + ": " + line);
}

void printError(const std::string& message) {
    std::string line = "dof3d: ";
    for (unsigned char c : message) {
        if (c >= 0x20 && c != 0x7F) {
            line += char(c);
        } else if (c == '\n') {
            line += "\\n";
        } else {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02x", c);
            line += escaped;
        }
    }
    line += '\n';
    std::fputs(line.c_str(), stderr);
}

}  // namespace dof
