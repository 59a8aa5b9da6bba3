// Small image files the command-line tests write and read back, and a
// scratch folder per test.
#pragma once

#include <OpenImageIO/deepdata.h>
#include <OpenImageIO/half.h>
#include <OpenImageIO/imageio.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace dof::test {

// Names of every file in a folder, sorted.
inline std::vector<std::string> namesIn(const std::string& folder) {
    std::vector<std::string> list;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        list.push_back(entry.path().filename().string());
    std::sort(list.begin(), list.end());
    return list;
}

// A fresh folder under the system's temporary folder, removed afterwards.
class ScratchFolder {
public:
    ScratchFolder() {
        char pattern[] = "/tmp/dof3d-test-XXXXXX";
        const char* made = mkdtemp(pattern);
        path_ = made ? made : "";
    }
    ~ScratchFolder() {
        std::error_code ignored;
        if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
    }
    std::string file(const std::string& name) const { return path_ + "/" + name; }
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

// A flat image: channel names, per-channel data types, pixels as floats.
struct FlatImage {
    int width = 0, height = 0;
    int x = 0, y = 0;                   // data window origin
    int fullWidth = 0, fullHeight = 0;  // display window; 0 = the data window
    std::vector<std::string> channels;
    std::vector<OIIO::TypeDesc> formats;  // one per channel, or one for all
    std::vector<float> pixels;            // channels per pixel, row by row
    std::vector<std::pair<std::string, std::string>> stringAttributes;
    std::vector<OIIO::ParamValue> attributes;  // of any type
    float pixelAspect = 1.0f;
    bool unassociatedAlpha = false;
    int tileSize = 0;  // square tiles; 0 writes scanlines

    float& at(int px, int py, int c) {
        return pixels[(std::size_t(py) * std::size_t(width) + std::size_t(px)) * channels.size() +
                      std::size_t(c)];
    }
    float at(int px, int py, int c) const { return const_cast<FlatImage*>(this)->at(px, py, c); }
};

inline FlatImage makeFlat(int width, int height, std::vector<std::string> channels,
                          OIIO::TypeDesc format) {
    FlatImage image;
    image.width = width;
    image.height = height;
    image.channels = std::move(channels);
    image.formats = {format};
    image.pixels.assign(std::size_t(width) * std::size_t(height) * image.channels.size(), 0.0f);
    return image;
}

inline bool writeFlat(const std::string& path, const FlatImage& image) {
    OIIO::ImageSpec imageSpec(image.width, image.height, int(image.channels.size()),
                              image.formats[0]);
    imageSpec.x = image.x;
    imageSpec.y = image.y;
    imageSpec.full_x = imageSpec.full_y = 0;
    imageSpec.full_width = image.fullWidth ? image.fullWidth : image.width;
    imageSpec.full_height = image.fullHeight ? image.fullHeight : image.height;
    imageSpec.channelnames = image.channels;
    if (image.formats.size() == image.channels.size()) imageSpec.channelformats = image.formats;
    const auto index = [&](const char* name) {
        const auto at = std::find(image.channels.rbegin(), image.channels.rend(), name);
        return at == image.channels.rend() ? -1 : int(image.channels.rend() - at) - 1;
    };
    imageSpec.alpha_channel = index("A");
    imageSpec.z_channel = index("Z");
    imageSpec.tile_width = imageSpec.tile_height = image.tileSize;
    imageSpec.attribute("PixelAspectRatio", image.pixelAspect);
    if (image.unassociatedAlpha) imageSpec.attribute("oiio:UnassociatedAlpha", 1);
    for (const auto& a : image.stringAttributes) imageSpec.attribute(a.first, a.second);
    for (const auto& a : image.attributes) imageSpec.attribute(a.name(), a.type(), a.data());
    auto out = OIIO::ImageOutput::create(path);
    if (!out || !out->open(path, imageSpec)) return false;
    const bool ok = out->write_image(OIIO::TypeFloat, image.pixels.data());
    return out->close() && ok;
}

// Reads every channel of a subimage (a part) as floats, with the file's own
// values (straight alpha stays straight). Width 0 when it cannot be read.
inline FlatImage readFlat(const std::string& path, OIIO::ImageSpec* specOut = nullptr,
                          int part = 0) {
    OIIO::ImageSpec config;
    config.attribute("oiio:UnassociatedAlpha", 1);
    auto in = OIIO::ImageInput::open(path, &config);
    if (!in || !in->seek_subimage(part, 0)) return FlatImage();
    const OIIO::ImageSpec& imageSpec = in->spec();
    if (specOut) *specOut = imageSpec;
    FlatImage image =
        makeFlat(imageSpec.width, imageSpec.height, imageSpec.channelnames, OIIO::TypeDesc::FLOAT);
    image.x = imageSpec.x;
    image.y = imageSpec.y;
    if (!in->read_image(part, 0, 0, imageSpec.nchannels, OIIO::TypeFloat, image.pixels.data()))
        image.width = 0;
    return image;
}

// One deep sample as the tests write it.
struct TestSample {
    float r, g, b, a, z;
};

// A deep scanline EXR with R, G, B, A (half) and Z (float); samples per pixel
// in the order given.
inline bool writeDeep(const std::string& path, int width, int height,
                      const std::vector<std::vector<TestSample>>& samples) {
    OIIO::ImageSpec imageSpec(width, height, 5, OIIO::TypeDesc::HALF);
    imageSpec.channelnames = {"R", "G", "B", "A", "Z"};
    imageSpec.channelformats = {OIIO::TypeDesc::HALF, OIIO::TypeDesc::HALF, OIIO::TypeDesc::HALF,
                                OIIO::TypeDesc::HALF, OIIO::TypeDesc::FLOAT};
    imageSpec.alpha_channel = 3;
    imageSpec.z_channel = 4;
    imageSpec.deep = true;
    OIIO::DeepData deep;
    deep.init(imageSpec);
    for (std::size_t p = 0; p < samples.size(); ++p)
        deep.set_samples(std::int64_t(p), int(samples[p].size()));
    for (std::size_t p = 0; p < samples.size(); ++p)
        for (std::size_t k = 0; k < samples[p].size(); ++k) {
            const TestSample& s = samples[p][k];
            const float values[5] = {s.r, s.g, s.b, s.a, s.z};
            for (int c = 0; c < 5; ++c) deep.set_deep_value(std::int64_t(p), c, int(k), values[c]);
        }
    auto out = OIIO::ImageOutput::create(path);
    if (!out || !out->open(path, imageSpec)) return false;
    const bool ok = out->write_deep_image(deep);
    return out->close() && ok;
}

// Writes one multi-part OpenEXR, a part per header.
inline bool writeParts(const std::string& path, const std::vector<OIIO::ImageSpec>& specs,
                       const std::vector<std::vector<float>>& pixels) {
    auto out = OIIO::ImageOutput::create(path);
    if (!out || !out->open(path, int(specs.size()), specs.data())) return false;
    for (std::size_t i = 0; i < specs.size(); ++i)
        if ((i > 0 && !out->open(path, specs[i], OIIO::ImageOutput::AppendSubimage)) ||
            !out->write_image(OIIO::TypeFloat, pixels[i].data()))
            return false;
    return out->close();
}

}  // namespace dof::test
