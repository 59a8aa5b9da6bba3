#include "util/library_messages.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <mutex>

#include "util/error_line.h"
#include "util/file_identity.h"

namespace dof {

namespace {

std::mutex gCaptureMutex;

// Standard error pointed at a memory file while it lives, and back after.
class CaughtStandardError {
public:
    CaughtStandardError() {
        std::fflush(stderr);
        capture_ = memfd_create("dof3d-stderr", MFD_CLOEXEC);
        saved_ = capture_ >= 0 ? dup(STDERR_FILENO) : -1;
        if (saved_ >= 0 && dup2(capture_, STDERR_FILENO) < 0) {
            close(saved_);
            saved_ = -1;
        }
    }
    ~CaughtStandardError() {
        restore();
        if (capture_ >= 0) close(capture_);
    }
    // Puts standard error back and returns what was printed meanwhile.
    std::string restore() {
        std::string text;
        if (saved_ < 0) return text;
        std::fflush(stderr);
        dup2(saved_, STDERR_FILENO);
        close(saved_);
        saved_ = -1;
        char buffer[4096];
        ssize_t n;
        for (off_t at = 0; (n = pread(capture_, buffer, sizeof buffer, at)) > 0; at += n)
            text.append(buffer, std::size_t(n));
        return text;
    }

private:
    int capture_ = -1;
    int saved_ = -1;
};

}  // namespace

bool looksLikePng(const std::string& path) {
    static const char kSignature[8] = {'\x89', 'P', 'N', 'G', '\r', '\n', '\x1a', '\n'};
    if (path.empty() || !regularFileProblem(path).empty()) return false;
    char head[8] = {};
    std::ifstream in(path, std::ios::binary);
    return in.read(head, sizeof head) && std::memcmp(head, kSignature, sizeof head) == 0;
}

std::string catchLibraryMessages(const std::function<void()>& call) {
    std::lock_guard<std::mutex> lock(gCaptureMutex);
    std::string printed;
    {
        CaughtStandardError caught;
        call();
        printed = caught.restore();
    }
    std::string library, others;
    std::size_t start = 0;
    while (start < printed.size()) {
        std::size_t end = printed.find('\n', start);
        end = end == std::string::npos ? printed.size() : end + 1;
        const std::string line = printed.substr(start, end - start);
        (line.compare(0, 6, "libpng") == 0 ? library : others) += line;
        start = end;
    }
    if (!others.empty()) std::fputs(others.c_str(), stderr);
    return library.empty() ? std::string() : oneLine(library);
}

}  // namespace dof
