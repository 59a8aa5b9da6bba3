// A host pixel buffer in one of the five formats the effect renders, with
// component access in raw units for the host side and its tests.
#pragma once

#include <cstdint>
#include <memory>

#include "host/QVLib.h"

namespace dof::runtime {

class PixelImage {
public:
    // A zero-filled buffer whose pixel (0, 0) is the host's absolute (0, 0);
    // rows hold `rowPixels` pixels (at least `width`; 0 means `width`). Null
    // when the host allocator refuses it or the size cannot be addressed.
    static std::unique_ptr<PixelImage> create(QVBitmapType format, int width, int height,
                                              int rowPixels = 0);
    ~PixelImage();
    PixelImage(const PixelImage&) = delete;
    PixelImage& operator=(const PixelImage&) = delete;

    QVBitmap& record() { return *bitmap_; }
    const QVBitmap& record() const { return *bitmap_; }
    QVBitmapType format() const { return bitmap_->formatCode; }
    int width() const { return width_; }
    int height() const { return height_; }
    int pixelBytes() const { return bitmap_->pixelBytes; }
    bool isFloat() const { return format_.component == QVComponentKind::Float; }
    std::uint8_t* pixel(int x, int y);
    const std::uint8_t* pixel(int x, int y) const;

    // Component c (0 R, 1 G, 2 B, 3 A) in raw units: the stored integer, or
    // the float. Writing an integer format stores the value's low bits; in the
    // packed formats only the component's own bits change.
    double component(int x, int y, int c) const;
    void setComponent(int x, int y, int c, double raw);

    // The component as a fraction of full scale (the float itself for float).
    double fraction(int x, int y, int c) const;
    // Stores a fraction, rounded to the nearest code and limited to the
    // format's range (floats stored as they are).
    void setFraction(int x, int y, int c, double value);

    // Copies every byte of another image of the same format and size.
    bool copyPixelsFrom(const PixelImage& other);

private:
    PixelImage(QVBitmap* bitmap, const QVBitmapFormat& format, int width, int height);
    QVBitmap* bitmap_;
    const QVBitmapFormat& format_;
    int width_;
    int height_;
};

}  // namespace dof::runtime
