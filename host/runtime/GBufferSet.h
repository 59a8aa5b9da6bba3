// In-memory g-buffer channels for a render: the descriptors and layer rows
// the effect reads, built from planes the host side fills.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "host/GBuffer.h"

namespace dof::runtime {

// One fragment behind the front one of a pixel.
struct LayerFragment {
    float depth;
    std::uint8_t colour[4];  // R, G, B and, with an exponent channel, e
    std::uint8_t transparency[3];
    std::uint8_t weight[3];
};

// Channels cover the host's absolute pixels (0, 0) to (width, height).
class GBufferSet {
public:
    GBufferSet(int width, int height);
    ~GBufferSet();
    GBufferSet(const GBufferSet&) = delete;
    GBufferSet& operator=(const GBufferSet&) = delete;

    int width() const { return width_; }
    int height() const { return height_; }

    // Adds a channel with its elements packed (xStride = element size); the
    // front elements start zeroed (depth 0.0f). Adding again keeps the data.
    void addDepth();
    void addCoverage();
    void addColour(bool withExponent);  // entry 5 (4 bytes) or entry 9 (3 bytes)
    void addTransparency();
    // Layer weight and layer range channels together, and layer rows on the
    // depth, colour and transparency channels present: call after those.
    void enableLayers();

    float& depth(int x, int y);
    std::uint8_t& coverage(int x, int y);
    std::uint8_t* colour(int x, int y);        // 3 or 4 bytes
    std::uint8_t* transparency(int x, int y);  // 3 bytes
    // First and end layer index of a pixel's range.
    std::uint16_t* layerRange(int x, int y);

    // Appends a fragment to row y's layers and extends pixel (x, y)'s range
    // to it; a pixel's fragments must be added one after another.
    // Row y holds at most 65535 layers (the range is 16-bit); false when full,
    // or when another pixel's layers came after this pixel's.
    bool addLayer(int x, int y, const LayerFragment& fragment);
    std::uint32_t layerCount(int y) const;

    // The table the effect reads (kGBufferEntryCount entries; absent = null).
    GBufferChannel** table() { return table_; }
    GBufferChannel* channel(GBufferEntry entry) { return table_[entry]; }
    // Takes a channel out of the table (its data stays owned here).
    void remove(GBufferEntry entry) { table_[entry] = nullptr; }

private:
    struct Channel;
    Channel& ensure(GBufferEntry entry, int elementBytes, std::uint8_t elemType);
    std::uint8_t* element(GBufferEntry entry, int x, int y);
    void refreshLayerRow(GBufferEntry entry, int y);

    int width_;
    int height_;
    bool layersEnabled_ = false;
    std::vector<std::unique_ptr<Channel>> channels_;  // indexed by entry
    GBufferChannel* table_[kGBufferEntryCount];
};

}  // namespace dof::runtime
