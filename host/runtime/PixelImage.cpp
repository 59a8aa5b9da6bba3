#include "runtime/PixelImage.h"

#include <cmath>
#include <cstring>

#include "qvlib_bitmaps.h"

namespace dofrt {

double formatFullScale(QVBitmapType format) {
    switch (format) {
        case kQVBitmapRGBA8:
            return 255.0;
        case kQVBitmapRGBA10:
            return 1023.0;
        case kQVBitmapRGBA12:
            return 4095.0;
        case kQVBitmapRGBA16:
            return 65535.0;
        default:
            return 0.0;
    }
}

namespace {

// Bits per component of the packed big-endian groups.
int packedBits(QVBitmapType format) { return format == kQVBitmapRGBA10 ? 10 : 12; }

// The packed group of a pixel as one integer, most significant byte first.
std::uint64_t readGroup(const std::uint8_t* p, int bytes) {
    std::uint64_t group = 0;
    for (int i = 0; i < bytes; ++i) group = (group << 8) | p[i];
    return group;
}

void writeGroup(std::uint8_t* p, int bytes, std::uint64_t group) {
    for (int i = bytes - 1; i >= 0; --i) {
        p[i] = std::uint8_t(group & 0xFF);
        group >>= 8;
    }
}

}  // namespace

PixelImage::PixelImage(QVBitmap* bitmap, int width, int height)
    : bitmap_(bitmap), width_(width), height_(height) {}

PixelImage::~PixelImage() { FreeBitmapQV(bitmap_); }

std::unique_ptr<PixelImage> PixelImage::create(QVBitmapType format, int width, int height,
                                               int rowPixels) {
    if (qvlib::bitmapPixelBytes(format) == 0 || width < 0 || height < 0) return nullptr;
    if (rowPixels == 0) rowPixels = width;
    if (rowPixels < width) return nullptr;
    QVBitmap* bitmap = AllocBitmapQV(rowPixels, height, format, nullptr);
    if (bitmap == nullptr) return nullptr;
    bitmap->width = width;
    return std::unique_ptr<PixelImage>(new PixelImage(bitmap, width, height));
}

std::uint8_t* PixelImage::pixel(int x, int y) {
    return bitmap_->baseAddr +
           (std::int64_t(y) * bitmap_->rowPixels + x) * std::int64_t(pixelBytes());
}

const std::uint8_t* PixelImage::pixel(int x, int y) const {
    return const_cast<PixelImage*>(this)->pixel(x, y);
}

double PixelImage::component(int x, int y, int c) const {
    const std::uint8_t* p = pixel(x, y);
    switch (format()) {
        case kQVBitmapRGBA8:
            return p[c];
        case kQVBitmapRGBA10:
        case kQVBitmapRGBA12: {
            const int bits = packedBits(format());
            const std::uint64_t group = readGroup(p, pixelBytes());
            return double((group >> ((3 - c) * bits)) & ((1u << bits) - 1));
        }
        case kQVBitmapRGBA16: {
            std::uint16_t v;
            std::memcpy(&v, p + 2 * c, 2);
            return v;
        }
        case kQVBitmapRGBAFloat: {
            float v;
            std::memcpy(&v, p + 4 * c, 4);
            return v;
        }
        default:
            return 0.0;
    }
}

void PixelImage::setComponent(int x, int y, int c, double raw) {
    std::uint8_t* p = pixel(x, y);
    switch (format()) {
        case kQVBitmapRGBA8:
            p[c] = std::uint8_t(std::int64_t(raw));
            break;
        case kQVBitmapRGBA10:
        case kQVBitmapRGBA12: {
            const int bits = packedBits(format());
            const int shift = (3 - c) * bits;
            const std::uint64_t mask = std::uint64_t((1u << bits) - 1) << shift;
            std::uint64_t group = readGroup(p, pixelBytes());
            group = (group & ~mask) | ((std::uint64_t(std::int64_t(raw)) << shift) & mask);
            writeGroup(p, pixelBytes(), group);
            break;
        }
        case kQVBitmapRGBA16: {
            const std::uint16_t v = std::uint16_t(std::int64_t(raw));
            std::memcpy(p + 2 * c, &v, 2);
            break;
        }
        case kQVBitmapRGBAFloat: {
            const float v = float(raw);
            std::memcpy(p + 4 * c, &v, 4);
            break;
        }
        default:
            break;
    }
}

double PixelImage::fraction(int x, int y, int c) const {
    const double scale = formatFullScale(format());
    const double raw = component(x, y, c);
    return scale > 0 ? raw / scale : raw;
}

void PixelImage::setFraction(int x, int y, int c, double value) {
    const double scale = formatFullScale(format());
    if (scale == 0.0) {
        setComponent(x, y, c, value);
        return;
    }
    double code = std::nearbyint(value * scale);
    if (!(code > 0.0)) code = 0.0;
    if (code > scale) code = scale;
    setComponent(x, y, c, code);
}

bool PixelImage::copyPixelsFrom(const PixelImage& other) {
    if (other.format() != format() || other.width_ != width_ || other.height_ != height_)
        return false;
    const size_t rowBytes = size_t(width_) * size_t(pixelBytes());
    for (int y = 0; y < height_; ++y) std::memcpy(pixel(0, y), other.pixel(0, y), rowBytes);
    return true;
}

}  // namespace dofrt
