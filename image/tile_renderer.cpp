#include "image/tile_renderer.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <cstdint>
#include <utility>

#include "image/layer_kernels.h"
#include "image/map_image.h"
#include "image/octave_layers.h"
#include "image/octave_runs.h"
#include "noise/octave_noise.h"

// How one layer of a tile is computed depends on how big its lattice cells
// are next to a pixel:
// - Cells of several pixels (coarse): each smoothed value and each blend along
//   x is computed once per lattice row and shared by the pixel rows in it.
//   Smoothed values come from a table by index sum where its range is small,
//   else from a table of lattice hashes, else from the hash itself.
// - Cells about a pixel or smaller (direct): nothing is shared between pixel
//   rows, and each pixel blends its own cell. Where the index sums of the tile
//   span a range not much larger than its pixels, the smoothed values are
//   tabulated along it and each pixel looks up four; beyond that, each pixel
//   computes its cell from the lattice hashes (fineCells).
// A smoothed value depends only on the index sum x + 57 y of its centre: the
// three indices around a key (a whole number made a float) are consecutive
// modulo 2^32, so the nine neighbours are at that sum plus -58, -57, -56, -1,
// 0, 1, 56, 57 and 58.

namespace {

// Rows of a tile whose progress is reported at once.
constexpr std::int32_t RowsPerProgressReport = 32;

// A table of smoothed values by index sum this long is always worth building.
constexpr std::int64_t SumTableFloor = 65536;

// Cells smaller than a pixel: a table of smoothed values pays while it has at
// most this many entries per pixel of the tile (each entry costs about a
// quarter of a pixel's own cell, and looking four up about as much again).
constexpr std::int64_t DirectTableEntriesPerPixel = 2;

// One block of memory handed out in aligned arrays of trivial types.
class Arena {
public:
    Arena(std::byte* memory, std::uint64_t size) : memory_(memory), size_(size) {}

    template <typename T>
    [[nodiscard]] T* Take(std::uint64_t count) noexcept {
        used_ = (used_ + ArrayAlignment - 1) & ~(ArrayAlignment - 1);
        T* array = memory_ != nullptr ? reinterpret_cast<T*>(memory_ + used_) : nullptr;
        used_ += count * sizeof(T);
        assert(memory_ == nullptr || used_ <= size_);
        return array;
    }

    [[nodiscard]] std::uint64_t Used() const noexcept { return used_; }

private:
    std::byte* memory_;
    [[maybe_unused]] std::uint64_t size_;  // checked in debug builds
    std::uint64_t used_ = 0;
};

// Everything of InterpolatedValue that depends on one coordinate alone, for
// the coordinates first ... first + count - 1 of one layer: the lattice keys
// float(ix) and float(ix + 1) at which the smoothed values are taken, and the
// two blend weights of the fraction.
struct AxisTerms {
    float* key0;
    float* key1;
    double* weight0;  // weight of the value at key0
    double* weight1;  // weight of the value at key1
};

void ComputeAxisTerms(float frequency, std::int32_t first, std::int32_t count, const AxisTerms& terms) {
    for (std::int32_t i = 0; i < count; ++i) {
        const float coordinate = static_cast<float>(first + i);
        const float scaled = static_cast<float>(static_cast<double>(frequency) * coordinate);
        const std::int32_t index = LatticeIndex(scaled);
        const float fraction = static_cast<float>(static_cast<double>(scaled) - index);
        const double u = 1.0 - static_cast<double>(fraction);
        terms.key0[i] = static_cast<float>(index);
        terms.key1[i] = static_cast<float>(NextLatticeIndex(index));
        terms.weight0[i] = BlendWeight(u, static_cast<float>(u));
        terms.weight1[i] = BlendWeight(fraction, fraction);
    }
}

// The least and greatest lattice index of an axis's keys (both of each pair).
std::pair<std::int64_t, std::int64_t> KeyIndexRange(const AxisTerms& terms, std::int32_t count) {
    std::int64_t low = INT64_MAX;
    std::int64_t high = INT64_MIN;
    for (std::int32_t i = 0; i < count; ++i) {
        for (const float key : {terms.key0[i], terms.key1[i]}) {
            const std::int64_t centre = LatticeIndex(key);
            low = std::min(low, centre);
            high = std::max(high, centre);
        }
    }
    return {low, high};
}

// The three lattice indices that SmoothedValue reads around a key.
struct Neighbours {
    std::int32_t minus;
    std::int32_t centre;
    std::int32_t plus;
};

Neighbours NeighboursOf(float key) noexcept {
    return {LatticeIndex(static_cast<double>(key) - 1.0), LatticeIndex(key),
            LatticeIndex(static_cast<double>(key) + 1.0)};
}

// The terms of one layer that depend on the tile column alone.
struct ColumnTerms {
    AxisTerms axis;
    std::uint32_t* index0;  // LatticeIndex(axis.key0) and (axis.key1), for cells computed from the hash
    std::uint32_t* index1;
    std::int32_t* sum0;     // LatticeIndex(axis.key0) - xLow: offset of the key's index sum in a sum table
    std::int32_t* sum1;
    std::int64_t xLow;      // the least and greatest LatticeIndex of the keys
    std::int64_t xHigh;

    void Take(Arena& arena, std::uint64_t w) noexcept {
        axis = {arena.Take<float>(w), arena.Take<float>(w), arena.Take<double>(w), arena.Take<double>(w)};
        index0 = arena.Take<std::uint32_t>(w);
        index1 = arena.Take<std::uint32_t>(w);
        sum0 = arena.Take<std::int32_t>(w);
        sum1 = arena.Take<std::int32_t>(w);
    }
};

// All working arrays of one thread, carved from its working memory.
struct Workspace {
    TilePlan plan;

    // Per tile column.
    ColumnTerms columns;        // of the layer being added, unless kept below
    std::uint32_t* columnKey0;  // index into keys of columns.key0
    std::uint32_t* columnKey1;
    double* layer;              // one row of the layer being added
    float* blended[2];          // two rows of blends along x, one per lattice row key
    // Per distinct column key (at most two per column).
    float* keys;
    std::int32_t* keyMinus;     // lattice column indices, or offsets into the hash table
    std::int32_t* keyCentre;
    std::int32_t* keyPlus;
    float* smoothed;            // smoothed values of one lattice row at every key
    // Per tile row.
    AxisTerms rows;
    // Per tile pixel: the running octave sums, row after row.
    float* sums;
    // Column terms of the first plan.keptLayers layers, kept from the first
    // tile of a work unit for the tiles below it.
    ColumnTerms* kept;
    // Lattice hashes of a range of index sums, or smoothed values by index sum.
    double* table;

    // Carves the arrays from memory, or only counts their bytes (into
    // bytesUsed) when memory is null.
    Workspace(const TilePlan& tilePlan, std::byte* memory, std::uint64_t* bytesUsed = nullptr) : plan(tilePlan) {
        Arena arena(memory, WorkspaceBytes);
        const std::uint64_t w = static_cast<std::uint64_t>(plan.width);
        const std::uint64_t h = static_cast<std::uint64_t>(plan.height);
        columns.Take(arena, w);
        columnKey0 = arena.Take<std::uint32_t>(w);
        columnKey1 = arena.Take<std::uint32_t>(w);
        layer = arena.Take<double>(w);
        blended[0] = arena.Take<float>(w);
        blended[1] = arena.Take<float>(w);
        keys = arena.Take<float>(2 * w);
        keyMinus = arena.Take<std::int32_t>(2 * w);
        keyCentre = arena.Take<std::int32_t>(2 * w);
        keyPlus = arena.Take<std::int32_t>(2 * w);
        smoothed = arena.Take<float>(4 * w + SpanSlack);
        rows = {arena.Take<float>(h), arena.Take<float>(h), arena.Take<double>(h), arena.Take<double>(h)};
        sums = arena.Take<float>(w * h);
        kept = arena.Take<ColumnTerms>(static_cast<std::uint64_t>(plan.keptLayers));
        ColumnTerms counted;  // stands in for kept layers' terms that are only counted
        for (std::int32_t i = 0; i < plan.keptLayers; ++i) {
            (kept != nullptr ? kept[i] : counted).Take(arena, w);
        }
        table = arena.Take<double>(plan.tableEntries);
        if (bytesUsed != nullptr) {
            *bytesUsed = arena.Used();
        }
    }
};

// The column arrays above, in bytes per column (columns: 4 + 4 + 8 + 8 + 4 +
// 4 + 4 + 4; keys two per column; smoothed values four), and per row.
static_assert(BytesPerColumn >= 40 + 4 + 4 + 8 + 4 + 4 + 2 * (4 + 4 + 4 + 4) + 16);
static_assert(BytesPerLayerColumn >= 40);
static_assert(BytesPerRow >= 8 + 16);
static_assert(sizeof(ColumnTerms) <= BytesPerLayer);

// Renders one tile: columns x0 ... x0 + width - 1, rows y0 ... y0 + height - 1.
class TileRenderer {
public:
    // firstInUnit: no tile of these columns was rendered before in this work
    // unit, so kept column terms must be computed rather than reused.
    TileRenderer(const OctaveNoise& noise, const LayerKernels& kernels, Workspace& work, std::int32_t x0,
                 std::int32_t y0, std::int32_t width, std::int32_t height, bool firstInUnit, RenderControl* control)
        : noise_(noise), kernels_(kernels), work_(work), x0_(x0), y0_(y0), width_(width), height_(height),
          firstInUnit_(firstInUnit), control_(control) {}

    // Renders the tile; false when asked to stop before it was done.
    [[nodiscard]] bool Render(MapImage& image) {
        if (noise_.octaves <= 0) {
            std::fill_n(work_.sums, static_cast<std::size_t>(width_) * height_, 0.0f);
        }
        float amplitude = noise_.amplitude;
        std::int32_t layer = 0;
        bool going = true;
        bool settled = false;
        ForEachLayer(noise_, [&](float frequency, std::int32_t first, std::int32_t runLength) {
            if (going && !settled) {
                going = AddLayer(frequency, amplitude, runLength, layer++);
                settled = SumsAreNotFinite();
            }
            if (first + runLength < noise_.octaves) {
                amplitude = NextAmplitude(noise_, amplitude);
            }
        });
        if (going) {
            WriteGrayLevels(image);
        }
        return going;
    }

private:
    // Whether no sum of the tile is finite. Then none ever will be again
    // (infinity plus anything is infinite or NaN, and NaN stays NaN), every
    // gray level is 0 whatever further octaves add, and they can be left out:
    // at the highest frequencies that is most of them. The same holds row by
    // row.
    bool SumsAreNotFinite() const noexcept {
        return NoneFinite(work_.sums, static_cast<std::size_t>(width_) * height_);
    }

    static bool NoneFinite(const float* sums, std::size_t count) noexcept {
        for (std::size_t i = 0; i < count; ++i) {
            if (std::isfinite(sums[i])) {
                return false;
            }
        }
        return true;
    }

    // The column terms of the layer-th layer at frequency: kept ones as the
    // first tile of the unit computed them, others computed now.
    const ColumnTerms& ColumnsOf(float frequency, std::int32_t layer) {
        const bool keep = layer < work_.plan.keptLayers;
        ColumnTerms& columns = keep ? work_.kept[layer] : work_.columns;
        if (!keep || firstInUnit_) {
            ComputeColumnTerms(frequency, columns);
        }
        return columns;
    }

    void ComputeColumnTerms(float frequency, ColumnTerms& columns) const {
        ComputeAxisTerms(frequency, x0_, width_, columns.axis);
        const auto [xLow, xHigh] = KeyIndexRange(columns.axis, width_);
        // Wrapped to 32 bits where the keys span more; then no sum table is used.
        for (std::int32_t x = 0; x < width_; ++x) {
            const std::int32_t index0 = LatticeIndex(columns.axis.key0[x]);
            const std::int32_t index1 = LatticeIndex(columns.axis.key1[x]);
            columns.index0[x] = static_cast<std::uint32_t>(index0);
            columns.index1[x] = static_cast<std::uint32_t>(index1);
            columns.sum0[x] = static_cast<std::int32_t>(index0 - xLow);
            columns.sum1[x] = static_cast<std::int32_t>(index1 - xLow);
        }
        columns.xLow = xLow;
        columns.xHigh = xHigh;
    }

    // Adds runLength octaves of the layer at frequency, the layer-th of the
    // render, to every sum; amplitude is the one before the first of them.
    // False when asked to stop.
    bool AddLayer(float frequency, float amplitude, std::int32_t runLength, std::int32_t layer) {
        columns_ = &ColumnsOf(frequency, layer);
        ComputeAxisTerms(frequency, y0_, height_, work_.rows);
        consecutive_ = false;
        sumTable_ = nullptr;
        const std::int64_t pixels = static_cast<std::int64_t>(width_) * height_;
        // Lattice rows that change on nearly every row of pixels leave
        // nothing to share along x: such rows blend their cells directly.
        const bool direct = SharedBlendCount() > height_ + height_ / 2;
        bool tabulated = TabulateSums(direct ? DirectTableEntriesPerPixel * pixels + SumTableFloor
                                             : pixels / 2 + SumTableFloor);
        if (!direct && !tabulated) {
            IndexColumnKeys();
            tabulated = Tabulate();
        }
        cached_[0].valid = false;
        cached_[1].valid = false;
        float runAmplitudes[ShortRun];
        if (runLength <= ShortRun) {
            RunAmplitudes(noise_, amplitude, runLength, runAmplitudes);
        }

        // Progress goes to the shared counter in batches of rows, or row by
        // row where each row is a long run: every thread adding to it at
        // every row would make its cache line travel between them.
        const std::int32_t rowsPerReport = runLength > ShortRun ? 1 : RowsPerProgressReport;
        std::int32_t unreported = 0;
        for (std::int32_t row = 0; row < height_; ++row) {
            if (control_ != nullptr) {
                if (control_->stop.load(std::memory_order_relaxed)) {
                    return false;
                }
                if (++unreported == rowsPerReport || row == height_ - 1) {
                    control_->done.fetch_add(std::uint64_t(unreported) * std::uint64_t(width_),
                                             std::memory_order_relaxed);
                    unreported = 0;
                }
            }
            float* sums = work_.sums + static_cast<std::size_t>(row) * width_;
            if (layer > 0 && NoneFinite(sums, static_cast<std::size_t>(width_))) {
                continue;
            }
            const double w0 = work_.rows.weight0[row];
            const double w1 = work_.rows.weight1[row];
            const float key0 = work_.rows.key0[row];
            const float key1 = work_.rows.key1[row];
            if (direct && sumTable_ != nullptr) {
                kernels_.blendCells(SumTableRow(key0), SumTableRow(key1), columns_->sum0, columns_->sum1,
                                    columns_->axis.weight0, columns_->axis.weight1, w0, w1, work_.layer, width_);
            } else if (direct) {
                kernels_.fineCells(columns_->index0, columns_->index1, columns_->axis.weight0,
                                   columns_->axis.weight1, 57u * static_cast<std::uint32_t>(LatticeIndex(key0)),
                                   57u * static_cast<std::uint32_t>(LatticeIndex(key1)), w0, w1, work_.layer,
                                   width_);
            } else {
                int slot0 = CachedSlot(key0);
                int slot1 = CachedSlot(key1);
                if (slot0 < 0) {
                    slot0 = slot1 == 0 ? 1 : 0;
                    ComputeBlendedRow(key0, slot0, tabulated);
                    slot1 = CachedSlot(key1);
                }
                if (slot1 < 0) {
                    slot1 = 1 - slot0;
                    ComputeBlendedRow(key1, slot1, tabulated);
                }
                if (runLength <= ShortRun) {
                    kernels_.blendRowsAndAddOctaves(work_.blended[slot0], work_.blended[slot1], w0, w1, sums,
                                                    runAmplitudes, runLength, layer == 0, width_);
                    continue;
                }
                kernels_.blendRows(work_.blended[slot0], work_.blended[slot1], w0, w1, work_.layer, width_);
            }
            // The first layer's octaves start the sums, which hold nothing yet.
            if (runLength <= ShortRun) {
                kernels_.addOctaves(sums, work_.layer, runAmplitudes, runLength, layer == 0, width_);
            } else if (!AddLongRun(noise_, kernels_, sums, work_.layer, width_, amplitude, runLength, layer == 0, control_)) {
                return false;
            }
        }
        return true;
    }

    // When the centres' index sums span a range of at most limit entries that
    // fits the table, tabulates the smoothed values along it, so that every
    // column finds its two by their offsets.
    bool TabulateSums(std::int64_t limit) {
        const std::int64_t xLow = columns_->xLow;
        const std::int64_t xHigh = columns_->xHigh;
        const auto [yLow, yHigh] = KeyIndexRange(work_.rows, height_);
        const std::int64_t entries = (xHigh - xLow) + 57 * (yHigh - yLow) + 1;
        if (entries > limit || entries > 2 * static_cast<std::int64_t>(work_.plan.tableEntries)) {
            return false;
        }
        float* smoothed = reinterpret_cast<float*>(work_.table);
        const auto first = static_cast<std::uint32_t>(static_cast<std::uint64_t>(xLow + 57 * yLow));
        kernels_.smoothSums(first, smoothed, static_cast<std::int32_t>(entries));
        sumTable_ = smoothed;
        tableYLow_ = yLow;
        return true;
    }

    // The smoothed values of lattice row key, indexed by the columns' offsets.
    const float* SumTableRow(float key) const noexcept {
        return sumTable_ + 57 * (LatticeIndex(key) - tableYLow_);
    }

    // How many blends along x sharing them across rows would compute: the
    // two-row cache misses of the rows' lattice row pairs, top to bottom.
    std::int64_t SharedBlendCount() const noexcept {
        std::int64_t blends = 0;
        float previous0 = 0.0f;
        float previous1 = 0.0f;
        for (std::int32_t row = 0; row < height_; ++row) {
            const float key0 = work_.rows.key0[row];
            const float key1 = work_.rows.key1[row];
            if (row == 0) {
                blends += 2;
            } else if (key0 != previous0 || key1 != previous1) {
                blends += key0 == previous1 ? 1 : 2;
            }
            previous0 = key0;
            previous1 = key1;
        }
        return blends;
    }

    // Collects the distinct column keys in order and points every column at
    // its two keys.
    void IndexColumnKeys() {
        float* keys = work_.keys;
        std::copy_n(columns_->axis.key0, width_, keys);
        std::copy_n(columns_->axis.key1, width_, keys + width_);
        std::sort(keys, keys + 2 * width_);
        keyCount_ = static_cast<std::int32_t>(std::unique(keys, keys + 2 * width_) - keys);
        for (std::int32_t x = 0; x < width_; ++x) {
            work_.columnKey0[x] = KeyIndex(columns_->axis.key0[x]);
            work_.columnKey1[x] = KeyIndex(columns_->axis.key1[x]);
        }
        for (std::int32_t k = 0; k < keyCount_; ++k) {
            const Neighbours n = NeighboursOf(keys[k]);
            work_.keyMinus[k] = n.minus;
            work_.keyCentre[k] = n.centre;
            work_.keyPlus[k] = n.plus;
        }
    }

    std::uint32_t KeyIndex(float key) const noexcept {
        return static_cast<std::uint32_t>(std::lower_bound(work_.keys, work_.keys + keyCount_, key) - work_.keys);
    }

    // When the index sums x + 57 y that this layer reads in this tile span a
    // range that is small enough, fills the hash table with it and turns the
    // keys' column indices into offsets from the table's first column.
    bool Tabulate() {
        std::int64_t xLow = INT64_MAX;
        std::int64_t xHigh = INT64_MIN;
        for (std::int32_t k = 0; k < keyCount_; ++k) {
            for (const std::int32_t x : {work_.keyMinus[k], work_.keyCentre[k], work_.keyPlus[k]}) {
                xLow = std::min<std::int64_t>(xLow, x);
                xHigh = std::max<std::int64_t>(xHigh, x);
            }
        }
        std::int64_t yLow = INT64_MAX;
        std::int64_t yHigh = INT64_MIN;
        std::int64_t rowKeys = 0;
        float previous = 0.0f;
        for (std::int32_t row = 0; row < height_; ++row) {
            for (const float key : {work_.rows.key0[row], work_.rows.key1[row]}) {
                if (rowKeys == 0 || key != previous) {
                    ++rowKeys;
                    previous = key;
                }
                const Neighbours n = NeighboursOf(key);
                for (const std::int32_t y : {n.minus, n.centre, n.plus}) {
                    yLow = std::min<std::int64_t>(yLow, y);
                    yHigh = std::max<std::int64_t>(yHigh, y);
                }
            }
        }
        const std::int64_t entries = (xHigh - xLow) + 57 * (yHigh - yLow) + 1;
        // Tabulating pays when the table is not much larger than the number
        // of lattice values that the smoothed values read.
        const std::int64_t reads = 9 * static_cast<std::int64_t>(keyCount_) * rowKeys;
        if (entries > static_cast<std::int64_t>(work_.plan.tableEntries) || entries > 2 * reads + 4096) {
            return false;
        }
        tableYLow_ = yLow;
        const std::int64_t first = xLow + 57 * yLow;
        for (std::int64_t i = 0; i < entries; ++i) {
            work_.table[i] = LatticeHashOfSum(static_cast<std::uint32_t>(static_cast<std::uint64_t>(first + i)));
        }
        for (std::int32_t k = 0; k < keyCount_; ++k) {
            work_.keyMinus[k] = static_cast<std::int32_t>(work_.keyMinus[k] - xLow);
            work_.keyCentre[k] = static_cast<std::int32_t>(work_.keyCentre[k] - xLow);
            work_.keyPlus[k] = static_cast<std::int32_t>(work_.keyPlus[k] - xLow);
        }
        UseConsecutiveColumns();
        return true;
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
        consecutive_ = true;
        keySpan_ = static_cast<std::int32_t>(span);
        for (std::int32_t x = 0; x < width_; ++x) {
            work_.columnKey0[x] = static_cast<std::uint32_t>(columns_->axis.key0[x] - first);
            work_.columnKey1[x] = static_cast<std::uint32_t>(columns_->axis.key1[x] - first);
        }
    }

    int CachedSlot(float key) const noexcept {
        for (int slot = 0; slot < 2; ++slot) {
            if (cached_[slot].valid && cached_[slot].key == key) {
                return slot;
            }
        }
        return -1;
    }

    // Fills cache slot with the blends along x of every tile column at
    // lattice row key.
    void ComputeBlendedRow(float key, int slot, bool tabulated) {
        if (sumTable_ != nullptr) {
            kernels_.blendColumnSums(SumTableRow(key), columns_->sum0, columns_->sum1, columns_->axis.weight0,
                                     columns_->axis.weight1, work_.blended[slot], width_);
        } else {
            SmoothRow(key, tabulated);
            kernels_.blendColumns(work_.smoothed, work_.columnKey0, work_.columnKey1, columns_->axis.weight0,
                                  columns_->axis.weight1, work_.blended[slot], width_);
        }
        cached_[slot] = {key, true};
    }

    // SmoothedValue(key_k, rowKey) for every column key k, or for every
    // lattice column from the first key to the last when they are consecutive.
    void SmoothRow(float rowKey, bool tabulated) {
        const Neighbours y = NeighboursOf(rowKey);
        const std::int32_t* xm = work_.keyMinus;
        const std::int32_t* xc = work_.keyCentre;
        const std::int32_t* xp = work_.keyPlus;
        float* out = work_.smoothed;
        if (tabulated) {
            const double* m = work_.table + 57 * (y.minus - tableYLow_);
            const double* c = work_.table + 57 * (y.centre - tableYLow_);
            const double* p = work_.table + 57 * (y.plus - tableYLow_);
            if (consecutive_) {
                kernels_.smoothConsecutiveColumns(m, c, p, out, keySpan_);
            } else {
                kernels_.smoothListedColumns(m, c, p, xm, xc, xp, out, keyCount_);
            }
            return;
        }
        for (std::int32_t k = 0; k < keyCount_; ++k) {
            const auto at = [](std::int32_t column, std::int32_t row) {
                return LatticeHashOfSum(LatticeSum(column, row));
            };
            out[k] = SmoothLatticeValues(at(xp[k], y.plus), at(xm[k], y.plus), at(xp[k], y.minus), at(xm[k], y.minus),
                                         at(xp[k], y.centre), at(xm[k], y.centre), at(xc[k], y.plus),
                                         at(xc[k], y.minus), at(xc[k], y.centre));
        }
    }

    void WriteGrayLevels(MapImage& image) {
        const std::size_t stride = image.Stride();
        std::uint8_t* pixels = image.Pixels().data();
        for (std::int32_t row = 0; row < height_; ++row) {
            const float* sums = work_.sums + static_cast<std::size_t>(row) * width_;
            std::uint8_t* out = pixels + static_cast<std::size_t>(y0_ + row) * stride + 3 * static_cast<std::size_t>(x0_);
            if (!kernels_.writeSmallGrayLevels(sums, out, width_)) {
                for (std::int32_t x = 0; x < width_; ++x) {
                    const std::uint8_t gray = GrayLevel(sums[x]);
                    out[3 * x] = gray;
                    out[3 * x + 1] = gray;
                    out[3 * x + 2] = gray;
                }
            }
        }
    }

    struct CachedRow {
        float key = 0.0f;
        bool valid = false;
    };

    const OctaveNoise& noise_;
    const LayerKernels& kernels_;
    Workspace& work_;
    std::int32_t x0_;
    std::int32_t y0_;
    std::int32_t width_;
    std::int32_t height_;
    bool firstInUnit_;
    RenderControl* control_;
    std::int32_t keyCount_ = 0;
    bool consecutive_ = false;  // smoothed values cover keys[0] ... keys[0] + keySpan_ - 1
    std::int32_t keySpan_ = 0;
    std::int64_t tableYLow_ = 0;
    const ColumnTerms* columns_ = nullptr;  // of the layer being added
    CachedRow cached_[2];
    const float* sumTable_ = nullptr;  // smoothed values by index sum, from the lowest centre row
};

}  // namespace

std::uint64_t WorkspaceBytesUsed(const TilePlan& plan) {
    std::uint64_t used = 0;
    const Workspace counted(plan, nullptr, &used);
    return used;
}

bool RenderUnit(const OctaveNoise& noise, const LayerKernels& kernels, const TilePlan& plan, std::byte* memory,
                const PixelBlock& unit, MapImage& image, RenderControl* control) {
    Workspace work(plan, memory);
    for (std::int32_t y0 = unit.y0; y0 < unit.y0 + unit.height; y0 += plan.height) {
        const std::int32_t tileHeight = std::min(plan.height, unit.y0 + unit.height - y0);
        TileRenderer tile(noise, kernels, work, unit.x0, y0, unit.width, tileHeight, y0 == unit.y0, control);
        if (!tile.Render(image)) {
            return false;
        }
    }
    return true;
}
