// The thirteen double buffers of the Parameters record, listed once: the
// passes allocate them, the splatting and the output pass read them, and
// the engine and finished release them.
#pragma once

#include "host/Parameters.h"

// In record order: the summed-area table of alpha, then R, G, B of the
// colour sums (box averaging keeps its other three tables there), the
// opacity sums, the transmittances and the weight sums.
constexpr double* Parameters::*kScratchTables[13] = {
    &Parameters::alphaTable,  &Parameters::colourSumR,  &Parameters::colourSumG,
    &Parameters::colourSumB,  &Parameters::opacitySumR, &Parameters::opacitySumG,
    &Parameters::opacitySumB, &Parameters::transmitR,   &Parameters::transmitG,
    &Parameters::transmitB,   &Parameters::weightSumR,  &Parameters::weightSumG,
    &Parameters::weightSumB};

// Where each kind starts in the list; channel c of a kind follows at + c.
enum ScratchTable : int {
    kAlphaTable = 0,
    kColourSums = 1,
    kOpacitySums = 4,
    kTransmits = 7,
    kWeightSums = 10,
    kScratchTableCount = 13
};

inline double*& scratch_table(Parameters* params, int table) {
    return params->*kScratchTables[table];
}

// Releases the thirteen tables through the host allocator, in record order,
// and clears their pointers.
void release_scratch_tables(Parameters* params);
