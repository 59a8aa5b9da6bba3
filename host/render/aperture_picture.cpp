#include "render/aperture_picture.h"

#include <algorithm>
#include <cmath>

namespace dof {

namespace {

// Sums of a picture's weights over [0, u) x [0, v), u and v continuous: the
// picture is constant over each of its pixels, so within a pixel the sum
// grows bilinearly from its corners'.
double sumTo(const AperturePicture& p, double u, double v) {
    u = std::min(double(p.width), std::max(0.0, u));
    v = std::min(double(p.height), std::max(0.0, v));
    const int x = std::min(p.width - 1, int(u)), y = std::min(p.height - 1, int(v));
    const double s = u - x, t = v - y;
    const auto at = [&](int i, int j) {
        return p.sums[std::size_t(j) * std::size_t(p.width + 1) + std::size_t(i)];
    };
    return (1 - s) * (1 - t) * at(x, y) + s * (1 - t) * at(x + 1, y) + (1 - s) * t * at(x, y + 1) +
           s * t * at(x + 1, y + 1);
}

// Over [u0, u1) x [v0, v1).
double sumOver(const AperturePicture& p, double u0, double u1, double v0, double v1) {
    return sumTo(p, u1, v1) - sumTo(p, u0, v1) - sumTo(p, u1, v0) + sumTo(p, u0, v0);
}

}  // namespace

bool makeAperturePicture(int width, int height, const std::vector<float>& grey,
                         AperturePicture* picture, std::string* error) {
    if (width <= 0 || height <= 0 || grey.size() != std::size_t(width) * std::size_t(height)) {
        *error = "the picture has no pixels";
        return false;
    }
    AperturePicture p;
    p.width = width, p.height = height;
    p.sums.assign(std::size_t(width + 1) * std::size_t(height + 1), 0.0);
    // Distances in the picture's square, whose half side is 1 radius.
    const double half = 0.5 * std::max(width, height);
    double farthest = 0.0;
    for (int y = 0; y < height; ++y) {
        double row = 0.0;
        for (int x = 0; x < width; ++x) {
            const std::size_t i = std::size_t(y) * std::size_t(width) + std::size_t(x);
            const float weight = grey[i] > 0.0f && std::isfinite(grey[i]) ? grey[i] : 0.0f;
            row += weight;
            const std::size_t corner =
                std::size_t(y + 1) * std::size_t(width + 1) + std::size_t(x + 1);
            p.sums[corner] = p.sums[corner - std::size_t(width + 1)] + row;
            if (weight == 0.0f) continue;
            const double du = std::max(std::fabs(x - 0.5 * width), std::fabs(x + 1 - 0.5 * width));
            const double dv =
                std::max(std::fabs(y - 0.5 * height), std::fabs(y + 1 - 0.5 * height));
            farthest = std::max(farthest, std::hypot(du, dv) / half);
        }
    }
    if (farthest == 0.0) {
        *error = "the picture is all zero (or negative): no light would pass";
        return false;
    }
    p.reach = farthest;
    *picture = std::move(p);
    return true;
}

PictureKernel pictureKernel(const AperturePicture& picture, double across, double down) {
    PictureKernel k;
    k.reach = int(std::ceil(picture.reach * std::max(across, down) + 0.5));
    const int side = 2 * k.reach + 1;
    k.weights.assign(std::size_t(side) * std::size_t(side), 0.0f);
    // A pixel dx columns from the fragment's spans [dx - 0.5, dx + 0.5);
    // in the picture, `half` pixels are one radius.
    const double half = 0.5 * std::max(picture.width, picture.height);
    const auto u = [&](double x) { return 0.5 * picture.width + x * half / across; };
    const auto v = [&](double y) { return 0.5 * picture.height + y * half / down; };
    std::vector<double> covered(k.weights.size());
    double total = 0.0;
    for (int dy = -k.reach; dy <= k.reach; ++dy)
        for (int dx = -k.reach; dx <= k.reach; ++dx) {
            const double c =
                std::max(0.0, sumOver(picture, u(dx - 0.5), u(dx + 0.5), v(dy - 0.5), v(dy + 0.5)));
            covered[std::size_t(dy + k.reach) * std::size_t(side) + std::size_t(dx + k.reach)] = c;
            total += c;
        }
    for (std::size_t i = 0; i < covered.size(); ++i) k.weights[i] = float(covered[i] / total);
    return k;
}

}  // namespace dof
