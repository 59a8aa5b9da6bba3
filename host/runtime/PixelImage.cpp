#include "runtime/PixelImage.h"

#include <cmath>
#include <cstring>

namespace dof::runtime {

namespace {

// The packed group of a pixel as one integer, most significant byte first.
std::uint64_t readGroup(const std::uint8_t* p, unsigned bytes) {
    std::uint64_t group = 0;
    for (unsigned i = 0; i < bytes; ++i) group = (group << 8) | p[i];
    return group;
}

void writeGroup(std::uint8_t* p, unsigned bytes, std::uint64_t group) {
    for (unsigned i = bytes; i-- > 0;) {
        p[i] = std::uint8_t(group & 0xFF);
        group >>= 8;
    }
}

// Where component c sits in a packed group: R in the top bits.
int groupShift(const QVBitmapFormat& format, int c) { return (3 - c) * int(format.bits); }
std::uint64_t componentMask(const QVBitmapFormat& format) {
    return (std::uint64_t(1) << format.bits) - 1;
}

}  // namespace

PixelImage::PixelImage(QVBitmap* bitmap, const QVBitmapFormat& format, int width, int height)
    : bitmap_(bitmap), format_(format), width_(width), height_(height) {}

PixelImage::~PixelImage() { FreeBitmapQV(bitmap_); }

std::unique_ptr<PixelImage> PixelImage::create(QVBitmapType format, int width, int height,
                                               int rowPixels) {
    const QVBitmapFormat* facts = qvBitmapFormat(format);
    if (facts == nullptr || width < 0 || height < 0) return nullptr;
    if (rowPixels == 0) rowPixels = width;
    if (rowPixels < width) return nullptr;
    QVBitmap* bitmap = AllocBitmapQV(rowPixels, height, format, nullptr);
    if (bitmap == nullptr) return nullptr;
    bitmap->width = width;
    return std::unique_ptr<PixelImage>(new PixelImage(bitmap, *facts, width, height));
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
    if (format_.packed)
        return double((readGroup(p, format_.bytesPerPixel) >> groupShift(format_, c)) &
                      componentMask(format_));
    switch (format_.component) {
        case QVComponentKind::Byte:
            return p[c];
        case QVComponentKind::UShort: {
            std::uint16_t v;
            std::memcpy(&v, p + 2 * c, 2);
            return v;
        }
        case QVComponentKind::Float: {
            float v;
            std::memcpy(&v, p + 4 * c, 4);
            return v;
        }
    }
    return 0.0;
}

void PixelImage::setComponent(int x, int y, int c, double raw) {
    std::uint8_t* p = pixel(x, y);
    if (format_.packed) {
        const std::uint64_t mask = componentMask(format_) << groupShift(format_, c);
        const std::uint64_t value = std::uint64_t(std::int64_t(raw)) << groupShift(format_, c);
        const std::uint64_t group = readGroup(p, format_.bytesPerPixel);
        writeGroup(p, format_.bytesPerPixel, (group & ~mask) | (value & mask));
        return;
    }
    switch (format_.component) {
        case QVComponentKind::Byte:
            p[c] = std::uint8_t(std::int64_t(raw));
            break;
        case QVComponentKind::UShort: {
            const std::uint16_t v = std::uint16_t(std::int64_t(raw));
            std::memcpy(p + 2 * c, &v, 2);
            break;
        }
        case QVComponentKind::Float: {
            const float v = float(raw);
            std::memcpy(p + 4 * c, &v, 4);
            break;
        }
    }
}

double PixelImage::fraction(int x, int y, int c) const {
    const double raw = component(x, y, c);
    return isFloat() ? raw : raw / double(format_.fullScale);
}

void PixelImage::setFraction(int x, int y, int c, double value) {
    if (isFloat()) {
        setComponent(x, y, c, value);
        return;
    }
    const double scale = double(format_.fullScale);
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

}  // namespace dof::runtime
