#include "io/staged_image.h"

#include <OpenImageIO/filesystem.h>
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
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
#include "io/output_types.h"

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
    if (decodesWhole(*in, problem)) return true;
    *problem = "the file does not read back: " + *problem;
    return false;
}

// A file in memory that its writer may also read back while writing (TIFF
// does, for its Exif directory).
class MemoryFile final : public OIIO::Filesystem::IOVecOutput {
public:
    using IOVecOutput::IOVecOutput;
    std::size_t read(void* data, std::size_t size) override {
        const std::size_t n = pread(data, size, m_pos);
        m_pos += int64_t(n);
        return n;
    }
    std::size_t pread(void* data, std::size_t size, int64_t offset) override {
        const std::vector<unsigned char>& held = buffer();
        if (offset < 0 || std::size_t(offset) >= held.size()) return 0;
        size = std::min(size, held.size() - std::size_t(offset));
        std::memcpy(data, held.data() + offset, size);
        return size;
    }
};

// Encodes the parts through the writer into the file `target`, or into
// `memory`, and leaves
// every error the writer met in `problem`. `expected` is the first part as
// the writer stores it.
bool encodeParts(OIIO::ImageOutput& out, const std::vector<const OIIO::ImageBuf*>& parts,
                 const std::string& target, OIIO::TypeDesc dataFormat,
                 OIIO::Filesystem::IOProxy* memory, OIIO::ImageSpec* expected,
                 std::string* problem) {
    if (memory != nullptr && !out.supports("ioproxy")) {
        *problem = std::string(out.format_name()) + " files cannot be encoded in memory here";
        return false;
    }
    void* proxy = memory;
    std::vector<OIIO::ImageSpec> specs;
    for (const OIIO::ImageBuf* part : parts) {
        specs.push_back(part->spec());
        if (dataFormat != OIIO::TypeUnknown) specs.back().set_format(dataFormat);
        if (memory != nullptr) specs.back().attribute("oiio:ioproxy", OIIO::TypeDesc::PTR, &proxy);
    }
    OIIO::geterror();  // what an earlier call left is not this write's
    bool opened = false;
    for (std::size_t i = 0; i < parts.size() && problem->empty(); ++i) {
        const bool next = i == 0 ? out.open(target, int(specs.size()), specs.data())
                                 : out.open(target, specs[i], OIIO::ImageOutput::AppendSubimage);
        opened = opened || next;
        if (!next) {
            *problem = oneLine(out.geterror());
            break;
        }
        if (i == 0) *expected = out.spec();
        if (!parts[i]->write(&out)) *problem = oneLine(parts[i]->geterror());
    }
    const bool closed = !opened || out.close();
    // Some writers note an error and still answer that all went well; the
    // TIFF writer notes one for every file without Exif data, which it then
    // writes whole (the read back checks it).
    std::string noted = out.has_error() ? oneLine(out.geterror()) : std::string();
    if (noted == "failed TIFFWriteCustomDirectory() of the Exif data") noted.clear();
    if (problem->empty() && !closed) *problem = noted.empty() ? "the writer failed" : noted;
    if (problem->empty()) *problem = noted;
    if (problem->empty() && OIIO::has_error()) *problem = oneLine(OIIO::geterror());
    if (problem->empty() && memory != nullptr && memory->size() == 0)
        *problem = "the writer wrote nothing";
    return problem->empty();
}

// Flushes a file the writer wrote to the disk, so that a full or failing
// disk is heard of now rather than never.
bool flushToDisk(const std::string& path, std::string* problem) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    const int failure = fd < 0 ? errno : fsync(fd) != 0 ? errno : 0;
    if (fd >= 0) close(fd);
    if (failure != 0)
        *problem = std::string("the data did not reach the disk: ") + std::strerror(failure);
    return failure == 0;
}

// Writes the bytes to a new file at `path` and flushes them to the disk, so
// that a full or failing disk is heard of now rather than never.
bool storeBytes(const std::string& path, const std::vector<unsigned char>& bytes,
                std::string* problem) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) {
        *problem = std::strerror(errno);
        return false;
    }
    int failure = 0;
    for (std::size_t done = 0; done < bytes.size() && failure == 0;) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n > 0)
            done += std::size_t(n);
        else if (n == 0 || errno != EINTR)
            failure = n == 0 ? EIO : errno;
    }
    if (failure == 0 && fsync(fd) != 0) failure = errno;
    if (close(fd) != 0 && failure == 0) failure = errno;
    if (failure != 0)
        *problem = std::string("the data did not reach the disk: ") + std::strerror(failure);
    return failure == 0;
}

}  // namespace

bool decodesWhole(OIIO::ImageInput& in, std::string* problem) {
    // A band of rows at a time, so that checking a large image takes little
    // memory; tiled files by whole rows of tiles (their scanline reads are
    // not to be trusted).
    const OIIO::ImageSpec& found = in.spec();
    const int tileRows = found.tile_width > 0 ? std::max(found.tile_height, 1) : 1;
    const int rows = std::max(std::min(std::max(64 / tileRows, 1) * tileRows, found.height), 1);
    std::vector<float> band(std::size_t(found.width) * std::size_t(found.nchannels) *
                            std::size_t(rows));
    for (int y = found.y; y < found.y + found.height; y += rows) {
        const int end = std::min(y + rows, found.y + found.height);
        const bool read = found.tile_width > 0
                              ? in.read_tiles(0, 0, found.x, found.x + found.width, y, end,
                                              found.z, found.z + std::max(found.depth, 1), 0,
                                              found.nchannels, OIIO::TypeFloat, band.data())
                              : in.read_scanlines(0, 0, y, end, found.z, 0, found.nchannels,
                                                  OIIO::TypeFloat, band.data());
        if (!read) {
            *problem = oneLine(in.geterror());
            return false;
        }
    }
    return true;
}

std::unique_ptr<OIIO::ImageOutput> createWriter(const std::string& path, std::string* error) {
    if (outputTypeFor(path, false, error) == nullptr) return nullptr;
    auto out = OIIO::ImageOutput::create(path);
    if (out) return out;
    // The library also fails here, without a word, when memory runs out
    // while it sets up a type it writes.
    const std::string why = OIIO::geterror();
    *error = path + ": cannot write: " +
             (why.empty() ? std::string("out of memory (no writer could be made)") : oneLine(why));
    return nullptr;
}

bool StagedImage::write(const OIIO::ImageBuf& buf, const std::string& path,
                        OIIO::TypeDesc dataFormat, std::string* error) {
    return write(std::vector<const OIIO::ImageBuf*>{&buf}, path, dataFormat, error);
}

bool StagedImage::write(const std::vector<const OIIO::ImageBuf*>& parts, const std::string& path,
                        OIIO::TypeDesc dataFormat, std::string* error) {
    discard();
    auto out = createWriter(path, error);
    return out && write(parts, path, dataFormat, *out, error);
}

bool StagedImage::write(const std::vector<const OIIO::ImageBuf*>& parts, const std::string& path,
                        OIIO::TypeDesc dataFormat, OIIO::ImageOutput& writer,
                        std::string* error) {
    discard();
    path_ = path;
    OIIO::ImageOutput* out = &writer;
    removeStaleTemporaries(path);
    temporary_ = temporaryFor(path);
    slot_ = rememberTemporary(temporary_);
    OIIO::ImageSpec expected;
    std::string problem;
    // OpenEXR's writer of several parts goes to the named file whatever it is
    // handed; like TIFF's, its library hands every failure back. The named
    // file is the temporary in any case, so a writer that goes to the disk
    // never meets the output.
    if (outputTypeNamed(out->format_name())->throughMemory && parts.size() == 1) {
        std::vector<unsigned char> bytes;
        MemoryFile memory(bytes);
        if (encodeParts(*out, parts, temporary_, dataFormat, &memory, &expected, &problem))
            storeBytes(temporary_, bytes, &problem);
    } else if (encodeParts(*out, parts, temporary_, dataFormat, nullptr, &expected, &problem)) {
        flushToDisk(temporary_, &problem);
    }
    if (problem.empty())
        readsBack(temporary_, out->format_name(), expected, int(parts.size()), &problem);
    if (problem.empty()) return true;
    // The message names the output, not our temporary.
    for (std::size_t at; (at = problem.find(temporary_)) != std::string::npos;)
        problem.replace(at, temporary_.size(), path);
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
