// How the line blurs split a line into runs and cut the tap window at its
// ends. Internal to the blur routines.
#pragma once

#include <cstddef>

namespace dof::line_blur {

// Element i of a line that advances by stride bytes, of any sign.
template <typename Byte>
inline Byte* lineElement(Byte* base, std::ptrdiff_t i, std::ptrdiff_t stride) {
    return base + i * stride;
}

// Output i of a line of n takes the samples within R of it. The leading run
// [0, leadingEnd) has its window cut at the start (and at the end too when the
// line is short), the interior run [leadingEnd, interiorEnd) holds the whole
// window, and the trailing run [interiorEnd, n) is cut at the end. When the
// interior run is empty the trailing run starts where the leading run stops.
template <typename Index>
struct LineRuns {
    Index leadingEnd;
    Index interiorEnd;
};

// n and R are not negative. Written without forming i + R or 2R, so that a
// radius near the top of its type cannot overflow.
template <typename Index>
inline LineRuns<Index> splitLine(Index n, Index R) {
    LineRuns<Index> runs;
    runs.leadingEnd = R < n ? R : n;
    runs.interiorEnd = (R < n && n - R > runs.leadingEnd) ? n - R : runs.leadingEnd;
    return runs;
}

// The taps of output i inside a line of n: samples first to last, the first
// of them carrying the weight at index firstWeight.
template <typename Index>
struct TapWindow {
    Index first;
    Index last;
    Index firstWeight;
};

template <typename Index>
inline TapWindow<Index> cutWindow(Index i, Index n, Index R) {
    TapWindow<Index> window;
    window.first = i > R ? i - R : 0;
    window.last = n - 1 - i > R ? i + R : n - 1;
    window.firstWeight = R - (i - window.first);
    return window;
}

}  // namespace dof::line_blur
