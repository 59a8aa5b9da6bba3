#include "util/frame_sequence.h"

#include <dirent.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <set>

namespace dof {

namespace {

// A frame field at `pos`: its length in the path and its width (-1: none).
bool fieldAt(const std::string& path, std::size_t pos, std::size_t* length, int* width) {
    if (path[pos] == '#') {
        std::size_t end = pos;
        while (end < path.size() && path[end] == '#') ++end;
        *length = end - pos;
        *width = int(end - pos);
        return true;
    }
    if (path[pos] != '%') return false;
    std::size_t i = pos + 1;
    int padded = 0;
    if (i < path.size() && path[i] == '0') {
        ++i;
        if (i >= path.size() || !std::isdigit(static_cast<unsigned char>(path[i]))) return false;
        padded = path[i] - '0';
        ++i;
    }
    if (i < path.size() && path[i] == 'd') {
        *length = i + 1 - pos;
        *width = padded;
        return true;
    }
    return false;
}

bool parseFrameNumber(const std::string& text, int* value) {
    if (text.empty() || text.size() > 9) return false;
    for (char c : text)
        if (!std::isdigit(static_cast<unsigned char>(c))) return false;
    *value = std::atoi(text.c_str());
    return true;
}

}  // namespace

bool hasFramePattern(const std::string& path) {
    std::size_t length;
    int width;
    for (std::size_t i = 0; i < path.size(); ++i)
        if (fieldAt(path, i, &length, &width)) return true;
    return false;
}

std::string framePath(const std::string& pattern, int frame) {
    std::string out;
    std::size_t length;
    int width;
    for (std::size_t i = 0; i < pattern.size();) {
        if (fieldAt(pattern, i, &length, &width)) {
            // Any field width: the number, zero-padded on the left.
            const std::string number = std::to_string(frame);
            if (int(number.size()) < width) out.append(std::size_t(width) - number.size(), '0');
            out += number;
            i += length;
        } else {
            out += pattern[i++];
        }
    }
    return out;
}

bool parseFrameList(const std::string& text, std::vector<int>* frames, std::string* error) {
    // A sequence of a few hundred thousand frames is already beyond any shot.
    constexpr std::size_t kMaxFrames = 1000000;
    frames->clear();
    std::set<int> seen;
    std::size_t start = 0;
    const auto fail = [&](const std::string& item, const char* why) {
        *error = "--frames " + text + ": " + why + " in \"" + item + "\"";
        return false;
    };
    if (text.empty()) {
        *error = "--frames: empty frame list";
        return false;
    }
    while (start <= text.size()) {
        std::size_t end = text.find(',', start);
        if (end == std::string::npos) end = text.size();
        const std::string item = text.substr(start, end - start);
        int first = 0, last = 0, step = 1;
        const std::size_t dash = item.find('-');
        if (dash == std::string::npos) {
            if (!parseFrameNumber(item, &first)) return fail(item, "not a frame number");
            last = first;
        } else {
            const std::size_t x = item.find('x', dash);
            if (!parseFrameNumber(item.substr(0, dash), &first) ||
                !parseFrameNumber(item.substr(dash + 1, x == std::string::npos ? std::string::npos
                                                                               : x - dash - 1),
                                  &last))
                return fail(item, "not a range of frame numbers");
            if (x != std::string::npos &&
                (!parseFrameNumber(item.substr(x + 1), &step) || step < 1))
                return fail(item, "not a step of 1 or more");
            if (first > last) return fail(item, "the first frame comes after the last");
        }
        for (long long f = first; f <= last; f += step) {
            if (seen.insert(int(f)).second) frames->push_back(int(f));
            if (frames->size() > kMaxFrames) return fail(item, "more than a million frames");
        }
        start = end + 1;
    }
    return true;
}

std::vector<int> framesOnDisk(const std::string& pattern) {
    const std::size_t slash = pattern.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : pattern.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? pattern : pattern.substr(slash + 1);
    std::vector<int> frames;
    if (hasFramePattern(folder)) return frames;
    DIR* dir = opendir(folder.c_str());
    if (dir == nullptr) return frames;
    // The first frame field's place in the name: what precedes it is the
    // same in every frame's name, and its digits follow.
    std::size_t field = 0, length = 0;
    int width = 0;
    while (!fieldAt(name, field, &length, &width)) ++field;
    while (const dirent* entry = readdir(dir)) {
        const std::string candidate = entry->d_name;
        if (candidate.compare(0, field, name, 0, field) != 0) continue;
        std::size_t end = field;
        while (end < candidate.size() && std::isdigit(static_cast<unsigned char>(candidate[end])))
            ++end;
        int frame = 0;
        if (parseFrameNumber(candidate.substr(field, end - field), &frame) &&
            framePath(name, frame) == candidate)
            frames.push_back(frame);
    }
    closedir(dir);
    std::sort(frames.begin(), frames.end());
    return frames;
}

std::string frameListText(const std::vector<int>& frames) {
    std::string text;
    for (std::size_t i = 0; i < frames.size();) {
        std::size_t last = i;
        while (last + 1 < frames.size() && frames[last + 1] == frames[last] + 1) ++last;
        text += (text.empty() ? "" : ",") + std::to_string(frames[i]);
        if (last > i) text += "-" + std::to_string(frames[last]);
        i = last + 1;
    }
    return text;
}

std::vector<int> frameChunk(const std::vector<int>& frames, int chunk, int task) {
    // In 64 bits: a task number times a chunk may pass what an int holds.
    const long long first = (long long)task * chunk;
    if (task < 0 || chunk < 1 || first >= (long long)frames.size()) return {};
    const long long end = std::min<long long>(first + chunk, (long long)frames.size());
    return std::vector<int>(frames.begin() + first, frames.begin() + end);
}

std::vector<FrameFiles> expandFrames(const std::vector<int>& frames, const std::string& input,
                                     const std::string& depth, const std::string& output,
                                     const std::string& cocMap) {
    std::vector<FrameFiles> files;
    const auto one = [&](int frame) {
        FrameFiles f;
        f.frame = frame;
        f.input = framePath(input, frame);
        f.depth = depth.empty() ? depth : framePath(depth, frame);
        f.output = framePath(output, frame);
        f.cocMap = cocMap.empty() ? cocMap : framePath(cocMap, frame);
        files.push_back(f);
    };
    if (frames.empty()) {
        FrameFiles f;
        f.input = input;
        f.depth = depth;
        f.output = output;
        f.cocMap = cocMap;
        files.push_back(f);
    }
    for (int frame : frames) one(frame);
    return files;
}

}  // namespace dof
