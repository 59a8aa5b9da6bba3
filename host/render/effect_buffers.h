// A render's input as the host hands it to the effect (source buffer,
// destination buffer, g-buffer channels), and the effect's result back in
// the input's own association.
//
// Splatting sees premultiplied colour. Every pixel that holds anything is one
// front fragment with coverage 255 and the pixel's alpha as its opacity (the
// transparency bytes), so that the resolve averages colour and alpha the way
// premultiplied images are averaged, and an unblurred pixel keeps its colour
// exactly (its alpha to the transparency byte's 1/255). Pixels with nothing
// in them (no alpha and, when premultiplied, no colour) have coverage 0: they
// are not splatted, so empty space does not thin out the objects beside it.
// A deep pixel's fragments become the front fragment and depth layers.
//
// Box averaging weights colour by alpha itself, so it sees straight colour.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "host/Parameters.h"
#include "model/depth_conventions.h"
#include "model/lens.h"
#include "render/render_input.h"
#include "runtime/GBufferSet.h"
#include "runtime/PixelImage.h"

namespace dof {

// How a frame is blurred: by the effect's box averaging or splatting, or by
// dof3d itself through the aperture (aperture_render.h), which never hands
// its number to the effect.
enum class Method { Box = kMethodBoxAverage, Splat = kMethodSplatting, Aperture };

// How a frame's camera distances become the depths the effect reads: moved
// first where a lens blurs the frame (what hit nothing too), then scaled into
// the effect's range.
struct DepthPlacement {
    DepthScale scale;
    double noHitAbove = kNoHitAbove;
    NoHitPolicy noHit = NoHitPolicy::Far;
    std::optional<LensDepthRemap> lens;

    float effectDepth(double distance) const;
};

struct EffectBuffers {
    std::unique_ptr<runtime::PixelImage> source;
    std::unique_ptr<runtime::PixelImage> destination;  // starts as a copy of the source
    std::unique_ptr<runtime::GBufferSet> gbuffers;
};

// False with `error` when the host allocator refuses a buffer or a row runs
// out of depth-layer slots.
bool buildEffectBuffers(const RenderInput& input, Method method, QVBitmapType format,
                        const DepthPlacement& depth, EffectBuffers* buffers, std::string* error);

// The destination's R, G, B, A in the input's own alpha association. A pixel
// the effect left as the source had it keeps the file's values exactly.
RenderedColour storeResult(const EffectBuffers& buffers, Method method, const RenderInput& input);

}  // namespace dof
