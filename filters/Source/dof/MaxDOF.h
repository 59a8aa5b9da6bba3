// The render engine of the effect, one instantiation per pixel format of the
// host's buffers.
#pragma once

#include <cstdint>
#include <type_traits>

#include "dof/IFXFilterEngine.h"
#include "dof/QVPixel.h"
#include "dof/splat_walk.h"
#include "host/IFXFilterInstance.h"
#include "host/Parameters.h"

namespace dof::maxdof {
struct SplatChannels;
}

// Render runs the pass the host numbers in renderPass (0 to 4) with the
// method in the rounded mode (1 box averaging, 2 splatting) and answers a
// FilterStatus. All that one pass hands to the next lives in the fourteen
// buffers of Parameters, which the engine allocates and finished releases
// (a repeated pass 0 or 2 first releases what the earlier call left).
template <class Buffer, class Pixel, typename T>
class MaxDOF : public IFXFilterEngine {
public:
    explicit MaxDOF(Parameters* params) : params_(params) {}
    ~MaxDOF() override {}

    FilterStatus Render(IFXFilterInstance const& instance) override;

private:
    static_assert(std::is_same<T, typename Pixel::Component>::value,
                  "component type of the traits");

    FilterStatus allocateRadiusMap(IFXFilterInstance const& instance);      // pass 0
    FilterStatus fillRadiusMap(IFXFilterInstance const& instance);          // pass 1
    FilterStatus buildSummedAreaTables(IFXFilterInstance const& instance);  // pass 2, mode 1
    FilterStatus allocatePlanes(IFXFilterInstance const& instance);         // pass 2, mode 2
    FilterStatus splat(IFXFilterInstance const& instance);                  // pass 3, mode 2
    bool splatLayers(SplatWalk& walk, const dof::maxdof::SplatChannels& channels,
                     const std::uint8_t* rangeElement, int x, int y, double Rx, double Ry);
    FilterStatus boxAverage(IFXFilterInstance const& instance);  // pass 4, mode 1
    FilterStatus resolve(IFXFilterInstance const& instance);     // pass 4, mode 2

    // Copies the rows of `rect` from source to destination as raw bytes,
    // when both buffers share a layout.
    static void copyRows(IFXFilterInstance const& instance, const QVRect& rect);

    static std::uint8_t* pixelAt(const QVBitmap& buffer, std::int64_t x, std::int64_t y);

    Parameters* params_;
};

typedef MaxDOF<QVBufferRGBA8, QVPixelRGBA8, unsigned char> MaxDOF_RGBA8;
typedef MaxDOF<QVBufferRGBA10, QVPixelRGBA10, unsigned short> MaxDOF_RGBA10;
typedef MaxDOF<QVBufferRGBA12, QVPixelRGBA12, unsigned short> MaxDOF_RGBA12;
typedef MaxDOF<QVBufferRGBA16, QVPixelRGBA16, unsigned short> MaxDOF_RGBA16;
typedef MaxDOF<QVBufferRGBAFloat, QVPixelRGBAFloat, float> MaxDOF_RGBAFloat;

// Each format's instantiation lives in its own source file.
extern template class MaxDOF<QVBufferRGBA8, QVPixelRGBA8, unsigned char>;
extern template class MaxDOF<QVBufferRGBA10, QVPixelRGBA10, unsigned short>;
extern template class MaxDOF<QVBufferRGBA12, QVPixelRGBA12, unsigned short>;
extern template class MaxDOF<QVBufferRGBA16, QVPixelRGBA16, unsigned short>;
extern template class MaxDOF<QVBufferRGBAFloat, QVPixelRGBAFloat, float>;
