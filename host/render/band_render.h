// One render of the effect split into bands (of rows, of columns, or tiles),
// each on its own effect instance. A band's render region reaches beyond it
// by the largest footprint on each side; pass 3 splats the whole region and
// pass 4 writes the band alone. Every pixel of the band then receives the
// same fragments, clipped the same way, in the same order (row by row, left
// to right) as in one instance over the whole region, so the bytes are the
// same.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "model/rect.h"
#include "runtime/EffectLibrary.h"
#include "runtime/RenderSession.h"

namespace dof {

struct Band {
    Rect region;  // the instance's render region
    Rect rows;    // the pixels it writes, inside the region
};

// Work in splat taps (one pixel of one fragment's footprint). The effect
// reads the process's clock at every pixel pass 3 visits, and it allocates
// twelve cleared planes for every pixel of a render region and resolves
// them: a visited fragment and a region pixel each cost as much as many taps.
constexpr double kVisitWork = 800.0;
constexpr double kRegionPixelWork = 200.0;

// The work of a render: `rowTaps[i]` is what pass 3 spends on the fragments
// of row top + i of the whole region (their footprints and visits); passes 2
// and 4 cost kRegionPixelWork per pixel of the region and of the band.
class RenderWork {
public:
    RenderWork() = default;
    RenderWork(int top, const std::vector<double>& rowTaps);

    double rows(int first, int end) const;  // pass 3 work of rows [first, end)
    double band(const Band& band) const;    // everything a band's render does

private:
    int top_ = 0;
    std::vector<double> before_;  // work of the rows above each row
};

// Splits `region` into at most `count` bands of rows (or of columns, with
// `work` per column) whose render regions reach `reach` rows (columns) beyond
// them, within `region`, so that the largest band costs as little as it can.
// Bands narrower than their reach would mostly splat other bands' pixels:
// they are not made.
enum class BandAxis { Rows, Columns };
std::vector<Band> planBands(const Rect& region, int count, int reach, const RenderWork& work,
                            BandAxis axis = BandAxis::Rows);

// Called as a band's render goes with the work done since the last call.
typedef std::function<void(double work)> WorkDone;

// Renders one band on a fresh instance of the effect in `library`, with the
// parameters of `settings` (its region and rectangles are the band's), and
// reports its `work` as it goes. Pass 3 visits only the rows and columns
// that hold fragments, in the order the region holds them. The instance's
// CheckAbort answers `stop()`. `startError` receives the reason when the
// effect cannot be started.
runtime::RenderReport renderBand(const runtime::EffectLibrary& library, runtime::PixelImage& source,
                                 runtime::PixelImage& destination, runtime::GBufferSet* gbuffers,
                                 const runtime::RenderSettings& settings, const Band& band,
                                 double work, const std::function<bool()>& stop,
                                 const WorkDone& onWork, std::string* startError);

// Rows per output rectangle: the host hands the passes strips of the region.
constexpr int kStripRows = 16;

}  // namespace dof
