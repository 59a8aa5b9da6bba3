#include "cli/band_render.h"

#include <algorithm>

namespace dof3d {

namespace {

double pixels(const QVRect& r) { return double(r.width) * double(r.height); }

// The rows of `rect` in strips of kStripRows, top to bottom.
std::vector<QVRect> strips(const QVRect& rect) {
    std::vector<QVRect> out;
    for (int top = rect.top; top < rect.top + rect.height; top += kStripRows)
        out.push_back(
            QVRect{rect.left, top, rect.width, std::min(kStripRows, rect.top + rect.height - top)});
    return out;
}

QVRect rowsOf(const QVRect& region, int first, int end) {
    return QVRect{region.left, first, region.width, end - first};
}

Band bandOf(const QVRect& region, int first, int end, int reach) {
    const int top = std::max(region.top, first - reach);
    const int bottom = std::min(region.top + region.height, end + reach);
    return Band{rowsOf(region, top, bottom), rowsOf(region, first, end)};
}

// Bands whose regions each cost at most `limit`, greedily as tall as they
// can be; empty when more than `count` would be needed.
std::vector<Band> bandsWithin(const QVRect& region, int count, int reach, const RenderWork& work,
                              double limit) {
    std::vector<Band> bands;
    const int end = region.top + region.height;
    for (int first = region.top; first < end;) {
        if (int(bands.size()) == count) return {};
        int last = first + 1;
        while (last < end && work.band(bandOf(region, first, last + 1, reach)) <= limit) ++last;
        bands.push_back(bandOf(region, first, last, reach));
        first = last;
    }
    return bands;
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
    return 2.0 * pixels(b.region) + rows(b.region.top, b.region.top + b.region.height) +
           pixels(b.rows);
}

std::vector<Band> planBands(const QVRect& region, int count, int reach, const RenderWork& work) {
    count = std::max(1, std::min(count, region.height / std::max(1, reach)));
    const Band whole = bandOf(region, region.top, region.top + region.height, reach);
    if (count == 1 || region.height < 2) return {whole};
    // The smallest cost limit that `count` bands can keep, by bisection.
    double low = 0.0, high = work.band(whole);
    std::vector<Band> best = {whole};
    for (int step = 0; step < 40; ++step) {
        const double limit = 0.5 * (low + high);
        std::vector<Band> bands = bandsWithin(region, count, reach, work, limit);
        if (bands.empty()) {
            low = limit;
        } else {
            high = limit;
            best.swap(bands);
        }
    }
    return best;
}

dofrt::RenderReport renderBand(const dofrt::EffectLibrary& library, dofrt::PixelImage& source,
                               dofrt::PixelImage& destination, dofrt::GBufferSet* gbuffers,
                               const dofrt::RenderSettings& settings, const Band& band,
                               const RenderWork& work, const std::function<bool()>& stop,
                               const WorkDone& onWork, std::string* startError) {
    dofrt::RenderReport failed;
    dofrt::EffectInstance instance(library);
    if (!instance.start(startError)) return failed;
    dofrt::RenderSettings bandSettings = settings;
    bandSettings.region = band.region;
    bandSettings.outputRects = strips(band.region);
    bandSettings.resolveRects = strips(band.rows);
    if (!dofrt::setRenderParameters(instance, bandSettings)) {
        *startError = "the effect did not declare its four parameters";
        return failed;
    }
    instance.setAbortHandler(stop);
    // Work is reported as each pass call begins, for the call before it.
    double reported = 0.0;
    const double regionPixels = pixels(band.region);
    const auto doneBefore = [&](int pass, int call) {
        double done = 0.0;
        if (pass > 1) done += regionPixels;
        if (pass > 2) done += regionPixels;
        const std::vector<QVRect>& passStrips =
            pass == 4 ? bandSettings.resolveRects : bandSettings.outputRects;
        for (int c = 0; c < call && c < int(passStrips.size()); ++c) {
            const QVRect& s = passStrips[std::size_t(c)];
            if (pass == 1 || pass == 4) done += pixels(s);
            if (pass == 3) done += work.rows(s.top, s.top + s.height);
        }
        if (pass > 3) done += work.rows(band.region.top, band.region.top + band.region.height);
        return done;
    };
    const dofrt::PassProgress progress = [&](int pass, int call, int) {
        const double done = doneBefore(pass, call);
        if (onWork && done > reported) onWork(done - reported);
        reported = std::max(reported, done);
    };
    dofrt::RenderReport report =
        dofrt::render(instance, source, destination, gbuffers, bandSettings, progress);
    if (onWork && report.ok) onWork(work.band(band) - reported);
    return report;
}

}  // namespace dof3d
