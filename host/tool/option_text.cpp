#include "tool/option_text.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <vector>

namespace dof {

namespace {

// Pieces of `text` apart by any of `separators`; empty pieces are kept when
// `keepEmpty`.
std::vector<std::string> split(const std::string& text, const char* separators, bool keepEmpty) {
    std::vector<std::string> pieces;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find_first_of(separators, start);
        if (end == std::string::npos) end = text.size();
        if (keepEmpty || end > start) pieces.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return pieces;
}

// Keys from pieces: each piece with a colon starts a key (FRAME:V), the
// pieces after it add its further values. Empty `why` on success.
std::string keysFromPieces(const std::vector<std::string>& pieces, std::size_t components,
                           std::vector<Key>* keys) {
    std::set<int> frames;
    std::string ignored;
    for (const std::string& piece : pieces) {
        const std::size_t colon = piece.find(':');
        std::string value = piece;
        if (colon != std::string::npos) {
            Key key;
            const std::string frame = piece.substr(0, colon);
            if (!parseInteger("", frame, &key.frame, &ignored))
                return "\"" + frame + "\" is not a frame number";
            if (!frames.insert(key.frame).second)
                return "frame " + frame + " is keyed twice";
            keys->push_back(key);
            value = piece.substr(colon + 1);
        } else if (keys->empty()) {
            return "expected FRAME:VALUE keys";
        }
        double number = 0.0;
        if (!parseNumber("", value, &number, &ignored))
            return "\"" + value + "\" is not a number";
        keys->back().values.push_back(number);
    }
    for (const Key& key : *keys)
        if (key.values.size() != components)
            return "the key at frame " + std::to_string(key.frame) + " holds " +
                   std::to_string(key.values.size()) + " values, not " +
                   std::to_string(components);
    return std::string();
}

}  // namespace

bool parseNumber(const std::string& option, const std::string& text, double* value,
                 std::string* error) {
    const char* begin = text.c_str();
    char* end = nullptr;
    errno = 0;
    *value = std::strtod(begin, &end);
    // strtod would skip leading blanks; a blank on either side is refused alike.
    if (text.empty() || std::isspace(static_cast<unsigned char>(text[0])) || end == begin ||
        *end != '\0') {
        *error = option + " " + text + ": not a number";
        return false;
    }
    return true;
}

bool parseInteger(const std::string& option, const std::string& text, int* value,
                  std::string* error) {
    const char* begin = text.c_str();
    char* end = nullptr;
    errno = 0;
    const long parsed = std::strtol(begin, &end, 10);
    if (text.empty() || std::isspace(static_cast<unsigned char>(text[0])) || end == begin ||
        *end != '\0' || errno != 0 || parsed < -1000000000L || parsed > 1000000000L) {
        *error = option + " " + text + ": not a whole number";
        return false;
    }
    *value = int(parsed);
    return true;
}

bool parseKeys(const std::string& option, const std::string& text, std::size_t components,
               Keyframes* keys, std::string* error) {
    const std::vector<std::string> pieces = split(text, ",", true);
    if (text.find(':') == std::string::npos) {
        std::vector<double> values(pieces.size());
        for (std::size_t i = 0; i < pieces.size(); ++i)
            if (!parseNumber(option, pieces[i], &values[i], error)) return false;
        if (values.size() != components) {
            *error = option + " " + text + ": expected " +
                     (components == 1 ? "one value" : std::to_string(components) + " values") +
                     " or FRAME:VALUE keys";
            return false;
        }
        *keys = Keyframes::constant(values);
        return true;
    }
    std::vector<Key> list;
    const std::string why = keysFromPieces(pieces, components, &list);
    if (!why.empty()) {
        *error = option + " " + text + ": " + why;
        return false;
    }
    *keys = Keyframes(std::move(list));
    return true;
}

bool readKeyFile(const std::string& path, std::size_t components, Keyframes* keys,
                 std::string* error) {
    std::ifstream in(path);
    if (!in) {
        *error = path + ": cannot read: " + std::strerror(errno);
        return false;
    }
    std::vector<Key> list;
    std::map<int, int> lineOf;  // each frame's line
    std::string line, ignored;
    for (int number = 1; std::getline(in, line); ++number) {
        const std::string where = path + ":" + std::to_string(number) + ": ";
        const std::vector<std::string> words = split(line.substr(0, line.find('#')), " \t\r,", false);
        if (words.empty()) continue;
        Key key;
        std::string why;
        if (words.size() != components + 1)
            why = "expected FRAME and " +
                  (components == 1 ? std::string("a value") : std::to_string(components) + " values") +
                  ", found \"" + line.substr(0, line.find_last_not_of(" \t\r") + 1) + "\"";
        else if (!parseInteger("", words[0], &key.frame, &ignored))
            why = "\"" + words[0] + "\" is not a frame number";
        else if (lineOf.count(key.frame))
            why = "frame " + words[0] + " is keyed twice (first on line " +
                  std::to_string(lineOf[key.frame]) + ")";
        for (std::size_t i = 1; why.empty() && i < words.size(); ++i) {
            key.values.push_back(0.0);
            if (!parseNumber("", words[i], &key.values.back(), &ignored))
                why = "\"" + words[i] + "\" is not a number";
        }
        if (!why.empty()) {
            *error = where + why;
            return false;
        }
        lineOf[key.frame] = number;
        list.push_back(key);
    }
    if (in.bad() || list.empty()) {
        *error = path + (in.bad() ? ": cannot read: " + std::string(std::strerror(errno))
                                  : std::string(": no keys in the file"));
        return false;
    }
    *keys = Keyframes(std::move(list));
    return true;
}

}  // namespace dof

namespace dof {

namespace {

// "64.000000" as "64".
std::string shortNumber(const std::string& text) {
    char shortest[32];
    std::snprintf(shortest, sizeof shortest, "%g", std::strtod(text.c_str(), nullptr));
    return shortest;
}

}  // namespace

std::string parserErrorLine(const std::string& kind, const std::string& message) {
    std::smatch m;
    const auto has = [&](const char* pattern) {
        return std::regex_match(message, m, std::regex(pattern));
    };
    if (kind == "ArgumentMismatch" && has("(\\S+): At Most \\d+ required but received (\\d+)"))
        return m[1].str() + (m[2] == "2" ? " given twice" : " given " + m[2].str() + " times");
    if (kind == "ArgumentMismatch" && has("(\\S+): \\d+ required (\\S*) ?missing"))
        return m[1].str() + ": no value" + (m[2].length() ? " (" + m[2].str() + ")" : "");
    if (kind == "ArgumentMismatch" && has("(\\S+) was given a disallowed flag override"))
        return m[1].str() + ": takes no value";
    // Extras are named by the command they were given to.
    if (has("The following arguments? (was|were) not expected: (\\S+).*"))
        return m[2].str() +
               (m[2].str()[0] == '-' ? ": no such option" : ": one argument too many");
    if (kind == "ConversionError" && has("Could not convert: (\\S+) = (.*)"))
        return m[1].str() + " " + m[2].str() + ": not a value it takes";
    if (kind == "ValidationError" && has("(\\S+): Value (\\S+) not in range (\\S+) to (\\S+)"))
        return m[1].str() + " " + m[2].str() + ": use " + shortNumber(m[3].str()) + " to " +
               shortNumber(m[4].str());
    if (kind == "ValidationError" && has("(\\S+): (.*) not in \\{(.*)\\}")) {
        std::string choices = m[3].str();
        const std::size_t last = choices.rfind(',');
        if (last != std::string::npos) choices.replace(last, 1, " or ");
        for (std::size_t at = 0; (at = choices.find(',', at)) != std::string::npos; at += 2)
            choices.replace(at, 1, ", ");
        return m[1].str() + " " + m[2].str() + ": use " + choices;
    }
    if (kind == "RequiredError" && message == "A subcommand is required")
        return "give a command: info, render, blur or demo";
    return message;
}

}  // namespace dof
