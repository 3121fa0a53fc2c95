// Smoothing: SmoothedValue of many lattice points, from tables of lattice
// hashes (rows of consecutive columns, or listed columns) or straight from
// runs of index sums, hashed once each in vector lanes.
#pragma once

#include <cstddef>
#include <cstdint>

#include "image/lattice_lanes.h"
#include "noise/octave_noise.h"

namespace velmora {

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

// The nine neighbours of a point lie within this many index sums of its own.
constexpr std::int32_t SmoothingReach = static_cast<std::int32_t>(LatticeSum(1, 1));

// Sums are hashed in blocks of this many, plus the reach on either side that
// the smoothing reads.
constexpr std::int32_t SumBlock = 512;

// Vectors of centres smoothed side by side.
constexpr std::size_t SmoothedTogetherCount = 4;

void SmoothSums(std::uint32_t first, float* out, std::int32_t count) {
    constexpr std::int32_t Step = SmoothedTogetherCount * Lanes;
    static_assert(SumBlock % Step == 0);
    constexpr std::int32_t Hashed = SumBlock + 2 * SmoothingReach + Step;
    alignas(64) std::int32_t n[Hashed];
    alignas(64) float rounded[Hashed];
    alignas(64) float rest[Hashed];
    for (std::int32_t start = 0; start < count; start += SumBlock) {
        const std::int32_t block = count - start < SumBlock ? count - start : SumBlock;
        const std::uint32_t base = first + static_cast<std::uint32_t>(start) - static_cast<std::uint32_t>(SmoothingReach);
        U32 sums;
        for (int lane = 0; lane < Lanes; ++lane) {
            sums[lane] = base + static_cast<std::uint32_t>(lane);
        }
        // Through the neighbours of the last full step of centres, so that
        // every lane reads a hashed sum.
        const std::int32_t centres = (block + Step - 1) / Step * Step;
        for (std::int32_t i = 0; i < centres + 2 * SmoothingReach; i += Lanes) {
            const Lattice value = LatticeOfSums(sums);
            Store(n + i, value.n);
            Store(rounded + i, value.rounded);
            Store(rest + i, value.rest);
            sums += static_cast<std::uint32_t>(Lanes);
        }
        // The hashed sums dx columns right and dy rows up of the centres from i on.
        const auto at = [&](std::int32_t i, std::int32_t dx, std::int32_t dy) {
            const std::int32_t k = SmoothingReach + i + static_cast<std::int32_t>(LatticeSum(dx, dy));
            return Lattice{Load<I32>(n + k), Load<F32>(rounded + k), Load<F32>(rest + k)};
        };
        constexpr std::size_t Together = SmoothedTogetherCount;
        for (std::int32_t i = 0; i < block; i += Step) {
            Lattice around[Together][9];
            const Lattice* values[Together][9];
            EachOf<Together>([&](std::size_t k) {
                const std::int32_t at0 = i + static_cast<std::int32_t>(k) * Lanes;
                const std::int32_t dx[9] = {1, -1, 1, -1, 1, -1, 0, 0, 0};
                const std::int32_t dy[9] = {1, 1, -1, -1, 0, 0, 1, -1, 0};
                for (int j = 0; j < 9; ++j) {
                    around[k][j] = at(at0, dx[j], dy[j]);
                    values[k][j] = &around[k][j];
                }
            });
            F32 smoothed[Together];
            SmoothedTogether<Together>(values, smoothed);
            for (std::size_t k = 0; k < Together; ++k) {
                const std::int32_t at0 = i + static_cast<std::int32_t>(k) * Lanes;
                if (block - at0 >= Lanes) {
                    Store(out + start + at0, smoothed[k]);
                } else {
                    for (std::int32_t lane = 0; lane < block - at0; ++lane) {
                        out[start + at0 + lane] = smoothed[k][lane];
                    }
                }
            }
        }
    }
}

// SmoothSums as pairs: out[2 i] is the smoothed value of first + i and
// out[2 i + 1] that of first + i + 57, the point a lattice row up. Each block
// is smoothed once, with the row above its last sum, and then interleaved.
void SmoothSumPairs(std::uint32_t first, float* out, std::int32_t count) {
    constexpr std::int32_t Pairs = SumBlock - static_cast<std::int32_t>(LatticeRowSum);
    alignas(64) float smoothed[SumBlock];
    for (std::int32_t start = 0; start < count; start += Pairs) {
        const std::int32_t pairs = count - start < Pairs ? count - start : Pairs;
        SmoothSums(first + static_cast<std::uint32_t>(start), smoothed,
                   pairs + static_cast<std::int32_t>(LatticeRowSum));
        float* to = out + 2 * std::int64_t{start};
        for (std::int32_t j = 0; j < pairs; ++j) {
            to[2 * j] = smoothed[j];
            to[2 * j + 1] = smoothed[j + LatticeRowSum];
        }
    }
}

// SmoothedValue around the index sums n, from their nine lattice values.
VELMORA_LANE_INLINE F32 SmoothedAround(U32 n) {
    return Smoothed(LatticeAt(n, 1, 1), LatticeAt(n, -1, 1), LatticeAt(n, 1, -1), LatticeAt(n, -1, -1),
                    LatticeAt(n, 1, 0), LatticeAt(n, -1, 0), LatticeAt(n, 0, 1), LatticeAt(n, 0, -1),
                    LatticeAt(n, 0, 0));
}

void SmoothStridedSums(std::uint32_t first, std::uint32_t step, float* out, std::int32_t count) {
    if (step == 1) {
        SmoothSums(first, out, count);  // neighbours shared: each sum hashed once
        return;
    }
    U32 lanes;
    for (int lane = 0; lane < Lanes; ++lane) {
        lanes[lane] = static_cast<std::uint32_t>(lane);
    }
    for (std::int32_t i = 0; i < count; i += Lanes) {
        const F32 smoothed = SmoothedAround(first + step * (lanes + static_cast<std::uint32_t>(i)));
        if (count - i >= Lanes) {
            Store(out + i, smoothed);
        } else {
            for (std::int32_t lane = 0; lane < count - i; ++lane) {
                out[i + lane] = smoothed[lane];
            }
        }
    }
}

}  // namespace

}  // namespace velmora
