// dof3d blur: a separable two-dimensional blur of an 8-bit image through the
// library's exported line blurs. Besides being a tool, it is the worked
// example of how a caller builds the planes, kernels and product tables the
// routines take, and how it orders the two passes: every row into an
// intermediate image, then every column of that image.
#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "blur/line_blur.h"
#include "io/byte_image.h"
#include "kernels/Kernel.h"
#include "tool/commands.h"
#include "util/error_line.h"

namespace dof {

namespace {

// Radius limit of the box: a window of 2R + 1 premultiplied colours of up to
// 255 x 255 must sum below 2^31 in the routine's 32-bit sums.
constexpr int kMaxBoxRadius = 16000;
constexpr double kMaxSigma = 1000.0;

struct BlurOptions {
    std::string input;
    std::string output;
    std::string kernel = "gaussian";
    double sigma = 2.0;
    double cutoff = 0.01;
    int radius = 2;
    bool alphaWeighted = false;
    bool lut = false;
    bool dilate = false;
};

bool fail(const std::string& message) {
    printError(message);
    return false;
}

// The routines' pixel layout: alpha in byte 0, then the three colours. One
// channel is grey, two are grey and alpha, three are RGB, four or more RGBA
// (further channels are dropped); a missing alpha is opaque.
std::vector<unsigned char> toAlphaFirst(const ByteImage& image) {
    const std::size_t pixels = std::size_t(image.width) * image.height;
    std::vector<unsigned char> out(pixels * 4);
    for (std::size_t p = 0; p < pixels; ++p) {
        unsigned char const* s = &image.bytes[p * image.channels];
        unsigned char* d = &out[p * 4];
        switch (image.channels) {
            case 1:
                d[0] = 255;
                d[1] = d[2] = d[3] = s[0];
                break;
            case 2:
                d[0] = s[1];
                d[1] = d[2] = d[3] = s[0];
                break;
            case 3:
                d[0] = 255;
                d[1] = s[0];
                d[2] = s[1];
                d[3] = s[2];
                break;
            default:
                d[0] = s[3];
                d[1] = s[0];
                d[2] = s[1];
                d[3] = s[2];
                break;
        }
    }
    return out;
}

// Back to the image's channels (at most four).
void fromAlphaFirst(const std::vector<unsigned char>& pixels, ByteImage* image) {
    ByteImage& out = *image;
    out.channels = std::min(out.channels, 4);
    out.bytes.assign(std::size_t(out.width) * out.height * out.channels, 0);
    const std::size_t count = std::size_t(out.width) * out.height;
    for (std::size_t p = 0; p < count; ++p) {
        unsigned char const* s = &pixels[p * 4];
        unsigned char* d = &out.bytes[p * out.channels];
        switch (out.channels) {
            case 1:
                d[0] = s[1];
                break;
            case 2:
                d[0] = s[1];
                d[1] = s[0];
                break;
            case 3:
                d[0] = s[1];
                d[1] = s[2];
                d[2] = s[3];
                break;
            default:
                d[0] = s[1];
                d[1] = s[2];
                d[2] = s[3];
                d[3] = s[0];
                break;
        }
    }
}

// One line of n pixels of 4 bytes, read from src and written to out, both
// pixel after pixel `stride` bytes apart.
using LineFilter =
    std::function<void(unsigned char const* src, unsigned char* out, int n, int stride)>;

// Rows of `source` into an intermediate image, then columns of that into the
// result. Each destination starts as a copy of what it filters, so that bytes
// a routine leaves alone (colour under no alpha) keep their value.
std::vector<unsigned char> separable(const std::vector<unsigned char>& source, int width,
                                     int height, const LineFilter& filter) {
    const int rowStride = width * 4;
    std::vector<unsigned char> rows = source;
    for (int y = 0; y < height; ++y)
        filter(&source[std::size_t(y) * rowStride], &rows[std::size_t(y) * rowStride], width, 4);
    std::vector<unsigned char> result = rows;
    for (int x = 0; x < width; ++x)
        filter(&rows[std::size_t(x) * 4], &result[std::size_t(x) * 4], height, rowStride);
    return result;
}

// The colour planes of one line, premultiplied by the alpha that the routine
// divides by again: the line's single alpha, or each sample's own.
template <typename T>
struct LinePlanes {
    std::vector<T> alpha, c1, c2, c3;

    explicit LinePlanes(std::size_t longest)
        : alpha(longest), c1(longest), c2(longest), c3(longest) {}

    void load(unsigned char const* src, int n, int stride, bool alphaPlane) {
        const T lineAlpha = T(src[0]);
        alpha[0] = lineAlpha;
        for (int j = 0; j < n; ++j) {
            unsigned char const* pixel = src + std::ptrdiff_t(j) * stride;
            const T a = alphaPlane ? T(pixel[0]) : lineAlpha;
            if (alphaPlane) alpha[std::size_t(j)] = a;
            c1[std::size_t(j)] = T(pixel[1]) * a;
            c2[std::size_t(j)] = T(pixel[2]) * a;
            c3[std::size_t(j)] = T(pixel[3]) * a;
        }
    }
};

// The product table of a normalised kernel: weight x value in 16.16, rounded.
std::vector<QVULong> productTable(const Kernel& kernel) {
    std::vector<QVULong> table;
    table.reserve(std::size_t(2 * kernel.radius + 1) * 256);
    for (int k = 0; k <= 2 * kernel.radius; ++k)
        for (int v = 0; v < 256; ++v)
            table.push_back(QVULong(std::floor(kernel.weights[k] * v * 65536.0 + 0.5)));
    return table;
}

bool checkOptions(const BlurOptions& o) {
    const bool gaussian = o.kernel == "gaussian";
    if (gaussian && !(o.sigma > 0.0 && o.sigma <= kMaxSigma))
        return fail("--sigma must be above 0 and at most " + std::to_string(int(kMaxSigma)));
    if (gaussian && !(o.cutoff > 0.0 && o.cutoff < 1.0))
        return fail("--cutoff must lie between 0 and 1");
    if (!gaussian && (o.radius < 0 || o.radius > kMaxBoxRadius))
        return fail("--radius must be from 0 to " + std::to_string(kMaxBoxRadius));
    if (o.lut && (!gaussian || o.alphaWeighted || o.dilate))
        return fail("--lut goes with the Gaussian kernel and one alpha per line only");
    if (o.dilate && o.alphaWeighted)
        return fail("--dilate and --alpha-weighted exclude each other");
    return true;
}

// Grey-level dilation of every channel on its own. The column pass works in
// place: grayscale_max_blur reads its whole line before writing any of it.
bool dilate(const BlurOptions& o, ByteImage& image) {
    const int nch = image.channels;
    const int rowStride = image.width * nch;
    auto run = [&](const Kernel& kernel) {
        std::vector<unsigned char> rows = image.bytes;
        for (int y = 0; y < image.height; ++y)
            for (int c = 0; c < nch; ++c) {
                const std::size_t start = std::size_t(y) * rowStride + c;
                grayscale_max_blur(&image.bytes[start], &rows[start], nch, nch, image.width,
                                   &kernel);
            }
        for (int x = 0; x < image.width; ++x)
            for (int c = 0; c < nch; ++c) {
                unsigned char* column = &rows[std::size_t(x) * nch + c];
                grayscale_max_blur(column, column, rowStride, rowStride, image.height, &kernel);
            }
        image.bytes.swap(rows);
    };
    if (o.kernel == "gaussian") {
        // Centre weight 1.0: every output is at least its own sample.
        GaussianKernel kernel(o.sigma, o.cutoff);
        if (kernel.weights == nullptr) return fail(o.input + ": out of memory for the kernel");
        run(kernel);
    } else {
        // A flat window: a hat kernel of radius R supplies the table, its taps
        // all set to 1.
        HatKernel kernel(o.radius / 2.0);
        if (kernel.weights == nullptr) return fail(o.input + ": out of memory for the kernel");
        for (int k = 0; k <= 2 * kernel.radius; ++k) kernel.weights[k] = 1.0;
        run(kernel);
    }
    return true;
}

bool blurColour(const BlurOptions& o, ByteImage& image) {
    const std::vector<unsigned char> source = toAlphaFirst(image);
    const std::size_t longest = std::size_t(std::max(image.width, image.height));
    std::vector<unsigned char> result;

    if (o.kernel == "box") {
        LinePlanes<QVLong> planes(longest);
        const QVLong weighted = o.alphaWeighted ? 1 : 0;
        result = separable(source, image.width, image.height,
                           [&](unsigned char const* src, unsigned char* out, int n, int stride) {
                               planes.load(src, n, stride, o.alphaWeighted);
                               boxBlur(planes.alpha.data(), planes.c1.data(), planes.c2.data(),
                                       planes.c3.data(), n, out, stride, o.radius, weighted);
                           });
    } else {
        GaussianKernel kernel(o.sigma, o.cutoff);
        if (kernel.weights == nullptr) return fail(o.input + ": out of memory for the kernel");
        if (o.alphaWeighted) {
            // aw_blur divides by its own weight sums: the kernel stays as built.
            LinePlanes<double> planes(longest);
            result =
                separable(source, image.width, image.height,
                          [&](unsigned char const* src, unsigned char* out, int n, int stride) {
                              planes.load(src, n, stride, true);
                              aw_blur(planes.alpha.data(), planes.c1.data(), planes.c2.data(),
                                      planes.c3.data(), n, out, stride, &kernel);
                          });
        } else if (o.lut) {
            // The table is built once from the normalised taps and serves every
            // line; the routine reads the pixels as they are.
            kernel.normalize();
            const std::vector<QVULong> table = productTable(kernel);
            result =
                separable(source, image.width, image.height,
                          [&](unsigned char const* src, unsigned char* out, int n, int stride) {
                              std_LUT_blur(src, stride, stride, n, out, &kernel, table.data());
                          });
        } else {
            kernel.normalize();
            LinePlanes<double> planes(longest);
            result =
                separable(source, image.width, image.height,
                          [&](unsigned char const* src, unsigned char* out, int n, int stride) {
                              planes.load(src, n, stride, false);
                              std_blur(planes.alpha.data(), planes.c1.data(), planes.c2.data(),
                                       planes.c3.data(), n, out, stride, &kernel);
                          });
        }
    }
    fromAlphaFirst(result, &image);
    return true;
}

int runBlur(const BlurOptions& o) {
    if (!checkOptions(o)) return 2;
    try {
        ByteImage image;
        std::string error;
        if (!readByteImage(o.input, &image, &error)) {
            fail(error);
            return 1;
        }
        if (!(o.dilate ? dilate(o, image) : blurColour(o, image))) return 1;
        if (!writeByteImage(image, o.output, &error)) {
            fail(oneLine(error));
            return 1;
        }
    } catch (const std::bad_alloc&) {
        fail(o.input + ": out of memory");
        return 1;
    }
    return 0;
}

}  // namespace

void addBlurCommand(CLI::App& app) {
    CLI::App* blur = app.add_subcommand(
        "blur",
        "Blur an image with the library's line blurs: rows first, then columns.\n"
        "The image is read as 8 bits per channel. Blurs work on RGBA: one channel is grey,\n"
        "two are grey and alpha, three are RGB, four or more RGBA (further channels are\n"
        "dropped); a missing alpha is opaque. The output has the input's channels (at most\n"
        "four) at 8 bits. Without --alpha-weighted every line takes the alpha of its first\n"
        "pixel, which suits opaque images. --dilate works on every channel of the image on\n"
        "its own and keeps them all.");
    // The options live as long as the callback that reads them, owned by the app.
    auto o = std::make_shared<BlurOptions>();
    blur->add_option("IN", o->input, "Image to blur")->required();
    blur->add_option("-o,--output", o->output, "Image to write (its type from its extension)")
        ->required();
    blur->add_option("--kernel", o->kernel, "gaussian or box")
        ->check(CLI::IsMember({"gaussian", "box"}).description(""))
        ->type_name("gaussian|box")
        ->capture_default_str();
    blur->add_option("--sigma", o->sigma, "Gaussian standard deviation in pixels")
        ->capture_default_str();
    blur->add_option("--cutoff", o->cutoff, "Gaussian level (0 to 1) below which taps are left out")
        ->capture_default_str();
    blur->add_option("--radius", o->radius, "Box radius in pixels: 2R + 1 taps")
        ->capture_default_str();
    blur->add_flag("--alpha-weighted", o->alphaWeighted,
                   "Weight colour by each pixel's alpha (aw_blur, or the box with an alpha plane)");
    blur->add_flag("--lut", o->lut, "Gaussian through a product table (std_LUT_blur)");
    blur->add_flag("--dilate", o->dilate,
                   "Grey-level dilation with grayscale_max_blur: the largest weighted sample");
    blur->callback([o] { exitStatus() = runBlur(*o); });
}

}  // namespace dof
