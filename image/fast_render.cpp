#include "image/fast_render.h"

#include <algorithm>
#include <bit>
#include <cassert>
#include <cmath>
#include <cstddef>
#include <memory>
#include <new>
#include <utility>

#include "image/map_image.h"
#include "noise/octave_noise.h"
#include "noise/octave_sum.h"

namespace {

// The map is rendered in tiles of at most this many columns by as many rows
// as the working memory allows. Every pixel of a tile holds its running sum.
constexpr std::int32_t MaxTileWidth = 4096;

// Upper bounds of the working memory per tile column, per tile row and per
// tile pixel; Workspace carves exactly these arrays (see there).
constexpr std::uint64_t BytesPerColumn = 104;
constexpr std::uint64_t BytesPerRow = 32;
constexpr std::uint64_t BytesPerPixel = 4;
constexpr std::uint64_t ArrayCount = 24;  // more than the arrays carved
constexpr std::uint64_t ArrayAlignment = 16;

// A tile this short spends too much on per-column work per pixel; narrower
// tiles are preferred until tiles reach it (or the map's height).
constexpr std::int32_t PreferredTileHeight = 16;

// Tiles hold at most this many running sums (512 KiB), unless that is
// shorter than PreferredTileHeight: every octave reads and writes them all, so
// they should stay in the processor's cache rather than stream from memory.
constexpr std::uint64_t CachedTilePixels = 128 * 1024;

// Per layer and tile column, the column terms kept for the next tiles of the
// same columns: two keys, two weights and two index-sum offsets.
constexpr std::uint64_t BytesPerLayerColumn = 4 + 4 + 8 + 8 + 4 + 4;
constexpr std::uint64_t ArraysPerLayer = 6;
constexpr std::uint64_t BytesPerLayer = 64;  // the layer's entry in the array of kept layers

// Runs of one layer longer than this many octaves are added with the
// settled-sum stop and exact jumps; shorter ones octave by octave, which is
// cheaper for them.
constexpr std::int32_t ShortRun = 32;

// Hashes are tabulated for a table of smoothed values in blocks of this many
// entries (plus the 116 around them).
constexpr std::int64_t HashBlock = 4096;
// Smaller blocks, down to this, leave more of small workspaces to the table.
constexpr std::int64_t MinHashBlock = 256;

// A table of smoothed values by index sum this long is always worth building.
constexpr std::int64_t SumTableFloor = 65536;

// How often, in octaves, a long run checks whether its sums have settled.
constexpr std::int32_t SettledCheckInterval = 8;

// Consecutive lattice columns smoothed in one run may exceed twice the number
// of distinct keys by this much; the smoothed-value array has room for it.
constexpr std::int64_t SpanSlack = 64;

struct TilePlan {
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::int32_t cachedLayers = 0;   // layers whose column terms are kept across tiles
    std::uint64_t tableEntries = 0;  // lattice hash table, in doubles
};

// Tile width and height, the number of layers whose column terms are kept
// and the hash table size whose arrays fit in budget. A quarter of what the
// fixed per-column arrays leave may go to the tile's running sums, and tiles
// are kept short enough for their sums to stay in cache; half of the rest may
// keep column terms, the remainder goes to the hash table.
TilePlan PlanTiles(std::int32_t width, std::int32_t height, std::uint64_t budget, std::int32_t layers) {
    TilePlan plan;
    std::int32_t tileWidth = std::min(width, MaxTileWidth);
    for (;;) {
        const std::uint64_t fixed =
            BytesPerColumn * tileWidth + ArrayCount * ArrayAlignment + SpanSlack * sizeof(float);
        const std::uint64_t variable = fixed < budget ? budget - fixed : 0;
        const std::uint64_t perRow = BytesPerPixel * tileWidth + BytesPerRow;
        const std::uint64_t cachedRows =
            std::max<std::uint64_t>(PreferredTileHeight, CachedTilePixels / static_cast<std::uint64_t>(tileWidth));
        const std::uint64_t rows = std::min((variable - variable / 4) / perRow, cachedRows);
        const std::int32_t tileHeight = static_cast<std::int32_t>(std::min<std::uint64_t>(height, rows));
        if (tileHeight >= std::min(height, PreferredTileHeight) || tileWidth == 1) {
            plan.width = tileWidth;
            plan.height = std::max(tileHeight, 1);
            const std::uint64_t rest = variable - perRow * plan.height;
            const std::uint64_t perLayer =
                BytesPerLayerColumn * tileWidth + BytesPerLayer + (ArraysPerLayer + 1) * ArrayAlignment;
            // Keeping column terms pays only when a column band has more than one tile.
            const std::uint64_t keep = plan.height < height ? std::uint64_t(std::max(layers, 0)) : 0;
            plan.cachedLayers = static_cast<std::int32_t>(std::min(keep, rest / 2 / perLayer));
            plan.tableEntries = (rest - perLayer * plan.cachedLayers) / sizeof(double);
            return plan;
        }
        tileWidth = (tileWidth + 1) / 2;
    }
}

// The frequency of the next octave after f.
float NextFrequency(const OctaveNoise& noise, float f) noexcept {
    return noise.varyFrequency != 0 ? static_cast<float>(static_cast<double>(f) + f) : f;
}

// The octaves as runs that share one frequency, and so one layer: calls
// visit(frequency, first octave, run length) for each run. Only the last run
// can be long; the ones before it are single octaves. Once the frequency
// repeats, the rest of the octaves are one run, so there are at most a few
// hundred runs.
template <typename Visit>
void ForEachLayer(const OctaveNoise& noise, Visit&& visit) {
    float frequency = noise.frequency;
    std::int32_t done = 0;
    while (done < noise.octaves) {
        frequency = NextFrequency(noise, frequency);
        std::int32_t runLength = 1;
        if (std::bit_cast<std::uint32_t>(NextFrequency(noise, frequency)) == std::bit_cast<std::uint32_t>(frequency)) {
            runLength = noise.octaves - done;
        }
        visit(frequency, done, runLength);
        done += runLength;
    }
}

// One block of memory handed out in aligned arrays of trivial types.
class Arena {
public:
    [[nodiscard]] bool Allocate(std::uint64_t bytes) noexcept {
        memory_.reset(new (std::nothrow) std::byte[bytes]);
        size_ = bytes;
        used_ = 0;
        return memory_ != nullptr;
    }

    template <typename T>
    [[nodiscard]] T* Take(std::uint64_t count) noexcept {
        used_ = (used_ + ArrayAlignment - 1) & ~(ArrayAlignment - 1);
        T* array = reinterpret_cast<T*>(memory_.get() + used_);
        used_ += count * sizeof(T);
        assert(used_ <= size_);
        return array;
    }

private:
    std::unique_ptr<std::byte[]> memory_;
    std::uint64_t size_ = 0;
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

// The inner loops. Each is compiled twice, for the x86-64 baseline and for
// AVX2, and the processor picks one when the program loads. Both do the same
// IEEE operations in the same order (no fused multiply-add, which the build
// forbids), so they give the same bits.
#define VELMORA_KERNEL [[gnu::target_clones("avx2", "default")]]

// SmoothedValue at count consecutive lattice columns of one lattice row. The
// lattice values of the rows below, at and above it are minus, centre and
// plus; entry j of each is at the column before the j-th one.
VELMORA_KERNEL void SmoothConsecutiveColumns(const double* minus, const double* centre, const double* plus,
                                             float* out, std::int32_t count) {
    for (std::int32_t j = 0; j < count; ++j) {
        out[j] = SmoothLatticeValues(plus[j + 2], plus[j], minus[j + 2], minus[j], centre[j + 2], centre[j],
                                     plus[j + 1], minus[j + 1], centre[j + 1]);
    }
}

// SmoothedValue at count lattice columns given by their neighbour offsets into
// the rows minus, centre and plus.
VELMORA_KERNEL void SmoothListedColumns(const double* minus, const double* centre, const double* plus,
                                        const std::int32_t* xm, const std::int32_t* xc, const std::int32_t* xp,
                                        float* out, std::int32_t count) {
    for (std::int32_t k = 0; k < count; ++k) {
        out[k] = SmoothLatticeValues(plus[xp[k]], plus[xm[k]], minus[xp[k]], minus[xm[k]], centre[xp[k]],
                                     centre[xm[k]], plus[xc[k]], minus[xc[k]], centre[xc[k]]);
    }
}

// The blend along x of every column: Blend(smoothed[key0], smoothed[key1], fx)
// rounded to float, with the weights of fx.
VELMORA_KERNEL void BlendColumns(const float* smoothed, const std::uint32_t* key0, const std::uint32_t* key1,
                                 const double* weight0, const double* weight1, float* out, std::int32_t count) {
    for (std::int32_t x = 0; x < count; ++x) {
        out[x] = static_cast<float>(smoothed[key0[x]] * weight0[x] + smoothed[key1[x]] * weight1[x]);
    }
}

// BlendColumns with the smoothed values of one lattice row by index sum.
VELMORA_KERNEL void BlendColumnSums(const float* smoothed, const std::int32_t* column0, const std::int32_t* column1,
                                    const double* weight0, const double* weight1, float* __restrict out, std::int32_t count) {
    for (std::int32_t x = 0; x < count; ++x) {
        out[x] = static_cast<float>(smoothed[column0[x]] * weight0[x] + smoothed[column1[x]] * weight1[x]);
    }
}

// The layer value of every column of one row: Blend(top, bottom, fy).
VELMORA_KERNEL void BlendRows(const float* top, const float* bottom, double weight0, double weight1, double* layer,
                              std::int32_t count) {
    for (std::int32_t x = 0; x < count; ++x) {
        layer[x] = top[x] * weight0 + bottom[x] * weight1;
    }
}

// One octave added to every sum of a row.
VELMORA_KERNEL void AddOctave(float* sums, const double* layer, float amplitude, std::int32_t count) {
    for (std::int32_t x = 0; x < count; ++x) {
        sums[x] = static_cast<float>(sums[x] + layer[x] * amplitude);
    }
}

// BlendRows and AddOctave in one pass, for a layer that only one octave uses.
VELMORA_KERNEL void BlendRowsAndAddOctave(const float* top, const float* bottom, double weight0, double weight1,
                                          float* sums, float amplitude, std::int32_t count) {
    for (std::int32_t x = 0; x < count; ++x) {
        const double layer = top[x] * weight0 + bottom[x] * weight1;
        sums[x] = static_cast<float>(sums[x] + layer * amplitude);
    }
}

// Lattice hashes of the count index sums first, first + 1, ... (wrapping).
VELMORA_KERNEL void HashSums(std::uint32_t first, double* out, std::int32_t count) {
    for (std::int32_t i = 0; i < count; ++i) {
        out[i] = LatticeHashOfSum(first + static_cast<std::uint32_t>(i));
    }
}

// SmoothedValue by index sum: entry i of out is the smoothed value around the
// lattice point whose index sum is n, where hashes[i + 58] is the hash of n.
// The nine neighbours of a point have the index sums n + d, d in {-58, -57,
// -56, -1, 0, 1, 56, 57, 58}, so hashes must hold count + 116 entries.
VELMORA_KERNEL void SmoothSums(const double* hashes, float* out, std::int32_t count) {
    for (std::int32_t i = 0; i < count; ++i) {
        const double* c = hashes + i + 58;
        out[i] = SmoothLatticeValues(c[58], c[56], c[-56], c[-58], c[1], c[-1], c[57], c[-57], c[0]);
    }
}

// The whole InterpolatedValue of every column of one row from smoothed values
// by index sum: lower and upper point at the sums of the row's two lattice
// rows, column0 and column1 hold each column's offsets from there. Writes the
// layer value of each column.
VELMORA_KERNEL void BlendCells(const float* lower, const float* upper, const std::int32_t* column0,
                               const std::int32_t* column1, const double* columnWeight0,
                               const double* columnWeight1, double rowWeight0, double rowWeight1, double* __restrict layer,
                               std::int32_t count) {
    for (std::int32_t x = 0; x < count; ++x) {
        const float top = static_cast<float>(lower[column0[x]] * columnWeight0[x] + lower[column1[x]] * columnWeight1[x]);
        const float bottom =
            static_cast<float>(upper[column0[x]] * columnWeight0[x] + upper[column1[x]] * columnWeight1[x]);
        layer[x] = top * rowWeight0 + bottom * rowWeight1;
    }
}

// BlendCells and AddOctave in one pass, for a layer that only one octave uses.
VELMORA_KERNEL void BlendCellsAndAddOctave(const float* lower, const float* upper, const std::int32_t* column0,
                                           const std::int32_t* column1, const double* columnWeight0,
                                           const double* columnWeight1, double rowWeight0, double rowWeight1,
                                           float* __restrict sums, float amplitude, std::int32_t count) {
    for (std::int32_t x = 0; x < count; ++x) {
        const float top = static_cast<float>(lower[column0[x]] * columnWeight0[x] + lower[column1[x]] * columnWeight1[x]);
        const float bottom =
            static_cast<float>(upper[column0[x]] * columnWeight0[x] + upper[column1[x]] * columnWeight1[x]);
        const double layer = top * rowWeight0 + bottom * rowWeight1;
        sums[x] = static_cast<float>(sums[x] + layer * amplitude);
    }
}

// The terms of one layer that depend on the tile column alone.
struct ColumnTerms {
    AxisTerms axis;
    std::int32_t* sum0;  // LatticeIndex(axis.key0) - xLow: offset of the key's index sum in a sum table
    std::int32_t* sum1;
    std::int64_t xLow;   // the least and greatest LatticeIndex of the keys
    std::int64_t xHigh;

    void Take(Arena& arena, std::uint64_t w) noexcept {
        axis = {arena.Take<float>(w), arena.Take<float>(w), arena.Take<double>(w), arena.Take<double>(w)};
        sum0 = arena.Take<std::int32_t>(w);
        sum1 = arena.Take<std::int32_t>(w);
    }
};

// Whether every sum of a row is below 2^31 / 100 in magnitude (false for NaN).
// A float times 100 is exact in double, so that is |s| <= 21474836, a float;
// the comparison is done on the magnitude's bits, where NaNs and infinities
// are larger still.
VELMORA_KERNEL bool SumsAreSmall(const float* sums, std::int32_t count) {
    constexpr std::uint32_t Limit = std::bit_cast<std::uint32_t>(21474836.0f);
    std::uint32_t large = 0;
    for (std::int32_t x = 0; x < count; ++x) {
        large |= static_cast<std::uint32_t>((std::bit_cast<std::uint32_t>(sums[x]) & 0x7FFFFFFFu) > Limit);
    }
    return large == 0;
}

// GrayLevel of every sum of a row into its three bytes per pixel, when all
// sums are small: then trunc(|s| * 100) fits 32 bits, whose low byte is the
// low byte of the 64-bit truncation that GrayLevel takes. Writes nothing and
// returns false otherwise.
VELMORA_KERNEL bool WriteSmallGrayLevels(const float* sums, std::uint8_t* __restrict out, std::int32_t count) {
    if (!SumsAreSmall(sums, count)) {
        return false;
    }
    for (std::int32_t x = 0; x < count; ++x) {
        const auto low = static_cast<std::uint8_t>(
            static_cast<std::int32_t>(std::fabs(static_cast<double>(sums[x])) * 100.0));
        const std::uint8_t gray = low == 255 ? 0 : low;  // (k & 0xFF) % 255
        out[3 * x] = gray;
        out[3 * x + 1] = gray;
        out[3 * x + 2] = gray;
    }
    return true;
}

// All working arrays of one render, carved from one block.
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
    // Column terms of the first plan.cachedLayers layers, kept from the
    // first tile of a column band for the tiles below it.
    ColumnTerms* kept;
    // Lattice hashes of a range of index sums, or smoothed values by index sum.
    double* table;

    [[nodiscard]] bool Allocate(Arena& arena, std::uint64_t budget, std::int32_t width, std::int32_t height,
                                std::int32_t layers) {
        plan = PlanTiles(width, height, budget, layers);
        if (!arena.Allocate(budget)) {
            return false;
        }
        const std::uint64_t w = static_cast<std::uint64_t>(plan.width);
        const std::uint64_t h = static_cast<std::uint64_t>(plan.height);
        // 8 + 16 + 8 + 8 + 8 + 8 bytes per column, 4 + 12 per key (two keys per
        // column) and 16 for four smoothed values.
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
        // 8 + 16 bytes per row.
        rows = {arena.Take<float>(h), arena.Take<float>(h), arena.Take<double>(h), arena.Take<double>(h)};
        sums = arena.Take<float>(w * h);
        // Each kept layer: BytesPerLayerColumn per column in ArraysPerLayer
        // arrays, and its share of this array of them.
        kept = arena.Take<ColumnTerms>(static_cast<std::uint64_t>(plan.cachedLayers));
        for (std::int32_t i = 0; i < plan.cachedLayers; ++i) {
            kept[i].Take(arena, w);
        }
        table = arena.Take<double>(plan.tableEntries);
        return true;
    }
};

static_assert(BytesPerColumn >= 8 + 16 + 8 + 8 + 8 + 8 + 2 * (4 + 12) + 16);
static_assert(BytesPerRow >= 8 + 16);
static_assert(sizeof(ColumnTerms) <= BytesPerLayer);

// Renders one tile: columns x0 ... x0 + width - 1, rows y0 ... y0 + height - 1.
class TileRenderer {
public:
    // firstInBand: no tile of these columns was rendered before, so kept
    // column terms must be computed rather than reused.
    TileRenderer(const OctaveNoise& noise, Workspace& work, std::int32_t x0, std::int32_t y0, std::int32_t width,
                 std::int32_t height, bool firstInBand, RenderControl* control)
        : noise_(noise), work_(work), x0_(x0), y0_(y0), width_(width), height_(height), firstInBand_(firstInBand),
          control_(control) {}

    void Render(MapImage& image) {
        std::fill_n(work_.sums, static_cast<std::size_t>(width_) * height_, 0.0f);
        float amplitude = noise_.amplitude;
        std::int32_t layer = 0;
        ForEachLayer(noise_, [&](float frequency, std::int32_t first, std::int32_t runLength) {
            if (Stopped()) {
                return;
            }
            AddLayer(frequency, amplitude, runLength, layer++);
            if (first + runLength < noise_.octaves) {
                amplitude = NextAmplitude(amplitude);
            }
        });
        if (!Stopped()) {
            WriteGrayLevels(image);
        }
    }

    bool Stopped() const noexcept { return control_ != nullptr && control_->stop.load(std::memory_order_relaxed); }

private:
    // The column terms of the layer-th layer at frequency: kept ones as the
    // first tile of the band computed them, others computed now.
    const ColumnTerms& ColumnsOf(float frequency, std::int32_t layer) {
        const bool keep = layer < work_.plan.cachedLayers;
        ColumnTerms& columns = keep ? work_.kept[layer] : work_.columns;
        if (!keep || firstInBand_) {
            ComputeColumnTerms(frequency, columns);
        }
        return columns;
    }

    void ComputeColumnTerms(float frequency, ColumnTerms& columns) const {
        ComputeAxisTerms(frequency, x0_, width_, columns.axis);
        const auto [xLow, xHigh] = KeyIndexRange(columns.axis, width_);
        // Wrapped to 32 bits where the keys span more; then no sum table is used.
        for (std::int32_t x = 0; x < width_; ++x) {
            columns.sum0[x] = static_cast<std::int32_t>(LatticeIndex(columns.axis.key0[x]) - xLow);
            columns.sum1[x] = static_cast<std::int32_t>(LatticeIndex(columns.axis.key1[x]) - xLow);
        }
        columns.xLow = xLow;
        columns.xHigh = xHigh;
    }

    // Adds runLength octaves of the layer at frequency, the layer-th of the
    // render, to every sum; amplitude is the one before the first of them.
    void AddLayer(float frequency, float amplitude, std::int32_t runLength, std::int32_t layer) {
        columns_ = &ColumnsOf(frequency, layer);
        ComputeAxisTerms(frequency, y0_, height_, work_.rows);
        consecutive_ = false;
        sumTable_ = nullptr;
        bool tabulated = TabulateSums();
        // Lattice rows that change on nearly every row of pixels leave
        // nothing to share along x: such rows blend their cells directly.
        const bool direct = tabulated && SharedBlendCount() > height_ + height_ / 2;
        if (!tabulated) {
            IndexColumnKeys();
            tabulated = Tabulate();
        }
        cached_[0].valid = false;
        cached_[1].valid = false;

        for (std::int32_t row = 0; row < height_; ++row) {
            if (control_ != nullptr) {
                if (Stopped()) {
                    return;
                }
                control_->done.fetch_add(static_cast<std::uint64_t>(width_), std::memory_order_relaxed);
            }
            const double w0 = work_.rows.weight0[row];
            const double w1 = work_.rows.weight1[row];
            float* sums = work_.sums + static_cast<std::size_t>(row) * width_;
            float a = amplitude;
            if (direct) {
                const float* lower = SumTableRow(work_.rows.key0[row]);
                const float* upper = SumTableRow(work_.rows.key1[row]);
                if (runLength == 1) {
                    a = NextAmplitude(a);
                    BlendCellsAndAddOctave(lower, upper, columns_->sum0, columns_->sum1, columns_->axis.weight0,
                                           columns_->axis.weight1, w0, w1, sums, a, width_);
                    continue;
                }
                BlendCells(lower, upper, columns_->sum0, columns_->sum1, columns_->axis.weight0,
                           columns_->axis.weight1, w0, w1, work_.layer, width_);
                AddRun(sums, a, runLength);
                continue;
            }
            const float key0 = work_.rows.key0[row];
            const float key1 = work_.rows.key1[row];
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
            const float* top = work_.blended[slot0];
            const float* bottom = work_.blended[slot1];
            if (runLength == 1) {
                a = NextAmplitude(a);
                BlendRowsAndAddOctave(top, bottom, w0, w1, sums, a, width_);
                continue;
            }
            BlendRows(top, bottom, w0, w1, work_.layer, width_);
            AddRun(sums, a, runLength);
        }
    }

    // Adds runLength octaves of the layer row in work_.layer to a row of
    // sums; amplitude is the one before the first of them.
    void AddRun(float* sums, float amplitude, std::int32_t runLength) {
        if (runLength > ShortRun) {
            AddLongRun(sums, work_.layer, amplitude, runLength);
            return;
        }
        float a = amplitude;
        for (std::int32_t i = 0; i < runLength; ++i) {
            a = NextAmplitude(a);
            AddOctave(sums, work_.layer, a, width_);
        }
    }

    float NextAmplitude(float amplitude) const noexcept {
        return noise_.varyAmplitude != 0
                   ? static_cast<float>(static_cast<double>(amplitude) * noise_.persistence)
                   : amplitude;
    }

    // Adds count octaves of one layer row to a row of sums; amplitude is the
    // one before the first of them. Octave by octave while the amplitude
    // still changes, stopping early once no sum can change any more; once
    // the amplitude repeats (period 1 or 2), every pixel jumps to its end.
    void AddLongRun(float* sums, const double* layer, float amplitude, std::int64_t count) {
        // Amplitudes that never grow in magnitude leave a sum alone for good
        // once its contribution is too small to move it.
        const bool shrinking = noise_.varyAmplitude == 0 || std::fabs(noise_.persistence) <= 1.0f;
        float before = amplitude;
        float twoBefore = 0.0f;
        bool haveTwoBefore = false;
        std::int32_t untilCheck = SettledCheckInterval;
        while (count > 0) {
            if (Stopped()) {
                return;
            }
            const float a = NextAmplitude(before);
            if (std::bit_cast<std::uint32_t>(a) == std::bit_cast<std::uint32_t>(before)) {
                RepeatRow(sums, layer, a, a, count);
                return;
            }
            if (haveTwoBefore && std::bit_cast<std::uint32_t>(a) == std::bit_cast<std::uint32_t>(twoBefore)) {
                RepeatRow(sums, layer, a, before, count);
                return;
            }
            AddOctave(sums, layer, a, width_);
            --count;
            twoBefore = before;
            haveTwoBefore = true;
            before = a;
            if (shrinking && --untilCheck == 0) {
                untilCheck = SettledCheckInterval;
                if (RowIsSettled(sums, layer, NextAmplitude(before))) {
                    return;
                }
            }
        }
    }

    bool RowIsSettled(const float* sums, const double* layer, float amplitude) const noexcept {
        for (std::int32_t x = 0; x < width_; ++x) {
            if (!SumIsSettled(sums[x], layer[x] * amplitude)) {
                return false;
            }
        }
        return true;
    }

    // Every sum of the row after count octaves whose amplitudes alternate
    // first, second, ... Neighbouring pixels with the same sum and layer
    // value, as on flat maps, share one jump.
    void RepeatRow(float* sums, const double* layer, float first, float second, std::int64_t count) {
        float previousSum = 0.0f;
        double previousLayer = 0.0;
        float previousResult = 0.0f;
        bool havePrevious = false;
        for (std::int32_t x = 0; x < width_; ++x) {
            if (x % 64 == 0 && Stopped()) {
                return;
            }
            const float sum = sums[x];
            if (havePrevious && std::bit_cast<std::uint32_t>(sum) == std::bit_cast<std::uint32_t>(previousSum) &&
                std::bit_cast<std::uint64_t>(layer[x]) == std::bit_cast<std::uint64_t>(previousLayer)) {
                sums[x] = previousResult;
                continue;
            }
            previousSum = sum;
            previousLayer = layer[x];
            previousResult = RepeatContributions(sum, layer[x] * first, layer[x] * second, count);
            havePrevious = true;
            sums[x] = previousResult;
        }
    }

    // Keys are whole numbers (an int32 index made a float), so the three
    // lattice indices that SmoothedValue reads around a key k are the 32-bit
    // wraps of k - 1, k and k + 1: consecutive modulo 2^32 whatever k is. The
    // nine index sums around a point are then its centre's sum plus d, d in
    // {-58, -57, -56, -1, 0, 1, 56, 57, 58}, and the smoothed value is a
    // function of that one sum. When the centres' sums span a range that is
    // small next to the tile, tabulates the smoothed values along it, from
    // hashes tabulated block by block, and points every column at its two
    // entries.
    bool TabulateSums() {
        const std::int64_t xLow = columns_->xLow;
        const std::int64_t xHigh = columns_->xHigh;
        const auto [yLow, yHigh] = KeyIndexRange(work_.rows, height_);
        const std::int64_t entries = (xHigh - xLow) + 57 * (yHigh - yLow) + 1;
        // Each entry costs about as much as a few pixels' blends: tabulating
        // pays unless the sums are spread much more thinly than the pixels.
        const std::int64_t pixels = static_cast<std::int64_t>(width_) * height_;
        if (entries > pixels / 2 + SumTableFloor) {
            return false;
        }
        const std::int64_t smoothedDoubles = (entries + 1) / 2;  // two floats per double
        const std::int64_t room = static_cast<std::int64_t>(work_.plan.tableEntries) - smoothedDoubles - 116;
        const std::int64_t block = std::min({entries, HashBlock, room});
        if (block < std::min(entries, MinHashBlock)) {
            return false;
        }
        float* smoothed = reinterpret_cast<float*>(work_.table);
        double* hashes = work_.table + smoothedDoubles;
        const auto first = static_cast<std::uint32_t>(static_cast<std::uint64_t>(xLow + 57 * yLow));
        for (std::int64_t start = 0; start < entries; start += block) {
            const auto count = static_cast<std::int32_t>(std::min(block, entries - start));
            HashSums(first + static_cast<std::uint32_t>(start) - 58u, hashes, count + 116);
            SmoothSums(hashes, smoothed + start, count);
        }
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
        tableXLow_ = xLow;
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
            BlendColumnSums(SumTableRow(key), columns_->sum0, columns_->sum1, columns_->axis.weight0,
                            columns_->axis.weight1, work_.blended[slot], width_);
        } else {
            SmoothRow(key, tabulated);
            BlendColumns(work_.smoothed, work_.columnKey0, work_.columnKey1, columns_->axis.weight0,
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
                SmoothConsecutiveColumns(m, c, p, out, keySpan_);
            } else {
                SmoothListedColumns(m, c, p, xm, xc, xp, out, keyCount_);
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
            if (!WriteSmallGrayLevels(sums, out, width_)) {
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
    Workspace& work_;
    std::int32_t x0_;
    std::int32_t y0_;
    std::int32_t width_;
    std::int32_t height_;
    std::int32_t keyCount_ = 0;
    bool consecutive_ = false;  // smoothed values cover keys[0] ... keys[0] + keySpan_ - 1
    std::int32_t keySpan_ = 0;
    std::int64_t tableXLow_ = 0;
    std::int64_t tableYLow_ = 0;
    bool firstInBand_;
    const ColumnTerms* columns_ = nullptr;  // of the layer being added
    CachedRow cached_[2];
    const float* sumTable_ = nullptr;  // smoothed values by index sum, from the lowest centre row
    RenderControl* control_;
};

}  // namespace

std::uint64_t RenderWorkspaceBytes(std::int32_t width, std::int32_t height) noexcept {
    if (!MapImageSizeAllowed(width, height)) {
        return 0;
    }
    const std::uint64_t stride = (static_cast<std::uint64_t>(width) * 24 + 31) / 32 * 4;
    return std::max(stride * static_cast<std::uint64_t>(height), RenderMinimumWorkspace);
}

RenderStatus RenderMapFast(const OctaveNoise& noise, MapImage& image, RenderControl* control) {
    const std::int32_t width = image.Width();
    const std::int32_t height = image.Height();
    std::int32_t layers = 0;
    ForEachLayer(noise, [&layers](float, std::int32_t, std::int32_t) { ++layers; });
    if (control != nullptr) {
        control->total.store(static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height) *
                                 static_cast<std::uint64_t>(layers),
                             std::memory_order_relaxed);
    }
    Arena arena;
    Workspace work;
    if (!work.Allocate(arena, RenderWorkspaceBytes(width, height), width, height, layers)) {
        RenderMapPerPixel(noise, image);
        if (control != nullptr) {
            control->done.store(control->total.load());
        }
        return RenderStatus::Complete;
    }
    // Band by band of columns, so that tiles below the first reuse its kept
    // column terms.
    for (std::int32_t x0 = 0; x0 < width; x0 += work.plan.width) {
        const std::int32_t tileWidth = std::min(work.plan.width, width - x0);
        for (std::int32_t y0 = 0; y0 < height; y0 += work.plan.height) {
            const std::int32_t tileHeight = std::min(work.plan.height, height - y0);
            TileRenderer tile(noise, work, x0, y0, tileWidth, tileHeight, y0 == 0, control);
            tile.Render(image);
            if (tile.Stopped()) {
                return RenderStatus::Stopped;
            }
        }
    }
    return RenderStatus::Complete;
}
