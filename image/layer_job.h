// One layer of one tile as every path sees it, the paths' entry points, and
// what they share: the loop over the tile's rows that adds the octaves, and
// the table of smoothed values by index sum.
#pragma once

#include <atomic>
#include <cmath>
#include <cstddef>
#include <cstdint>

#include "image/axis_terms.h"
#include "image/layer_kernels.h"
#include "image/layer_path.h"
#include "image/octave_runs.h"
#include "image/render_control.h"
#include "image/workspace.h"

namespace velmora {

class OctaveNoise;

// A run of octaves of one layer, to be added to the running sums of a tile.
struct LayerJob {
    const OctaveNoise& noise;
    const LayerKernels& kernels;
    Workspace& work;           // work.rows holds the layer's row terms
    TileGeometry tile;
    const ColumnTerms& columns;
    float amplitude;           // that of the octave before the run
    std::int32_t runLength;
    bool fresh;                // the first layer: the sums hold nothing yet
    RenderControl* control;    // may be null
};

// The paths of LayerPath, one function each: each adds the job's octaves to
// every sum of the tile, and returns false, leaving the sums partly updated,
// once the job's control asks to stop.
[[nodiscard]] bool AddSharedRowsFromSumTable(const LayerJob& job);
[[nodiscard]] bool AddSharedRowsFromHashTable(const LayerJob& job);
[[nodiscard]] bool AddSharedRowsFromHashes(const LayerJob& job);
[[nodiscard]] bool AddLatticePoints(const LayerJob& job);
[[nodiscard]] bool AddCellsFromSumTable(const LayerJob& job);
[[nodiscard]] bool AddCellsFromHashes(const LayerJob& job);

// Rows of a tile whose progress is reported at once.
constexpr std::int32_t RowsPerProgressReport = 32;

// Whether no sum is finite. Then none ever will be again (infinity plus
// anything is infinite or NaN, and NaN stays NaN), every gray level is 0
// whatever further octaves add, and they can be left out: at the highest
// frequencies that is most of them.
[[nodiscard]] inline bool NoneFinite(const float* sums, std::size_t count) noexcept {
    for (std::size_t i = 0; i < count; ++i) {
        if (std::isfinite(sums[i])) {
            return false;
        }
    }
    return true;
}

// Runs rowLayer(row, sums, amplitudes) for every row of the tile whose sums
// are not all past finite values, and adds the octaves of the layer row it
// leaves in job.work.layer; amplitudes are the run's when it is short, else
// null. rowLayer returns true when it added the octaves itself. Reports
// progress and looks at the stop request as it goes; false once asked to stop.
template <typename RowLayer>
[[nodiscard]] bool AddLayerRows(const LayerJob& job, RowLayer&& rowLayer) {
    const std::int32_t width = job.tile.width;
    const bool shortRun = job.runLength <= ShortRun;
    float amplitudes[ShortRun];
    if (shortRun) {
        RunAmplitudes(job.noise, job.amplitude, job.runLength, amplitudes);
    }
    // Progress goes to the shared counter in batches of rows, or row by row
    // where each row is a long run: every thread adding to it at every row
    // would make its cache line travel between them.
    const std::int32_t rowsPerReport = shortRun ? RowsPerProgressReport : 1;
    std::int32_t unreported = 0;
    for (std::int32_t row = 0; row < job.tile.height; ++row) {
        if (job.control != nullptr) {
            if (job.control->stop.load(std::memory_order_relaxed)) {
                return false;
            }
            if (++unreported == rowsPerReport || row == job.tile.height - 1) {
                job.control->done.fetch_add(std::uint64_t(unreported) * std::uint64_t(width),
                                            std::memory_order_relaxed);
                unreported = 0;
            }
        }
        float* sums = job.work.sums + static_cast<std::size_t>(row) * width;
        if (!job.fresh && NoneFinite(sums, static_cast<std::size_t>(width))) {
            continue;
        }
        if (rowLayer(row, sums, shortRun ? amplitudes : nullptr)) {
            continue;
        }
        if (shortRun) {
            job.kernels.addOctaves(sums, job.work.layer, amplitudes, job.runLength, job.fresh, width);
        } else if (!AddLongRun(job.noise, job.kernels, sums, job.work.layer, width, job.amplitude, job.runLength,
                               job.fresh, job.control)) {
            return false;
        }
    }
    return true;
}

// The smoothed values of the tile's range of index sums, in the work table:
// a row's lattice row key finds its values, and each column's offsets
// (columns.sum0, sum1) find the column's in them. With pairs, each entry is
// the pair (smoothed value, the one a lattice row up), so that a pixel whose
// cell spans adjacent columns and rows finds its four values together.
class SumTable {
public:
    // Smooths the range; the path choice has made sure that it fits, and
    // with pairs the caller that it fits twice.
    SumTable(const LayerJob& job, bool pairs);

    // The smoothed values of lattice row key (with pairs, the pairs),
    // indexed by the columns' offsets (with pairs, in pairs).
    [[nodiscard]] const float* Row(float key) const noexcept {
        return smoothed_ + stride_ * (std::int64_t{LatticeRowSum} * (LatticeIndex(key) - rowsLow_));
    }

    // The entries of the tile's range.
    [[nodiscard]] static std::int64_t Entries(const LayerJob& job) noexcept;

private:
    const float* smoothed_;
    std::int64_t stride_;   // floats per entry: 1, or 2 with pairs
    std::int64_t rowsLow_;  // the least lattice row of the keys
};

}  // namespace velmora
