#include "io/staged_image.h"

#include <OpenImageIO/filesystem.h>
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "util/error_line.h"
#include "util/temporary_registry.h"

namespace dof {

namespace {

constexpr char kMarker[] = ".dof3d-";
constexpr char kSuffix[] = ".tmp";

struct SplitPath {
    std::string folder;  // "." for a bare name
    std::string name;
};

SplitPath split(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return {".", path};
    return {slash == 0 ? "/" : path.substr(0, slash), path.substr(slash + 1)};
}

std::string temporaryFor(const std::string& path) {
    static std::atomic<unsigned> counter{0};
    const SplitPath parts = split(path);
    return parts.folder + "/." + parts.name + kMarker + std::to_string(getpid()) + "-" +
           std::to_string(counter++) + kSuffix;
}

// The process id in a temporary's name made for `name`, or 0 when the entry
// is not one of ours.
long ownerOf(const std::string& entry, const std::string& name) {
    const std::string prefix = "." + name + kMarker;
    const std::size_t suffix = sizeof kSuffix - 1;
    if (entry.size() <= prefix.size() + suffix || entry.compare(0, prefix.size(), prefix) != 0 ||
        entry.compare(entry.size() - suffix, suffix, kSuffix) != 0)
        return 0;
    const char* digits = entry.c_str() + prefix.size();
    char* end = nullptr;
    const long pid = std::strtol(digits, &end, 10);
    return end != digits && *end == '-' && pid > 0 ? pid : 0;
}

// Flushes the file's data to the disk, so that a full or failing disk is
// heard of now rather than never.
bool flushToDisk(const std::string& path) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool flushed = fsync(fd) == 0;
    return close(fd) == 0 && flushed;
}

// Whether the file reads back whole, through the reader of the type it was
// written as, as an image of the written size.
bool readsBack(const std::string& path, const std::string& fileType, const OIIO::ImageSpec& written,
               int partCount, std::string* problem) {
    auto in = OIIO::ImageInput::create(fileType);
    OIIO::ImageSpec opened;
    if (!in || !in->open(path, opened)) {
        *problem =
            "the file does not read back: " + oneLine(in ? in->geterror() : OIIO::geterror());
        return false;
    }
    // A type that takes no alpha (JPEG) drops it while writing: the size is
    // what must come back.
    // Every part is there; the first is checked whole.
    if (partCount > 1 && (!in->seek_subimage(partCount - 1, 0) || !in->seek_subimage(0, 0))) {
        *problem = "the file does not read back with its " + std::to_string(partCount) + " parts";
        return false;
    }
    const OIIO::ImageSpec& found = in->spec();
    if (found.width != written.width || found.height != written.height) {
        *problem = "the file reads back as " + std::to_string(found.width) + "x" +
                   std::to_string(found.height) + " pixels";
        return false;
    }
    // A band of rows at a time, so that checking a large image takes little
    // memory; tiled files by whole rows of tiles (their scanline reads are
    // not to be trusted).
    const int tileRows = found.tile_width > 0 ? std::max(found.tile_height, 1) : 1;
    const int rows = std::min(std::max(64 / tileRows, 1) * tileRows, found.height);
    std::vector<float> band(std::size_t(found.width) * std::size_t(found.nchannels) *
                            std::size_t(rows));
    for (int y = found.y; y < found.y + found.height; y += rows) {
        const int end = std::min(y + rows, found.y + found.height);
        const bool read = found.tile_width > 0
                              ? in->read_tiles(0, 0, found.x, found.x + found.width, y, end,
                                               found.z, found.z + std::max(found.depth, 1), 0,
                                               found.nchannels, OIIO::TypeFloat, band.data())
                              : in->read_scanlines(0, 0, y, end, found.z, 0, found.nchannels,
                                                   OIIO::TypeFloat, band.data());
        if (!read) {
            *problem = "the file does not read back: " + oneLine(in->geterror());
            return false;
        }
    }
    return true;
}

// Whether the image library has a writer for the path's extension.
bool writesExtension(const std::string& path) {
    std::string extension = OIIO::Filesystem::extension(path, false);
    for (char& c : extension) c = char(std::tolower(static_cast<unsigned char>(c)));
    if (extension.empty()) return false;
    const std::string writers =
        "," + std::string(OIIO::get_string_attribute("output_format_list")) + ",";
    // "openexr:exr,sxr,mxr;tiff:tif,tiff,...": a type, then its extensions.
    const std::string types(OIIO::get_string_attribute("extension_list"));
    for (std::size_t start = 0; start < types.size();) {
        std::size_t end = types.find(';', start);
        if (end == std::string::npos) end = types.size();
        const std::string entry = types.substr(start, end - start);
        const std::size_t colon = entry.find(':');
        if (colon != std::string::npos &&
            writers.find("," + entry.substr(0, colon) + ",") != std::string::npos &&
            ("," + entry.substr(colon + 1) + ",").find("," + extension + ",") != std::string::npos)
            return true;
        start = end + 1;
    }
    return false;
}

}  // namespace

std::unique_ptr<OIIO::ImageOutput> createWriter(const std::string& path, std::string* error) {
    auto out = OIIO::ImageOutput::create(path);
    if (out) return out;
    // The library also fails here, without a word, when memory runs out
    // while it sets up: a type it can write means that.
    const std::string why = OIIO::geterror();
    std::string problem = "no writer for this file type";
    if (writesExtension(path))
        problem = why.empty() ? "out of memory (no writer could be made)" : oneLine(why);
    *error = path + ": cannot write: " + problem;
    return nullptr;
}

bool StagedImage::write(const OIIO::ImageBuf& buf, const std::string& path,
                        OIIO::TypeDesc dataFormat, std::string* error) {
    return write(std::vector<const OIIO::ImageBuf*>{&buf}, path, dataFormat, error);
}

bool StagedImage::write(const std::vector<const OIIO::ImageBuf*>& parts, const std::string& path,
                        OIIO::TypeDesc dataFormat, std::string* error) {
    discard();
    path_ = path;
    auto out = createWriter(path, error);
    if (!out) return false;
    removeStaleTemporaries(path);
    temporary_ = temporaryFor(path);
    slot_ = rememberTemporary(temporary_);
    std::vector<OIIO::ImageSpec> specs;
    for (const OIIO::ImageBuf* part : parts) {
        specs.push_back(part->spec());
        if (dataFormat != OIIO::TypeUnknown) specs.back().set_format(dataFormat);
    }
    // The writer was chosen by the output's own extension; the temporary's
    // name does not choose it.
    std::string problem;
    OIIO::ImageSpec expected;
    bool opened = false, closed = true;
    for (std::size_t i = 0; i < parts.size() && problem.empty(); ++i) {
        const bool next = i == 0
                              ? out->open(temporary_, int(specs.size()), specs.data())
                              : out->open(temporary_, specs[i], OIIO::ImageOutput::AppendSubimage);
        opened = opened || next;
        if (!next) {
            problem = oneLine(out->geterror());
            break;
        }
        if (i == 0) expected = out->spec();
        if (!parts[i]->write(out.get())) problem = oneLine(parts[i]->geterror());
    }
    if (opened) closed = out->close();
    if (problem.empty()) {
        if (!closed)
            problem = oneLine(out->geterror());
        else if (!flushToDisk(temporary_))
            problem = std::string("the data did not reach the disk: ") + std::strerror(errno);
        else
            readsBack(temporary_, out->format_name(), expected, int(parts.size()), &problem);
    }
    if (problem.empty()) return true;
    // The message names the output, not our temporary.
    for (std::size_t at; (at = problem.find(temporary_)) != std::string::npos;)
        problem.replace(at, temporary_.size(), path);
    struct statvfs disk;
    if (statvfs(split(path).folder.c_str(), &disk) == 0 && disk.f_bavail == 0)
        problem += " (the disk is full)";
    *error = libraryFailure(path, "cannot write", problem);
    discard();
    return false;
}

bool StagedImage::commit(std::string* error) {
    if (temporary_.empty()) {
        *error = path_ + ": nothing was written to put in place";
        return false;
    }
    if (std::rename(temporary_.c_str(), path_.c_str()) != 0) {
        *error = path_ + ": cannot move the finished file into place: " + std::strerror(errno);
        discard();
        return false;
    }
    forgetTemporary(slot_);
    slot_ = -1;
    temporary_.clear();
    return true;
}

void StagedImage::discard() {
    if (!temporary_.empty()) std::remove(temporary_.c_str());
    forgetTemporary(slot_);
    slot_ = -1;
    temporary_.clear();
}

bool writeImageAtomically(const OIIO::ImageBuf& buf, const std::string& path, std::string* error,
                          OIIO::TypeDesc dataFormat) {
    StagedImage staged;
    return staged.write(buf, path, dataFormat, error) && staged.commit(error);
}

void removeStaleTemporaries(const std::string& path) {
    const SplitPath parts = split(path);
    DIR* dir = opendir(parts.folder.c_str());
    if (dir == nullptr) return;
    while (dirent* entry = readdir(dir)) {
        const long pid = ownerOf(entry->d_name, parts.name);
        // Another run still writing it keeps its file.
        if (pid == 0 || pid == long(getpid()) || kill(pid_t(pid), 0) == 0 || errno != ESRCH)
            continue;
        unlink((parts.folder + "/" + entry->d_name).c_str());
    }
    closedir(dir);
}

}  // namespace dof
