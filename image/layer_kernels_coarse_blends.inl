// Coarse blends: cells of several pixels, whose blends along x are computed
// once per lattice row and shared by the pixel rows in it. Blends along x of
// every column, blends along y of a row, and the blend along y fused with the
// octaves of a short run.
#pragma once

#include <cstdint>

#include "image/lattice_lanes.h"

namespace velmora {

namespace {

using namespace lanes;

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

}  // namespace

}  // namespace velmora
