// The Cells paths: lattice cells about a pixel or smaller, where nothing is
// shared between pixel rows and each pixel blends its own cell, with its four
// smoothed values looked up in a table by index sum or computed from the
// lattice hashes around the cell.
#include <cassert>

#include "image/layer_job.h"
#include "noise/octave_noise.h"

SumTable::SumTable(const LayerJob& job) {
    IndexRange rows;
    for (std::int32_t row = 0; row < job.tile.height; ++row) {
        rows.Add(LatticeIndex(job.work.rows.key0[row]));
        rows.Add(LatticeIndex(job.work.rows.key1[row]));
    }
    const IndexRange columns{job.columns.xLow, job.columns.xHigh};
    const std::int64_t entries = SumSpan(columns, rows);
    assert(entries <= 2 * static_cast<std::int64_t>(job.work.plan.tableEntries));
    float* smoothed = reinterpret_cast<float*>(job.work.table);
    const auto first =
        static_cast<std::uint32_t>(static_cast<std::uint64_t>(columns.low + std::int64_t{LatticeRowSum} * rows.low));
    job.kernels.smoothSums(first, smoothed, static_cast<std::int32_t>(entries));
    smoothed_ = smoothed;
    rowsLow_ = rows.low;
}

namespace {

// What the columns of a layer have in common.
CellColumns KindOfColumns(const ColumnTerms& columns, std::int32_t width) noexcept {
    bool firstValues = true;
    bool adjacent = true;
    for (std::int32_t x = 0; x < width; ++x) {
        firstValues &= columns.axis.weight0[x] == 1.0 && columns.axis.weight1[x] == 0.0;
        adjacent &= columns.sum1[x] == columns.sum0[x] + 1;
    }
    return firstValues ? CellColumns::FirstValues : adjacent ? CellColumns::Adjacent : CellColumns::Any;
}

}  // namespace

bool AddCellsFromSumTable(const LayerJob& job) {
    const SumTable table(job);
    const ColumnTerms& columns = job.columns;
    const AxisTerms& rows = job.work.rows;
    const CellColumns kind = KindOfColumns(columns, job.tile.width);
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
    return AddLayerRows(job, [&](std::int32_t row, float*, const float*) {
        const auto rowSum = [](float key) { return LatticeSum(0, LatticeIndex(key)); };
        job.kernels.fineCells(columns.index0, columns.index1, columns.axis.weight0, columns.axis.weight1,
                              rowSum(rows.key0[row]), rowSum(rows.key1[row]), rows.weight0[row], rows.weight1[row],
                              job.work.layer, job.tile.width);
        return false;
    });
}
