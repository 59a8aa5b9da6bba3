// The samples of one deep pixel as the fragments the effect splats: one front
// fragment and depth layers, each with the share of the pixel it is seen in,
// so that an unblurred render gives back the flattened pixel.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace dof {

// One sample as a deep file stores it: premultiplied colour and alpha, at a
// camera distance (infinite or NaN where it hit nothing).
struct DeepSample {
    double distance;
    double colour[3];
    double alpha;
};

// A run of samples at one depth. `weight` is the share of the pixel in which
// it is seen (its alpha times what the samples in front let through);
// `colour` is what it adds to the flattened, premultiplied pixel.
struct Fragment {
    double distance;
    double weight;
    double colour[3];
};

struct PixelFragments {
    double alpha = 0.0;                  // flattened
    double colour[3] = {0.0, 0.0, 0.0};  // flattened, premultiplied
    std::vector<Fragment> fragments;     // front to back
};

// Composites the samples front to back (sorted by distance, stable, samples
// that hit nothing last; alpha limited to 0..1): sample k is seen in
// w_k = alpha_k x prod_{j<k} (1 - alpha_j) of the pixel and adds
// colour_k x prod_{j<k} (1 - alpha_j). One fragment per sample.
PixelFragments flattenSamples(std::vector<DeepSample> samples);

// A fragment's share of the pixel as a g-buffer weight byte: w / alpha of the
// pixel, 0..255.
std::uint8_t shareByte(double weight, double pixelAlpha);

// Folds fragments that the effect cannot carry into their neighbours, in
// depth order: a fragment whose share byte would be 0 joins the fragment in
// front of it (the first ones join the first that stays), and while more than
// `maxFragments` remain the lightest joins its front neighbour (or, at the
// front, the one behind). The receiving fragment keeps its distance. A pixel
// that is not covered at all (alpha 0) keeps one fragment holding all of its
// colour, at the distance of its nearest sample, and one with no colour
// keeps none.
void mergeFragments(PixelFragments& pixel, std::size_t maxFragments);

// The most fragments a deep pixel keeps: a row of depth layers holds at most
// 65535 elements, shared by the pixels of the row.
std::size_t maxFragmentsForWidth(int width);

// A fragment as the g-buffer bytes carry it.
struct EncodedFragment {
    double distance;
    std::uint8_t weight;     // share of the pixel (coverage of the front one)
    std::uint8_t colour[4];  // R, G, B and a shared exponent byte
};

struct EncodedPixel {
    std::uint8_t transparency = 255;         // the same for every fragment
    std::size_t front = 0;                   // index of the front fragment
    std::vector<EncodedFragment> fragments;  // front to back; empty = not covered
};

// Each fragment gets the pixel's alpha as its opacity and the colour that,
// averaged with the quantised shares as weights, gives the flattened
// premultiplied colour: colour_k x (sum of shares) / share_k. The fragment
// with the largest share becomes the front one (the first on ties), so that a
// method that reads only the front depth sees the depth that dominates.
EncodedPixel encodePixel(const PixelFragments& pixel);

// Colour with a shared exponent: bytes b and exponent byte e stand for
// b / 255 x 2^(e - 128); e = 0 is black. Negative components are stored as 0,
// values beyond the largest exponent at full scale.
void encodeSharedExponent(const double rgb[3], std::uint8_t out[4]);

// 255 - alpha x 255, rounded, alpha limited to 0..1.
std::uint8_t transparencyByte(double alpha);

}  // namespace dof
