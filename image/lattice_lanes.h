// Vector lanes for the kernels: the vector types of one instruction set, the
// few operations that need its own instructions, and lattice hashes and
// smoothed values in lanes, bit for bit what LatticeHashOfSum and
// SmoothLatticeValues give, without a conversion between float and double
// lanes. Every instruction-set #if of the kernels is in this file; the kernel
// families are plain code over what it offers.
//
// Included only by the kernel files, each of which defines VELMORA_LANES (the
// lanes of one vector for its instruction set) before including this.
//
// Why single-precision arithmetic is exact here. A lattice value is
// 1 - m 2^-30 for a whole m, so in units of 2^-30 every lattice value is a
// whole number below 2^31 in magnitude, and so are the partial sums of the
// smoothing, which stay below 2^34. Scaling by a power of two commutes with
// rounding to float, and no value here comes near the float limits, so the
// smoothing can run on those whole numbers and be scaled back at the end.
// The definition adds in double and rounds to float; each such step is done
// here as an error-free sum of floats whose error terms are small whole
// numbers, exact in float, followed by one rounding addition: the same
// correctly rounded result. Values are kept negated (m - 2^30 instead of
// 2^30 - m) so that the first addition of each chain fits 32-bit integers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>

#include "noise/octave_noise.h"

#if defined(__AVX__)
#include <immintrin.h>
#elif defined(__SSE2__)
#include <emmintrin.h>
#endif

#ifndef VELMORA_LANES
#error "define VELMORA_LANES before including image/lattice_lanes.h"
#endif

namespace velmora {

namespace lanes {

constexpr int Lanes = VELMORA_LANES;

using U32 = std::uint32_t __attribute__((vector_size(4 * Lanes)));
using I32 = std::int32_t __attribute__((vector_size(4 * Lanes)));
using F32 = float __attribute__((vector_size(4 * Lanes)));
using F64 = double __attribute__((vector_size(8 * Lanes)));
using I64 = std::int64_t __attribute__((vector_size(8 * Lanes)));
using U64 = std::uint64_t __attribute__((vector_size(8 * Lanes)));

#define VELMORA_LANE_INLINE inline __attribute__((always_inline))

VELMORA_LANE_INLINE F64 Widen(F32 v) { return __builtin_convertvector(v, F64); }
VELMORA_LANE_INLINE F32 Narrow(F64 v) { return __builtin_convertvector(v, F32); }

// One register of doubles, and the floats that widen to it, converted with
// one instruction each (the generic conversions above go through halves).
#if defined(__AVX512F__)
constexpr int RegisterDoubles = 8;
#elif defined(__AVX__)
constexpr int RegisterDoubles = 4;
#else
constexpr int RegisterDoubles = 2;
#endif
using DoubleRegister = double __attribute__((vector_size(8 * RegisterDoubles)));
using FloatHalf = float __attribute__((vector_size(4 * RegisterDoubles)));
using Int64Register = std::int64_t __attribute__((vector_size(8 * RegisterDoubles)));
using Uint64Register = std::uint64_t __attribute__((vector_size(8 * RegisterDoubles)));

VELMORA_LANE_INLINE DoubleRegister WidenRegister(FloatHalf v) {
#if defined(__AVX512F__)
    return reinterpret_cast<DoubleRegister>(_mm512_maskz_cvtps_pd(0xFF, reinterpret_cast<__m256>(v)));
#elif defined(__AVX__)
    return reinterpret_cast<DoubleRegister>(_mm256_cvtps_pd(reinterpret_cast<__m128>(v)));
#else
    return __builtin_convertvector(v, DoubleRegister);
#endif
}

VELMORA_LANE_INLINE FloatHalf NarrowRegister(DoubleRegister v) {
#if defined(__AVX512F__)
    return reinterpret_cast<FloatHalf>(_mm512_maskz_cvtpd_ps(0xFF, reinterpret_cast<__m512d>(v)));
#elif defined(__AVX__)
    return reinterpret_cast<FloatHalf>(_mm256_cvtpd_ps(reinterpret_cast<__m256d>(v)));
#else
    return __builtin_convertvector(v, FloatHalf);
#endif
}

template <typename Vector, typename Element>
VELMORA_LANE_INLINE Vector Load(const Element* from) {
    Vector v;
    __builtin_memcpy(&v, from, sizeof v);
    return v;
}

template <typename Vector, typename Element>
VELMORA_LANE_INLINE void Store(Element* to, Vector v) {
    __builtin_memcpy(to, &v, sizeof v);
}

template <std::size_t... i>
VELMORA_LANE_INLINE void StoreHalves(double* to, F64 v, std::index_sequence<i...>) {
    const DoubleRegister low = __builtin_shufflevector(v, v, i...);
    const DoubleRegister high = __builtin_shufflevector(v, v, (i + RegisterDoubles)...);
    __builtin_memcpy(to, &low, sizeof low);
    __builtin_memcpy(to + RegisterDoubles, &high, sizeof high);
}

// Lanes doubles, one register at a time: GCC copies a vector wider than a
// register through the stack and general registers, which stalls each store
// on the loads before it.
VELMORA_LANE_INLINE void Store(double* to, F64 v) {
    if constexpr (Lanes == 2 * RegisterDoubles) {
        StoreHalves(to, v, std::make_index_sequence<RegisterDoubles>{});
    } else {
        __builtin_memcpy(to, &v, sizeof v);
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

// Whether gray levels are best made in whole numbers, which needs each 32-bit
// lane shifted by a count of its own (AVX2; without it such shifts go lane by
// lane), rather than through double lanes (kept with AVX-512, where they were
// measured fast). And whether the bytes of a register shuffle by a table
// (SSSE3 and later).
#if defined(__AVX2__) && !defined(__AVX512F__)
constexpr bool LaneShifts = true;
#else
constexpr bool LaneShifts = false;
#endif
#if defined(__SSSE3__)
constexpr bool ByteShuffles = true;
#else
constexpr bool ByteShuffles = false;
#endif

using U8x16 = std::uint8_t __attribute__((vector_size(16)));
using U32x16 = std::uint32_t __attribute__((vector_size(64)));

// The low byte of each of 16 lanes that hold values below 256.
VELMORA_LANE_INLINE U8x16 LowBytes(U32x16 v) {
#if defined(__AVX2__) && !defined(__AVX512F__)
    // The generic conversion goes lane by lane here: pack twice, putting the
    // 128-bit halves back in order after each in-lane pack.
    using U32x8 = std::uint32_t __attribute__((vector_size(32)));
    const U32x8 low = __builtin_shufflevector(v, v, 0, 1, 2, 3, 4, 5, 6, 7);
    const U32x8 high = __builtin_shufflevector(v, v, 8, 9, 10, 11, 12, 13, 14, 15);
    const __m256i words = _mm256_permute4x64_epi64(
        _mm256_packus_epi32(reinterpret_cast<__m256i>(low), reinterpret_cast<__m256i>(high)), 0xD8);
    const __m256i bytes = _mm256_permute4x64_epi64(_mm256_packus_epi16(words, words), 0x08);
    return reinterpret_cast<U8x16>(_mm256_castsi256_si128(bytes));
#elif defined(__AVX512F__)
    // One truncating move; the generic conversion, followed by a byte
    // shuffle, went lane by lane through general registers.
    return reinterpret_cast<U8x16>(_mm512_maskz_cvtepi32_epi8(0xFFFF, reinterpret_cast<__m512i>(v)));
#else
    return __builtin_convertvector(v, U8x16);
#endif
}

// table[offsets[lane]] in first and table[offsets[lane] + 1] in second, for
// every lane. Each pair is one 64-bit load: on AMD processors a hardware
// gather fetches one lane at a time at several cycles a lane, so two gathers
// of a register cost about twice as much as its pairs (measured on Zen 5 with
// AVX-512 as well as with AVX2).
VELMORA_LANE_INLINE void GatherPairs(const float* table, const std::int32_t* offsets, F32& first, F32& second) {
#if defined(__AVX512F__)
    const auto pair = [&](int lane) { return reinterpret_cast<const __m64*>(table + offsets[lane]); };
    static_assert(Lanes == 16);
    // Two pairs in each 128-bit quarter, eight pairs in each of two
    // registers, then the first and the second floats of all sixteen picked
    // apart by two permutations across both.
    const auto two = [&](int lane) { return _mm_loadh_pi(_mm_loadl_pi(_mm_setzero_ps(), pair(lane)), pair(lane + 1)); };
    const auto eight = [&](int lane) {
        const __m256 low = _mm256_set_m128(two(lane + 2), two(lane));
        const __m256 high = _mm256_set_m128(two(lane + 6), two(lane + 4));
        return _mm512_insertf32x8(_mm512_castps256_ps512(low), high, 1);
    };
    const __m512 pairs0 = eight(0);
    const __m512 pairs8 = eight(8);
    const __m512i evens = _mm512_set_epi32(30, 28, 26, 24, 22, 20, 18, 16, 14, 12, 10, 8, 6, 4, 2, 0);
    const __m512i odds = _mm512_set_epi32(31, 29, 27, 25, 23, 21, 19, 17, 15, 13, 11, 9, 7, 5, 3, 1);
    first = reinterpret_cast<F32>(_mm512_permutex2var_ps(pairs0, evens, pairs8));
    second = reinterpret_cast<F32>(_mm512_permutex2var_ps(pairs0, odds, pairs8));
#elif defined(__SSE2__) && (VELMORA_LANES == 4 || defined(__AVX2__))
    // Four pairs at a time: two 64-bit loads into each half of a register,
    // then the first and the second floats of the four pairs picked apart.
    const auto pair = [&](int lane) { return reinterpret_cast<const __m64*>(table + offsets[lane]); };
    const auto quarter = [&](int lane, __m128& firsts, __m128& seconds) {
        const __m128 pairs01 = _mm_loadh_pi(_mm_loadl_pi(_mm_setzero_ps(), pair(lane)), pair(lane + 1));
        const __m128 pairs23 = _mm_loadh_pi(_mm_loadl_pi(_mm_setzero_ps(), pair(lane + 2)), pair(lane + 3));
        firsts = _mm_shuffle_ps(pairs01, pairs23, _MM_SHUFFLE(2, 0, 2, 0));
        seconds = _mm_shuffle_ps(pairs01, pairs23, _MM_SHUFFLE(3, 1, 3, 1));
    };
    __m128 firsts0;
    __m128 seconds0;
    quarter(0, firsts0, seconds0);
#if defined(__AVX2__)
    static_assert(Lanes == 8);
    __m128 firsts1;
    __m128 seconds1;
    quarter(4, firsts1, seconds1);
    first = reinterpret_cast<F32>(_mm256_set_m128(firsts1, firsts0));
    second = reinterpret_cast<F32>(_mm256_set_m128(seconds1, seconds0));
#else
    first = reinterpret_cast<F32>(firsts0);
    second = reinterpret_cast<F32>(seconds0);
#endif
#else
    for (int lane = 0; lane < Lanes; ++lane) {
        first[lane] = table[offsets[lane]];
        second[lane] = table[offsets[lane] + 1];
    }
#endif
}

// The four floats at table + 2 offsets[lane], for every lane: first in e0,
// then e1, e2 and e3. With AVX-512, the only level whose cells take quads
// (LayerKernels::cellsFromQuads), each lane's four are one 16-byte load, and
// the loads are turned into lanes by the classic 4 x 4 transpose within each
// 128-bit part, which keeps lanes in order when register k holds the quads of
// lanes k, k + 4, k + 8 and k + 12 in its parts. Elsewhere a plain loop.
VELMORA_LANE_INLINE void LoadQuads(const float* table, const std::int32_t* offsets, F32& e0, F32& e1, F32& e2,
                                   F32& e3) {
#if defined(__AVX512F__)
    static_assert(Lanes == 16);
    const auto quad = [&](int lane) { return _mm_loadu_ps(table + 2 * std::int64_t{offsets[lane]}); };
    // Zero-masked forms throughout: GCC's unmasked ones pass an undefined
    // register along, which it then warns may be uninitialized.
    const auto pair = [&](int lane) {
        return _mm256_insertf128_ps(_mm256_zextps128_ps256(quad(lane)), quad(lane + 4), 1);
    };
    __m512 r[4];
    for (int k = 0; k < 4; ++k) {
        r[k] = _mm512_insertf32x8(_mm512_castps256_ps512(pair(k)), pair(k + 8), 1);
    }
    const __m512 t0 = _mm512_maskz_unpacklo_ps(0xFFFF, r[0], r[1]);
    const __m512 t1 = _mm512_maskz_unpacklo_ps(0xFFFF, r[2], r[3]);
    const __m512 t2 = _mm512_maskz_unpackhi_ps(0xFFFF, r[0], r[1]);
    const __m512 t3 = _mm512_maskz_unpackhi_ps(0xFFFF, r[2], r[3]);
    e0 = reinterpret_cast<F32>(_mm512_maskz_shuffle_ps(0xFFFF, t0, t1, _MM_SHUFFLE(1, 0, 1, 0)));
    e1 = reinterpret_cast<F32>(_mm512_maskz_shuffle_ps(0xFFFF, t0, t1, _MM_SHUFFLE(3, 2, 3, 2)));
    e2 = reinterpret_cast<F32>(_mm512_maskz_shuffle_ps(0xFFFF, t2, t3, _MM_SHUFFLE(1, 0, 1, 0)));
    e3 = reinterpret_cast<F32>(_mm512_maskz_shuffle_ps(0xFFFF, t2, t3, _MM_SHUFFLE(3, 2, 3, 2)));
#else
    for (int lane = 0; lane < Lanes; ++lane) {
        const float* quad = table + 2 * std::int64_t{offsets[lane]};
        e0[lane] = quad[0];
        e1[lane] = quad[1];
        e2[lane] = quad[2];
        e3[lane] = quad[3];
    }
#endif
}

constexpr double TwoToThe52 = 4503599627370496.0;

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

// A lattice value in units of 2^-30, negated: n = m - 2^30, a whole number in
// [-2^30, 2^30). rounded is n rounded to float; rest = n - rounded, exact.
struct Lattice {
    I32 n;
    F32 rounded;
    F32 rest;
};

// The lattice values of the index sums n (wrapping at 32 bits).
VELMORA_LANE_INLINE Lattice LatticeOfSums(U32 n) {
    n ^= n << 13;
    const U32 m = (n * (n * n * 15731u + 789221u) - 771171059u) & 0x7FFFFFFFu;
    Lattice value;
    value.n = reinterpret_cast<I32>(m - 0x40000000u);
    value.rounded = __builtin_convertvector(value.n, F32);
    value.rest = __builtin_convertvector(value.n - __builtin_convertvector(value.rounded, I32), F32);
    return value;
}

// The lattice values of the points dx columns right and dy rows up of the
// points whose index sums are n.
VELMORA_LANE_INLINE Lattice LatticeAt(U32 n, std::int32_t dx, std::int32_t dy) {
    return LatticeOfSums(n + LatticeSum(dx, dy));
}

// float(a + b) for a float a holding a whole number below 2^32 in magnitude:
// the sum of a and b.rounded with its exact error (Knuth's two-sum), plus
// b.rest, rounded once.
VELMORA_LANE_INLINE F32 AddRounded(F32 a, const Lattice& b) {
    const F32 sum = a + b.rounded;
    const F32 bPart = sum - a;
    const F32 error = (a - (sum - bPart)) + (b.rounded - bPart);
    return sum + (error + b.rest);
}

// The first addition of a running sum of SmoothLatticeValues (corners, or
// sides): float(first) + second, exact in 32-bit integers.
VELMORA_LANE_INLINE F32 FirstSum(const Lattice& first, const Lattice& second) {
    return __builtin_convertvector(__builtin_convertvector(first.rounded, I32) + second.n, F32);
}

VELMORA_LANE_INLINE void TwoSum(F32 a, F32 b, F32& sum, F32& error) {
    sum = a + b;
    const F32 bPart = sum - a;
    error = (a - (sum - bPart)) + (b - bPart);
}

// SmoothLatticeValues from its centre and its running sums of corners and
// sides. centre + sides + corners is, in units of 2^-34, 4 cc + 2 sides +
// corners: summed with the exact errors of each addition and rounded once.
VELMORA_LANE_INLINE F32 SmoothedFromSums(const Lattice& cc, F32 corners, F32 sides) {
    F32 partial;
    F32 error1;
    F32 total;
    F32 error2;
    TwoSum(cc.rounded * 4.0f, sides * 2.0f, partial, error1);
    TwoSum(partial, corners, total, error2);
    total = total + ((error1 + error2) + cc.rest * 4.0f);
    // Back from negated units of 2^-34; 0 - x keeps a zero positive.
    return (0.0f - total) * 0x1p-34f;
}

// SmoothLatticeValues of the nine lattice values, named as there: the
// corners and the sides each summed as float(float(float(first) + second) +
// third) + fourth, rounded.
VELMORA_LANE_INLINE F32 Smoothed(const Lattice& pp, const Lattice& mp, const Lattice& pm, const Lattice& mm,
                                 const Lattice& pc, const Lattice& mc, const Lattice& cp, const Lattice& cm,
                                 const Lattice& cc) {
    const F32 corners = AddRounded(AddRounded(FirstSum(pp, mp), pm), mm);
    const F32 sides = AddRounded(AddRounded(FirstSum(pc, mc), cp), cm);
    return SmoothedFromSums(cc, corners, sides);
}

// Calls step(0), step(1), ... step(N - 1), in that order.
template <std::size_t N, typename Step>
VELMORA_LANE_INLINE void EachOf(Step&& step) {
    [&]<std::size_t... k>(std::index_sequence<k...>) { (step(k), ...); }(std::make_index_sequence<N>{});
}

// Smoothed for N points at once, values[k][0 ... 8] pointing at the nine
// lattice values of point k in Smoothed's order. The points' chains of
// dependent additions go step by step side by side, so that the processor
// finds the independent work of all of them together in its window rather
// than one long chain after another.
template <std::size_t N, typename Values>
VELMORA_LANE_INLINE void SmoothedTogether(const Values& values, F32 (&out)[N]) {
    F32 corners[N];
    F32 sides[N];
    EachOf<N>([&](std::size_t k) {
        corners[k] = FirstSum(*values[k][0], *values[k][1]);
        sides[k] = FirstSum(*values[k][4], *values[k][5]);
    });
    EachOf<N>([&](std::size_t k) {
        corners[k] = AddRounded(corners[k], *values[k][2]);
        sides[k] = AddRounded(sides[k], *values[k][6]);
    });
    EachOf<N>([&](std::size_t k) {
        corners[k] = AddRounded(corners[k], *values[k][3]);
        sides[k] = AddRounded(sides[k], *values[k][7]);
    });
    EachOf<N>([&](std::size_t k) { out[k] = SmoothedFromSums(*values[k][8], corners[k], sides[k]); });
}

}  // namespace lanes

}  // namespace velmora
