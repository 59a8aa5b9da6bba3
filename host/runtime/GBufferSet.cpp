#include "runtime/GBufferSet.h"

#include <cstring>

#include "runtime/HugePages.h"

namespace dof::runtime {

struct GBufferSet::Channel {
    GBufferChannel descriptor;
    int elementBytes = 0;
    std::vector<std::uint8_t> front;                   // width * height elements
    std::vector<std::vector<std::uint8_t>> layerData;  // per row, when layered
    std::vector<GBufferLayerRow> layerRows;            // per row, when layered
};

GBufferSet::GBufferSet(int width, int height)
    : width_(width < 0 ? 0 : width),
      height_(height < 0 ? 0 : height),
      channels_(kGBufferEntryCount) {
    for (GBufferChannel*& entry : table_) entry = nullptr;
}

GBufferSet::~GBufferSet() {}

GBufferSet::Channel& GBufferSet::ensure(GBufferEntry entry, int elementBytes,
                                        std::uint8_t elemType) {
    std::unique_ptr<Channel>& slot = channels_[entry];
    if (!slot || slot->elementBytes != elementBytes) {
        slot.reset(new Channel());
        std::memset(&slot->descriptor, 0, sizeof slot->descriptor);
        slot->elementBytes = elementBytes;
        assignLarge(slot->front, size_t(width_) * size_t(height_) * size_t(elementBytes),
                    std::uint8_t(0));
        slot->descriptor.xStride = elementBytes;
        slot->descriptor.yStride = width_ * elementBytes;
        slot->descriptor.elemType = elemType;
        slot->descriptor.data = slot->front.data();
        slot->descriptor.layers = nullptr;
    }
    table_[entry] = &slot->descriptor;
    return *slot;
}

void GBufferSet::addDepth() { ensure(kGBufferDepth, 4, kGBufferElemFloat); }
void GBufferSet::addCoverage() { ensure(kGBufferCoverage, 1, kGBufferElemUByte); }
void GBufferSet::addTransparency() { ensure(kGBufferTransparency, 3, kGBufferElemUByte); }

void GBufferSet::addColour(bool withExponent) {
    if (withExponent) {
        ensure(kGBufferColourExponent, 4, kGBufferElemUByte);
    } else {
        ensure(kGBufferColour, 3, kGBufferElemUByte);
    }
}

void GBufferSet::enableLayers() {
    ensure(kGBufferLayerWeight, 3, kGBufferElemUByte);
    ensure(kGBufferLayerRange, 4, kGBufferElemUShort);
    layersEnabled_ = true;
    for (GBufferEntry entry : {kGBufferDepth, kGBufferColourExponent, kGBufferColour,
                               kGBufferTransparency, kGBufferLayerWeight}) {
        Channel* channel = channels_[entry].get();
        if (channel == nullptr || !channel->layerRows.empty()) continue;
        channel->layerData.assign(size_t(height_), std::vector<std::uint8_t>());
        channel->layerRows.assign(size_t(height_),
                                  GBufferLayerRow{0, channel->elementBytes, nullptr});
        channel->descriptor.layers = channel->layerRows.data();
    }
}

std::uint8_t* GBufferSet::element(GBufferEntry entry, int x, int y) {
    Channel& channel = *channels_[entry];
    return channel.front.data() +
           (size_t(y) * size_t(width_) + size_t(x)) * size_t(channel.elementBytes);
}

float& GBufferSet::depth(int x, int y) {
    return *reinterpret_cast<float*>(element(kGBufferDepth, x, y));
}

std::uint8_t& GBufferSet::coverage(int x, int y) { return *element(kGBufferCoverage, x, y); }

std::uint8_t* GBufferSet::colour(int x, int y) {
    return channels_[kGBufferColourExponent] ? element(kGBufferColourExponent, x, y)
                                             : element(kGBufferColour, x, y);
}

std::uint8_t* GBufferSet::transparency(int x, int y) { return element(kGBufferTransparency, x, y); }

std::uint16_t* GBufferSet::layerRange(int x, int y) {
    return reinterpret_cast<std::uint16_t*>(element(kGBufferLayerRange, x, y));
}

std::uint32_t GBufferSet::layerCount(int y) const {
    const Channel* weights = channels_[kGBufferLayerWeight].get();
    return weights && !weights->layerRows.empty() ? weights->layerRows[size_t(y)].layerCount : 0;
}

void GBufferSet::refreshLayerRow(GBufferEntry entry, int y) {
    Channel& channel = *channels_[entry];
    std::vector<std::uint8_t>& data = channel.layerData[size_t(y)];
    channel.layerRows[size_t(y)].layerCount =
        std::uint32_t(data.size() / size_t(channel.elementBytes));
    channel.layerRows[size_t(y)].layerBase = data.empty() ? nullptr : data.data();
}

bool GBufferSet::addLayer(int x, int y, const LayerFragment& fragment) {
    if (!layersEnabled_) enableLayers();
    const std::uint32_t index = layerCount(y);
    if (index >= 0xFFFF) return false;
    // A pixel's layers are one run of indices: start it, or extend it.
    std::uint16_t* range = layerRange(x, y);
    if (range[0] != range[1] && range[1] != index) return false;
    for (GBufferEntry entry : {kGBufferDepth, kGBufferColourExponent, kGBufferColour,
                               kGBufferTransparency, kGBufferLayerWeight}) {
        Channel* channel = channels_[entry].get();
        if (channel == nullptr || channel->layerRows.empty()) continue;
        const std::uint8_t* bytes;
        switch (entry) {
            case kGBufferDepth:
                bytes = reinterpret_cast<const std::uint8_t*>(&fragment.depth);
                break;
            case kGBufferTransparency:
                bytes = fragment.transparency;
                break;
            case kGBufferLayerWeight:
                bytes = fragment.weight;
                break;
            default:
                bytes = fragment.colour;
                break;
        }
        std::vector<std::uint8_t>& data = channel->layerData[size_t(y)];
        data.insert(data.end(), bytes, bytes + channel->elementBytes);
        refreshLayerRow(entry, y);
    }
    if (range[0] == range[1]) {
        range[0] = std::uint16_t(index);
        range[1] = std::uint16_t(index + 1);
    } else {
        range[1] = std::uint16_t(index + 1);
    }
    return true;
}

}  // namespace dof::runtime
