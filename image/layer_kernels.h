// The renderer's inner loops, built once per instruction set: the x86-64
// baseline, AVX2 and AVX-512. Every build does the same IEEE operations in
// the same order (the project forbids fused multiply-add), so all of them
// give the same bits; the processor's best one is used.
#pragma once

#include <cstdint>
#include <span>

namespace velmora {

enum class KernelLevel { Baseline, Avx2, Avx512 };

// What every column of a tile has in common for one layer, found once per
// layer, so that the cells' kernel need not look at each group of columns.
enum class CellColumns {
    FirstValues,  // every fraction is 0: each blend along x is its first value
    Adjacent,     // every second key is the lattice column after the first
    Any,
};

// Plain loops over arrays of one row (or one run of index sums). "Smoothed
// value" is SmoothLatticeValues at a lattice point; a "layer value" is
// InterpolatedValue at a pixel, in double, not rounded. Each instruction set
// fills its table with designated initialisers, in this order.
struct LayerKernels {
    const char* name;  // "baseline", "avx2" or "avx512"
    KernelLevel level;

    // SmoothedValue at count consecutive lattice columns of one lattice row.
    // minus, centre and plus are the lattice values of the rows below, at and
    // above it; entry j of each is at the column before the j-th one.
    void (*smoothConsecutiveColumns)(const double* minus, const double* centre, const double* plus, float* out,
                                     std::int32_t count);
    // SmoothedValue at count lattice columns given by the offsets of their
    // three neighbours into the rows minus, centre and plus.
    void (*smoothListedColumns)(const double* minus, const double* centre, const double* plus, const std::int32_t* xm,
                                const std::int32_t* xc, const std::int32_t* xp, float* out, std::int32_t count);
    // SmoothedValue of the count index sums first, first + 1, ... (wrapping).
    void (*smoothSums)(std::uint32_t first, float* out, std::int32_t count);
    // SmoothedValue of the count index sums first, first + step, first + 2
    // step, ... (wrapping); each from its own nine lattice values unless step
    // is 1.
    void (*smoothStridedSums)(std::uint32_t first, std::uint32_t step, float* out, std::int32_t count);
    // smoothSums as pairs: out[2 i] holds SmoothedValue of first + i, and
    // out[2 i + 1] that of first + i + 57, the point a lattice row up.
    void (*smoothSumPairs)(std::uint32_t first, float* out, std::int32_t count);

    // The blend along x of every column, rounded to float: Blend(smoothed[key0],
    // smoothed[key1], fx) with the weights of fx.
    void (*blendColumns)(const float* smoothed, const std::uint32_t* key0, const std::uint32_t* key1,
                         const double* weight0, const double* weight1, float* out, std::int32_t count);
    // blendColumns with signed offsets into the smoothed values of one lattice row.
    void (*blendColumnSums)(const float* smoothed, const std::int32_t* column0, const std::int32_t* column1,
                            const double* weight0, const double* weight1, float* out, std::int32_t count);
    // The layer value of every column of one row: Blend(top, bottom, fy).
    void (*blendRows)(const float* top, const float* bottom, double weight0, double weight1, double* layer,
                      std::int32_t count);
    // blendRows and then addOctaves, without storing the layer values.
    void (*blendRowsAndAddOctaves)(const float* top, const float* bottom, double weight0, double weight1,
                                   float* sums, const float* amplitudes, std::int32_t octaves, bool fresh,
                                   std::int32_t count);
    // The layer value of every column of one row from smoothed values by
    // index sum: lower and upper point at the sums of the row's two lattice
    // rows, column0 and column1 hold each column's offsets from there, and
    // columns says what they all have in common.
    void (*blendCells)(const float* lower, const float* upper, const std::int32_t* column0,
                       const std::int32_t* column1, const double* columnWeight0, const double* columnWeight1,
                       CellColumns columns, double rowWeight0, double rowWeight1, double* layer, std::int32_t count);
    // blendCells from a table of smoothSumPairs, for columns whose second key
    // is the column after the first, in a row whose second key, where the
    // row blends, is the row after the first. lower points at the pair of the
    // row's first lattice row; column0 holds each column's offset from there,
    // in pairs. A pixel's four values are then the two pairs at its offset.
    void (*blendCellQuads)(const float* lower, const std::int32_t* column0, const double* columnWeight0,
                           const double* columnWeight1, double rowWeight0, double rowWeight1, double* layer,
                           std::int32_t count);
    // Whether blendCellQuads beats blendCells where its table fits: with
    // AVX-512 (by 8 to 16 % on AMD Zen 5), but not with AVX2 or the baseline,
    // whose pair loads of single values measured as fast or faster.
    bool cellsFromQuads;
    // The layer value of every pixel of one row whose lattice cells are
    // smaller than a pixel, straight from the lattice hash. columnSum0 and
    // columnSum1 hold each column's LatticeIndex(key0) and LatticeIndex(key1),
    // rowSum0 and rowSum1 are 57 times the row's, all wrapping at 32 bits.
    // Where a fraction is 0 its blend weights are exactly 1 and 0 and the
    // blend is its first value; such columns and rows skip the lattice values
    // the blend cannot see, which can change a layer value only where it is a
    // zero (its sign) or not finite (infinity against NaN), and no gray level
    // tells those apart.
    // columns says what every column has in common, with Adjacent meaning
    // that every second index is the one after the first.
    void (*fineCells)(const std::uint32_t* columnSum0, const std::uint32_t* columnSum1, const double* columnWeight0,
                      const double* columnWeight1, CellColumns columns, std::uint32_t rowSum0,
                      std::uint32_t rowSum1, double rowWeight0, double rowWeight1, double* layer,
                      std::int32_t count);

    // One octave added to every sum of a row: float(sum + layer * amplitude).
    void (*addOctave)(float* sums, const double* layer, float amplitude, std::int32_t count);
    // The octaves of amplitudes[0 ... octaves - 1] added one after another;
    // with fresh, to sums of 0 that the memory of sums need not hold yet.
    void (*addOctaves)(float* sums, const double* layer, const float* amplitudes, std::int32_t octaves, bool fresh,
                       std::int32_t count);
    // count more octaves whose contributions alternate layer * first, layer *
    // second, layer * first, ... (first and second the same for a constant
    // one), exactly as single octaves add them, in time of the order of the
    // binades each sum crosses: RepeatContributions for every pixel.
    void (*repeatRun)(float* sums, const double* layer, double first, double second, std::int64_t count,
                      std::int32_t width);

    // GrayLevel of every sum of a row into its three bytes per pixel, when
    // every sum is below 2^31 / 100 in magnitude; writes nothing and returns
    // false otherwise.
    bool (*writeSmallGrayLevels)(const float* sums, std::uint8_t* out, std::int32_t count);
};

// The kernels in use: the best the processor runs, chosen on first use. A
// render reads this once, at its start; tests and benchmarks that compare the
// builds hand a level's kernels (KernelsFor) to RenderMap instead.
[[nodiscard]] const LayerKernels& Kernels() noexcept;

// The kernels of level, which must be one of SupportedKernelLevels().
[[nodiscard]] const LayerKernels& KernelsFor(KernelLevel level) noexcept;

// The levels this processor can run, baseline first.
[[nodiscard]] std::span<const KernelLevel> SupportedKernelLevels() noexcept;

}  // namespace velmora
