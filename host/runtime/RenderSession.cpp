#include "runtime/RenderSession.h"

#include <chrono>

namespace dof::runtime {

PassSeconds& PassSeconds::operator+=(const PassSeconds& more) {
    for (std::size_t pass = 0; pass < size(); ++pass) (*this)[pass] += more[pass];
    return *this;
}

bool setParameter(EffectInstance& instance, std::int32_t nameId, double value) {
    bool found = false;
    for (const ParamDeclaration& d : instance.declarations())
        if (isUserParameter(d) && d.tagValue(kTagNameId, -1) == nameId) {
            instance.setParameter(d, value);
            found = true;
        }
    return found;
}

bool setRenderParameters(EffectInstance& instance, const RenderSettings& settings) {
    // Every one is written, even after one is missing.
    const bool radius = setParameter(instance, kStringMaximumRadius, settings.radius);
    const bool method = setParameter(instance, kStringMethod, double(settings.method));
    const bool focus = setParameter(instance, kStringFocalDepth, settings.focalDepth);
    const bool sharp = setParameter(instance, kStringSharpUntil, settings.focusRangeDepth);
    return radius && method && focus && sharp;
}

std::string describeFailure(const RenderReport& report) {
    if (report.failedSelector == kSelectorPrepare)
        return "the effect refused to prepare the render";
    if (report.failedSelector == kSelectorApply)
        return "the effect failed render pass " + std::to_string(report.failedPass);
    if (report.stopped) return "the render was stopped";
    return "the effect did not finish the render";
}

RenderSession::RenderSession(EffectInstance& instance, PixelImage& source, PixelImage& destination,
                             GBufferSet* gbuffers, const RenderSettings& settings)
    : instance_(instance), region_(settings.region) {
    if (region_.width == 0 && region_.height == 0)
        region_ = QVRect{0, 0, source.width(), source.height()};
    IFXFilterInstance& record = instance.record();
    record.srcBuffer = &source.record();
    record.dstBuffer = &destination.record();
    record.gbuffers = gbuffers ? gbuffers->table() : nullptr;
    record.pixelAspect = settings.pixelAspect;
    record.scaleX = settings.scaleX;
    record.scaleY = settings.scaleY;
    record.renderRegion = region_;
    record.outputRect = region_;
    record.renderPass = kPassAllocateRadiusMap;
    instance.resetAbortState();
}

RenderSession::~RenderSession() {
    if (prepared_) finished();
}

QVULong RenderSession::prepare() {
    prepared_ = true;
    return instance_.callExecute(kSelectorPrepare);
}

QVULong RenderSession::apply(std::uint32_t pass, const QVRect& outputRect) {
    IFXFilterInstance& record = instance_.record();
    record.renderPass = pass;
    record.outputRect = outputRect;
    return instance_.callExecute(kSelectorApply);
}

QVULong RenderSession::finished() {
    prepared_ = false;
    return instance_.callExecute(kSelectorFinished);
}

RenderReport render(EffectInstance& instance, PixelImage& source, PixelImage& destination,
                    GBufferSet* gbuffers, const RenderSettings& settings,
                    const PassProgress& progress) {
    RenderReport report;
    RenderSession session(instance, source, destination, gbuffers, settings);
    std::vector<QVRect> rects = settings.outputRects;
    if (rects.empty()) rects.push_back(session.region());
    const std::vector<QVRect>& resolveRects =
        settings.resolveRects.empty() ? rects : settings.resolveRects;

    if (session.prepare() != kDispatchDone) {
        report.failedSelector = kSelectorPrepare;
        session.finished();
        return report;
    }
    // Passes 0 and 2 work on the whole region; 1, 3 and 4 on each rectangle.
    for (std::uint32_t pass = kPassAllocateRadiusMap; pass < kRenderPassCount; ++pass) {
        const bool perRect =
            pass == kPassFillRadiusMap || pass == kPassSplat || pass == kPassWriteOutput;
        const std::vector<QVRect>& passRects = pass == kPassWriteOutput ? resolveRects : rects;
        const int calls = perRect ? int(passRects.size()) : 1;
        if (pass == kPassWriteOutput && instance.stopRequested()) break;
        const auto start = std::chrono::steady_clock::now();
        for (int call = 0; call < calls; ++call) {
            if (progress) progress(int(pass), call, calls);
            const QVRect& rect = perRect ? passRects[size_t(call)] : session.region();
            if (session.apply(pass, rect) != kDispatchDone) {
                report.failedSelector = kSelectorApply;
                report.failedPass = int(pass);
                session.finished();
                return report;
            }
            // The host stops asking for output rectangles once told to stop.
            if (pass == kPassSplat && instance.stopRequested()) break;
        }
        report.passSeconds[pass] =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
    const bool finishedOk = session.finished() == kDispatchDone;
    report.stopped = instance.stopRequested();
    report.ok = finishedOk && !report.stopped;
    return report;
}

}  // namespace dof::runtime
