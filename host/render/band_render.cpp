#include "render/band_render.h"

#include <algorithm>

#include "host/Selectors.h"
#include "util/minimax_cut.h"

namespace dof {

namespace {

// The host's own rectangle type, for the records of a render.
QVRect hostRect(const Rect& r) { return QVRect{r.x, r.y, r.width, r.height}; }

// The rows of `rect` in strips of kStripRows, top to bottom.
std::vector<QVRect> strips(const Rect& rect) {
    std::vector<QVRect> out;
    for (int top = rect.y; top < rect.yend(); top += kStripRows)
        out.push_back(QVRect{rect.x, top, rect.width, std::min(kStripRows, rect.yend() - top)});
    return out;
}

// The rectangles pass 3 visits: strips of rows that hold fragments, each
// cut to the columns where its rows hold any. The effect then splats what it
// would over the whole region in the same order, without stopping at the
// pixels around that hold nothing.
std::vector<QVRect> fragmentStrips(runtime::GBufferSet* gbuffers, const Rect& region) {
    if (gbuffers == nullptr || gbuffers->channel(kGBufferCoverage) == nullptr)
        return strips(region);
    std::vector<QVRect> out;
    const int right = region.xend(), bottom = region.yend();
    int first = right, end = region.x, top = region.y, rows = 0;
    const auto close = [&] {
        if (rows > 0) out.push_back(QVRect{first, top, end - first, rows});
        first = right, end = region.x, rows = 0;
    };
    for (int y = region.y; y < bottom; ++y) {
        int rowFirst = right, rowEnd = region.x;
        for (int x = region.x; x < right; ++x)
            if (gbuffers->coverage(x, y) != 0) {
                rowFirst = std::min(rowFirst, x);
                rowEnd = x + 1;
            }
        if (rowEnd <= rowFirst) {
            close();
            continue;
        }
        if (rows == 0) top = y;
        first = std::min(first, rowFirst);
        end = std::max(end, rowEnd);
        if (++rows == kStripRows) close();
    }
    close();
    return out;
}

Rect rowsOf(const Rect& region, int first, int end) {
    return Rect{region.x, first, region.width, end - first};
}

Band bandOf(const Rect& region, int first, int end, int reach) {
    const int top = std::max(region.y, first - reach);
    const int bottom = std::min(region.yend(), end + reach);
    return Band{rowsOf(region, top, bottom), rowsOf(region, first, end)};
}

}  // namespace

RenderWork::RenderWork(int top, const std::vector<double>& rowTaps)
    : top_(top), before_(rowTaps.size() + 1, 0.0) {
    for (std::size_t i = 0; i < rowTaps.size(); ++i) before_[i + 1] = before_[i] + rowTaps[i];
}

double RenderWork::rows(int first, int end) const {
    const int last = int(before_.size()) - 1;
    const auto at = [&](int y) {
        return before_[std::size_t(std::max(0, std::min(last, y - top_)))];
    };
    return before_.empty() ? 0.0 : at(end) - at(first);
}

double RenderWork::band(const Band& b) const {
    return kRegionPixelWork * (2.0 * double(b.region.pixels()) + double(b.rows.pixels())) +
           rows(b.region.y, b.region.yend());
}

namespace {

std::vector<Band> planRowBands(const Rect& region, int count, int reach, const RenderWork& work) {
    count = std::max(1, std::min(count, region.height / std::max(1, reach)));
    const Band whole = bandOf(region, region.y, region.yend(), reach);
    if (count == 1 || region.height < 2) return {whole};
    const auto cost = [&](int first, int end) {
        return work.band(bandOf(region, region.y + first, region.y + end, reach));
    };
    std::vector<Band> bands;
    int first = region.y;
    for (const int end : minimaxCut(region.height, count, reach, cost)) {
        bands.push_back(bandOf(region, first, region.y + end, reach));
        first = region.y + end;
    }
    return bands;
}

Rect transposed(const Rect& r) { return Rect{r.y, r.x, r.height, r.width}; }

}  // namespace

std::vector<Band> planBands(const Rect& region, int count, int reach, const RenderWork& work,
                            BandAxis axis) {
    if (axis == BandAxis::Rows) return planRowBands(region, count, reach, work);
    // Columns are the rows of the transposed region.
    std::vector<Band> bands = planRowBands(transposed(region), count, reach, work);
    for (Band& b : bands) b = Band{transposed(b.region), transposed(b.rows)};
    return bands;
}

runtime::RenderReport renderBand(const runtime::EffectLibrary& library, runtime::PixelImage& source,
                                 runtime::PixelImage& destination, runtime::GBufferSet* gbuffers,
                                 const runtime::RenderSettings& settings, const Band& band,
                                 double work, const std::function<bool()>& stop,
                                 const WorkDone& onWork, std::string* startError) {
    runtime::RenderReport failed;
    runtime::EffectInstance instance(library);
    if (!instance.start(startError)) return failed;
    runtime::RenderSettings bandSettings = settings;
    bandSettings.region = hostRect(band.region);
    // Box averaging reads the radius map of every pixel pass 1 visits.
    bandSettings.outputRects = settings.method == kMethodSplatting
                                   ? fragmentStrips(gbuffers, band.region)
                                   : strips(band.region);
    bandSettings.resolveRects = strips(band.rows);
    if (!runtime::setRenderParameters(instance, bandSettings)) {
        *startError = "the effect did not declare its four parameters";
        return failed;
    }
    instance.setAbortHandler(stop);
    // Work is reported as each pass call begins, for the calls before it:
    // the region's pixels in passes 1 and 2, the fragments in pass 3, the
    // band's pixels in pass 4.
    const double regionWork = kRegionPixelWork * double(band.region.pixels());
    const double bandWork = kRegionPixelWork * double(band.rows.pixels());
    const double splatWork = std::max(0.0, work - 2.0 * regionWork - bandWork);
    double reported = 0.0;
    const runtime::PassProgress progress = [&](int pass, int call, int calls) {
        const double share = calls > 0 ? double(call) / double(calls) : 0.0;
        double done = 0.0;
        if (pass == kPassFillRadiusMap) done = regionWork * share;
        if (pass == kPassBuildTables) done = regionWork;
        if (pass == kPassSplat) done = 2.0 * regionWork + splatWork * share;
        if (pass == kPassWriteOutput) done = 2.0 * regionWork + splatWork + bandWork * share;
        if (onWork && done > reported) onWork(done - reported);
        reported = std::max(reported, done);
    };
    runtime::RenderReport report =
        runtime::render(instance, source, destination, gbuffers, bandSettings, progress);
    if (onWork && report.ok && work > reported) onWork(work - reported);
    return report;
}

}  // namespace dof
