// The SharedRows paths: lattice cells of several pixels. Each smoothed value
// and each blend along x is computed once per lattice row and shared by the
// pixel rows in it; a cache of two blended rows follows the pixel rows up the
// tile. The smoothed values come from a table by index sum, from a table of
// lattice hashes, or from the hash itself.
#include <algorithm>
#include <cassert>
#include <optional>

#include "image/layer_job.h"
#include "noise/octave_noise.h"

namespace velmora {

namespace {

class SharedRows {
public:
    SharedRows(const LayerJob& job, LayerPath source)
        : job_(job), work_(job.work), columns_(job.columns), width_(job.tile.width) {
        if (source == LayerPath::SharedRowsFromSumTable) {
            sumTable_.emplace(job, false);
            return;
        }
        IndexColumnKeys();
        if (source == LayerPath::SharedRowsFromHashTable) {
            TabulateHashes();
            UseConsecutiveColumns();
        }
    }

    [[nodiscard]] bool Add() {
        const AxisTerms& rows = work_.rows;
        return AddLayerRows(job_, [&](std::int32_t row, float* sums, const float* amplitudes) {
            const float key0 = rows.key0[row];
            const float key1 = rows.key1[row];
            int slot0 = CachedSlot(key0);
            int slot1 = CachedSlot(key1);
            if (slot0 < 0) {
                slot0 = slot1 == 0 ? 1 : 0;
                ComputeBlendedRow(key0, slot0);
                slot1 = CachedSlot(key1);
            }
            if (slot1 < 0) {
                slot1 = 1 - slot0;
                ComputeBlendedRow(key1, slot1);
            }
            const double w0 = rows.weight0[row];
            const double w1 = rows.weight1[row];
            if (amplitudes != nullptr) {
                job_.kernels.blendRowsAndAddOctaves(work_.blended[slot0], work_.blended[slot1], w0, w1, sums,
                                                    amplitudes, job_.runLength, job_.fresh, width_);
                return true;
            }
            job_.kernels.blendRows(work_.blended[slot0], work_.blended[slot1], w0, w1, work_.layer, width_);
            return false;
        });
    }

private:
    struct CachedRow {
        float key = 0.0f;
        bool valid = false;
    };

    // Collects the distinct column keys in order, points every column at its
    // two keys, and notes each key's three lattice columns.
    void IndexColumnKeys() {
        float* keys = work_.keys;
        std::copy_n(columns_.axis.key0, width_, keys);
        std::copy_n(columns_.axis.key1, width_, keys + width_);
        std::sort(keys, keys + 2 * width_);
        keyCount_ = static_cast<std::int32_t>(std::unique(keys, keys + 2 * width_) - keys);
        for (std::int32_t x = 0; x < width_; ++x) {
            work_.columnKey0[x] = KeyIndex(columns_.axis.key0[x]);
            work_.columnKey1[x] = KeyIndex(columns_.axis.key1[x]);
        }
        for (std::int32_t k = 0; k < keyCount_; ++k) {
            const Neighbours n = NeighboursOf(keys[k]);
            work_.keyMinus[k] = n.minus;
            work_.keyCentre[k] = n.centre;
            work_.keyPlus[k] = n.plus;
        }
    }

    [[nodiscard]] std::uint32_t KeyIndex(float key) const noexcept {
        return static_cast<std::uint32_t>(std::lower_bound(work_.keys, work_.keys + keyCount_, key) - work_.keys);
    }

    // Fills the table with the lattice hashes of the index sums x + 57 y
    // that this layer reads in this tile, and turns the keys' column indices
    // into offsets from the table's first column.
    void TabulateHashes() {
        IndexRange columns;
        for (std::int32_t k = 0; k < keyCount_; ++k) {
            columns.Add(work_.keyMinus[k]);
            columns.Add(work_.keyCentre[k]);
            columns.Add(work_.keyPlus[k]);
        }
        IndexRange rows;
        for (std::int32_t row = 0; row < job_.tile.height; ++row) {
            for (const float key : {work_.rows.key0[row], work_.rows.key1[row]}) {
                const Neighbours n = NeighboursOf(key);
                rows.Add(n.minus);
                rows.Add(n.centre);
                rows.Add(n.plus);
            }
        }
        const std::int64_t entries = SumSpan(columns, rows);
        assert(entries <= static_cast<std::int64_t>(work_.plan.tableEntries));
        hashRowsLow_ = rows.low;
        hashTable_ = work_.table;
        const std::int64_t first = columns.low + std::int64_t{LatticeRowSum} * rows.low;
        for (std::int64_t i = 0; i < entries; ++i) {
            hashTable_[i] = LatticeHashOfSum(static_cast<std::uint32_t>(static_cast<std::uint64_t>(first + i)));
        }
        for (std::int32_t k = 0; k < keyCount_; ++k) {
            work_.keyMinus[k] = static_cast<std::int32_t>(work_.keyMinus[k] - columns.low);
            work_.keyCentre[k] = static_cast<std::int32_t>(work_.keyCentre[k] - columns.low);
            work_.keyPlus[k] = static_cast<std::int32_t>(work_.keyPlus[k] - columns.low);
        }
    }

    // Keys that are whole lattice columns close together (every key below 2^24
    // in magnitude, so its neighbours are key - 1 and key + 1) are smoothed
    // as one run of consecutive columns, with contiguous loads instead of
    // lookups; columns then point into that run. Pays while the run is not
    // much longer than the list of keys.
    void UseConsecutiveColumns() {
        const float first = work_.keys[0];
        const float last = work_.keys[keyCount_ - 1];
        if (!(first >= -16777216.0f && last <= 16777216.0f)) {
            return;
        }
        const std::int64_t span = static_cast<std::int64_t>(last) - static_cast<std::int64_t>(first) + 1;
        if (span > 2 * static_cast<std::int64_t>(keyCount_) + SpanSlack) {
            return;
        }
        keySpan_ = static_cast<std::int32_t>(span);
        for (std::int32_t x = 0; x < width_; ++x) {
            work_.columnKey0[x] = static_cast<std::uint32_t>(columns_.axis.key0[x] - first);
            work_.columnKey1[x] = static_cast<std::uint32_t>(columns_.axis.key1[x] - first);
        }
    }

    [[nodiscard]] int CachedSlot(float key) const noexcept {
        for (int slot = 0; slot < 2; ++slot) {
            if (cached_[slot].valid && cached_[slot].key == key) {
                return slot;
            }
        }
        return -1;
    }

    // Fills cache slot with the blends along x of every tile column at
    // lattice row key.
    void ComputeBlendedRow(float key, int slot) {
        if (sumTable_) {
            job_.kernels.blendColumnSums(sumTable_->Row(key), columns_.sum0, columns_.sum1, columns_.axis.weight0,
                                         columns_.axis.weight1, work_.blended[slot], width_);
        } else {
            SmoothRow(key);
            job_.kernels.blendColumns(work_.smoothed, work_.columnKey0, work_.columnKey1, columns_.axis.weight0,
                                      columns_.axis.weight1, work_.blended[slot], width_);
        }
        cached_[slot] = {key, true};
    }

    // SmoothedValue(key_k, rowKey) for every column key k, or for every
    // lattice column from the first key to the last when they are consecutive.
    void SmoothRow(float rowKey) {
        const Neighbours y = NeighboursOf(rowKey);
        const std::int32_t* xm = work_.keyMinus;
        const std::int32_t* xc = work_.keyCentre;
        const std::int32_t* xp = work_.keyPlus;
        float* out = work_.smoothed;
        if (hashTable_ != nullptr) {
            const auto row = [&](std::int32_t index) {
                return hashTable_ + std::int64_t{LatticeRowSum} * (index - hashRowsLow_);
            };
            if (keySpan_ > 0) {
                job_.kernels.smoothConsecutiveColumns(row(y.minus), row(y.centre), row(y.plus), out, keySpan_);
            } else {
                job_.kernels.smoothListedColumns(row(y.minus), row(y.centre), row(y.plus), xm, xc, xp, out,
                                                 keyCount_);
            }
            return;
        }
        const auto at = [](std::int32_t column, std::int32_t row) { return LatticeHashOfSum(LatticeSum(column, row)); };
        for (std::int32_t k = 0; k < keyCount_; ++k) {
            out[k] = SmoothLatticeValues(at(xp[k], y.plus), at(xm[k], y.plus), at(xp[k], y.minus), at(xm[k], y.minus),
                                         at(xp[k], y.centre), at(xm[k], y.centre), at(xc[k], y.plus),
                                         at(xc[k], y.minus), at(xc[k], y.centre));
        }
    }

    const LayerJob& job_;
    Workspace& work_;
    const ColumnTerms& columns_;
    std::int32_t width_;
    std::optional<SumTable> sumTable_;  // with SharedRowsFromSumTable
    std::int32_t keyCount_ = 0;         // distinct column keys, otherwise
    double* hashTable_ = nullptr;       // with SharedRowsFromHashTable
    std::int64_t hashRowsLow_ = 0;      // its first lattice row
    std::int32_t keySpan_ = 0;          // smoothed values cover keys[0] ... keys[0] + keySpan_ - 1, if not 0
    CachedRow cached_[2];
};

}  // namespace

bool AddSharedRowsFromSumTable(const LayerJob& job) {
    SharedRows layer(job, LayerPath::SharedRowsFromSumTable);
    return layer.Add();
}

bool AddSharedRowsFromHashTable(const LayerJob& job) {
    SharedRows layer(job, LayerPath::SharedRowsFromHashTable);
    return layer.Add();
}

bool AddSharedRowsFromHashes(const LayerJob& job) {
    SharedRows layer(job, LayerPath::SharedRowsFromHashes);
    return layer.Add();
}

}  // namespace velmora
