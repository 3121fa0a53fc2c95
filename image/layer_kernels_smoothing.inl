// Smoothing: SmoothedValue of many lattice points, from tables of lattice
// hashes (rows of consecutive columns, or listed columns) or straight from
// runs of index sums, hashed once each in vector lanes.
#pragma once

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

void SmoothSums(std::uint32_t first, float* out, std::int32_t count) {
    static_assert(SumBlock % Lanes == 0);
    constexpr std::int32_t Hashed = SumBlock + 2 * SmoothingReach + Lanes;
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
        // Through the neighbours of the last full vector of centres, so that
        // every lane reads a hashed sum.
        const std::int32_t centres = (block + Lanes - 1) / Lanes * Lanes;
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
        for (std::int32_t i = 0; i < block; i += Lanes) {
            const F32 smoothed = Smoothed(at(i, 1, 1), at(i, -1, 1), at(i, 1, -1), at(i, -1, -1), at(i, 1, 0),
                                          at(i, -1, 0), at(i, 0, 1), at(i, 0, -1), at(i, 0, 0));
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
