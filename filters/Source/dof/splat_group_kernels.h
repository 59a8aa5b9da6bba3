// The group kernels, written once over a vector of doubles and compiled once
// per instruction set (splat_group_*.cpp). Everything here has internal
// linkage, so that no copy built for a wider unit can stand in for another.
// Each element receives the operations of the literal walk in its order:
//   colour sum += (colour * tap) * coverage
//   opacity sum += (opacity * tap) * coverage
//   weight sum += coverage * tap
//   transmittance = (1 - coverage * tap) * transmittance
// with tap = row tap * column tap; a factor of exactly 1 is left out where it
// cannot change a bit.
#pragma once

#include "dof/splat_group.h"

namespace {

template <class V>
constexpr int lanes() {
    return int(sizeof(V) / sizeof(double));
}

template <class V>
inline V load(const double* p) {
    V v;
    __builtin_memcpy(&v, p, sizeof v);
    return v;
}

template <class V>
inline void store(double* p, V v) {
    __builtin_memcpy(p, &v, sizeof v);
}

template <class V>
inline V broadcast(double x) {
    V v;
    for (int i = 0; i < lanes<V>(); ++i) v[i] = x;
    return v;
}

// Columns in the outer loop, rows in the inner one: the column taps of the
// group stay in registers while each accumulator vector is loaded and stored
// once for all the group's fragments.
template <class V, int N, SplatLayout L, bool kUnitCoverage>
void apply_group(const SplatGroup& g) {
    constexpr int kPlanes = L == kShared5 ? 5 : (L == kShared8 ? 8 : 12);
    V colour[N][3], opacity[N][3], coverage[N][3];
    for (int j = 0; j < N; ++j) {
        for (int c = 0; c < 3; ++c) {
            colour[j][c] = broadcast<V>(g.fragments[j]->colour[c]);
            opacity[j][c] = broadcast<V>(g.fragments[j]->opacity[c]);
            coverage[j][c] = broadcast<V>(g.fragments[j]->coverage[c]);
        }
    }
    const V one = broadcast<V>(1.0);
    for (int col = 0; col < g.columns; col += lanes<V>()) {
        V hx[N];
        for (int j = 0; j < N; ++j) hx[j] = load<V>(g.columnTaps + j * g.columnTapStride + col);
        for (int r = 0; r < g.rows; ++r) {
            const std::ptrdiff_t at = r * g.rowStride + col;
            V acc[kPlanes];
            for (int p = 0; p < kPlanes; ++p) acc[p] = load<V>(g.planes[p] + at);
            for (int j = 0; j < N; ++j) {
                const V tap = broadcast<V>(g.rowTaps[j * g.rowTapStride + r]) * hx[j];
                if (L == kFull12) {
                    for (int c = 0; c < 3; ++c) {
                        const V kt = coverage[j][c] * tap;
                        acc[kTileColour + c] += (colour[j][c] * tap) * coverage[j][c];
                        acc[kTileOpacity + c] += (opacity[j][c] * tap) * coverage[j][c];
                        acc[kTileWeight + c] += kt;
                        acc[kTileTransmit + c] = (one - kt) * acc[kTileTransmit + c];
                    }
                } else if (kUnitCoverage) {
                    // kShared5 with coverage 1: (x * tap) * 1 is x * tap.
                    for (int c = 0; c < 3; ++c) acc[kTileColour + c] += colour[j][c] * tap;
                    acc[kTileShared5Weight] += tap;
                    acc[kTileShared5Transmit] = (one - tap) * acc[kTileShared5Transmit];
                } else {
                    const V k = coverage[j][0];
                    const V kt = k * tap;
                    for (int c = 0; c < 3; ++c) acc[kTileColour + c] += (colour[j][c] * tap) * k;
                    if (L == kShared8) {
                        for (int c = 0; c < 3; ++c)
                            acc[kTileOpacity + c] += (opacity[j][c] * tap) * k;
                        acc[kTileShared8Weight] += kt;
                        acc[kTileShared8Transmit] = (one - kt) * acc[kTileShared8Transmit];
                    } else {
                        // Opacity 1: (1 * tap) * k is the weight k * tap.
                        acc[kTileShared5Weight] += kt;
                        acc[kTileShared5Transmit] = (one - kt) * acc[kTileShared5Transmit];
                    }
                }
            }
            for (int p = 0; p < kPlanes; ++p) store<V>(g.planes[p] + at, acc[p]);
        }
    }
}

template <class V, SplatLayout L, bool kUnit>
constexpr void fill_counts(SplatGroupKernel (&row)[kMaxGroup + 1]) {
    row[0] = nullptr;
    row[1] = &apply_group<V, 1, L, kUnit>;
    row[2] = &apply_group<V, 2, L, kUnit>;
    row[3] = &apply_group<V, 3, L, kUnit>;
    row[4] = &apply_group<V, 4, L, kUnit>;
}

template <class V>
constexpr SplatGroupKernels make_kernels() {
    SplatGroupKernels k{};
    fill_counts<V, kShared5, true>(k.unitCoverage);
    fill_counts<V, kShared5, false>(k.layout[kShared5]);
    fill_counts<V, kShared8, false>(k.layout[kShared8]);
    fill_counts<V, kFull12, false>(k.layout[kFull12]);
    return k;
}

}  // namespace
