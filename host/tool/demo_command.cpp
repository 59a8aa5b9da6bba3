// dof3d demo: the built-in scene rendered with both methods and written as
// PNG: the source, each result, and the three side by side.
#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "demo/demo_scene.h"
#include "io/picture.h"
#include "runtime/EffectInstance.h"
#include "runtime/EffectLibrary.h"
#include "runtime/RenderSession.h"
#include "tool/commands.h"
#include "tool/started_effect.h"
#include "util/error_line.h"

namespace dof {

namespace {

struct DemoOptions {
    std::string outputDir = "out/demo";
    std::string effectsDir;
    int width = 640;
    int height = 360;
    std::string format = "8";
    // Not given: the scene's own suggestion.
    std::optional<double> radius, focus, sharpUntil;
};

QVBitmapType formatCode(const std::string& name) {
    if (name == "10") return kQVBitmapRGBA10;
    if (name == "12") return kQVBitmapRGBA12;
    if (name == "16") return kQVBitmapRGBA16;
    if (name == "float") return kQVBitmapRGBAFloat;
    return kQVBitmapRGBA8;
}

struct MethodRun {
    const char* title;
    const char* fileName;
    FilterMethod method;
    std::unique_ptr<runtime::PixelImage> result;
    runtime::RenderReport report;
};

// One render into a destination that starts as a copy of the source, as a
// host hands it: pixels the effect leaves alone keep the source.
bool renderMethod(runtime::EffectInstance& instance, DemoScene& scene, MethodRun& run,
                  std::string* error) {
    const runtime::PixelImage& source = *scene.source;
    run.result = runtime::PixelImage::create(source.format(), source.width(), source.height());
    if (!run.result || !run.result->copyPixelsFrom(source)) {
        *error = std::string(run.title) + ": the host refused the destination buffer";
        return false;
    }
    runtime::RenderSettings settings = scene.settings;
    settings.method = run.method;
    if (!runtime::setRenderParameters(instance, settings)) {
        *error = std::string(run.title) + ": the effect did not declare its four parameters";
        return false;
    }
    run.report =
        runtime::render(instance, *scene.source, *run.result, scene.gbuffers.get(), settings);
    if (run.report.ok) return true;
    *error = std::string(run.title) + ": " + runtime::describeFailure(run.report);
    return false;
}

// The RGBA of `image` (fractions of full scale; float pixels as they are).
// The effect's buffers hold colour not multiplied by alpha.
Picture pictureOf(const runtime::PixelImage& image) {
    Picture picture;
    picture.width = image.width();
    picture.height = image.height();
    picture.values.reserve(std::size_t(image.width()) * std::size_t(image.height()) * 4);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            for (int c = 0; c < 4; ++c) picture.values.push_back(float(image.fraction(x, y, c)));
    return picture;
}

// Source | box | splat, colour only: the results' alpha is left out so that
// the picture reads the same in any viewer.
Picture sideBySide(const std::vector<const Picture*>& pictures) {
    const Picture& first = *pictures.front();
    Picture combined;
    combined.width = first.width * int(pictures.size());
    combined.height = first.height;
    combined.channels = 3;
    for (int y = 0; y < first.height; ++y)
        for (const Picture* picture : pictures)
            for (int x = 0; x < first.width; ++x) {
                const float* pixel =
                    &picture
                         ->values[(std::size_t(y) * std::size_t(first.width) + std::size_t(x)) * 4];
                combined.values.insert(combined.values.end(), pixel, pixel + 3);
            }
    return combined;
}

void printTimings(const MethodRun& run) {
    double total = 0.0;
    std::printf("%-13s", run.title);
    for (int pass = 0; pass < int(kRenderPassCount); ++pass) {
        std::printf(" pass %d %8.2f ms", pass, run.report.passSeconds[pass] * 1e3);
        total += run.report.passSeconds[pass];
    }
    std::printf("   total %8.2f ms\n", total * 1e3);
}

// The source, each method's result and the three side by side, as PNG files
// of `bits` per channel in `folder`, each named as it is written.
bool writePictures(const std::string& folder, const runtime::PixelImage& sourceImage,
                   const MethodRun (&runs)[2], int bits) {
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    if (ec) {
        printError("demo: " + folder + ": cannot create the folder: " + ec.message());
        return false;
    }
    const Picture source = pictureOf(sourceImage);
    const Picture box = pictureOf(*runs[0].result);
    const Picture splat = pictureOf(*runs[1].result);
    const Picture combined = sideBySide({&source, &box, &splat});
    const struct {
        const Picture* picture;
        const char* name;
    } files[] = {{&source, "source.png"},
                 {&box, runs[0].fileName},
                 {&splat, runs[1].fileName},
                 {&combined, "side_by_side.png"}};
    std::string error;
    for (const auto& file : files) {
        const std::string path = (std::filesystem::path(folder) / file.name).string();
        if (!writePicture(*file.picture, path, bits, &error)) {
            printError(error);
            return false;
        }
        std::printf("wrote %s\n", path.c_str());
    }
    return true;
}

int runDemo(const DemoOptions& options) {
    DemoSceneOptions sceneOptions;
    sceneOptions.width = options.width;
    sceneOptions.height = options.height;
    sceneOptions.format = formatCode(options.format);
    DemoScene scene = buildDemoScene(sceneOptions);
    if (!scene.source) {
        printError("demo: the host refused a " + std::to_string(options.width) + "x" +
                   std::to_string(options.height) + " source buffer");
        return 1;
    }
    runtime::RenderSettings& settings = scene.settings;
    settings.radius = options.radius.value_or(settings.radius);
    settings.focalDepth = options.focus.value_or(settings.focalDepth);
    settings.focusRangeDepth = options.sharpUntil.value_or(settings.focusRangeDepth);

    StartedEffect effect;
    if (!startEffect(options.effectsDir, &effect)) return 1;
    runtime::EffectInstance& instance = *effect.instance;
    std::string error;

    MethodRun runs[] = {{"box average", "box.png", kMethodBoxAverage, nullptr, {}},
                        {"splatting", "splat.png", kMethodSplatting, nullptr, {}}};
    for (MethodRun& run : runs) {
        if (!renderMethod(instance, scene, run, &error)) {
            printError("demo: " + error);
            return 1;
        }
    }

    // Deeper formats keep 16 bits in the files.
    if (!writePictures(options.outputDir, *scene.source, runs,
                       sceneOptions.format == kQVBitmapRGBA8 ? 8 : 16))
        return 1;
    std::printf("scene %dx%d, format %s, radius %g, focal depth %g, sharp until %g\n",
                options.width, options.height, options.format.c_str(), scene.settings.radius,
                scene.settings.focalDepth, scene.settings.focusRangeDepth);
    for (const MethodRun& run : runs) printTimings(run);
    return 0;
}

}  // namespace

void addDemoCommand(CLI::App& app) {
    CLI::App* demo = app.add_subcommand(
        "demo", "Render the built-in scene with both methods and write PNG pictures");
    // The options live as long as the callback that reads them, owned by the app.
    auto options = std::make_shared<DemoOptions>();
    demo->add_option("-o,--output", options->outputDir, "Output folder")->capture_default_str();
    demo->add_option("--width", options->width, "Scene width in pixels")
        ->check(CLI::Range(1, 8192))
        ->capture_default_str();
    demo->add_option("--height", options->height, "Scene height in pixels")
        ->check(CLI::Range(1, 8192))
        ->capture_default_str();
    demo->add_option("--radius", options->radius,
                     "Largest blur radius in pixels (default: height / 45)")
        ->check(CLI::Range(0.0, kMaximumRadius));
    demo->add_option("--focus", options->focus, "Focal depth (default: -6, the striped card)")
        ->check(CLI::Range(-65535.0, -1.0));
    demo->add_option("--sharp-until", options->sharpUntil,
                     "Far end of the zone kept sharp (default: -7)")
        ->check(CLI::Range(-65535.0, 0.0));
    demo->add_option("--format", options->format, "Pixel format: 8, 10, 12, 16 or float")
        ->check(CLI::IsMember({"8", "10", "12", "16", "float"}).description(""))
        ->type_name("8|10|12|16|float")
        ->capture_default_str();
    demo->add_option("--effects", options->effectsDir,
                     "Effects folder (default: beside this program)");
    demo->callback([options] { exitStatus() = runDemo(*options); });
}

}  // namespace dof
