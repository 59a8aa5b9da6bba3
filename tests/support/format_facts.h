// The five pixel formats of the host's buffers as the tests expect them,
// written down here apart from the plug-in's pixel traits, the host library
// and the runtime's images, which are all checked against it.
#pragma once

namespace dof::test {

struct FormatFacts {
    int code;  // the byte at offset 12 of a buffer record
    const char* name;
    int bytesPerPixel;
    double fullScale;  // 0 for float, whose full intensity is 1.0
    int bits;          // per component
    bool packed;       // the four components share one big-endian group
};

inline constexpr FormatFacts kFormats[] = {
    {1, "RGBA8", 4, 255.0, 8, false},      // one byte each
    {2, "RGBA10", 5, 1023.0, 10, true},    // a 40-bit group
    {3, "RGBA12", 6, 4095.0, 12, true},    // a 48-bit group
    {4, "RGBA16", 8, 65535.0, 16, false},  // machine byte order
    {5, "RGBAFloat", 16, 0.0, 32, false},  // four floats
};

// The facts of a format code; null for a code that names no format.
inline const FormatFacts* formatFacts(int code) {
    for (const FormatFacts& f : kFormats)
        if (f.code == code) return &f;
    return nullptr;
}

}  // namespace dof::test
