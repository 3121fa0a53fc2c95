// The Cells paths: lattice cells about a pixel or smaller, where nothing is
// shared between pixel rows and each pixel blends its own cell, with its four
// smoothed values looked up in a table by index sum or computed from the
// lattice hashes around the cell.
#include <cassert>

#include "image/layer_job.h"
#include "noise/octave_noise.h"

namespace velmora {

namespace {

IndexRange RowsOf(const LayerJob& job) noexcept {
    IndexRange rows;
    for (std::int32_t row = 0; row < job.tile.height; ++row) {
        rows.Add(LatticeIndex(job.work.rows.key0[row]));
        rows.Add(LatticeIndex(job.work.rows.key1[row]));
    }
    return rows;
}

}  // namespace

std::int64_t SumTable::Entries(const LayerJob& job) noexcept {
    return SumSpan(job.columns.shape.keys, RowsOf(job));
}

SumTable::SumTable(const LayerJob& job, bool pairs) : stride_(pairs ? 2 : 1) {
    const IndexRange rows = RowsOf(job);
    const IndexRange& columns = job.columns.shape.keys;
    const std::int64_t entries = SumSpan(columns, rows);
    assert(entries * stride_ <= 2 * static_cast<std::int64_t>(job.work.plan.tableEntries));
    float* smoothed = reinterpret_cast<float*>(job.work.table);
    const auto first =
        static_cast<std::uint32_t>(static_cast<std::uint64_t>(columns.low + std::int64_t{LatticeRowSum} * rows.low));
    if (pairs) {
        job.kernels.smoothSumPairs(first, smoothed, static_cast<std::int32_t>(entries));
    } else {
        job.kernels.smoothSums(first, smoothed, static_cast<std::int32_t>(entries));
    }
    smoothed_ = smoothed;
    rowsLow_ = rows.low;
}

namespace {

// Whether blend weights are those of a fraction 0: the blend is its first value.
bool IsFirstValue(double weight0, double weight1) noexcept {
    return weight0 == 1.0 && weight1 == 0.0;
}

// What the columns of a layer have in common.
CellColumns KindOfColumns(const ColumnTerms& columns, std::int32_t width) noexcept {
    bool firstValues = true;
    bool adjacent = true;
    for (std::int32_t x = 0; x < width; ++x) {
        firstValues &= IsFirstValue(columns.axis.weight0[x], columns.axis.weight1[x]);
        adjacent &= static_cast<std::uint32_t>(columns.sum1[x]) == static_cast<std::uint32_t>(columns.sum0[x]) + 1u;
    }
    return firstValues ? CellColumns::FirstValues : adjacent ? CellColumns::Adjacent : CellColumns::Any;
}

}  // namespace

bool AddLatticePoints(const LayerJob& job) {
    // Column x and row y of the tile take the point (x0 + x, y0 + y) of the
    // lattice, with index sum first + step (x + 57 y): the table's entry
    // x + 57 y, and each row a run of the table.
    const ColumnTerms& columns = job.columns;
    const AxisTerms& rows = job.work.rows;
    const std::int32_t width = job.tile.width;
    const std::int32_t height = job.tile.height;
    const auto rowIndex = [&](std::int32_t row) { return static_cast<std::uint32_t>(LatticeIndex(rows.key0[row])); };
    const std::uint32_t step = width > 1    ? columns.index0[1] - columns.index0[0]
                               : height > 1 ? rowIndex(1) - rowIndex(0)
                                            : 0;
    const std::uint32_t first = columns.index0[0] + LatticeRowSum * rowIndex(0);
    const std::int64_t entries = PointSpan(width, height);
    assert(entries <= 2 * static_cast<std::int64_t>(job.work.plan.tableEntries));
    float* points = reinterpret_cast<float*>(job.work.table);
    job.kernels.smoothStridedSums(first, step, points, static_cast<std::int32_t>(entries));
    // Every fraction is 0: the weights are exactly 1 and 0, and the blend
    // along y of a row with itself is the row.
    return AddLayerRows(job, [&](std::int32_t row, float* sums, const float* amplitudes) {
        const float* values = points + std::int64_t{LatticeRowSum} * row;
        const double w0 = rows.weight0[row];
        const double w1 = rows.weight1[row];
        if (amplitudes != nullptr) {
            job.kernels.blendRowsAndAddOctaves(values, values, w0, w1, sums, amplitudes, job.runLength, job.fresh,
                                               width);
            return true;
        }
        job.kernels.blendRows(values, values, w0, w1, job.work.layer, width);
        return false;
    });
}

// The second-level cache of the processors measured (1 MiB on AMD Zen 5): a
// table of pairs that would push one of single values out of it costs more
// in misses than its quads save.
constexpr std::int64_t SecondLevelCache = 1 << 20;

// Whether every row that blends has the lattice row after its first as its
// second: then the pair table serves every row.
bool RowsAdjacent(const AxisTerms& rows, std::int32_t height) noexcept {
    for (std::int32_t row = 0; row < height; ++row) {
        const auto next = static_cast<std::uint32_t>(LatticeIndex(rows.key0[row])) + 1u;
        if (!IsFirstValue(rows.weight0[row], rows.weight1[row]) &&
            static_cast<std::uint32_t>(LatticeIndex(rows.key1[row])) != next) {
            return false;
        }
    }
    return true;
}

bool AddCellsFromSumTable(const LayerJob& job) {
    const ColumnTerms& columns = job.columns;
    const AxisTerms& rows = job.work.rows;
    const CellColumns kind = KindOfColumns(columns, job.tile.width);
    // Cells that blend adjacent columns in adjacent rows, the usual ones,
    // take their four values as one quad from a table of pairs, where it
    // fits: a pair of values takes the room the plan counts per entry.
    const std::int64_t entries = SumTable::Entries(job);
    const bool pairsFit = entries <= static_cast<std::int64_t>(job.work.plan.tableEntries);
    const bool pairsStayCached = entries * 2 * std::int64_t{sizeof(float)} <= SecondLevelCache;
    const bool valuesStayCached = entries * std::int64_t{sizeof(float)} <= SecondLevelCache;
    if (job.kernels.cellsFromQuads && kind == CellColumns::Adjacent && pairsFit &&
        (pairsStayCached || !valuesStayCached) && RowsAdjacent(rows, job.tile.height)) {
        const SumTable pairs(job, true);
        return AddLayerRows(job, [&](std::int32_t row, float*, const float*) {
            job.kernels.blendCellQuads(pairs.Row(rows.key0[row]), columns.sum0, columns.axis.weight0,
                                       columns.axis.weight1, rows.weight0[row], rows.weight1[row], job.work.layer,
                                       job.tile.width);
            return false;
        });
    }
    const SumTable table(job, false);
    return AddLayerRows(job, [&](std::int32_t row, float*, const float*) {
        job.kernels.blendCells(table.Row(rows.key0[row]), table.Row(rows.key1[row]), columns.sum0, columns.sum1,
                               columns.axis.weight0, columns.axis.weight1, kind, rows.weight0[row],
                               rows.weight1[row], job.work.layer, job.tile.width);
        return false;
    });
}

bool AddCellsFromHashes(const LayerJob& job) {
    const ColumnTerms& columns = job.columns;
    const AxisTerms& rows = job.work.rows;
    // Adjacent offsets (wrapping at 32 bits) are adjacent indices.
    const CellColumns kind = KindOfColumns(columns, job.tile.width);
    return AddLayerRows(job, [&](std::int32_t row, float*, const float*) {
        const auto rowSum = [](float key) { return LatticeSum(0, LatticeIndex(key)); };
        job.kernels.fineCells(columns.index0, columns.index1, columns.axis.weight0, columns.axis.weight1, kind,
                              rowSum(rows.key0[row]), rowSum(rows.key1[row]), rows.weight0[row], rows.weight1[row],
                              job.work.layer, job.tile.width);
        return false;
    });
}

}  // namespace velmora
