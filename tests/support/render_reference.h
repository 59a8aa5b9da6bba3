// Slow, literal render of the effect for checking the render engine: every
// pass written out pixel by pixel with its own arithmetic and its own
// g-buffer reads; the fragments are splatted one at a time by the literal
// splatting reference, which the engine's blocked walk must match bit for bit.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "host/GBuffer.h"
#include "host/IFXFilterInstance.h"
#include "runtime/PixelImage.h"
#include "runtime/RenderSession.h"
#include "support/splat_reference.h"

namespace dof::test {

// A parameter value rounded as the effect rounds it: to nearest, ties to
// even, the low 32 bits.
std::int32_t roundToInt(double value);

// What a whole render with these settings (the region given, pass 4 over
// the rectangles of passes 1 and 3) does to `destination`, which holds the
// host's buffer before the render; `planes`, when given, receives the planes
// after pass 3 of the splatting. Returns false, with the destination
// untouched, when the method is unknown (the render stops at pass 2).
bool referenceRender(const runtime::RenderSettings& settings, const runtime::PixelImage& source,
                     GBufferChannel* const* gbuffers, runtime::PixelImage& destination,
                     ReferencePlanes* planes = nullptr);

// Called with the planes after each pixel that pass 3 visits, output
// rectangle after output rectangle; false stops the walk.
typedef std::function<bool(const ReferencePlanes&)> ReferencePixelDone;

// The planes after pass 3, or after as many pixels as `done` lets through.
ReferencePlanes referenceSplatPlanes(const runtime::RenderSettings& settings,
                                     const runtime::PixelImage& source,
                                     GBufferChannel* const* gbuffers,
                                     const ReferencePixelDone& done = {});

}  // namespace dof::test
