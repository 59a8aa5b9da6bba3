// The options of dof3d render as typed, and their checked, parsed form.
#pragma once

#include <string>
#include <vector>

#include "host/QVLib.h"
#include "model/depth_conventions.h"
#include "model/keyframes.h"
#include "render/aperture_shape.h"
#include "render/effect_buffers.h"
#include "render/lens_placement.h"

namespace dof {

// As given on the command line; numbers stay text so that every bad value
// gets the same kind of one-line message.
struct RenderArguments {
    std::string input;
    std::string output;
    std::string depthFile;
    std::string depthChannel;
    std::string depthConvention = "distance";
    std::string noHit = "far";
    std::string noHitAbove = "1e9";
    std::string focus;        // D, or keys FRAME:D,...
    std::string focusAt;      // X,Y, or keys FRAME:X,Y,...
    std::string focusFile;    // keys of distances, FRAME D a line
    std::string focusAtFile;  // keys of pixels, FRAME X Y a line
    std::string focusInterpolation = "linear";
    std::string sharpUntil;
    std::string radius;  // empty: 8, unless a lens is given
    std::string fstop;        // N, or keys FRAME:N,...
    std::string focalLength;  // MM, or keys FRAME:MM,...
    std::string sensorWidth;
    std::string depthUnit = "m";
    std::string method;  // empty: aperture, or with --slabs 1 the effect's single render
    std::string aperture;  // disc or blades:N; empty: a disc
    std::string bladeRotation;
    std::string bladeCurvature;
    std::string anamorphic;
    std::string catsEye;
    std::string apertureImage;  // a grey picture of the aperture in place of its shape
    std::string pixelAspect;
    std::string scale;
    std::string format = "auto";
    std::string dataType;
    bool rgbaOnly = false;
    std::string colourSpace = "sRGB";
    std::string frames;
    std::string chunk;        // frames per farm task; empty: the whole list
    std::string task;         // which chunk, from 0
    std::string arrayTaskId;  // $SLURM_ARRAY_TASK_ID, the task when --task is not given
    std::string jobs = "1";
    std::string threads;  // empty: the machine's cores shared among the jobs
    std::string slabs;  // empty: the method's own number
    bool overwrite = false;
    std::string cocMap;
    std::string cocChannel;
    std::string cocScale = "64";
    bool json = false;
    bool quiet = false;
    std::string effectsDir;
};

// Where a frame's focus distance comes from.
enum class FocusSource {
    Option,  // --focus or --focus-file: a distance, as the file stores depth
    Pixel,   // --focus-at or --focus-at-file: the depth under a pixel
    File,    // the frame's own focus attribute
};

// "option", "pixel", "file".
const char* focusSourceName(FocusSource source);
// Depth slabs without --slabs: splatting's, the aperture's.
constexpr int kSplatSlabs = 8;
constexpr int kApertureSlabs = 16;

struct RenderOptions {
    std::string input, output, depthFile, depthChannel, cocMap, cocChannel, effectsDir;
    double cocScale = 64.0;  // pixels of blur at either end of an 8-bit --coc-map
    DepthConvention convention = DepthConvention::Distance;
    NoHitPolicy noHit = NoHitPolicy::Far;
    double noHitAbove = 1e9;
    FocusSource focusFrom = FocusSource::File;
    Keyframes focus;        // under FocusSource::Option, as the file stores depth
    Keyframes focusAt;      // under FocusSource::Pixel, the file's pixel coordinates
    std::string focusFile;  // the file of keys, when they come from one
    Interpolation interpolation = Interpolation::Linear;  // of every keyed value
    bool hasSharpUntil = false;
    double sharpUntil = 0.0;
    double sharpUntilDistance = 0.0;
    bool hasRadius = false;  // --radius given
    double radius = 8.0;
    LensOptions lens;  // the sensor width given (0: none); f-number and focal length below
    Keyframes fNumber, focalLength;  // empty: not given
    std::string depthUnit = "m";
    Method method = Method::Aperture;
    ApertureSettings aperture;    // the shape, for Method::Aperture
    std::string apertureImage;    // the file of aperture.picture; empty: none
    bool hasPixelAspect = false;  // otherwise from the file
    double pixelAspect = 1.0;
    double scaleX = 1.0, scaleY = 1.0;
    QVBitmapType format = kQVBitmapNone;  // none: follows the input
    std::string dataType;                 // empty: the input's
    bool rgbaOnly = false;
    std::string colourSpace = "sRGB";  // of integer (display-referred) pixels
    std::vector<int> frames;           // to render (a farm task's chunk); empty: one image
    std::string framesFound;           // the frames found on disk, as a list; empty: given
    int jobs = 1;
    int threads = 1;  // per frame
    int slabs = kApertureSlabs;  // depth slabs; 1 with splatting: the effect's single render
    bool overwrite = false;
    bool json = false;
    bool quiet = false;
};

// The most depth slabs --slabs takes.
constexpr int kMaxSlabs = 32;

// Checks and parses the options: everything that needs no image (key files
// are read, and a sequence without --frames takes the frames whose inputs
// are on disk). False with a one-line `error` naming the option and what is
// wrong.
bool parseRenderOptions(const RenderArguments& args, RenderOptions* options, std::string* error);

// The options' values for one frame: every keyed value at its number.
struct FrameSettings {
    FocusSource focusFrom = FocusSource::File;
    double focus = 0.0;              // FocusSource::Option: as the file stores depth
    int focusAtX = 0, focusAtY = 0;  // FocusSource::Pixel: the nearest pixel
    LensOptions lens;                // the lens given (0: from the file)
};
FrameSettings frameSettings(const RenderOptions& options, int frame);

// Whether a lens is given on the command line, in part or whole.
bool lensGiven(const RenderOptions& options);

const char* methodName(Method method);
// "8", "10", "12", "16", "float" for the working format codes.
const char* formatName(QVBitmapType format);

// The options that decide a frame's pixels, as command-line text in a fixed
// order with numbers in their shortest exact form, keyed values as the
// frame's own. Files, frames, jobs and what is printed are not among them.
std::string canonicalSettings(const RenderOptions& options, const FrameSettings& frame);

}  // namespace dof
