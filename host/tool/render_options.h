// The options of dof3d render as typed, and their checked, parsed form.
#pragma once

#include <string>
#include <vector>

#include "host/QVLib.h"
#include "model/depth_conventions.h"
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
    std::string focus;
    std::string focusAt;
    std::string sharpUntil;
    std::string radius;  // empty: 8, unless a lens is given
    std::string fstop;
    std::string focalLength;
    std::string sensorWidth;
    std::string depthUnit = "m";
    std::string method;  // empty: aperture, or with --slabs 1 the effect's single render
    std::string aperture;  // disc or blades:N; empty: a disc
    std::string bladeRotation;
    std::string bladeCurvature;
    std::string anamorphic;
    std::string catsEye;
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
    bool json = false;
    bool quiet = false;
    std::string effectsDir;
};

// Depth slabs without --slabs: splatting's, the aperture's.
constexpr int kSplatSlabs = 8;
constexpr int kApertureSlabs = 16;

struct RenderOptions {
    std::string input, output, depthFile, depthChannel, cocMap, effectsDir;
    DepthConvention convention = DepthConvention::Distance;
    NoHitPolicy noHit = NoHitPolicy::Far;
    double noHitAbove = 1e9;
    bool hasFocus = false;  // --focus, as the file stores depth
    double focus = 0.0;
    double focusDistance = 0.0;
    bool hasFocusAt = false;  // --focus-at, the file's pixel coordinates
    int focusAtX = 0, focusAtY = 0;
    bool hasSharpUntil = false;
    double sharpUntil = 0.0;
    double sharpUntilDistance = 0.0;
    bool hasRadius = false;  // --radius given
    double radius = 8.0;
    LensOptions lens;  // lens.given all 0: none given
    std::string depthUnit = "m";
    Method method = Method::Aperture;
    ApertureSettings aperture;    // the shape, for Method::Aperture
    bool hasPixelAspect = false;  // otherwise from the file
    double pixelAspect = 1.0;
    double scaleX = 1.0, scaleY = 1.0;
    QVBitmapType format = kQVBitmapNone;  // none: follows the input
    std::string dataType;                 // empty: the input's
    bool rgbaOnly = false;
    std::string colourSpace = "sRGB";  // of integer (display-referred) pixels
    std::vector<int> frames;           // to render (a farm task's chunk); empty: one image
    int jobs = 1;
    int threads = 1;  // per frame
    int slabs = kApertureSlabs;  // depth slabs; 1 with splatting: the effect's single render
    bool overwrite = false;
    bool json = false;
    bool quiet = false;
};

// The most depth slabs --slabs takes.
constexpr int kMaxSlabs = 32;

// Checks and parses everything that does not need the files. False with a
// one-line `error` naming the option and what is wrong.
bool parseRenderOptions(const RenderArguments& args, RenderOptions* options, std::string* error);

const char* methodName(Method method);
// "8", "10", "12", "16", "float" for the working format codes.
const char* formatName(QVBitmapType format);

// The options that decide an output's pixels, as command-line text in a fixed
// order with numbers in their shortest exact form. Files, frames, jobs and
// what is printed are not among them.
std::string canonicalSettings(const RenderOptions& options);

}  // namespace dof
