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
// once for all the group's fragments. One kernel per layout, so that every
// accumulator is a register of its own.
template <class V, int N, bool kUnitCoverage>
void apply_shared5(const SplatGroup& g) {
    V colour[N][3], coverage[N];
#pragma GCC unroll 8
    for (int j = 0; j < N; ++j) {
        for (int c = 0; c < 3; ++c) colour[j][c] = broadcast<V>(g.fragments[j]->colour[c]);
        coverage[j] = broadcast<V>(g.fragments[j]->coverage[0]);
    }
    const V one = broadcast<V>(1.0);
    // Kept in registers: the group record could be written through the planes.
    const std::ptrdiff_t stride = g.rowStride;
    const int rows = g.rows, columns = g.columns;
    const double* wy[N];
#pragma GCC unroll 8
    for (int j = 0; j < N; ++j) wy[j] = g.rowTaps[j];
    for (int col = 0; col < columns; col += lanes<V>()) {
        V hx[N];
#pragma GCC unroll 8
        for (int j = 0; j < N; ++j) hx[j] = load<V>(g.columnTaps[j] + col);
        double* r0 = g.planes[kTileColour] + col;
        double* r1 = g.planes[kTileColour + 1] + col;
        double* r2 = g.planes[kTileColour + 2] + col;
        double* rw = g.planes[kTileShared5Weight] + col;
        double* rt = g.planes[kTileShared5Transmit] + col;
        for (int r = 0; r < rows;
             ++r, r0 += stride, r1 += stride, r2 += stride, rw += stride, rt += stride) {
            V c0 = load<V>(r0), c1 = load<V>(r1), c2 = load<V>(r2);
            V w = load<V>(rw), t = load<V>(rt);
#pragma GCC unroll 8
            for (int j = 0; j < N; ++j) {
                const V tap = broadcast<V>(wy[j][r]) * hx[j];
                if (kUnitCoverage) {
                    // Coverage 1: (x * tap) * 1 is x * tap, and opacity 1
                    // makes each opacity sum the weight sum.
                    c0 += colour[j][0] * tap;
                    c1 += colour[j][1] * tap;
                    c2 += colour[j][2] * tap;
                    w += tap;
                    t = (one - tap) * t;
                } else {
                    // Opacity 1: (1 * tap) * k is the weight k * tap.
                    const V kt = coverage[j] * tap;
                    c0 += (colour[j][0] * tap) * coverage[j];
                    c1 += (colour[j][1] * tap) * coverage[j];
                    c2 += (colour[j][2] * tap) * coverage[j];
                    w += kt;
                    t = (one - kt) * t;
                }
            }
            store<V>(r0, c0);
            store<V>(r1, c1);
            store<V>(r2, c2);
            store<V>(rw, w);
            store<V>(rt, t);
        }
    }
}

template <class V, int N>
void apply_shared8(const SplatGroup& g) {
    V colour[N][3], opacity[N][3], coverage[N];
#pragma GCC unroll 8
    for (int j = 0; j < N; ++j) {
        for (int c = 0; c < 3; ++c) {
            colour[j][c] = broadcast<V>(g.fragments[j]->colour[c]);
            opacity[j][c] = broadcast<V>(g.fragments[j]->opacity[c]);
        }
        coverage[j] = broadcast<V>(g.fragments[j]->coverage[0]);
    }
    const V one = broadcast<V>(1.0);
    // Kept in registers: the group record could be written through the planes.
    const std::ptrdiff_t stride = g.rowStride;
    const int rows = g.rows, columns = g.columns;
    const double* wy[N];
#pragma GCC unroll 8
    for (int j = 0; j < N; ++j) wy[j] = g.rowTaps[j];
    for (int col = 0; col < columns; col += lanes<V>()) {
        V hx[N];
#pragma GCC unroll 8
        for (int j = 0; j < N; ++j) hx[j] = load<V>(g.columnTaps[j] + col);
        double* row[8];
        for (int p = 0; p < 8; ++p) row[p] = g.planes[p] + col;
        for (int r = 0; r < rows; ++r) {
            const std::ptrdiff_t at = r * stride;
            V c0 = load<V>(row[0] + at), c1 = load<V>(row[1] + at), c2 = load<V>(row[2] + at);
            V o0 = load<V>(row[3] + at), o1 = load<V>(row[4] + at), o2 = load<V>(row[5] + at);
            V w = load<V>(row[6] + at), t = load<V>(row[7] + at);
#pragma GCC unroll 8
            for (int j = 0; j < N; ++j) {
                const V tap = broadcast<V>(wy[j][r]) * hx[j];
                const V kt = coverage[j] * tap;
                c0 += (colour[j][0] * tap) * coverage[j];
                c1 += (colour[j][1] * tap) * coverage[j];
                c2 += (colour[j][2] * tap) * coverage[j];
                o0 += (opacity[j][0] * tap) * coverage[j];
                o1 += (opacity[j][1] * tap) * coverage[j];
                o2 += (opacity[j][2] * tap) * coverage[j];
                w += kt;
                t = (one - kt) * t;
            }
            store<V>(row[0] + at, c0);
            store<V>(row[1] + at, c1);
            store<V>(row[2] + at, c2);
            store<V>(row[3] + at, o0);
            store<V>(row[4] + at, o1);
            store<V>(row[5] + at, o2);
            store<V>(row[6] + at, w);
            store<V>(row[7] + at, t);
        }
    }
}

// Each channel on its own; one fragment at a time keeps the registers for
// the twelve accumulators.
template <class V, int N>
void apply_full12(const SplatGroup& g) {
    const V one = broadcast<V>(1.0);
    // Kept in registers: the group record could be written through the planes.
    const std::ptrdiff_t stride = g.rowStride;
    const int rows = g.rows, columns = g.columns;
    const double* wy[N];
#pragma GCC unroll 8
    for (int j = 0; j < N; ++j) wy[j] = g.rowTaps[j];
    for (int col = 0; col < columns; col += lanes<V>()) {
        V hx[N];
#pragma GCC unroll 8
        for (int j = 0; j < N; ++j) hx[j] = load<V>(g.columnTaps[j] + col);
        for (int c = 0; c < 3; ++c) {
            V colour[N], opacity[N], coverage[N];
#pragma GCC unroll 8
            for (int j = 0; j < N; ++j) {
                colour[j] = broadcast<V>(g.fragments[j]->colour[c]);
                opacity[j] = broadcast<V>(g.fragments[j]->opacity[c]);
                coverage[j] = broadcast<V>(g.fragments[j]->coverage[c]);
            }
            double* rc = g.planes[kTileColour + c] + col;
            double* ro = g.planes[kTileOpacity + c] + col;
            double* rw = g.planes[kTileWeight + c] + col;
            double* rt = g.planes[kTileTransmit + c] + col;
            for (int r = 0; r < rows; ++r) {
                const std::ptrdiff_t at = r * stride;
                V sc = load<V>(rc + at), so = load<V>(ro + at);
                V w = load<V>(rw + at), t = load<V>(rt + at);
#pragma GCC unroll 8
                for (int j = 0; j < N; ++j) {
                    const V tap = broadcast<V>(wy[j][r]) * hx[j];
                    const V kt = coverage[j] * tap;
                    sc += (colour[j] * tap) * coverage[j];
                    so += (opacity[j] * tap) * coverage[j];
                    w += kt;
                    t = (one - kt) * t;
                }
                store<V>(rc + at, sc);
                store<V>(ro + at, so);
                store<V>(rw + at, w);
                store<V>(rt + at, t);
            }
        }
    }
}

template <class V, int N, SplatLayout L, bool kUnitCoverage>
void apply_group(const SplatGroup& g) {
    if (L == kShared5) apply_shared5<V, N, kUnitCoverage>(g);
    if (L == kShared8) apply_shared8<V, N>(g);
    if (L == kFull12) apply_full12<V, N>(g);
}

template <class V, SplatLayout L, bool kUnit, int... N>
constexpr void fill_counts(SplatGroupKernel (&row)[kMaxGroup + 1]) {
    row[0] = nullptr;
    ((row[N] = &apply_group<V, N, L, kUnit>), ...);
}

template <class V, int... N>
constexpr SplatGroupKernels make_kernels() {
    SplatGroupKernels k{};
    fill_counts<V, kShared5, true, N...>(k.unitCoverage);
    fill_counts<V, kShared5, false, N...>(k.layout[kShared5]);
    fill_counts<V, kShared8, false, N...>(k.layout[kShared8]);
    fill_counts<V, kFull12, false, N...>(k.layout[kFull12]);
    k.maxGroup = int(sizeof...(N));
    return k;
}

}  // namespace
