// boxBlur: one line of integer premultiplied RGBA planes averaged over a box,
// with running sums so that a pixel costs the same whatever the radius.
#include <cstdint>

#include "blur/line_blur.h"
#include "blur/line_runs.h"

using dof::line_blur::lineElement;

namespace {

// The sums wrap in 32 bits like the host's own integers; keeping them unsigned
// keeps the wrap defined. Only input outside the byte ranges can make them wrap.
struct BoxSums {
    std::uint32_t s1 = 0;
    std::uint32_t s2 = 0;
    std::uint32_t s3 = 0;
    std::uint32_t alpha = 0;  // Sa in the alpha plane form, D = count x a otherwise
};

inline std::int32_t asSigned(std::uint32_t value) { return static_cast<std::int32_t>(value); }

// Low 8 bits of a 32-bit quotient truncated toward zero. The divisor is not 0.
// -2^31 / -1 overflows the division; its true quotient 2^31 has low byte 0,
// which negating in unsigned arithmetic gives for every dividend.
inline unsigned char quotientByte(std::int32_t dividend, std::int32_t divisor) {
    if (divisor == -1) return static_cast<unsigned char>(0u - static_cast<std::uint32_t>(dividend));
    return static_cast<unsigned char>(dividend / divisor);
}

}  // namespace

void boxBlur(QVLong const* alpha, QVLong const* c1, QVLong const* c2, QVLong const* c3, QVLong n,
             unsigned char* out, QVLong stride, QVLong R, QVLong weighted) {
    // A negative radius names no window; the running sums would divide by a
    // count that reaches 0.
    if (n <= 0 || R < 0) return;
    const bool alphaPlane = weighted != 0;
    const std::uint32_t lineAlpha = static_cast<std::uint32_t>(alpha[0]);
    if (!alphaPlane && lineAlpha == 0) {
        for (QVLong i = 0; i < n; ++i) lineElement(out, i, stride)[0] = 0;
        return;
    }

    BoxSums sums;
    std::int32_t count = 0;
    auto enter = [&](QVLong j) {
        sums.s1 += static_cast<std::uint32_t>(c1[j]);
        sums.s2 += static_cast<std::uint32_t>(c2[j]);
        sums.s3 += static_cast<std::uint32_t>(c3[j]);
        sums.alpha += alphaPlane ? static_cast<std::uint32_t>(alpha[j]) : lineAlpha;
        ++count;
    };
    auto leave = [&](QVLong j) {
        sums.s1 -= static_cast<std::uint32_t>(c1[j]);
        sums.s2 -= static_cast<std::uint32_t>(c2[j]);
        sums.s3 -= static_cast<std::uint32_t>(c3[j]);
        sums.alpha -= alphaPlane ? static_cast<std::uint32_t>(alpha[j]) : lineAlpha;
        --count;
    };

    const QVLong primed = R < n ? R : n;
    for (QVLong j = 0; j < primed; ++j) enter(j);

    const unsigned char lineAlphaByte = static_cast<unsigned char>(lineAlpha);
    for (QVLong i = 0; i < n; ++i) {
        if (i > R) leave(i - R - 1);
        if (R <= n - 1 - i) enter(i + R);
        unsigned char* pixel = lineElement(out, i, stride);
        const std::int32_t divisor = asSigned(sums.alpha);
        if (alphaPlane) {
            pixel[0] = quotientByte(divisor, count);
            if (divisor <= 0) continue;  // no alpha under the window
        } else {
            pixel[0] = lineAlphaByte;
            // Only an alpha outside the byte range can wrap D to 0.
            if (divisor == 0) continue;
        }
        pixel[1] = quotientByte(asSigned(sums.s1), divisor);
        pixel[2] = quotientByte(asSigned(sums.s2), divisor);
        pixel[3] = quotientByte(asSigned(sums.s3), divisor);
    }
}
