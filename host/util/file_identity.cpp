#include "util/file_identity.h"

#include <sys/stat.h>

#include <filesystem>
#include <map>
#include <tuple>

namespace dof {

namespace {

// Device and inode of what exists; a missing file is known by its folder's
// device and inode and its own name.
struct FileIdentity {
    dev_t device = 0;
    ino_t inode = 0;
    std::string name;  // empty for a file that exists

    bool operator<(const FileIdentity& other) const {
        return std::tie(device, inode, name) < std::tie(other.device, other.inode, other.name);
    }
};

FileIdentity identify(const std::string& path) {
    FileIdentity identity;
    struct stat status;
    if (stat(path.c_str(), &status) == 0) {
        identity.device = status.st_dev;
        identity.inode = status.st_ino;
        return identity;
    }
    std::error_code ignored;
    const std::filesystem::path normal =
        std::filesystem::absolute(path, ignored).lexically_normal();
    const std::string folder = normal.parent_path().string();
    if (stat(folder.empty() ? "." : folder.c_str(), &status) == 0) {
        identity.device = status.st_dev;
        identity.inode = status.st_ino;
        identity.name = normal.filename().string();
    } else {
        identity.name = normal.string();
    }
    return identity;
}

struct NamedFile {
    const char* role;  // the option that names it
    std::string path;
    int frame;
};

std::string clashMessage(const NamedFile& output, const NamedFile& other, bool sequence) {
    const auto of = [sequence](const NamedFile& f) {
        return sequence ? std::string(f.role) + " of frame " + std::to_string(f.frame)
                        : std::string(f.role);
    };
    return output.path + ": " + of(output) + " names the same file as " + of(other) + " " +
           other.path;
}

}  // namespace

std::string regularFileProblem(const std::string& path) {
    struct stat status;
    if (stat(path.c_str(), &status) != 0) return "no such file";
    if (S_ISREG(status.st_mode)) return std::string();
    if (S_ISDIR(status.st_mode)) return "not a regular file (a folder)";
    if (S_ISFIFO(status.st_mode)) return "not a regular file (a FIFO)";
    if (S_ISCHR(status.st_mode) || S_ISBLK(status.st_mode)) return "not a regular file (a device)";
    return "not a regular file";
}

std::string outputClash(const std::vector<FrameFiles>& frames, bool sequence) {
    std::map<FileIdentity, NamedFile> named;
    for (const FrameFiles& f : frames) {
        named.emplace(identify(f.input), NamedFile{"the input", f.input, f.frame});
        if (!f.depth.empty())
            named.emplace(identify(f.depth), NamedFile{"--depth", f.depth, f.frame});
    }
    for (const FrameFiles& f : frames) {
        const NamedFile outputs[] = {{"-o", f.output, f.frame}, {"--coc-map", f.cocMap, f.frame}};
        for (const NamedFile& output : outputs) {
            if (output.path.empty()) continue;
            const auto inserted = named.emplace(identify(output.path), output);
            if (!inserted.second) return clashMessage(output, inserted.first->second, sequence);
        }
    }
    return std::string();
}

}  // namespace dof
