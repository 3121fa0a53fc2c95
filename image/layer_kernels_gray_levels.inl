// Gray levels: GrayLevel of a row of sums, written to the three bytes of each
// pixel, sixteen pixels at a time.
#pragma once

#include <cstdint>
#include <cstring>

#include "image/lattice_lanes.h"

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

}  // namespace
