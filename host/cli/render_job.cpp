#include "cli/render_job.h"

#include <OpenImageIO/filesystem.h>
#include <OpenImageIO/imagebufalgo.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <vector>

#include "cli/effect_buffers.h"
#include "cli/frame_loader.h"
#include "cli/interrupt.h"
#include "cli/pixel_image_io.h"
#include "runtime/RenderSession.h"

namespace dof3d {

const char* frameStatusName(FrameStatus status) {
    switch (status) {
        case FrameStatus::Rendered:
            return "rendered";
        case FrameStatus::Skipped:
            return "skipped";
        case FrameStatus::Interrupted:
            return "interrupted";
        default:
            return "failed";
    }
}

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Whether a file can be created at `path`: its folder exists and takes
// files, and its extension names a file type we can write.
bool canCreate(const std::string& path, std::string* error) {
    std::string folder = OIIO::Filesystem::parent_path(path);
    if (folder.empty()) folder = ".";
    if (OIIO::Filesystem::is_directory(path)) {
        *error = path + ": cannot write: it is a folder";
        return false;
    }
    if (!OIIO::Filesystem::is_directory(folder)) {
        *error = path + ": cannot write: folder " + folder + " does not exist";
        return false;
    }
    if (access(folder.c_str(), W_OK) != 0) {
        *error = path + ": cannot write: folder " + folder + " is not writable";
        return false;
    }
    if (!OIIO::ImageOutput::create(path)) {
        *error = path + ": cannot write: no writer for this file type";
        return false;
    }
    return true;
}

OIIO::TypeDesc dataTypeNamed(const std::string& name) {
    if (name == "uint8") return OIIO::TypeDesc::UINT8;
    if (name == "uint16") return OIIO::TypeDesc::UINT16;
    if (name == "half") return OIIO::TypeDesc::HALF;
    if (name == "float") return OIIO::TypeDesc::FLOAT;
    return OIIO::TypeUnknown;
}

// The frame as the image to write to `path`: its channels, or R, G, B (and
// A) alone when asked or when the file type takes no others. Straight colour
// is premultiplied for a writer of another file type, which expects that.
bool outputImage(const Frame& frame, const RenderOptions& options, const std::string& path,
                 OIIO::ImageBuf* image, std::string* error) {
    auto writer = OIIO::ImageOutput::create(path);
    if (!writer) {
        *error = path + ": no writer for this file type";
        return false;
    }
    OIIO::ImageBuf buf(frame.imageSpec);
    buf.set_pixels(buf.roi(), OIIO::TypeFloat, frame.pixels.data());
    if (!frame.associated && frame.alphaChannel >= 0 && writer->format_name() != frame.fileFormat) {
        OIIO::ImageBuf premultiplied;
        OIIO::ImageBufAlgo::premult(premultiplied, buf);
        buf.swap(premultiplied);
        buf.specmod().erase_attribute("oiio:UnassociatedAlpha");
    }
    const bool moreThanColour = frame.imageSpec.nchannels > (frame.alphaChannel >= 0 ? 4 : 3);
    if (moreThanColour && (options.rgbaOnly || !writer->supports("nchannels"))) {
        std::vector<int> order;
        for (int c = 0; c < 3; ++c)
            if (order.empty() || order.back() != frame.colourChannel[c])
                order.push_back(frame.colourChannel[c]);
        if (frame.alphaChannel >= 0) order.push_back(frame.alphaChannel);
        std::vector<OIIO::TypeDesc> formats;
        for (int c : order) formats.push_back(frame.imageSpec.channelformat(c));
        OIIO::ImageBuf reduced;
        OIIO::ImageBufAlgo::channels(reduced, buf, int(order.size()), order);
        reduced.specmod().channelformats = formats;
        reduced.specmod().format = formats.front();
        buf.swap(reduced);
    }
    image->swap(buf);
    return true;
}

bool writeCocMap(const std::vector<std::uint8_t>& map, const Frame& frame, const std::string& path,
                 std::string* error) {
    OIIO::ImageSpec imageSpec(frame.width(), frame.height(), 1, OIIO::TypeDesc::UINT8);
    imageSpec.x = frame.imageSpec.x;
    imageSpec.y = frame.imageSpec.y;
    imageSpec.full_x = frame.imageSpec.full_x;
    imageSpec.full_y = frame.imageSpec.full_y;
    imageSpec.full_width = frame.imageSpec.full_width;
    imageSpec.full_height = frame.imageSpec.full_height;
    imageSpec.channelnames = {"Y"};
    imageSpec.attribute("ImageDescription",
                        "blur radius as a share of the largest radius, 255 = full");
    OIIO::ImageBuf buf(imageSpec);
    buf.set_pixels(buf.roi(), OIIO::TypeUInt8, map.data());
    return writeImageAtomically(buf, path, error, OIIO::TypeDesc::UINT8);
}

// The focus distance of this frame: given, or read under a pixel.
bool focusForFrame(const Frame& frame, const RenderOptions& options, double* focus,
                   std::string* error) {
    if (!options.hasFocusAt) {
        *focus = options.focusDistance;
        return true;
    }
    const int x = options.focusAtX - frame.imageSpec.x, y = options.focusAtY - frame.imageSpec.y;
    const std::string where =
        std::to_string(options.focusAtX) + "," + std::to_string(options.focusAtY);
    if (x < 0 || y < 0 || x >= frame.width() || y >= frame.height()) {
        *error = frame.path + ": --focus-at " + where + " lies outside the image's pixels (" +
                 std::to_string(frame.imageSpec.x) + "," + std::to_string(frame.imageSpec.y) +
                 " to " + std::to_string(frame.imageSpec.x + frame.width() - 1) + "," +
                 std::to_string(frame.imageSpec.y + frame.height() - 1) + ")";
        return false;
    }
    *focus = frame.pixelDistance(std::size_t(y) * std::size_t(frame.width()) + std::size_t(x));
    if (!isHit(*focus, options.noHitAbove)) {
        *error = frame.path + ": --focus-at " + where + ": nothing was hit under that pixel";
        return false;
    }
    if (options.hasSharpUntil && !(options.sharpUntilDistance > *focus)) {
        *error =
            frame.path + ": --sharp-until is not farther than the depth under --focus-at " + where;
        return false;
    }
    return true;
}

// Pixels that a fully blurred fragment reaches: the hat's whole taps of 2r.
int blurReach(double radius) {
    const double reach = std::floor(2.0 * radius);
    return reach < 65536.0 ? int(reach) : 65536;
}

std::vector<QVRect> bands(int width, int height) {
    std::vector<QVRect> rects;
    for (int top = 0; top < height; top += kBandRows)
        rects.push_back(QVRect{0, top, width, height - top < kBandRows ? height - top : kBandRows});
    return rects;
}

std::string renderFailure(const Frame& frame, const dofrt::RenderReport& report) {
    if (report.failedSelector == 10)
        return frame.path + ": the effect refused to prepare the render";
    if (report.failedSelector == 11)
        return frame.path + ": the effect failed render pass " + std::to_string(report.failedPass);
    return frame.path + ": the effect did not finish the render";
}

}  // namespace

FrameResult renderFrame(dofrt::EffectInstance& instance, const FrameFiles& files,
                        const RenderOptions& options, Progress* progress) {
    const auto start = Clock::now();
    FrameResult result;
    result.files = files;
    const auto fail = [&](const std::string& error) {
        result.status = FrameStatus::Failed;
        result.error = error;
        result.totalSeconds = secondsSince(start);
        return result;
    };
    if (interruptRequested()) {
        result.status = FrameStatus::Interrupted;
        return result;
    }
    std::string error;
    if (!canCreate(files.output, &error)) return fail(error);
    if (!files.cocMap.empty() && !canCreate(files.cocMap, &error)) return fail(error);

    LoadOptions load;
    load.depthFile = files.depth;
    load.depthChannel = options.depthChannel;
    load.convention = options.convention;
    load.noHitAbove = options.noHitAbove;
    Frame frame;
    if (!loadFrame(files.input, load, &frame, &error)) return fail(error);
    result.deep = frame.deep;
    result.width = frame.width();
    result.height = frame.height();
    result.loadSeconds = secondsSince(start);

    if (interruptRequested()) {
        result.status = FrameStatus::Interrupted;
        return result;
    }
    double focus = 0.0;
    if (!focusForFrame(frame, options, &focus, &error)) return fail(error);
    result.focusDistance = focus;
    DepthPlacement depth;
    depth.noHitAbove = options.noHitAbove;
    depth.noHit = options.noHit;
    if (!chooseDepthScale(focus, options.hasSharpUntil ? options.sharpUntilDistance : 0.0,
                          &depth.scale, &error))
        return fail(files.input + ": " + error);
    result.depthFactor = depth.scale.factor;

    const double pixelAspect = options.hasPixelAspect ? options.pixelAspect : frame.pixelAspect;
    // The hat of a fully blurred fragment reaches twice the radius.
    growDataWindow(&frame, blurReach(options.radius * options.scaleX / pixelAspect),
                   blurReach(options.radius * options.scaleY), options.convention);
    result.width = frame.width();
    result.height = frame.height();
    const QVBitmapType format =
        options.format != kQVBitmapNone ? options.format : workingFormatFor(frame.imageSpec);
    result.workingFormat = formatName(format);
    EffectBuffers buffers;
    if (!buildEffectBuffers(frame, options.method, format, depth, &buffers, &error))
        return fail(error);

    dofrt::RenderSettings settings;
    settings.radius = options.radius;
    settings.method = double(int(options.method));
    settings.focalDepth = depth.scale.focalDepth;
    settings.focusRangeDepth = depth.scale.focusRangeDepth;
    settings.pixelAspect = pixelAspect;
    settings.scaleX = options.scaleX;
    settings.scaleY = options.scaleY;
    settings.outputRects = bands(frame.width(), frame.height());
    if (!dofrt::setRenderParameters(instance, settings))
        return fail(files.input + ": the effect did not declare its four parameters");

    instance.setAbortHandler([] { return interruptRequested(); });
    std::vector<std::uint8_t> cocMap;
    const bool wantCocMap = !files.cocMap.empty();
    const int frameNumber = files.frame;
    dofrt::PassProgress onPass = [&](int pass, int call, int calls) {
        if (progress) progress->pass(frameNumber, pass, call, calls);
        // Pass 1 has filled the radius map of every band by the first call
        // of pass 2; the bands span whole rows, so the map is the frame's.
        if (wantCocMap && pass == 2 && call == 0) {
            const Parameters* params = instance.parameters();
            if (params != nullptr && params->cocMap != nullptr)
                cocMap.assign(params->cocMap, params->cocMap + frame.pixelCount());
        }
    };
    const dofrt::RenderReport report = dofrt::render(
        instance, *buffers.source, *buffers.destination, buffers.gbuffers.get(), settings, onPass);
    for (int pass = 0; pass < 5; ++pass) result.passSeconds[pass] = report.passSeconds[pass];
    if (report.stopped || interruptRequested()) {
        result.status = FrameStatus::Interrupted;
        result.totalSeconds = secondsSince(start);
        return result;
    }
    if (!report.ok) return fail(renderFailure(frame, report));

    const auto writeStart = Clock::now();
    storeResult(buffers, options.method, &frame);
    buffers = EffectBuffers();
    OIIO::ImageBuf image;
    if (!outputImage(frame, options, files.output, &image, &error)) return fail(error);
    if (wantCocMap && cocMap.size() != frame.pixelCount())
        return fail(files.input + ": the effect left no radius map for --coc-map");
    if (interruptRequested()) {
        result.status = FrameStatus::Interrupted;
        return result;
    }
    if (!writeImageAtomically(image, files.output, &error, dataTypeNamed(options.dataType)))
        return fail(error);
    if (wantCocMap && !writeCocMap(cocMap, frame, files.cocMap, &error)) return fail(error);
    result.writeSeconds = secondsSince(writeStart);
    result.status = FrameStatus::Rendered;
    result.totalSeconds = secondsSince(start);
    return result;
}

}  // namespace dof3d
