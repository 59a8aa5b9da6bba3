#include "runtime/RenderSession.h"

#include <chrono>

namespace dofrt {

bool setRenderParameters(EffectInstance& instance, const RenderSettings& settings) {
    const struct {
        std::int32_t nameId;
        double value;
    } values[] = {{kParamRadius, settings.radius},
                  {kParamMethod, settings.method},
                  {kParamFocalDepth, settings.focalDepth},
                  {kParamSharpUntil, settings.focusRangeDepth}};
    bool all = true;
    for (const auto& v : values) {
        bool found = false;
        for (const ParamDeclaration& d : instance.declarations()) {
            if (isUserParameter(d) && d.tagValue(kTagNameId, -1) == v.nameId) {
                instance.setParameter(d, v.value);
                found = true;
            }
        }
        all = all && found;
    }
    return all;
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
    record.renderPass = 0;
    instance.resetAbortState();
}

RenderSession::~RenderSession() {
    if (prepared_) finished();
}

QVULong RenderSession::prepare() {
    prepared_ = true;
    return instance_.callExecute(10);
}

QVULong RenderSession::apply(std::uint32_t pass, const QVRect& outputRect) {
    IFXFilterInstance& record = instance_.record();
    record.renderPass = pass;
    record.outputRect = outputRect;
    return instance_.callExecute(11);
}

QVULong RenderSession::finished() {
    prepared_ = false;
    return instance_.callExecute(12);
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

    if (session.prepare() != 1) {
        report.failedSelector = 10;
        session.finished();
        return report;
    }
    // Passes 0 and 2 work on the whole region; 1, 3 and 4 on each rectangle.
    for (std::uint32_t pass = 0; pass <= 4; ++pass) {
        const bool perRect = pass == 1 || pass == 3 || pass == 4;
        const std::vector<QVRect>& passRects = pass == 4 ? resolveRects : rects;
        const int calls = perRect ? int(passRects.size()) : 1;
        if (pass == 4 && instance.stopRequested()) break;
        const auto start = std::chrono::steady_clock::now();
        for (int call = 0; call < calls; ++call) {
            if (progress) progress(int(pass), call, calls);
            const QVRect& rect = perRect ? passRects[size_t(call)] : session.region();
            if (session.apply(pass, rect) != 1) {
                report.failedSelector = 11;
                report.failedPass = int(pass);
                session.finished();
                return report;
            }
            // The host stops asking for output rectangles once told to stop.
            if (pass == 3 && instance.stopRequested()) break;
        }
        report.passSeconds[pass] =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
    const bool finishedOk = session.finished() == 1;
    report.stopped = instance.stopRequested();
    report.ok = finishedOk && !report.stopped;
    return report;
}

}  // namespace dofrt
