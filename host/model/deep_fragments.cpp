#include "model/deep_fragments.h"

#include <algorithm>
#include <cmath>
#include <optional>

#include "model/blur_fraction.h"

namespace dof {

namespace {

// Samples that hit nothing (NaN or infinite distance) sort behind all others.
double sortKey(double distance) { return std::isnan(distance) ? INFINITY : distance; }

double limitedAlpha(double alpha) {
    if (!(alpha > 0.0)) return 0.0;
    return alpha > 1.0 ? 1.0 : alpha;
}

void absorb(Fragment& into, const Fragment& other) {
    into.weight += other.weight;
    for (int c = 0; c < 3; ++c) into.colour[c] += other.colour[c];
}

}  // namespace

PixelFragments flattenSamples(std::vector<DeepSample> samples) {
    std::stable_sort(samples.begin(), samples.end(), [](const DeepSample& a, const DeepSample& b) {
        return sortKey(a.distance) < sortKey(b.distance);
    });
    PixelFragments pixel;
    double through = 1.0;  // what the samples so far let through
    for (const DeepSample& s : samples) {
        const double alpha = limitedAlpha(s.alpha);
        Fragment f;
        f.distance = s.distance;
        f.weight = alpha * through;
        for (int c = 0; c < 3; ++c) {
            f.colour[c] = s.colour[c] * through;
            pixel.colour[c] += f.colour[c];
        }
        pixel.alpha += f.weight;
        through *= 1.0 - alpha;
        pixel.fragments.push_back(f);
    }
    return pixel;
}

std::uint8_t shareByte(double weight, double pixelAlpha) {
    if (!(pixelAlpha > 0.0)) return 0;
    return fractionByte(weight / pixelAlpha);
}

void mergeFragments(PixelFragments& pixel, std::size_t maxFragments) {
    std::vector<Fragment>& fragments = pixel.fragments;
    if (fragments.empty()) return;
    if (!(pixel.alpha > 0.0)) {
        // Nothing covers the pixel: what colour it has (light that blocks
        // nothing) travels as one fragment, or the pixel stays empty.
        if (pixel.colour[0] == 0.0 && pixel.colour[1] == 0.0 && pixel.colour[2] == 0.0) {
            fragments.clear();
            return;
        }
        Fragment all = fragments.front();
        all.weight = 0.0;
        for (int c = 0; c < 3; ++c) all.colour[c] = pixel.colour[c];
        fragments.assign(1, all);
        return;
    }
    std::vector<Fragment> kept;
    std::optional<Fragment> pending;  // too light to keep, and nothing kept before it
    for (Fragment f : fragments) {
        if (pending) {
            absorb(f, *pending);
            pending.reset();
        }
        if (shareByte(f.weight, pixel.alpha) != 0) {
            kept.push_back(f);
        } else if (!kept.empty()) {
            absorb(kept.back(), f);
        } else {
            pending = f;
        }
    }
    if (pending) kept.push_back(*pending);  // only reachable through rounding
    if (maxFragments < 1) maxFragments = 1;
    while (kept.size() > maxFragments) {
        std::size_t lightest = 0;
        for (std::size_t i = 1; i < kept.size(); ++i)
            if (kept[i].weight < kept[lightest].weight) lightest = i;
        const std::size_t into = lightest > 0 ? lightest - 1 : 1;
        absorb(kept[into], kept[lightest]);
        kept.erase(kept.begin() + std::ptrdiff_t(lightest));
    }
    fragments.swap(kept);
}

void encodeSharedExponent(const double rgb[3], std::uint8_t out[4]) {
    out[0] = out[1] = out[2] = out[3] = 0;
    const double largest = std::max(std::max(rgb[0], rgb[1]), rgb[2]);
    if (!(largest > 0.0)) return;
    int exponent = 0;
    const double mantissa = std::frexp(largest, &exponent);
    // The smallest power of two not below the largest component, so that
    // a component of exactly 1.0 is stored as 255 with exponent 0.
    if (mantissa == 0.5) exponent -= 1;
    if (exponent + 128 < 1) return;  // too small for the exponent byte: black
    if (exponent + 128 > 255) exponent = 255 - 128;
    const double scale = std::ldexp(1.0, -exponent);
    for (int c = 0; c < 3; ++c) out[c] = fractionByte(rgb[c] * scale);
    out[3] = std::uint8_t(exponent + 128);
}

std::uint8_t transparencyByte(double alpha) {
    return std::uint8_t(255 - fractionByte(limitedAlpha(alpha)));
}

EncodedPixel encodePixel(const PixelFragments& pixel) {
    EncodedPixel encoded;
    encoded.transparency = transparencyByte(pixel.alpha);
    if (pixel.fragments.empty()) return encoded;
    if (!(pixel.alpha > 0.0)) {
        EncodedFragment f;
        f.distance = pixel.fragments.front().distance;
        f.weight = 255;
        encodeSharedExponent(pixel.fragments.front().colour, f.colour);
        encoded.fragments.push_back(f);
        return encoded;
    }
    int shareSum = 0;
    for (const Fragment& f : pixel.fragments) shareSum += shareByte(f.weight, pixel.alpha);
    double heaviest = -1.0;
    for (const Fragment& f : pixel.fragments) {
        const std::uint8_t share = shareByte(f.weight, pixel.alpha);
        if (share == 0) continue;  // merged pixels have none
        EncodedFragment e;
        e.distance = f.distance;
        e.weight = share;
        // The resolve averages colours with the quantised shares as weights:
        // scaling by sum / share makes that average the flattened colour.
        double colour[3];
        for (int c = 0; c < 3; ++c) colour[c] = f.colour[c] * (double(shareSum) / double(share));
        encodeSharedExponent(colour, e.colour);
        if (f.weight > heaviest) {
            heaviest = f.weight;
            encoded.front = encoded.fragments.size();
        }
        encoded.fragments.push_back(e);
    }
    return encoded;
}

std::size_t maxFragmentsForWidth(int width) {
    return 1 + (width > 0 ? std::size_t(65535 / width) : std::size_t(65535));
}

}  // namespace dof
