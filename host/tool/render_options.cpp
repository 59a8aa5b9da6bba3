#include "tool/render_options.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <memory>

#include "io/output_encoding.h"
#include "io/picture.h"
#include "render/aperture_picture.h"
#include "tool/option_text.h"
#include "util/frame_sequence.h"
#include "util/task_pool.h"

namespace dof {

const char* methodName(Method method) {
    switch (method) {
        case Method::Box:
            return "box";
        case Method::Splat:
            return "splat";
        default:
            return "aperture";
    }
}

const char* formatName(QVBitmapType format) {
    switch (format) {
        case kQVBitmapRGBA8:
            return "8";
        case kQVBitmapRGBA10:
            return "10";
        case kQVBitmapRGBA12:
            return "12";
        case kQVBitmapRGBA16:
            return "16";
        case kQVBitmapRGBAFloat:
            return "float";
        default:
            return "auto";
    }
}

namespace {

// The shortest decimal text that reads back as the same double.
std::string shortest(double value) {
    char text[32];
    const auto end = std::to_chars(text, text + sizeof text, value).ptr;
    return std::string(text, end);
}

// "A,B" as two parts; a single value gives both the same when `allowSingle`.
bool splitPair(const std::string& text, std::string* first, std::string* second, bool allowSingle) {
    const std::size_t comma = text.find(',');
    if (comma == std::string::npos) {
        if (!allowSingle) return false;
        *first = *second = text;
        return true;
    }
    *first = text.substr(0, comma);
    *second = text.substr(comma + 1);
    return second->find(',') == std::string::npos;
}

bool positiveFinite(const std::string& option, const std::string& text, double* value,
                    std::string* error) {
    if (!parseNumber(option, text, value, error)) return false;
    if (!std::isfinite(*value) || !(*value > 0.0)) {
        *error = option + " " + text + ": must be a finite number above 0";
        return false;
    }
    return true;
}

// A lens value, plain or keyed, every key finite and above 0; none when
// `text` is empty.
bool positiveKeys(const std::string& option, const std::string& text, Keyframes* keys,
                  std::string* error) {
    if (text.empty()) return true;
    if (!parseKeys(option, text, 1, keys, error)) return false;
    for (const Key& key : keys->keys()) {
        const double v = key.values[0];
        if (std::isfinite(v) && v > 0.0) continue;
        *error = (keys->keyed() ? option + " frame " + std::to_string(key.frame) + ": " + shortest(v)
                                : option + " " + text) +
                 ": must be a finite number above 0";
        return false;
    }
    return true;
}

// Keys from the option's text, whichever is given.
bool keysFrom(const std::string& option, const std::string& text, const std::string& file,
              std::size_t components, Keyframes* keys, std::string* error) {
    return file.empty() ? parseKeys(option, text, components, keys, error)
                        : readKeyFile(file, components, keys, error);
}

// What each key is named by in messages: the option, or its file.
std::string keyName(const std::string& option, const std::string& file, const Keyframes& keys,
                    const Key& key) {
    const std::string what = file.empty() ? option : file + ":";
    return keys.keyed() ? what + " frame " + std::to_string(key.frame) + ":" : what;
}

// The focus: one of --focus, --focus-at and their files, or none (the
// frame's own focus attribute).
bool parseFocusSource(const RenderArguments& args, RenderOptions* o, std::string* error) {
    const std::pair<const char*, const std::string*> sources[] = {
        {"--focus", &args.focus},
        {"--focus-at", &args.focusAt},
        {"--focus-file", &args.focusFile},
        {"--focus-at-file", &args.focusAtFile}};
    std::vector<std::string> given;
    for (const auto& source : sources)
        if (!source.second->empty()) given.push_back(source.first);
    if (given.size() > 1) {
        *error = "give one focus, not both " + given[0] + " and " + given[1];
        return false;
    }
    if (!args.focus.empty() || !args.focusFile.empty()) {
        o->focusFrom = FocusSource::Option;
        o->focusFile = args.focusFile;
        if (!keysFrom("--focus", args.focus, args.focusFile, 1, &o->focus, error)) return false;
        for (const Key& key : o->focus.keys()) {
            *error = focusProblem(keyName("--focus", args.focusFile, o->focus, key),
                                  key.values[0], o->convention, o->noHitAbove);
            if (!error->empty()) return false;
        }
    } else if (!args.focusAt.empty() || !args.focusAtFile.empty()) {
        o->focusFrom = FocusSource::Pixel;
        o->focusFile = args.focusAtFile;
        if (!keysFrom("--focus-at", args.focusAt, args.focusAtFile, 2, &o->focusAt, error)) {
            if (args.focusAtFile.empty() && args.focusAt.find(':') == std::string::npos)
                *error = "--focus-at " + args.focusAt +
                         ": expected pixel coordinates X,Y (or keys FRAME:X,Y,...)";
            return false;
        }
        for (const Key& key : o->focusAt.keys())
            for (double v : key.values)
                if (!(std::fabs(v) <= 1e9)) {
                    *error = keyName("--focus-at", args.focusAtFile, o->focusAt, key) + " " +
                             shortest(v) + ": not a pixel coordinate";
                    return false;
                }
    }
    return true;
}

bool parseFocusOptions(const RenderArguments& args, RenderOptions* o, std::string* error) {
    if (args.focusInterpolation == "smooth")
        o->interpolation = Interpolation::Smooth;
    else if (args.focusInterpolation != "linear") {
        *error = "--focus-interp " + args.focusInterpolation + ": use linear or smooth";
        return false;
    }
    if (!parseFocusSource(args, o, error)) return false;
    if (!args.sharpUntil.empty()) {
        if (!parseNumber("--sharp-until", args.sharpUntil, &o->sharpUntil, error)) return false;
        *error = focusProblem("--sharp-until", o->sharpUntil, o->convention, o->noHitAbove);
        if (!error->empty()) return false;
        o->hasSharpUntil = true;
        o->sharpUntilDistance = cameraDistance(o->sharpUntil, o->convention);
        // Between keys the focus stays within them: each key must lie nearer.
        for (const Key& key : o->focus.keys())
            if (!(o->sharpUntilDistance > cameraDistance(key.values[0], o->convention))) {
                *error = "--sharp-until " + args.sharpUntil + " is not farther than " +
                         (args.focusFile.empty() ? "--focus " + args.focus
                                                 : args.focusFile + " frame " +
                                                       std::to_string(key.frame)) +
                         "; the sharp zone runs from the focus away from the camera";
                return false;
            }
    }
    return true;
}

// Metres per unit of the file's distances.
bool parseDepthUnit(const std::string& unit, double* metres) {
    static const struct {
        const char* name;
        double metres;
    } units[] = {{"m", 1.0}, {"cm", 0.01}, {"mm", 0.001}, {"in", 0.0254}, {"ft", 0.3048}};
    for (const auto& u : units)
        if (unit == u.name) {
            *metres = u.metres;
            return true;
        }
    return false;
}

// The blur: a radius, or a lens (given in part or whole, completed from the
// file), or by default a radius of 8 unless the file describes its lens.
bool parseBlurOptions(const RenderArguments& args, RenderOptions* o, std::string* error) {
    if (!positiveKeys("--fstop", args.fstop, &o->fNumber, error) ||
        !positiveKeys("--focal-length", args.focalLength, &o->focalLength, error) ||
        (!args.sensorWidth.empty() && !positiveFinite("--sensor-width", args.sensorWidth,
                                                      &o->lens.given.sensorWidthMm, error)))
        return false;
    if (!parseDepthUnit(args.depthUnit, &o->lens.metresPerUnit)) {
        *error = "--depth-unit " + args.depthUnit + ": use m, cm, mm, in or ft";
        return false;
    }
    o->depthUnit = args.depthUnit;
    const bool anyLens =
        !args.fstop.empty() || !args.focalLength.empty() || !args.sensorWidth.empty();
    if (!args.radius.empty()) {
        if (anyLens) {
            *error =
                "--radius: not with a lens (--fstop, --focal-length, --sensor-width), which sets "
                "the blur";
            return false;
        }
        if (!parseNumber("--radius", args.radius, &o->radius, error)) return false;
        // The effect's range binds the effect's methods only.
        if (o->method == Method::Aperture ? !(o->radius >= 0.0 && std::isfinite(o->radius))
                                          : !(o->radius >= 0.0 && o->radius <= kMaximumRadius)) {
            *error = "--radius " + args.radius +
                     (o->method == Method::Aperture ? ": must be a finite number, 0 or more"
                                                    : ": out of range (0 to 64 pixels)");
            return false;
        }
        o->hasRadius = true;
    }
    if (anyLens && !args.scale.empty()) {
        *error = "--scale: not with a lens, whose blur follows the image's own size";
        return false;
    }
    // A lens in the file blurs only where no radius or render scale says otherwise.
    o->lens.fromFileAllowed = args.radius.empty() && args.scale.empty();
    return true;
}

// A farm task's share of the list: --chunk frames, the --task-th chunk (by
// default the Slurm array task's). Without --chunk the whole list.
bool takeChunk(const RenderArguments& args, RenderOptions* o, std::string* error) {
    if (args.chunk.empty()) {
        if (args.task.empty()) return true;
        *error = "--task " + args.task + ": give the frames per task with --chunk N";
        return false;
    }
    int chunk = 0, task = 0;
    if (!parseInteger("--chunk", args.chunk, &chunk, error)) return false;
    if (chunk < 1) {
        *error = "--chunk " + args.chunk + ": use 1 or more frames per task";
        return false;
    }
    const std::string option = args.task.empty() ? "$SLURM_ARRAY_TASK_ID" : "--task";
    const std::string text = args.task.empty() ? args.arrayTaskId : args.task;
    if (text.empty()) {
        *error = "--chunk " + args.chunk +
                 ": which chunk? give --task N (0 for the first) or run as a Slurm array task";
        return false;
    }
    if (!parseInteger(option, text, &task, error)) return false;
    const std::size_t size = o->frames.size();
    const std::size_t tasks = (size + std::size_t(chunk) - 1) / std::size_t(chunk);
    std::vector<int> frames = frameChunk(o->frames, chunk, task);
    if (frames.empty()) {
        *error = option + " " + text + ": not a task of this list (" + std::to_string(size) +
                 " frames in chunks of " + args.chunk + " are tasks 0 to " +
                 std::to_string(tasks - 1) + ")";
        return false;
    }
    o->frames = std::move(frames);
    return true;
}

// The circle of confusion: the 8-bit map's scale, and the output's channel,
// which must be able to hold float values.
bool parseCocOptions(const RenderArguments& args, RenderOptions* o, std::string* error) {
    if (!positiveFinite("--coc-scale", args.cocScale, &o->cocScale, error)) return false;
    if (args.cocChannel.empty()) return true;
    const std::string why = dataTypeProblem(args.output, "float");
    if (!why.empty()) {
        *error = "--coc-channel " + args.cocChannel + ": " + args.output +
                 " cannot hold its float values (" + why.substr(why.find(": ") + 2) + ")";
        return false;
    }
    return true;
}

// A single image has no frame number: keys that differ between frames do
// not say which value is its own.
bool keysNeedNoFrame(const RenderOptions& o, std::string* error) {
    const std::pair<const char*, const Keyframes*> keyed[] = {{"--focus", &o.focus},
                                                              {"--focus-at", &o.focusAt},
                                                              {"--fstop", &o.fNumber},
                                                              {"--focal-length", &o.focalLength}};
    for (const auto& k : keyed)
        if (k.second->animated()) {
            *error = std::string(k.first) + ": keys for several frames need a sequence (" +
                     o.input + " holds no frame field)";
            return false;
        }
    return true;
}

// A number in [low, high] for an option of the aperture's shape.
bool parseShapeNumber(const std::string& option, const std::string& text, double low,
                      double high, double* value, std::string* error) {
    if (!parseNumber(option, text, value, error)) return false;
    if (*value >= low && *value <= high) return true;
    *error = option + " " + text + ": out of range (" + shortest(low) + " to " + shortest(high) + ")";
    return false;
}

// The picture of --aperture-image, which takes the place of blades and
// cat's eye; read before any frame is.
bool readAperturePicture(const RenderArguments& args, RenderOptions* o, std::string* error) {
    if (args.apertureImage.empty()) return true;
    for (const auto& option : {std::make_pair("--aperture", !args.aperture.empty() &&
                                                                 args.aperture != "disc"),
                               std::make_pair("--cats-eye", !args.catsEye.empty())})
        if (option.second) {
            *error = std::string(option.first) + ": not with --aperture-image";
            return false;
        }
    Picture grey;
    auto picture = std::make_shared<AperturePicture>();
    if (!readGreyPicture(args.apertureImage, &grey, error)) return false;
    if (!makeAperturePicture(grey.width, grey.height, grey.values, picture.get(), error)) {
        *error = args.apertureImage + ": " + *error;
        return false;
    }
    o->aperture.picture = std::move(picture);
    o->apertureImage = args.apertureImage;
    return true;
}

// The aperture's shape; its options only with the aperture, the blades'
// only with blades.
bool parseApertureOptions(const RenderArguments& args, RenderOptions* o, std::string* error) {
    const struct {
        const char* name;
        const std::string& text;
    } shapeOptions[] = {{"--aperture", args.aperture},
                        {"--blade-rotation", args.bladeRotation},
                        {"--blade-curvature", args.bladeCurvature},
                        {"--anamorphic", args.anamorphic},
                        {"--cats-eye", args.catsEye},
                        {"--aperture-image", args.apertureImage}};
    for (const auto& option : shapeOptions)
        if (o->method != Method::Aperture && !option.text.empty()) {
            *error = std::string(option.name) + ": only with --method aperture";
            return false;
        }
    ApertureSettings& a = o->aperture;
    if (!args.aperture.empty() && args.aperture != "disc") {
        const std::string prefix = "blades:";
        std::string ignored;
        if (args.aperture.compare(0, prefix.size(), prefix) != 0 ||
            !parseInteger("--aperture", args.aperture.substr(prefix.size()), &a.blades,
                          &ignored) ||
            a.blades < 3 || a.blades > 16) {
            *error = "--aperture " + args.aperture + ": use disc, or blades:N with 3 to 16 blades";
            return false;
        }
    }
    for (const auto* bladeOption : {&shapeOptions[1], &shapeOptions[2]})
        if (a.blades == 0 && !bladeOption->text.empty()) {
            *error = std::string(bladeOption->name) + ": only with --aperture blades:N";
            return false;
        }
    const double kMaxRotation = 360.0;
    return (args.bladeRotation.empty() ||
            parseShapeNumber("--blade-rotation", args.bladeRotation, -kMaxRotation, kMaxRotation,
                             &a.rotation, error)) &&
           (args.bladeCurvature.empty() || parseShapeNumber("--blade-curvature",
                                                            args.bladeCurvature, 0.0, 1.0,
                                                            &a.curvature, error)) &&
           (args.anamorphic.empty() ||
            parseShapeNumber("--anamorphic", args.anamorphic, 0.25, 4.0, &a.squeeze, error)) &&
           (args.catsEye.empty() ||
            parseShapeNumber("--cats-eye", args.catsEye, 0.0, 2.0, &a.catsEye, error)) &&
           readAperturePicture(args, o, error);
}

// The method and its slabs. Without --method, the aperture, unless --slabs 1
// asks for the effect's single render. Without --slabs, the method's own
// number: the aperture's slabs only order fragments that keep their own
// radius, so more of them cost little and keep a small bright fragment out
// of the slab of the surface behind it.
bool parseMethod(const RenderArguments& args, RenderOptions* o, std::string* error) {
    if (!args.slabs.empty()) {
        if (!parseInteger("--slabs", args.slabs, &o->slabs, error)) return false;
        if (o->slabs < 1 || o->slabs > kMaxSlabs) {
            *error =
                "--slabs " + args.slabs + ": use 1 to " + std::to_string(kMaxSlabs) + " slabs";
            return false;
        }
    }
    if (args.method.empty()) {
        o->method = o->slabs == 1 ? Method::Splat : Method::Aperture;
    } else if (args.method == "box" || args.method == "1") {
        o->method = Method::Box;
    } else if (args.method == "splat" || args.method == "2") {
        o->method = Method::Splat;
    } else if (args.method == "aperture") {
        o->method = Method::Aperture;
    } else {
        *error = "--method " + args.method + ": use aperture, splat or box";
        return false;
    }
    if (args.slabs.empty()) o->slabs = o->method == Method::Aperture ? kApertureSlabs : kSplatSlabs;
    return parseApertureOptions(args, o, error);
}

bool parseFrameOptions(const RenderArguments& args, RenderOptions* o, std::string* error) {
    const bool sequence = hasFramePattern(args.input);
    if (!sequence) {
        if (!args.frames.empty()) {
            *error = "--frames " + args.frames + ": " + args.input +
                     " holds no frame field (#### or %04d)";
            return false;
        }
        if (!args.chunk.empty() || !args.task.empty()) {
            *error = (args.chunk.empty() ? "--task " + args.task : "--chunk " + args.chunk) +
                     ": only for a sequence (a frame field and --frames)";
            return false;
        }
        return keysNeedNoFrame(*o, error);
    }
    if (!hasFramePattern(args.output)) {
        *error = args.output + ": the output needs a frame field too (#### or %04d)";
        return false;
    }
    if (!args.cocMap.empty() && !hasFramePattern(args.cocMap)) {
        *error = args.cocMap + ": --coc-map needs a frame field for a sequence (#### or %04d)";
        return false;
    }
    if (args.frames.empty()) {
        o->frames = framesOnDisk(args.input);
        if (o->frames.empty()) {
            *error = args.input + ": no frames found (no file matches); give them with --frames";
            return false;
        }
        o->framesFound = frameListText(o->frames);
        return takeChunk(args, o, error);
    }
    return parseFrameList(args.frames, &o->frames, error) && takeChunk(args, o, error);
}

// How the file stores depth, and what counts as no hit.
bool parseDepthOptions(const RenderArguments& args, RenderOptions* o, std::string* error) {
    if (!parseDepthConvention(args.depthConvention, &o->convention)) {
        *error =
            "--depth-convention " + args.depthConvention + ": use distance, negative or inverse";
        return false;
    }
    if (!parseNoHitPolicy(args.noHit, &o->noHit)) {
        *error = "--no-hit " + args.noHit + ": use far or focus";
        return false;
    }
    if (!parseNumber("--no-hit-above", args.noHitAbove, &o->noHitAbove, error)) return false;
    if (!(o->noHitAbove > 0.0)) {
        *error = "--no-hit-above " + args.noHitAbove + ": must be above 0";
        return false;
    }
    return true;
}

// The pixels' shape and scale, the working format, and the output's data
// type and colour space.
bool parseImageOptions(const RenderArguments& args, RenderOptions* o, std::string* error) {
    if (!args.pixelAspect.empty()) {
        if (!positiveFinite("--pixel-aspect", args.pixelAspect, &o->pixelAspect, error))
            return false;
        o->hasPixelAspect = true;
    }
    if (!args.scale.empty()) {
        std::string sx, sy;
        if (!splitPair(args.scale, &sx, &sy, true)) {
            *error = "--scale " + args.scale + ": expected S or SX,SY";
            return false;
        }
        if (!positiveFinite("--scale", sx, &o->scaleX, error) ||
            !positiveFinite("--scale", sy, &o->scaleY, error))
            return false;
    }
    if (args.format == "8")
        o->format = kQVBitmapRGBA8;
    else if (args.format == "10")
        o->format = kQVBitmapRGBA10;
    else if (args.format == "12")
        o->format = kQVBitmapRGBA12;
    else if (args.format == "16")
        o->format = kQVBitmapRGBA16;
    else if (args.format == "float")
        o->format = kQVBitmapRGBAFloat;
    else if (args.format != "auto") {
        *error = "--format " + args.format + ": use auto, 8, 10, 12, 16 or float";
        return false;
    }
    if (o->method == Method::Aperture && o->format != kQVBitmapNone) {
        *error = "--format " + args.format +
                 ": the aperture works in float; a working format is for --method box or splat";
        return false;
    }
    if (!args.dataType.empty() && args.dataType != "uint8" && args.dataType != "uint16" &&
        args.dataType != "half" && args.dataType != "float") {
        *error = "--data-type " + args.dataType + ": use uint8, uint16, half or float";
        return false;
    }
    o->dataType = args.dataType;
    // A file type we do not write is refused before any frame is read.
    *error = outputTypeProblem(args.output);
    if (error->empty() && !args.cocMap.empty()) *error = outputTypeProblem(args.cocMap, true);
    if (!error->empty()) return false;
    *error = dataTypeProblem(args.output, args.dataType);
    if (!error->empty()) return false;
    *error = colourSpaceProblem(args.colourSpace);
    if (!error->empty()) return false;
    o->colourSpace = args.colourSpace;
    if (!parseCocOptions(args, o, error)) return false;
    return true;
}

// Frames at a time, threads per frame and depth slabs.
bool parseWorkOptions(const RenderArguments& args, RenderOptions* o, std::string* error) {
    if (!parseInteger("--jobs", args.jobs, &o->jobs, error)) return false;
    if (o->jobs < 1 || o->jobs > 64) {
        *error = "-j " + args.jobs + ": use 1 to 64 frames at a time";
        return false;
    }
    if (args.threads.empty()) {
        o->threads = std::max(1, machineCores() / o->jobs);
    } else {
        if (!parseInteger("--threads", args.threads, &o->threads, error)) return false;
        if (o->threads < 1 || o->threads > 256) {
            *error = "--threads " + args.threads + ": use 1 to 256 threads per frame";
            return false;
        }
    }
    return true;
}

}  // namespace

bool parseRenderOptions(const RenderArguments& args, RenderOptions* o, std::string* error) {
    *o = RenderOptions();
    if (args.input.empty()) {
        *error = "no input image: dof3d render IN -o OUT";
        return false;
    }
    if (args.output.empty()) {
        *error = "no output: give -o OUT";
        return false;
    }
    o->input = args.input;
    o->output = args.output;
    o->depthFile = args.depthFile;
    o->depthChannel = args.depthChannel;
    o->cocMap = args.cocMap;
    o->cocChannel = args.cocChannel;
    o->effectsDir = args.effectsDir;
    o->rgbaOnly = args.rgbaOnly;
    o->overwrite = args.overwrite;
    o->json = args.json;
    o->quiet = args.quiet;

    // In this order, so that the first bad option is the one named.
    return parseMethod(args, o, error) && parseBlurOptions(args, o, error) &&
           parseDepthOptions(args, o, error) && parseFocusOptions(args, o, error) &&
           parseImageOptions(args, o, error) && parseWorkOptions(args, o, error) &&
           parseFrameOptions(args, o, error);
}

const char* focusSourceName(FocusSource source) {
    switch (source) {
        case FocusSource::Option:
            return "option";
        case FocusSource::Pixel:
            return "pixel";
        default:
            return "file";
    }
}

bool lensGiven(const RenderOptions& o) {
    return !o.fNumber.empty() || !o.focalLength.empty() || o.lens.given.sensorWidthMm > 0.0;
}

FrameSettings frameSettings(const RenderOptions& o, int frame) {
    FrameSettings f;
    f.focusFrom = o.focusFrom;
    f.focus = o.focus.at(frame, o.interpolation);
    // The nearest pixel to where the keys put the focus.
    f.focusAtX = int(std::floor(o.focusAt.at(frame, o.interpolation, 0) + 0.5));
    f.focusAtY = int(std::floor(o.focusAt.at(frame, o.interpolation, 1) + 0.5));
    f.lens = o.lens;
    f.lens.given.fNumber = o.fNumber.at(frame, o.interpolation);
    f.lens.given.focalLengthMm = o.focalLength.at(frame, o.interpolation);
    return f;
}

namespace {

// The aperture's shape as options, those at their defaults left out but the
// shape's name.
std::string apertureSettings(const ApertureSettings& a, const std::string& image) {
    std::string s = " --aperture ";
    if (a.picture) {
        s = " --aperture-image " + image;
    } else if (a.blades == 0) {
        s += "disc";
    } else {
        s += "blades:" + std::to_string(a.blades);
        if (a.rotation != 0.0) s += " --blade-rotation " + shortest(a.rotation);
        if (a.curvature != 0.0) s += " --blade-curvature " + shortest(a.curvature);
    }
    if (a.squeeze != 1.0) s += " --anamorphic " + shortest(a.squeeze);
    if (a.catsEye != 0.0) s += " --cats-eye " + shortest(a.catsEye);
    return s;
}

}  // namespace

std::string canonicalSettings(const RenderOptions& o, const FrameSettings& f) {
    std::string s = std::string("--method ") + methodName(o.method);
    // The slabs change the picture; the threads never do.
    // Written as --layers, the slabs' first name, so that the records of
    // outputs made before still match.
    if (o.method != Method::Box) s += " --layers " + std::to_string(o.slabs);
    if (o.method == Method::Aperture) s += apertureSettings(o.aperture, o.apertureImage);
    if (o.hasRadius) s += " --radius " + shortest(o.radius);
    const LensSpec& lens = f.lens.given;
    if (lens.fNumber > 0.0) s += " --fstop " + shortest(lens.fNumber);
    if (lens.focalLengthMm > 0.0) s += " --focal-length " + shortest(lens.focalLengthMm);
    if (lens.sensorWidthMm > 0.0) s += " --sensor-width " + shortest(lens.sensorWidthMm);
    s += " --depth-unit " + o.depthUnit;
    if (f.focusFrom == FocusSource::Option) s += " --focus " + shortest(f.focus);
    if (f.focusFrom == FocusSource::Pixel)
        s += " --focus-at " + std::to_string(f.focusAtX) + "," + std::to_string(f.focusAtY);
    if (f.focusFrom == FocusSource::File) s += " --focus-from-file";
    if (o.hasSharpUntil) s += " --sharp-until " + shortest(o.sharpUntil);
    if (!o.depthChannel.empty()) s += " --depth-channel " + o.depthChannel;
    s += std::string(" --depth-convention ") + depthConventionName(o.convention);
    s += std::string(" --no-hit ") + noHitPolicyName(o.noHit);
    s += " --no-hit-above " + shortest(o.noHitAbove);
    if (o.hasPixelAspect) s += " --pixel-aspect " + shortest(o.pixelAspect);
    if (o.scaleX != 1.0 || o.scaleY != 1.0)
        s += " --scale " + shortest(o.scaleX) + "," + shortest(o.scaleY);
    s += std::string(" --format ") + formatName(o.format);
    if (!o.dataType.empty()) s += " --data-type " + o.dataType;
    if (o.rgbaOnly) s += " --rgba-only";
    if (!o.cocChannel.empty()) s += " --coc-channel " + o.cocChannel;
    return s + " --colorspace " + o.colourSpace;
}

}  // namespace dof
