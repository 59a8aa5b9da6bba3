#include "io/frame_reader.h"

#include <OpenImageIO/deepdata.h>
#include <OpenImageIO/filesystem.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>
#include <utility>

#include "io/file_record.h"
#include "io/lens_metadata.h"
#include "util/error_line.h"
#include "util/file_identity.h"
#include "util/library_messages.h"

namespace dof {

namespace {

std::unique_ptr<OIIO::ImageInput> openInput(const std::string& path, std::string* error) {
    const std::string problem = regularFileProblem(path);
    if (!problem.empty()) {
        *error = path + ": " + problem;
        return nullptr;
    }
    // Values as stored: straight-alpha files are not premultiplied on the way in.
    OIIO::ImageSpec config;
    config.attribute("oiio:UnassociatedAlpha", 1);
    auto in = OIIO::ImageInput::open(path, &config);
    if (!in) *error = libraryFailure(path, "cannot read", OIIO::geterror());
    return in;
}

// A part as the frame holds it: names, windows and channels, no values yet.
FramePart partOf(const OIIO::ImageSpec& imageSpec) {
    FramePart part;
    part.name = imageSpec.get_string_attribute("name");
    part.view = imageSpec.get_string_attribute("view");
    const OIIO::ParamValue* views = imageSpec.find_attribute("multiView");
    if (views != nullptr && views->type().basetype == OIIO::TypeDesc::STRING)
        for (int i = 0; i < views->nvalues() * int(views->type().basevalues()); ++i)
            part.views.push_back(views->get_string_indexed(i));
    part.dataWindow = Rect{imageSpec.x, imageSpec.y, imageSpec.width, imageSpec.height};
    part.displayWindow =
        Rect{imageSpec.full_x, imageSpec.full_y, imageSpec.full_width, imageSpec.full_height};
    for (int c = 0; c < imageSpec.nchannels; ++c)
        part.channels.push_back(imageSpec.channel_name(c));
    return part;
}

int findChannel(const std::vector<std::string>& channels, const std::string& name) {
    for (std::size_t c = 0; c < channels.size(); ++c)
        if (channels[c] == name) return int(c);
    return -1;
}

// The depth channel among a part's channels: the one asked for, else Z, else depth.Z.
int findDepthChannel(const std::vector<std::string>& channels, const std::string& asked) {
    if (!asked.empty()) return findChannel(channels, asked);
    const int z = findChannel(channels, "Z");
    return z >= 0 ? z : findChannel(channels, "depth.Z");
}

std::string noDepthMessage(const std::string& path, const std::string& asked) {
    if (!asked.empty()) return path + ": no depth channel named " + asked;
    return path +
           ": no depth channel (looked for Z and depth.Z; name one with --depth-channel, "
           "or give --depth FILE)";
}

// R, G, B by name, else the first three channels; one or two channels are
// grey (and alpha).
void findColourChannels(const OIIO::ImageSpec& imageSpec, Frame* frame) {
    const std::vector<std::string> channels = partOf(imageSpec).channels;
    const int r = findChannel(channels, "R"), g = findChannel(channels, "G"),
              b = findChannel(channels, "B");
    if (r >= 0 && g >= 0 && b >= 0) {
        frame->colourChannel[0] = r;
        frame->colourChannel[1] = g;
        frame->colourChannel[2] = b;
    } else if (imageSpec.nchannels >= 3) {
        for (int c = 0; c < 3; ++c) frame->colourChannel[c] = c;
    } else {
        for (int c = 0; c < 3; ++c) frame->colourChannel[c] = 0;
    }
    frame->alphaChannel = imageSpec.alpha_channel;
    if (frame->alphaChannel < 0) frame->alphaChannel = findChannel(channels, "A");
    if (frame->alphaChannel < 0 && imageSpec.nchannels == 2) frame->alphaChannel = 1;
}

// Whether the header declares a size a frame can have, checked before any
// pixel is allocated: a damaged or hostile header can claim billions.
bool sizeIsRenderable(const OIIO::ImageSpec& imageSpec, const std::string& path,
                      std::string* error) {
    if (imageSpec.width <= 0 || imageSpec.height <= 0) {
        *error = path + ": the image holds no pixels";
        return false;
    }
    if (std::uint64_t(imageSpec.width) * std::uint64_t(imageSpec.height) > kMaxFramePixels) {
        *error = path + ": the image is " + std::to_string(imageSpec.width) + "x" +
                 std::to_string(imageSpec.height) + " pixels, more than a frame can hold (" +
                 std::to_string(kMaxFramePixels) + " pixels)";
        return false;
    }
    return true;
}

// Some readers fill what a damaged file lacks with zeros, report it through
// their message queue and still answer success; a message after the read
// means the pixels cannot be trusted. Messages left from opening are dropped
// first, so that only the read's own count.
bool readFailed(OIIO::ImageInput& in, bool answered, const std::string& path, std::string* error) {
    const std::string message = in.geterror();
    if (answered && message.empty()) return false;
    *error = libraryFailure(path, "corrupt or truncated", message);
    return true;
}

bool readPixels(OIIO::ImageInput& in, const std::string& path, int subimage, int chbegin, int chend,
                std::vector<float>* pixels, std::string* error) {
    const OIIO::ImageSpec& imageSpec = in.spec();
    if (!sizeIsRenderable(imageSpec, path, error)) return false;
    pixels->assign(
        std::size_t(imageSpec.width) * std::size_t(imageSpec.height) * std::size_t(chend - chbegin),
        0.0f);
    in.geterror();
    const bool answered =
        in.read_image(subimage, 0, chbegin, chend, OIIO::TypeFloat, pixels->data());
    return !readFailed(in, answered, path, error);
}

// Reads a flat part whole into the frame, and its description into the record.
bool readPart(OIIO::ImageInput& in, const std::string& path, int subimage, Frame* frame,
              FileRecord::Contents* record, std::string* error) {
    const OIIO::ImageSpec imageSpec = in.spec();
    FramePart part = partOf(imageSpec);
    if (!readPixels(in, path, subimage, 0, imageSpec.nchannels, &part.values, error)) return false;
    frame->parts.push_back(std::move(part));
    record->parts.push_back(imageSpec);
    record->beyond.emplace_back(std::size_t(imageSpec.nchannels), 0.0f);
    return true;
}

// The other parts of a multi-part file: flat ones read whole, deep ones
// named only.
bool readOtherParts(OIIO::ImageInput& in, const std::string& path, Frame* frame,
                    FileRecord::Contents* record, std::string* error) {
    for (int part = 1; in.seek_subimage(part, 0); ++part) {
        if (in.spec().deep) {
            frame->deepPartsLeftOut.push_back(partName(partOf(in.spec()), part));
            continue;
        }
        if (!readPart(in, path, part, frame, record, error)) return false;
    }
    return true;
}

// Depth from another part of a multi-part file: the first part of the same
// view that holds the channel, placed by its own data window; pixels outside
// it hit nothing.
bool depthFromOtherPart(const std::string& asked, DepthConvention convention, Frame* frame) {
    const std::string& view = frame->parts.front().view;
    for (std::size_t other = 1; other < frame->parts.size(); ++other) {
        const FramePart& part = frame->parts[other];
        if (!view.empty() && !part.view.empty() && part.view != view) continue;
        const int channel = findDepthChannel(part.channels, asked);
        if (channel < 0) continue;
        std::vector<double> depth(part.dataWindow.pixels());
        for (std::size_t p = 0; p < depth.size(); ++p) depth[p] = part.value(p, channel);
        frame->distance =
            onWindow(depth, 1, part.dataWindow, frame->parts.front().dataWindow, double(NAN));
        for (double& d : frame->distance) d = cameraDistance(d, convention);
        return true;
    }
    return false;
}

bool loadSeparateDepth(const Frame& frame, const ReadOptions& options, std::vector<double>* out,
                       std::string* error) {
    auto in = openInput(options.depthFile, error);
    if (!in) return false;
    const OIIO::ImageSpec imageSpec = in->spec();
    if (imageSpec.deep) {
        *error = options.depthFile + ": a deep image cannot serve as a depth image";
        return false;
    }
    if (imageSpec.width != frame.width() || imageSpec.height != frame.height()) {
        *error = options.depthFile + ": depth image is " + std::to_string(imageSpec.width) + "x" +
                 std::to_string(imageSpec.height) + ", but " + frame.path + " is " +
                 std::to_string(frame.width()) + "x" + std::to_string(frame.height());
        return false;
    }
    int channel = findDepthChannel(partOf(imageSpec).channels, options.depthChannel);
    if (channel < 0) {
        if (!options.depthChannel.empty()) {
            *error = noDepthMessage(options.depthFile, options.depthChannel);
            return false;
        }
        channel = 0;  // a plain picture of depth
    }
    std::vector<float> depth;
    if (!readPixels(*in, options.depthFile, 0, channel, channel + 1, &depth, error)) return false;
    out->resize(depth.size());
    for (std::size_t i = 0; i < depth.size(); ++i)
        (*out)[i] = cameraDistance(depth[i], options.convention);
    return true;
}

// A value the effect cannot take becomes 0. One NaN would otherwise spread
// over the whole frame through the summed-area tables.
float finiteOrZero(float value, std::size_t* replaced) {
    if (std::isfinite(value)) return value;
    ++*replaced;
    return 0.0f;
}

// Every channel the render blurs: each view's colour and alpha, and the
// channels of its colour layers.
std::vector<ChannelAt> blurredChannels(const ChannelLayers& layers) {
    std::vector<ChannelAt> channels;
    const auto add = [&](int part, int channel) {
        const bool known = std::any_of(channels.begin(), channels.end(), [&](const ChannelAt& c) {
            return c.part == part && c.channel == channel;
        });
        if (channel >= 0 && !known) channels.push_back(ChannelAt{part, channel});
    };
    for (const ViewLayers& view : layers.views) {
        for (int c : {view.colour[0], view.colour[1], view.colour[2], view.alpha})
            add(view.part, c);
        for (const ChannelAt& at : view.layerChannels) add(at.part, at.channel);
    }
    return channels;
}

void zeroNonFiniteColour(Frame* frame) {
    for (const ChannelAt& at : blurredChannels(frame->layers)) {
        FramePart& part = frame->parts[std::size_t(at.part)];
        const std::size_t stride = part.channels.size();
        for (std::size_t p = 0; p < part.dataWindow.pixels(); ++p) {
            float& value = part.values[p * stride + std::size_t(at.channel)];
            value = finiteOrZero(value, &frame->nonFiniteValues);
        }
    }
}

// 8 or 16 where a part's pixels are stored in integers of that size.
int integerBits(const OIIO::ImageSpec& imageSpec) {
    if (imageSpec.format == OIIO::TypeDesc::UINT8) return 8;
    if (imageSpec.format == OIIO::TypeDesc::UINT16) return 16;
    return 0;
}

bool loadFlat(OIIO::ImageInput& in, const std::string& path, const ReadOptions& options,
              Frame* frame, FileRecord::Contents* record, std::string* error) {
    // Reading the other parts moves the reader on: the first part's description is the frame's.
    const OIIO::ImageSpec imageSpec = in.spec();
    if (!readPart(in, path, 0, frame, record, error)) return false;
    if (!readOtherParts(in, path, frame, record, error)) return false;
    findColourChannels(imageSpec, frame);
    frame->integerBits = integerBits(imageSpec);
    // Only an explicit mark says straight alpha; EXR and most others store
    // premultiplied colour.
    frame->associated = imageSpec.get_int_attribute("oiio:UnassociatedAlpha", 0) == 0;
    if (!options.depthFile.empty())
        return loadSeparateDepth(*frame, options, &frame->distance, error);
    const int channel = findDepthChannel(frame->parts.front().channels, options.depthChannel);
    if (channel >= 0) {
        frame->distance.resize(frame->pixelCount());
        for (std::size_t p = 0; p < frame->pixelCount(); ++p)
            frame->distance[p] = cameraDistance(frame->value(p, channel), options.convention);
        return true;
    }
    if (depthFromOtherPart(options.depthChannel, options.convention, frame)) return true;
    *error = noDepthMessage(path, options.depthChannel);
    return false;
}

// The value a flattened depth channel gets where a pixel holds no sample:
// infinitely far in the file's own convention.
float farValue(DepthConvention convention) {
    switch (convention) {
        case DepthConvention::Negative:
            return -INFINITY;
        case DepthConvention::Inverse:
            return 0.0f;
        default:
            return INFINITY;
    }
}

// A deep image's flat part: R, G, B, A and the depth of the nearest sample,
// with the input's data types and metadata.
OIIO::ImageSpec flatPartOf(const OIIO::ImageSpec& deepSpec, const Frame& probe, int depthChannel) {
    OIIO::ImageSpec flat = deepSpec;
    flat.deep = false;
    flat.channelnames = {"R", "G", "B", "A", deepSpec.channel_name(depthChannel)};
    flat.channelformats.clear();
    for (int c : {probe.colourChannel[0], probe.colourChannel[1], probe.colourChannel[2],
                  probe.alphaChannel, depthChannel})
        flat.channelformats.push_back(c >= 0 ? deepSpec.channelformat(c) : OIIO::TypeDesc::HALF);
    flat.nchannels = 5;
    flat.alpha_channel = 3;
    flat.z_channel = 4;
    flat.format = flat.channelformats[0];
    flat.erase_attribute("openexr:chunkCount");
    flat.erase_attribute("oiio:subimages");
    return flat;
}

// Each pixel's samples as its fragments, and flattened into the frame's
// flat part; `probe` names the deep image's colour and alpha channels.
void readDeepPixels(const OIIO::DeepData& deep, const Frame& probe, int depthChannel,
                    const ReadOptions& options, std::size_t maxFragments, Frame* frame) {
    const std::size_t count = frame->pixelCount();
    const int alpha = probe.alphaChannel;
    std::vector<float>& values = frame->parts.front().values;
    values.assign(count * 5, 0.0f);
    frame->fragments.assign(count, PixelFragments());
    std::vector<DeepSample> samples;
    for (std::size_t p = 0; p < count; ++p) {
        const int n = deep.samples(std::int64_t(p));
        samples.clear();
        float nearestStored = farValue(options.convention);
        double nearest = INFINITY;
        for (int k = 0; k < n; ++k) {
            DeepSample s;
            const float stored = deep.deep_value(std::int64_t(p), depthChannel, k);
            s.distance = cameraDistance(stored, options.convention);
            if (!isHit(s.distance, options.noHitAbove)) s.distance = INFINITY;
            if (s.distance < nearest || (k == 0 && std::isinf(s.distance))) {
                nearest = s.distance;
                nearestStored = stored;
            }
            for (int c = 0; c < 3; ++c)
                s.colour[c] =
                    finiteOrZero(deep.deep_value(std::int64_t(p), probe.colourChannel[c], k),
                                 &frame->nonFiniteValues);
            s.alpha = alpha >= 0 ? finiteOrZero(deep.deep_value(std::int64_t(p), alpha, k),
                                                &frame->nonFiniteValues)
                                 : 1.0;
            samples.push_back(s);
        }
        PixelFragments& pixel = frame->fragments[p];
        pixel = flattenSamples(samples);
        float* out = &values[p * 5];
        for (int c = 0; c < 3; ++c) out[c] = float(pixel.colour[c]);
        out[3] = float(pixel.alpha);
        out[4] = nearestStored;
        mergeFragments(pixel, maxFragments);
    }
}

bool loadDeep(OIIO::ImageInput& in, const std::string& path, const ReadOptions& options,
              Frame* frame, FileRecord::Contents* record, std::string* error) {
    const OIIO::ImageSpec imageSpec = in.spec();
    if (!options.depthFile.empty()) {
        *error = path + ": a deep image carries its own depth; --depth cannot be used with it";
        return false;
    }
    if (!sizeIsRenderable(imageSpec, path, error)) return false;
    int depthChannel = findDepthChannel(partOf(imageSpec).channels, options.depthChannel);
    if (depthChannel < 0 && options.depthChannel.empty()) depthChannel = imageSpec.z_channel;
    if (depthChannel < 0) {
        *error = noDepthMessage(path, options.depthChannel);
        return false;
    }
    OIIO::DeepData deep;
    in.geterror();
    if (readFailed(in, in.read_native_deep_image(0, 0, deep), path, error)) return false;
    Frame probe;
    findColourChannels(imageSpec, &probe);

    const OIIO::ImageSpec flat = flatPartOf(imageSpec, probe, depthChannel);
    frame->parts.push_back(partOf(flat));
    record->parts.push_back(flat);
    record->beyond.push_back({0.0f, 0.0f, 0.0f, 0.0f, farValue(options.convention)});
    frame->deep = true;
    frame->associated = true;
    frame->integerBits = integerBits(flat);
    for (int c = 0; c < 3; ++c) frame->colourChannel[c] = c;
    frame->alphaChannel = 3;
    readDeepPixels(deep, probe, depthChannel, options, maxFragmentsForWidth(imageSpec.width),
                   frame);
    return true;
}

// The frame as readFrame reads it, libpng's printing aside.
bool readFrameFrom(const std::string& path, const ReadOptions& options, Frame* frame,
                   FileRecord::Contents* record, std::string* error) {
    *frame = Frame();
    *record = FileRecord::Contents();
    frame->path = path;
    frame->noHitAbove = options.noHitAbove;
    auto in = openInput(path, error);
    if (!in) return false;
    const OIIO::ImageSpec imageSpec = in->spec();
    record->formatName = in->format_name();
    frame->lens = lensFromMetadata(imageSpec);
    frame->focusMetres = focusFromMetadata(imageSpec);
    frame->pixelAspect = imageSpec.get_float_attribute("PixelAspectRatio", 1.0f);
    if (!(frame->pixelAspect > 0.0) || !std::isfinite(frame->pixelAspect)) frame->pixelAspect = 1.0;
    const bool ok = imageSpec.deep ? loadDeep(*in, path, options, frame, record, error)
                                   : loadFlat(*in, path, options, frame, record, error);
    in->close();
    if (!ok) return false;
    frame->layers = describeChannelLayers(*frame, options.depthChannel, options.convention);
    // A deep frame's samples were made finite as they were read.
    if (!frame->deep) zeroNonFiniteColour(frame);
    return true;
}

}  // namespace

FileRecord::FileRecord() : contents_(new Contents) {}
FileRecord::~FileRecord() = default;
FileRecord::FileRecord(FileRecord&&) noexcept = default;
FileRecord& FileRecord::operator=(FileRecord&&) noexcept = default;

bool readFrame(const std::string& path, const ReadOptions& options, Frame* frame,
               FileRecord* record, std::string* error) {
    FileRecord::Contents& contents = record->contents();
    if (!looksLikePng(path) && !looksLikePng(options.depthFile))
        return readFrameFrom(path, options, frame, &contents, error);
    bool ok = false;
    const std::string said =
        catchLibraryMessages([&] { ok = readFrameFrom(path, options, frame, &contents, error); });
    // libpng repeats what the reader already told us, mostly.
    const std::size_t colon = said.find(": ");
    if (!ok && !said.empty() &&
        error->find(colon == std::string::npos ? said : said.substr(colon + 2)) ==
            std::string::npos)
        *error += " (" + said + ")";
    return ok;
}

}  // namespace dof
