// Runs a render of the effect the way the compositing host does: prepare,
// every pass over its output rectangles, finished.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "host/IFXFilterInstance.h"
#include "host/Parameters.h"
#include "host/Selectors.h"
#include "runtime/EffectInstance.h"
#include "runtime/GBufferSet.h"
#include "runtime/PixelImage.h"

namespace dof::runtime {

struct RenderSettings {
    double radius = 0.0;  // largest blur radius in pixels
    FilterMethod method = kMethodBoxAverage;
    double focalDepth = -1.0;
    double focusRangeDepth = 0.0;  // far end of the sharp zone
    double pixelAspect = 1.0;
    double scaleX = 1.0;
    double scaleY = 1.0;
    QVRect region{0, 0, 0, 0};        // the render region; width 0 = whole source
    std::vector<QVRect> outputRects;  // empty = the region as one rectangle
    // Pass 4's rectangles when they differ from the others (a band of a
    // larger region); empty = outputRects.
    std::vector<QVRect> resolveRects;
};

// Seconds a render spent in each pass, or several renders' sums.
struct PassSeconds : std::array<double, kRenderPassCount> {
    PassSeconds& operator+=(const PassSeconds& more);
};

struct RenderReport {
    bool ok = false;             // every selector answered 1
    QVULong failedSelector = 0;  // kSelectorPrepare or kSelectorApply; 0 none
    int failedPass = -1;         // pass whose apply answered 0
    bool stopped = false;        // CheckAbort asked to stop during pass 3
    PassSeconds passSeconds{};
};

// What went wrong in a render that was not ok, as words for a message:
// "the effect failed render pass 2".
std::string describeFailure(const RenderReport& report);

// Called before each pass call: pass number, index of the call within the
// pass and the number of calls of that pass.
typedef std::function<void(int pass, int call, int calls)> PassProgress;

// Writes the four parameters through the addresses the effect declared.
// False when the effect declared no such parameter.
bool setRenderParameters(EffectInstance& instance, const RenderSettings& settings);

// Writes `value` to every user parameter named by string `nameId` (such as
// kStringMethod); false when the effect declared none.
bool setParameter(EffectInstance& instance, std::int32_t nameId, double value);

// The selectors one at a time, for hosts and tests that look between passes.
class RenderSession {
public:
    // Fills the instance record: buffers, g-buffer table, scaling, region.
    RenderSession(EffectInstance& instance, PixelImage& source, PixelImage& destination,
                  GBufferSet* gbuffers, const RenderSettings& settings);
    ~RenderSession();  // runs finished if prepare ran and finished has not

    QVULong prepare();
    // One apply call of `pass` over `outputRect`.
    QVULong apply(std::uint32_t pass, const QVRect& outputRect);
    QVULong finished();

    const QVRect& region() const { return region_; }
    Parameters* parameters() const { return instance_.parameters(); }

private:
    EffectInstance& instance_;
    QVRect region_;
    bool prepared_ = false;
};

// The whole render: prepare, pass 0, pass 1 for every output rectangle, pass
// 2, pass 3 and pass 4 for every output rectangle, finished. Stops at the
// first selector that answers 0, and skips pass 4 when CheckAbort asked to
// stop; finished always runs.
RenderReport render(EffectInstance& instance, PixelImage& source, PixelImage& destination,
                    GBufferSet* gbuffers, const RenderSettings& settings,
                    const PassProgress& progress = PassProgress());

}  // namespace dof::runtime
