// The bodies of the kernels in layer_kernels.h. Each kernel file includes
// this once, after defining VELMORA_LANES and VELMORA_KERNEL_TABLE (the name
// of its table) and setting its instruction set through its compile options.
//
// Most kernels are plain loops that the compiler vectorizes for the
// instruction set at hand; the ones on lattice hashes are written in vector
// lanes (image/lattice_lanes.h), where single-precision arithmetic stands in,
// exactly, for conversions between float and double.

#include <cmath>
#include <cstring>


#include "image/lattice_lanes.h"
#include "image/layer_kernels.h"
#include "noise/octave_noise.h"
#include "noise/octave_sum.h"

namespace {

using namespace lanes;

void SmoothConsecutiveColumns(const double* minus, const double* centre, const double* plus, float* out,
                              std::int32_t count) {
    for (std::int32_t j = 0; j < count; ++j) {
        out[j] = SmoothLatticeValues(plus[j + 2], plus[j], minus[j + 2], minus[j], centre[j + 2], centre[j],
                                     plus[j + 1], minus[j + 1], centre[j + 1]);
    }
}

void SmoothListedColumns(const double* minus, const double* centre, const double* plus, const std::int32_t* xm,
                         const std::int32_t* xc, const std::int32_t* xp, float* out, std::int32_t count) {
    for (std::int32_t k = 0; k < count; ++k) {
        out[k] = SmoothLatticeValues(plus[xp[k]], plus[xm[k]], minus[xp[k]], minus[xm[k]], centre[xp[k]],
                                     centre[xm[k]], plus[xc[k]], minus[xc[k]], centre[xc[k]]);
    }
}

// Sums are hashed in blocks of this many, plus the 116 around them that the
// smoothing reads.
constexpr std::int32_t SumBlock = 512;

void SmoothSums(std::uint32_t first, float* out, std::int32_t count) {
    // The nine neighbours of the point with index sum n have the sums n + d,
    // d in {-58, -57, -56, -1, 0, 1, 56, 57, 58}.
    static_assert(SumBlock % Lanes == 0);
    alignas(64) std::int32_t n[SumBlock + 116 + Lanes];
    alignas(64) float rounded[SumBlock + 116 + Lanes];
    alignas(64) float rest[SumBlock + 116 + Lanes];
    for (std::int32_t start = 0; start < count; start += SumBlock) {
        const std::int32_t block = count - start < SumBlock ? count - start : SumBlock;
        const std::uint32_t base = first + static_cast<std::uint32_t>(start) - 58u;
        U32 sums;
        for (int lane = 0; lane < Lanes; ++lane) {
            sums[lane] = base + static_cast<std::uint32_t>(lane);
        }
        // Through the neighbours of the last full vector of centres, so that
        // every lane reads a hashed sum.
        const std::int32_t centres = (block + Lanes - 1) / Lanes * Lanes;
        for (std::int32_t i = 0; i < centres + 116; i += Lanes) {
            const Lattice value = LatticeOfSums(sums);
            Store(n + i, value.n);
            Store(rounded + i, value.rounded);
            Store(rest + i, value.rest);
            sums += static_cast<std::uint32_t>(Lanes);
        }
        const auto at = [&](std::int32_t i) {
            return Lattice{Load<I32>(n + i), Load<F32>(rounded + i), Load<F32>(rest + i)};
        };
        for (std::int32_t i = 0; i < block; i += Lanes) {
            const std::int32_t c = i + 58;
            const F32 smoothed = Smoothed(at(c + 58), at(c + 56), at(c - 56), at(c - 58), at(c + 1), at(c - 1),
                                          at(c + 57), at(c - 57), at(c));
            if (block - i >= Lanes) {
                Store(out + start + i, smoothed);
            } else {
                for (std::int32_t lane = 0; lane < block - i; ++lane) {
                    out[start + i + lane] = smoothed[lane];
                }
            }
        }
    }
}

void BlendColumns(const float* smoothed, const std::uint32_t* key0, const std::uint32_t* key1, const double* weight0,
                  const double* weight1, float* out, std::int32_t count) {
    for (std::int32_t x = 0; x < count; ++x) {
        out[x] = static_cast<float>(smoothed[key0[x]] * weight0[x] + smoothed[key1[x]] * weight1[x]);
    }
}

void BlendColumnSums(const float* smoothed, const std::int32_t* column0, const std::int32_t* column1,
                     const double* weight0, const double* weight1, float* __restrict out, std::int32_t count) {
    for (std::int32_t x = 0; x < count; ++x) {
        out[x] = static_cast<float>(smoothed[column0[x]] * weight0[x] + smoothed[column1[x]] * weight1[x]);
    }
}

void BlendRows(const float* top, const float* bottom, double weight0, double weight1, double* __restrict layer,
               std::int32_t count) {
    for (std::int32_t x = 0; x < count; ++x) {
        layer[x] = top[x] * weight0 + bottom[x] * weight1;
    }
}

// Lanes values of table at the offsets in lanes.
VELMORA_LANE_INLINE F32 Gather(const float* table, I32 offsets) {
#if defined(__AVX512F__)
    static_assert(Lanes == 16);
    return reinterpret_cast<F32>(
        _mm512_mask_i32gather_ps(_mm512_setzero_ps(), 0xFFFF, reinterpret_cast<__m512i>(offsets), table, 4));
#elif defined(__AVX2__)
    static_assert(Lanes == 8);
    return reinterpret_cast<F32>(_mm256_mask_i32gather_ps(_mm256_setzero_ps(), table, reinterpret_cast<__m256i>(offsets),
                                                          _mm256_castsi256_ps(_mm256_set1_epi32(-1)), 4));
#else
    F32 values;
    for (int lane = 0; lane < Lanes; ++lane) {
        values[lane] = table[offsets[lane]];
    }
    return values;
#endif
}

void BlendCells(const float* lower, const float* upper, const std::int32_t* column0, const std::int32_t* column1,
                const double* columnWeight0, const double* columnWeight1, double rowWeight0, double rowWeight1,
                double* __restrict layer, std::int32_t count) {
    std::int32_t x = 0;
    for (; x + Lanes <= count; x += Lanes) {
        const I32 offset0 = Load<I32>(column0 + x);
        const I32 offset1 = Load<I32>(column1 + x);
        const F64 weight0 = Load<F64>(columnWeight0 + x);
        const F64 weight1 = Load<F64>(columnWeight1 + x);
        const F64 top = Widen(Narrow(Widen(Gather(lower, offset0)) * weight0 + Widen(Gather(lower, offset1)) * weight1));
        const F64 bottom =
            Widen(Narrow(Widen(Gather(upper, offset0)) * weight0 + Widen(Gather(upper, offset1)) * weight1));
        Store(layer + x, top * rowWeight0 + bottom * rowWeight1);
    }
    for (; x < count; ++x) {
        const float top =
            static_cast<float>(lower[column0[x]] * columnWeight0[x] + lower[column1[x]] * columnWeight1[x]);
        const float bottom =
            static_cast<float>(upper[column0[x]] * columnWeight0[x] + upper[column1[x]] * columnWeight1[x]);
        layer[x] = top * rowWeight0 + bottom * rowWeight1;
    }
}

// The layer values of Lanes pixels of one row from the lattice hashes around
// their cells. With blendColumns false every column's fraction is 0: the
// blend along x is its first value, and the column after it is not needed.
// With blendRows false the same holds for the row.
template <bool blendColumns, bool blendRows>
VELMORA_LANE_INLINE F64 FineCellLanes(U32 n, F64 columnWeight0, F64 columnWeight1, double rowWeight0,
                                       double rowWeight1) {
    // The 4 x 4 lattice points from one column and row before the cell's
    // corner to two after it: names say column then row, m for -1, c for 0,
    // p for +1 and q for +2.
    const Lattice mm = LatticeOfSums(n - 58u);
    const Lattice cm = LatticeOfSums(n - 57u);
    const Lattice pm = LatticeOfSums(n - 56u);
    const Lattice mc = LatticeOfSums(n - 1u);
    const Lattice cc = LatticeOfSums(n);
    const Lattice pc = LatticeOfSums(n + 1u);
    const Lattice mp = LatticeOfSums(n + 56u);
    const Lattice cp = LatticeOfSums(n + 57u);
    const Lattice pp = LatticeOfSums(n + 58u);
    const F64 v1 = Widen(Smoothed(pp, mp, pm, mm, pc, mc, cp, cm, cc));
    F64 top = v1;
    if constexpr (blendColumns) {
        const Lattice qm = LatticeOfSums(n - 55u);
        const Lattice qc = LatticeOfSums(n + 2u);
        const Lattice qp = LatticeOfSums(n + 59u);
        const F64 v2 = Widen(Smoothed(qp, cp, qm, cm, qc, cc, pp, pm, pc));
        top = Widen(Narrow(v1 * columnWeight0 + v2 * columnWeight1));
        if constexpr (blendRows) {
            const Lattice mq = LatticeOfSums(n + 113u);
            const Lattice cq = LatticeOfSums(n + 114u);
            const Lattice pq = LatticeOfSums(n + 115u);
            const Lattice qq = LatticeOfSums(n + 116u);
            const F64 v3 = Widen(Smoothed(pq, mq, pc, mc, pp, mp, cq, cc, cp));
            const F64 v4 = Widen(Smoothed(qq, cq, qc, cc, qp, cp, pq, pc, pp));
            const F64 bottom = Widen(Narrow(v3 * columnWeight0 + v4 * columnWeight1));
            return top * rowWeight0 + bottom * rowWeight1;
        }
        return top;
    } else {
        if constexpr (blendRows) {
            const Lattice mq = LatticeOfSums(n + 113u);
            const Lattice cq = LatticeOfSums(n + 114u);
            const Lattice pq = LatticeOfSums(n + 115u);
            const F64 v3 = Widen(Smoothed(pq, mq, pc, mc, pp, mp, cq, cc, cp));
            return top * rowWeight0 + v3 * rowWeight1;
        }
        return top;
    }
}

// SmoothedValue around the index sums n, from their nine lattice values.
VELMORA_LANE_INLINE F32 SmoothedAround(U32 n) {
    return Smoothed(LatticeOfSums(n + 58u), LatticeOfSums(n + 56u), LatticeOfSums(n - 56u), LatticeOfSums(n - 58u),
                    LatticeOfSums(n + 1u), LatticeOfSums(n - 1u), LatticeOfSums(n + 57u), LatticeOfSums(n - 57u),
                    LatticeOfSums(n));
}

// The layer values of Lanes pixels whose second lattice column or row is not
// the one after the first (indices beyond 2^24 wrap or round as floats):
// each of the four smoothed values from its own nine lattice values.
VELMORA_LANE_INLINE F64 ScatteredCellLanes(U32 column0, U32 column1, std::uint32_t row0, std::uint32_t row1,
                                           F64 columnWeight0, F64 columnWeight1, double rowWeight0,
                                           double rowWeight1) {
    // Beyond 2^24 an index and the next often make the same float key, and
    // then the same smoothed value.
    bool sameColumns = true;
    for (int lane = 0; lane < Lanes; ++lane) {
        sameColumns &= column1[lane] == column0[lane];
    }
    const bool sameRows = row1 == row0;
    const F64 v1 = Widen(SmoothedAround(column0 + row0));
    const F64 v2 = sameColumns ? v1 : Widen(SmoothedAround(column1 + row0));
    const F64 v3 = sameRows ? v1 : Widen(SmoothedAround(column0 + row1));
    const F64 v4 = sameRows ? v2 : sameColumns ? v3 : Widen(SmoothedAround(column1 + row1));
    const F64 top = Widen(Narrow(v1 * columnWeight0 + v2 * columnWeight1));
    const F64 bottom = Widen(Narrow(v3 * columnWeight0 + v4 * columnWeight1));
    return top * rowWeight0 + bottom * rowWeight1;
}

// Whether a blend's weights are those of a fraction 0: exactly 1 and 0.
VELMORA_LANE_INLINE bool IsFirstValue(double weight0, double weight1) {
    return weight0 == 1.0 && weight1 == 0.0;
}

// The terms of one row of fine cells.
struct FineRow {
    std::uint32_t sum0;  // 57 LatticeIndex(key0) and of key1, wrapping
    std::uint32_t sum1;
    double weight0;
    double weight1;
};

VELMORA_LANE_INLINE F64 FineCellGroup(const std::uint32_t* columnSum0, const std::uint32_t* columnSum1,
                                       const double* columnWeight0, const double* columnWeight1,
                                       const FineRow& row) {
    const U32 column0 = Load<U32>(columnSum0);
    const U32 column1 = Load<U32>(columnSum1);
    const F64 weight0 = Load<F64>(columnWeight0);
    const F64 weight1 = Load<F64>(columnWeight1);
    const U32 n = column0 + row.sum0;
    // Columns whose blend is its first value need only their first column;
    // the others need their second to be the column after the first.
    bool columnsBlend = false;
    bool columnsAdjacent = true;
    for (int lane = 0; lane < Lanes; ++lane) {
        const bool first = IsFirstValue(weight0[lane], weight1[lane]);
        columnsBlend |= !first;
        columnsAdjacent &= first || column1[lane] == column0[lane] + 1u;
    }
    const bool rowBlends = !IsFirstValue(row.weight0, row.weight1);
    if (!columnsAdjacent || (rowBlends && row.sum1 != row.sum0 + 57u)) {
        return ScatteredCellLanes(column0, column1, row.sum0, row.sum1, weight0, weight1, row.weight0, row.weight1);
    }
    if (columnsBlend) {
        return rowBlends ? FineCellLanes<true, true>(n, weight0, weight1, row.weight0, row.weight1)
                         : FineCellLanes<true, false>(n, weight0, weight1, row.weight0, row.weight1);
    }
    return rowBlends ? FineCellLanes<false, true>(n, weight0, weight1, row.weight0, row.weight1)
                     : FineCellLanes<false, false>(n, weight0, weight1, row.weight0, row.weight1);
}

void FineCells(const std::uint32_t* columnSum0, const std::uint32_t* columnSum1, const double* columnWeight0,
               const double* columnWeight1, std::uint32_t rowSum0, std::uint32_t rowSum1, double rowWeight0,
               double rowWeight1, double* layer, std::int32_t count) {
    const FineRow row{rowSum0, rowSum1, rowWeight0, rowWeight1};
    std::int32_t x = 0;
    for (; x + Lanes <= count; x += Lanes) {
        Store(layer + x, FineCellGroup(columnSum0 + x, columnSum1 + x, columnWeight0 + x, columnWeight1 + x, row));
    }
    if (x < count) {
        // The last, partial group through full-width copies.
        alignas(64) std::uint32_t sums0[Lanes] = {};
        alignas(64) std::uint32_t sums1[Lanes] = {};
        alignas(64) double weight0[Lanes] = {};
        alignas(64) double weight1[Lanes] = {};
        alignas(64) double out[Lanes];
        const auto rest = static_cast<std::size_t>(count - x);
        std::memcpy(sums0, columnSum0 + x, rest * sizeof(std::uint32_t));
        std::memcpy(sums1, columnSum1 + x, rest * sizeof(std::uint32_t));
        std::memcpy(weight0, columnWeight0 + x, rest * sizeof(double));
        std::memcpy(weight1, columnWeight1 + x, rest * sizeof(double));
        Store(out, FineCellGroup(sums0, sums1, weight0, weight1, row));
        std::memcpy(layer + x, out, rest * sizeof(double));
    }
}

void AddOctave(float* sums, const double* layer, float amplitude, std::int32_t count) {
    for (std::int32_t x = 0; x < count; ++x) {
        sums[x] = static_cast<float>(sums[x] + layer[x] * amplitude);
    }
}

void AddOctaves(float* sums, const double* layer, const float* amplitudes, std::int32_t octaves, bool fresh,
                std::int32_t count) {
    // Octave by octave over the row, which stays in the first-level cache:
    // each pass is one loop of independent lanes.
    std::int32_t i = 0;
    if (fresh && octaves > 0) {
        const float amplitude = amplitudes[i++];
        for (std::int32_t x = 0; x < count; ++x) {
            sums[x] = static_cast<float>(0.0f + layer[x] * amplitude);
        }
    }
    for (; i < octaves; ++i) {
        AddOctave(sums, layer, amplitudes[i], count);
    }
}

void BlendRowsAndAddOctaves(const float* top, const float* bottom, double weight0, double weight1, float* sums,
                            const float* amplitudes, std::int32_t octaves, bool fresh, std::int32_t count) {
    // Four registers at a time, so that their chains of roundings overlap;
    // each sum and layer value stays in a register through all the octaves.
    constexpr std::int32_t Group = 4 * RegisterDoubles;
    std::int32_t x = 0;
    for (; x + Group <= count; x += Group) {
        DoubleRegister layer[4];
        DoubleRegister sum[4];
        for (int k = 0; k < 4; ++k) {
            const std::int32_t at = x + k * RegisterDoubles;
            layer[k] = WidenRegister(Load<FloatHalf>(top + at)) * weight0 +
                       WidenRegister(Load<FloatHalf>(bottom + at)) * weight1;
            sum[k] = fresh ? DoubleRegister{} : WidenRegister(Load<FloatHalf>(sums + at));
        }
        for (std::int32_t i = 0; i < octaves; ++i) {
            const double amplitude = amplitudes[i];
            for (int k = 0; k < 4; ++k) {
                sum[k] = WidenRegister(NarrowRegister(sum[k] + layer[k] * amplitude));
            }
        }
        for (int k = 0; k < 4; ++k) {
            Store(sums + x + k * RegisterDoubles, NarrowRegister(sum[k]));
        }
    }
    for (; x < count; ++x) {
        const double layer = top[x] * weight0 + bottom[x] * weight1;
        float sum = fresh ? 0.0f : sums[x];
        for (std::int32_t i = 0; i < octaves; ++i) {
            sum = static_cast<float>(sum + layer * amplitudes[i]);
        }
        sums[x] = sum;
    }
}

// Whether every sum of a row is below 2^31 / 100 in magnitude (false for NaN).
// A float times 100 is exact in double, so that is |s| <= 21474836, a float;
// the comparison is done on the magnitude's bits, where NaNs and infinities
// are larger still.
bool SumsAreSmall(const float* sums, std::int32_t count) {
    constexpr std::uint32_t Limit = 0x4BA3D70Au;  // the bits of 21474836.0f
    std::uint32_t largest = 0;
    for (std::int32_t x = 0; x < count; ++x) {
        std::uint32_t bits;
        std::memcpy(&bits, sums + x, sizeof bits);
        bits &= 0x7FFFFFFFu;
        largest = bits > largest ? bits : largest;
    }
    return largest <= Limit;
}

using U8x16 = std::uint8_t __attribute__((vector_size(16)));
using I32x16 = std::int32_t __attribute__((vector_size(64)));
using U32x16 = std::uint32_t __attribute__((vector_size(64)));
using F32x16 = float __attribute__((vector_size(64)));
using F64x16 = double __attribute__((vector_size(128)));

// GrayLevel of 16 sums below 2^31 / 100 in magnitude: trunc(|s| * 100) then
// fits 32 bits, and its low byte is the low byte of the 64-bit truncation.
VELMORA_LANE_INLINE U8x16 SmallGrayLevels(const float* sums) {
    const auto magnitude = reinterpret_cast<F32x16>(Load<U32x16>(sums) & 0x7FFFFFFFu);
    const F64x16 scaled = __builtin_convertvector(magnitude, F64x16) * 100.0;
    const U8x16 low = __builtin_convertvector(__builtin_convertvector(scaled, I32x16), U8x16);
    return low == 255 ? U8x16{} : low;  // (k & 0xFF) % 255
}

bool WriteSmallGrayLevels(const float* sums, std::uint8_t* __restrict out, std::int32_t count) {
    if (!SumsAreSmall(sums, count)) {
        return false;
    }
    std::int32_t x = 0;
    // Sixteen gray levels at a time, spread to blue, green and red bytes.
    for (; x + 16 <= count; x += 16) {
        const U8x16 gray = SmallGrayLevels(sums + x);
        Store(out + 3 * x, __builtin_shufflevector(gray, gray, 0, 0, 0, 1, 1, 1, 2, 2, 2, 3, 3, 3, 4, 4, 4, 5));
        Store(out + 3 * x + 16,
              __builtin_shufflevector(gray, gray, 5, 5, 6, 6, 6, 7, 7, 7, 8, 8, 8, 9, 9, 9, 10, 10));
        Store(out + 3 * x + 32,
              __builtin_shufflevector(gray, gray, 10, 11, 11, 11, 12, 12, 12, 13, 13, 13, 14, 14, 14, 15, 15, 15));
    }
    if (x < count) {
        alignas(64) float rest[16] = {};
        std::memcpy(rest, sums + x, static_cast<std::size_t>(count - x) * sizeof(float));
        const U8x16 gray = SmallGrayLevels(rest);
        for (std::int32_t i = 0; i < count - x; ++i) {
            out[3 * (x + i)] = gray[i];
            out[3 * (x + i) + 1] = gray[i];
            out[3 * (x + i) + 2] = gray[i];
        }
    }
    return true;
}

// Exact jumps over repeating contributions in lanes: RepeatContributions of
// noise/octave_sum.cpp for one register of pixels at once, step for step the same
// algorithm (see there for why a jump is exact), with every decision made
// per lane and lanes that are done left as they are.

constexpr double TwoToThe52 = 4503599627370496.0;

VELMORA_LANE_INLINE DoubleRegister Magnitude(DoubleRegister v) {
    return reinterpret_cast<DoubleRegister>(reinterpret_cast<Uint64Register>(v) & 0x7FFFFFFFFFFFFFFFu);
}

// The exponent of each lane's magnitude, for finite non-zero doubles.
VELMORA_LANE_INLINE Int64Register ExponentOf(DoubleRegister v) {
    return reinterpret_cast<Int64Register>((reinterpret_cast<Uint64Register>(v) >> 52) & 0x7FFu) - 1023;
}

// 2^exponent for exponents of normal doubles.
VELMORA_LANE_INLINE DoubleRegister PowerOfTwo(Int64Register exponent) {
    return reinterpret_cast<DoubleRegister>(PowerOfTwoBits(exponent));
}

VELMORA_LANE_INLINE DoubleRegister Min(DoubleRegister a, DoubleRegister b) { return a < b ? a : b; }
VELMORA_LANE_INLINE Int64Register Max(Int64Register a, Int64Register b) { return a > b ? a : b; }

// floor(v) for v >= 0 (and whole numbers from 2^52 on, which are their own).
VELMORA_LANE_INLINE DoubleRegister FloorOfPositive(DoubleRegister v) {
#if defined(__AVX512F__)
    return reinterpret_cast<DoubleRegister>(
        _mm512_maskz_roundscale_pd(0xFF, reinterpret_cast<__m512d>(v), _MM_FROUND_TO_NEG_INF | _MM_FROUND_NO_EXC));
#elif defined(__AVX__)
    return reinterpret_cast<DoubleRegister>(_mm256_round_pd(reinterpret_cast<__m256d>(v), _MM_FROUND_FLOOR));
#else
    const DoubleRegister nearest = (v + TwoToThe52) - TwoToThe52;
    const DoubleRegister floor = nearest > v ? nearest - 1.0 : nearest;
    return v < TwoToThe52 ? floor : v;
#endif
}

VELMORA_LANE_INLINE bool AnyLane(Int64Register mask) {
    bool any = false;
    for (int lane = 0; lane < RegisterDoubles; ++lane) {
        any |= mask[lane] != 0;
    }
    return any;
}

// What BinadeOf, IsMultipleOf and TranslationRoom decide for the exact sums t
// of one step: the largest number of jumps by step that keeps every
// translated t inside its binade, 0 where no jump is allowed (t outside the
// float range or zero, step no even multiple of t's float grid), or -1.
VELMORA_LANE_INLINE DoubleRegister JumpRoom(DoubleRegister t, DoubleRegister step) {
    const DoubleRegister magnitude = Magnitude(t);
    const Int64Register inRange = (magnitude >= 0x1p-149) & (magnitude <= FloatMax);
    const Int64Register exponent = ExponentOf(magnitude);
    const DoubleRegister low = PowerOfTwo(exponent);
    const DoubleRegister high = Min(PowerOfTwo(exponent + 1), DoubleRegister{} + FloatMax);
    const DoubleRegister doubleSpacing = PowerOfTwo(exponent - 52);
    // step over twice the float grid's spacing, exact: a product with a power of two.
    const DoubleRegister quotient = Magnitude(step * PowerOfTwo(-1 - Max(exponent - 23, Int64Register{} - 149)));
    const Int64Register multiple = FloorOfPositive(quotient) == quotient;
    const Int64Register nearEdge = (magnitude - doubleSpacing < low) | (magnitude + doubleSpacing > high);
    const DoubleRegister growth = t > 0.0 ? step : -step;
    const DoubleRegister room = (growth > 0.0 ? high - doubleSpacing - magnitude : magnitude - doubleSpacing - low) /
                                Magnitude(growth);
    DoubleRegister whole = FloorOfPositive(room) - 1.0;
    whole = whole > 0.0 ? Min(whole, DoubleRegister{} + 0x1p62) : DoubleRegister{};
    whole = growth == 0.0 ? DoubleRegister{} + __builtin_inf() : whole;
    whole = nearEdge ? DoubleRegister{} - 1.0 : whole;
    return (inRange & multiple) ? whole : DoubleRegister{};
}

// Whether end - start is exact in double: for finite floats it is unless both
// are non-zero and their exponents lie far apart.
VELMORA_LANE_INLINE Int64Register DifferenceIsExact(DoubleRegister start, DoubleRegister end) {
    const Int64Register finite = (Magnitude(start) <= FloatMax) & (Magnitude(end) <= FloatMax);
    const Int64Register zero = (start == 0.0) | (end == 0.0);
    const Int64Register gap = ExponentOf(start) - ExponentOf(end);
    return finite & (zero | ((gap <= 28) & (gap >= -28)));
}

// The state of one register of pixels during their jumps.
struct JumpLanes {
    DoubleRegister sum;
    DoubleRegister first;   // the contributions, alternating
    DoubleRegister second;
    DoubleRegister left;    // octaves still to add
    Int64Register active;   // lanes still taking macro steps

    // One macro step, then as many more as can be jumped over at once.
    VELMORA_LANE_INLINE void Advance(int period) {
        const int macroSteps = 2 * period;
        active &= (left >= macroSteps) & (sum == sum);  // a NaN sum stays NaN
        DoubleRegister exact[4];
        DoubleRegister end = sum;
        for (int i = 0; i < macroSteps; ++i) {
            exact[i] = end + (i % period == 0 ? first : second);
            end = WidenRegister(NarrowRegister(exact[i]));
        }
        left = active ? left - macroSteps : left;
        // A fixed point of the macro step: the rest are single steps.
        const Int64Register fixed =
            active & (reinterpret_cast<Uint64Register>(end) == reinterpret_cast<Uint64Register>(sum));
        left = fixed ? left - FloorOfPositive(left / macroSteps) * macroSteps : left;
        active &= ~fixed;
        const DoubleRegister start = sum;
        sum = active ? end : sum;
        const DoubleRegister step = end - start;
        DoubleRegister jumps = FloorOfPositive(left / macroSteps);
        for (int i = 0; i < macroSteps; ++i) {
            jumps = Min(jumps, JumpRoom(exact[i], step));
        }
        const Int64Register jump = active & DifferenceIsExact(start, end) & (jumps > 0.0);
        // jumps * step is the distance between two floats of one binade: exact.
        sum = jump ? WidenRegister(NarrowRegister(end + jumps * step)) : sum;
        left = jump ? left - jumps * macroSteps : left;
        active &= left >= macroSteps;
    }

    // The last octaves, fewer than a macro step.
    VELMORA_LANE_INLINE void Finish(int period) {
        for (int i = 0; i + 1 < 2 * period; ++i) {
            const DoubleRegister next = WidenRegister(NarrowRegister(sum + (i % period == 0 ? first : second)));
            sum = left > i ? next : sum;
        }
    }
};

// Registers of pixels jumped together: their chains of dependent steps
// overlap in the processor, which one chain alone would leave idle.
constexpr int JumpRegisters = 2;

// The sums after count more octaves with contributions layer * first, layer *
// second, ... for JumpRegisters registers of pixels at sums and layer; period
// 1 when first and second are the same.
void RepeatInRegisters(double* sums, const double* layer, double first, double second, int period,
                       double count) {
    JumpLanes lanes[JumpRegisters];
    for (int k = 0; k < JumpRegisters; ++k) {
        const auto value = Load<DoubleRegister>(layer + k * RegisterDoubles);
        lanes[k] = {Load<DoubleRegister>(sums + k * RegisterDoubles), value * first, value * second,
                    DoubleRegister{} + count, Int64Register{} - 1};
    }
    for (;;) {
        Int64Register any{};
        for (int k = 0; k < JumpRegisters; ++k) {
            lanes[k].Advance(period);
            any |= lanes[k].active;
        }
        if (!AnyLane(any)) {
            break;
        }
    }
    for (int k = 0; k < JumpRegisters; ++k) {
        lanes[k].Finish(period);
        Store(sums + k * RegisterDoubles, lanes[k].sum);
    }
}

// Pieces with at most this many distinct pixels jump them one at a time.
constexpr std::int32_t FewDistinct = 2;

// Pixels are taken in pieces of this many; in each, neighbours with the same
// sum and layer value, as on flat maps, share one jump.
constexpr std::int32_t RepeatPiece = 512;

void RepeatRun(float* sums, const double* layer, double first, double second, std::int64_t count,
               std::int32_t width) {
    constexpr std::int32_t Group = JumpRegisters * RegisterDoubles;
    const int period = std::memcmp(&first, &second, sizeof first) == 0 ? 1 : 2;
    const double left = static_cast<double>(count < 0 ? 0 : count);
    alignas(64) double distinctSums[RepeatPiece + Group];
    alignas(64) double distinctLayers[RepeatPiece + Group];
    std::int32_t owner[RepeatPiece];
    for (std::int32_t start = 0; start < width; start += RepeatPiece) {
        const std::int32_t piece = width - start < RepeatPiece ? width - start : RepeatPiece;
        std::int32_t distinct = 0;
        for (std::int32_t x = 0; x < piece; ++x) {
            const double sum = sums[start + x];
            const double value = layer[start + x];
            if (distinct == 0 || std::memcmp(&sum, &distinctSums[distinct - 1], sizeof sum) != 0 ||
                std::memcmp(&value, &distinctLayers[distinct - 1], sizeof value) != 0) {
                distinctSums[distinct] = sum;
                distinctLayers[distinct] = value;
                ++distinct;
            }
            owner[x] = distinct - 1;
        }
        if (distinct <= FewDistinct) {
            // A flat piece: lanes would mostly jump padding.
            for (std::int32_t i = 0; i < distinct; ++i) {
                distinctSums[i] = RepeatContributions(static_cast<float>(distinctSums[i]), distinctLayers[i] * first,
                                                      distinctLayers[i] * second, count);
            }
        } else {
            // Padding of contribution 0, which stops at once.
            for (std::int32_t i = distinct; i % Group != 0; ++i) {
                distinctSums[i] = 0.0;
                distinctLayers[i] = 0.0;
            }
            for (std::int32_t i = 0; i < distinct; i += Group) {
                RepeatInRegisters(distinctSums + i, distinctLayers + i, first, second, period, left);
            }
        }
        for (std::int32_t x = 0; x < piece; ++x) {
            sums[start + x] = static_cast<float>(distinctSums[owner[x]]);
        }
    }
}

}  // namespace

extern const LayerKernels VELMORA_KERNEL_TABLE;
const LayerKernels VELMORA_KERNEL_TABLE = {
    VELMORA_KERNEL_NAME,
    SmoothConsecutiveColumns,
    SmoothListedColumns,
    SmoothSums,
    BlendColumns,
    BlendColumnSums,
    BlendRows,
    BlendRowsAndAddOctaves,
    BlendCells,
    FineCells,
    AddOctave,
    AddOctaves,
    RepeatRun,
    WriteSmallGrayLevels,
};
