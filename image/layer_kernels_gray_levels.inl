// Gray levels: GrayLevel of a row of sums, written to the three bytes of each
// pixel, sixteen pixels at a time. Where lanes shift by counts of their own,
// the level comes from the sum's bits in whole numbers; elsewhere through
// double lanes. Where bytes shuffle, sixteen pixels go out as three stores of
// sixteen bytes; elsewhere each pixel as one store of four bytes, the fourth
// of which the next pixel's store overwrites.
#pragma once

#include <cstdint>
#include <cstring>

#include "image/lattice_lanes.h"

namespace velmora {

namespace {

using namespace lanes;

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

using I32x16 = std::int32_t __attribute__((vector_size(64)));
using F32x16 = float __attribute__((vector_size(64)));
using F64x16 = double __attribute__((vector_size(128)));

// The low bytes of trunc(|s| * 100) of 16 sums below 2^31 / 100 in
// magnitude, one to a 32-bit lane: the truncation then fits 32 bits, and its
// low byte is the low byte of the 64-bit truncation.
VELMORA_LANE_INLINE U32x16 LowBytesOfScaled(const float* sums) {
    const U32x16 bits = Load<U32x16>(sums) & 0x7FFFFFFFu;
    U32x16 truncated;
    if constexpr (LaneShifts) {
        // |s| * 100 is exactly 100 m 2^(e - 150), m the 24-bit significand
        // with its leading bit and e the biased exponent; 100 m < 2^31. The
        // truncation shifts it right by 150 - e (31 at most, which leaves 0,
        // as for subnormals and zeros), or left by e - 150 (1 at most below
        // 2^31 / 100).
        const U32x16 scaled = ((bits & 0x7FFFFFu) | 0x800000u) * 100u;
        const I32x16 exponent = reinterpret_cast<I32x16>(bits >> 23);
        const I32x16 right = 150 - exponent;
        const I32x16 left = exponent - 150;
        const I32x16 rightAtMost31 = right > 31 ? 31 : right;
        const auto rightCount = reinterpret_cast<U32x16>(rightAtMost31 < 0 ? 0 : rightAtMost31);
        const auto leftCount = reinterpret_cast<U32x16>(left < 0 ? 0 : left);
        truncated = (scaled >> rightCount) << leftCount;
    } else {
        const F64x16 scaled = __builtin_convertvector(reinterpret_cast<F32x16>(bits), F64x16) * 100.0;
        truncated = reinterpret_cast<U32x16>(__builtin_convertvector(scaled, I32x16));
    }
    return truncated & 0xFFu;
}

// (k & 0xFF) % 255: a low byte of 255 becomes 0. On bytes, one comparison of
// a 16-byte register. On 32-bit lanes, (low + 1) >> 8 is 1 just there, and 1
// less than it masks the byte: shifts rather than a comparison, which the
// compiler does lane by lane on vectors wider than the processor's.
VELMORA_LANE_INLINE U8x16 Modulo255(U8x16 low) {
    return low & reinterpret_cast<U8x16>(low != 255);
}

VELMORA_LANE_INLINE U32x16 Modulo255(U32x16 low) {
    return low & (((low + 1u) >> 8) - 1u);
}

// The gray levels of sixteen pixels whose low bytes are low, to the 48
// bytes at out; with overlap, four more bytes may be written past them,
// which the pixel after them writes again.
VELMORA_LANE_INLINE void PutGrayLevels(U32x16 low, std::uint8_t* out) {
    if constexpr (ByteShuffles) {
        const U8x16 gray = Modulo255(LowBytes(low));
        Store(out, __builtin_shufflevector(gray, gray, 0, 0, 0, 1, 1, 1, 2, 2, 2, 3, 3, 3, 4, 4, 4, 5));
        Store(out + 16, __builtin_shufflevector(gray, gray, 5, 5, 6, 6, 6, 7, 7, 7, 8, 8, 8, 9, 9, 9, 10, 10));
        Store(out + 32,
              __builtin_shufflevector(gray, gray, 10, 11, 11, 11, 12, 12, 12, 13, 13, 13, 14, 14, 14, 15, 15, 15));
    } else {
        // The level in all four bytes, so that the store is right in either
        // byte order.
        const U32x16 words = Modulo255(low) * 0x01010101u;
        for (int i = 0; i < 16; ++i) {
            const std::uint32_t word = words[i];
            std::memcpy(out + 3 * i, &word, sizeof word);
        }
    }
}

bool WriteSmallGrayLevels(const float* sums, std::uint8_t* __restrict out, std::int32_t count) {
    if (!SumsAreSmall(sums, count)) {
        return false;
    }
    std::int32_t x = 0;
    // Full groups with a pixel after them, so that a store past a group
    // lands on that pixel, never past the row.
    for (; x + 16 < count; x += 16) {
        PutGrayLevels(LowBytesOfScaled(sums + x), out + 3 * x);
    }
    alignas(64) float rest[16] = {};
    std::memcpy(rest, sums + x, static_cast<std::size_t>(count - x) * sizeof(float));
    const U32x16 gray = Modulo255(LowBytesOfScaled(rest));
    for (std::int32_t i = 0; i < count - x; ++i) {
        const auto level = static_cast<std::uint8_t>(gray[i]);
        out[3 * (x + i)] = level;
        out[3 * (x + i) + 1] = level;
        out[3 * (x + i) + 2] = level;
    }
    return true;
}

}  // namespace

}  // namespace velmora
