#include "dof/MaxDOF_gbuffer.h"

#include <array>

namespace {

// Powers of two by repeated doubling from 2^-127: every step is exact.
constexpr std::array<double, 256> makeExpTable() {
    std::array<double, 256> table{};
    double p = 1.0;
    for (int i = 0; i < 127; ++i) p = p * 0.5;
    table[0] = 0.0;
    for (int i = 1; i < 256; ++i) {
        table[i] = p;
        p = p * 2.0;
    }
    return table;
}

constexpr std::array<double, 256> kExpTable = makeExpTable();
static_assert(kExpTable[0] == 0.0 && kExpTable[1] * 0x1p127 == 1.0 && kExpTable[128] == 1.0 &&
                  kExpTable[255] == 0x1p127,
              "entry i is 2^(i - 128), entry 0 is 0");

}  // namespace

alignas(16) const float gFloatDummy[4] = {1.0f, 1.0f, 1.0f, 1.0f};
alignas(16) const std::int32_t gLongDummy[4] = {1, 1, 1, 1};
alignas(16) const std::uint16_t gUShortDummy[4] = {1, 1, 1, 1};
alignas(16) const std::uint8_t gUByteDummy[4] = {1, 1, 1, 1};

// External linkage from the declaration in the header.
const std::array<double, 256> expTable = kExpTable;

const std::uint8_t* gbuffer_dummy(std::uint8_t elemType) {
    switch (elemType) {
        case kGBufferElemUShort:
            return reinterpret_cast<const std::uint8_t*>(gUShortDummy);
        case kGBufferElemLong:
        case kGBufferElemLong2:
            return reinterpret_cast<const std::uint8_t*>(gLongDummy);
        case kGBufferElemFloat:
        case kGBufferElemFloat2:
            return reinterpret_cast<const std::uint8_t*>(gFloatDummy);
        default:
            return gUByteDummy;
    }
}

const std::uint8_t* gbuffer_layer_element(const GBufferChannel& channel, int y, std::uint32_t k) {
    if (channel.layers != nullptr) {
        const GBufferLayerRow& row = channel.layers[y];
        // A row without a base has no elements, whatever its count says.
        if (row.layerBase != nullptr && row.layerCount != 0 && k < row.layerCount) {
            const std::uintptr_t at =
                std::uintptr_t(row.layerBase) +
                std::uintptr_t(std::intptr_t(std::int64_t(k) * row.layerStride));
            if (at != 0) return reinterpret_cast<const std::uint8_t*>(at);
        }
    }
    return gbuffer_dummy(channel.elemType);
}
