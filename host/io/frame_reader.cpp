#include <OpenImageIO/deepdata.h>
#include <OpenImageIO/filesystem.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>
#include <utility>

#include "model/frame.h"
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

int findChannel(const OIIO::ImageSpec& imageSpec, const std::string& name) {
    for (int c = 0; c < imageSpec.nchannels; ++c)
        if (imageSpec.channel_name(c) == name) return c;
    return -1;
}

// The depth channel of an image description: the one asked for, else Z, else depth.Z.
int findDepthChannel(const OIIO::ImageSpec& imageSpec, const std::string& asked) {
    if (!asked.empty()) return findChannel(imageSpec, asked);
    const int z = findChannel(imageSpec, "Z");
    return z >= 0 ? z : findChannel(imageSpec, "depth.Z");
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
    const int r = findChannel(imageSpec, "R"), g = findChannel(imageSpec, "G"),
              b = findChannel(imageSpec, "B");
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
    if (frame->alphaChannel < 0) frame->alphaChannel = findChannel(imageSpec, "A");
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

// The other parts of a multi-part file: flat ones read whole, deep ones
// named only.
bool readOtherParts(OIIO::ImageInput& in, const std::string& path, Frame* frame,
                    std::string* error) {
    for (int part = 1; in.seek_subimage(part, 0); ++part) {
        const OIIO::ImageSpec imageSpec = in.spec();
        if (imageSpec.deep) {
            const std::string name = imageSpec.get_string_attribute("name");
            frame->deepPartsLeftOut.push_back(name.empty() ? "part " + std::to_string(part) : name);
            continue;
        }
        ImagePart read;
        read.imageSpec = imageSpec;
        if (!readPixels(in, path, part, 0, imageSpec.nchannels, &read.pixels, error)) return false;
        frame->otherParts.push_back(std::move(read));
    }
    return true;
}

// Depth from another part of a multi-part file: the first part of the same
// view that holds the channel, placed by its own data window; pixels outside
// it hit nothing.
bool depthFromOtherPart(const std::string& asked, DepthConvention convention, Frame* frame) {
    const std::string view = frame->imageSpec.get_string_attribute("view");
    for (const ImagePart& part : frame->otherParts) {
        const OIIO::ImageSpec& imageSpec = part.imageSpec;
        const std::string partView = imageSpec.get_string_attribute("view");
        if (!view.empty() && !partView.empty() && partView != view) continue;
        const int channel = findDepthChannel(imageSpec, asked);
        if (channel < 0) continue;
        std::vector<double> depth(std::size_t(imageSpec.width) * std::size_t(imageSpec.height));
        for (std::size_t p = 0; p < depth.size(); ++p)
            depth[p] = part.pixels[p * std::size_t(imageSpec.nchannels) + std::size_t(channel)];
        frame->distance = onWindow(depth, 1, imageSpec, frame->imageSpec, double(NAN));
        for (double& d : frame->distance) d = cameraDistance(d, convention);
        return true;
    }
    return false;
}

bool loadSeparateDepth(const Frame& frame, const LoadOptions& options, std::vector<double>* out,
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
    int channel = findDepthChannel(imageSpec, options.depthChannel);
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

void zeroNonFiniteColour(Frame* frame) {
    std::vector<int> channels;
    for (int c : {frame->colourChannel[0], frame->colourChannel[1], frame->colourChannel[2],
                  frame->alphaChannel})
        if (c >= 0 && std::find(channels.begin(), channels.end(), c) == channels.end())
            channels.push_back(c);
    const std::size_t stride = std::size_t(frame->imageSpec.nchannels);
    for (std::size_t p = 0; p < frame->pixelCount(); ++p)
        for (int c : channels) {
            float& value = frame->pixels[p * stride + std::size_t(c)];
            value = finiteOrZero(value, &frame->nonFiniteValues);
        }
}

bool loadFlat(OIIO::ImageInput& in, const std::string& path, const LoadOptions& options,
              Frame* frame, std::string* error) {
    frame->imageSpec = in.spec();
    // Reading the other parts moves the reader on: the first part's description is the frame's.
    const OIIO::ImageSpec& imageSpec = frame->imageSpec;
    if (!readPixels(in, path, 0, 0, imageSpec.nchannels, &frame->pixels, error)) return false;
    if (!readOtherParts(in, path, frame, error)) return false;
    findColourChannels(imageSpec, frame);
    zeroNonFiniteColour(frame);
    // Only an explicit mark says straight alpha; EXR and most others store
    // premultiplied colour.
    frame->associated = imageSpec.get_int_attribute("oiio:UnassociatedAlpha", 0) == 0;
    if (!options.depthFile.empty())
        return loadSeparateDepth(*frame, options, &frame->distance, error);
    const int channel = findDepthChannel(imageSpec, options.depthChannel);
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

bool loadDeep(OIIO::ImageInput& in, const std::string& path, const LoadOptions& options,
              Frame* frame, std::string* error) {
    const OIIO::ImageSpec imageSpec = in.spec();
    if (!options.depthFile.empty()) {
        *error = path + ": a deep image carries its own depth; --depth cannot be used with it";
        return false;
    }
    if (!sizeIsRenderable(imageSpec, path, error)) return false;
    int depthChannel = findDepthChannel(imageSpec, options.depthChannel);
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
    int alpha = probe.alphaChannel;

    // The output is flat: R, G, B, A and the depth of the nearest sample,
    // with the input's data types and metadata.
    OIIO::ImageSpec flat = imageSpec;
    flat.deep = false;
    flat.channelnames = {"R", "G", "B", "A", imageSpec.channel_name(depthChannel)};
    flat.channelformats.clear();
    for (int c : {probe.colourChannel[0], probe.colourChannel[1], probe.colourChannel[2], alpha,
                  depthChannel})
        flat.channelformats.push_back(c >= 0 ? imageSpec.channelformat(c) : OIIO::TypeDesc::HALF);
    flat.nchannels = 5;
    flat.alpha_channel = 3;
    flat.z_channel = 4;
    flat.format = flat.channelformats[0];
    flat.erase_attribute("openexr:chunkCount");
    flat.erase_attribute("oiio:subimages");
    frame->imageSpec = flat;
    frame->deep = true;
    frame->associated = true;
    for (int c = 0; c < 3; ++c) frame->colourChannel[c] = c;
    frame->alphaChannel = 3;

    const std::size_t count = frame->pixelCount();
    const std::size_t maxFragments = maxFragmentsForWidth(imageSpec.width);
    frame->pixels.assign(count * 5, 0.0f);
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
        float* out = &frame->pixels[p * 5];
        for (int c = 0; c < 3; ++c) out[c] = float(pixel.colour[c]);
        out[3] = float(pixel.alpha);
        out[4] = nearestStored;
        mergeFragments(pixel, maxFragments);
    }
    return true;
}

}  // namespace

double Frame::pixelDistance(std::size_t pixel) const {
    if (!deep) return distance[pixel];
    const PixelFragments& f = fragments[pixel];
    if (f.fragments.empty()) return NAN;
    const Fragment* heaviest = &f.fragments.front();
    for (const Fragment& fragment : f.fragments)
        if (fragment.weight > heaviest->weight) heaviest = &fragment;
    return heaviest->distance;
}

OIIO::ImageSpec grownWindow(const OIIO::ImageSpec& old, int padX, int padY) {
    const auto grownBegin = [](int begin, int fullBegin, int pad) {
        const int wanted = begin - pad > fullBegin ? begin - pad : fullBegin;
        return wanted < begin ? wanted : begin;
    };
    const auto grownEnd = [](int end, int fullEnd, int pad) {
        const int wanted = end + pad < fullEnd ? end + pad : fullEnd;
        return wanted > end ? wanted : end;
    };
    const int x0 = grownBegin(old.x, old.full_x, padX);
    const int y0 = grownBegin(old.y, old.full_y, padY);
    const int x1 = grownEnd(old.x + old.width, old.full_x + old.full_width, padX);
    const int y1 = grownEnd(old.y + old.height, old.full_y + old.full_height, padY);
    OIIO::ImageSpec grown = old;
    grown.x = x0;
    grown.y = y0;
    grown.width = x1 - x0;
    grown.height = y1 - y0;
    return grown;
}

void growDataWindow(Frame* frame, int padX, int padY, DepthConvention convention) {
    const OIIO::ImageSpec old = frame->imageSpec;
    const OIIO::ImageSpec grown = grownWindow(old, padX, padY);
    const int x0 = grown.x, y0 = grown.y;
    const int x1 = grown.x + grown.width, y1 = grown.y + grown.height;
    if (x0 == old.x && y0 == old.y && x1 == old.x + old.width && y1 == old.y + old.height) return;
    OIIO::ImageSpec& imageSpec = frame->imageSpec;
    imageSpec.x = x0;
    imageSpec.y = y0;
    imageSpec.width = x1 - x0;
    imageSpec.height = y1 - y0;
    const std::size_t channels = std::size_t(imageSpec.nchannels);
    std::vector<float> pixels(frame->pixelCount() * channels, 0.0f);
    if (frame->deep)
        for (std::size_t p = 0; p < frame->pixelCount(); ++p)
            pixels[p * channels + 4] = farValue(convention);
    std::vector<double> distance(frame->distance.empty() ? 0 : frame->pixelCount(), NAN);
    std::vector<PixelFragments> fragments(frame->fragments.empty() ? 0 : frame->pixelCount());
    for (int y = 0; y < old.height; ++y)
        for (int x = 0; x < old.width; ++x) {
            const std::size_t from = std::size_t(y) * std::size_t(old.width) + std::size_t(x);
            const std::size_t to = std::size_t(y + old.y - y0) * std::size_t(imageSpec.width) +
                                   std::size_t(x + old.x - x0);
            for (std::size_t c = 0; c < channels; ++c)
                pixels[to * channels + c] = frame->pixels[from * channels + c];
            if (!distance.empty()) distance[to] = frame->distance[from];
            if (!fragments.empty()) fragments[to] = std::move(frame->fragments[from]);
        }
    frame->pixels.swap(pixels);
    frame->distance.swap(distance);
    frame->fragments.swap(fragments);
}

std::size_t maxFragmentsForWidth(int width) {
    return 1 + (width > 0 ? std::size_t(65535 / width) : std::size_t(65535));
}

namespace {

// The frame as loadFrame reads it, libpng's printing aside.
bool loadFrameFrom(const std::string& path, const LoadOptions& options, Frame* frame,
                   std::string* error) {
    *frame = Frame();
    frame->path = path;
    auto in = openInput(path, error);
    if (!in) return false;
    const OIIO::ImageSpec& imageSpec = in->spec();
    frame->fileFormat = in->format_name();
    frame->pixelAspect = imageSpec.get_float_attribute("PixelAspectRatio", 1.0f);
    if (!(frame->pixelAspect > 0.0) || !std::isfinite(frame->pixelAspect)) frame->pixelAspect = 1.0;
    const bool ok = imageSpec.deep ? loadDeep(*in, path, options, frame, error)
                                   : loadFlat(*in, path, options, frame, error);
    in->close();
    return ok;
}

}  // namespace

bool loadFrame(const std::string& path, const LoadOptions& options, Frame* frame,
               std::string* error) {
    if (!looksLikePng(path) && !looksLikePng(options.depthFile))
        return loadFrameFrom(path, options, frame, error);
    bool ok = false;
    const std::string said =
        catchLibraryMessages([&] { ok = loadFrameFrom(path, options, frame, error); });
    // libpng repeats what the reader already told us, mostly.
    const std::size_t colon = said.find(": ");
    if (!ok && !said.empty() &&
        error->find(colon == std::string::npos ? said : said.substr(colon + 2)) ==
            std::string::npos)
        *error += " (" + said + ")";
    return ok;
}

}  // namespace dof
