// Kernels held against the scalar definitions, per kernel level, where a
// fault would hide in the lanes: the last, partial group of a row, stores
// that reach past it, and index sums that wrap.
#include "image/layer_kernels.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <vector>

#include "image/map_image.h"
#include "noise/octave_noise.h"
#include "tests/support/every_kernel_level.h"

using namespace velmora;

namespace {

class LayerKernelsAtLevel : public testing::TestWithParam<KernelLevel> {
protected:
    [[nodiscard]] const LayerKernels& LevelKernels() const { return KernelsFor(GetParam()); }
};

// Rows of every length up to three groups of 16, of sums around the gray
// levels' wraps, at the bottom of the range and at its limit (2^31 / 100).
TEST_P(LayerKernelsAtLevel, GrayLevelsFillJustTheirRow) {
    const float samples[] = {0.0f,      -0.0f,   1e-45f,   0.5f,        -1.25f,     2.5f,        2.546875f,
                             2.55078125f, 2.5625f, 2.57421875f, 3.0f,    0.009999f, 21474836.0f, -1.2e7f};
    constexpr std::uint8_t Untouched = 0xA5;
    for (std::int32_t count = 1; count <= 48; ++count) {
        std::vector<float> sums(static_cast<std::size_t>(count));
        for (std::int32_t x = 0; x < count; ++x) {
            sums[static_cast<std::size_t>(x)] = samples[(x * 5 + count) % std::size(samples)];
        }
        std::vector<std::uint8_t> out(3 * static_cast<std::size_t>(count) + 8, Untouched);
        ASSERT_TRUE(LevelKernels().writeSmallGrayLevels(sums.data(), out.data(), count));
        for (std::int32_t x = 0; x < count; ++x) {
            const std::uint8_t gray = GrayLevel(sums[static_cast<std::size_t>(x)]);
            for (int byte = 0; byte < 3; ++byte) {
                ASSERT_EQ(out[3 * static_cast<std::size_t>(x) + byte], gray)
                    << "pixel " << x << " of " << count << ", sum " << sums[static_cast<std::size_t>(x)];
            }
        }
        for (std::size_t after = 3 * static_cast<std::size_t>(count); after < out.size(); ++after) {
            ASSERT_EQ(out[after], Untouched) << "byte " << after << " past a row of " << count;
        }
    }
    // One sum past the limit: the caller's scalar loop takes the row.
    std::vector<float> large(20, 1.0f);
    large[17] = 21474838.0f;
    std::vector<std::uint8_t> out(60, Untouched);
    EXPECT_FALSE(LevelKernels().writeSmallGrayLevels(large.data(), out.data(), 20));
    EXPECT_EQ(out, std::vector<std::uint8_t>(60, Untouched));
}

// SmoothedValue at the point with index sum n, as SmoothedValue reads it.
float SmoothedAtSum(std::uint32_t n) {
    const auto at = [n](std::int32_t dx, std::int32_t dy) { return LatticeHashOfSum(n + LatticeSum(dx, dy)); };
    return SmoothLatticeValues(at(1, 1), at(-1, 1), at(1, -1), at(-1, -1), at(1, 0), at(-1, 0), at(0, 1), at(0, -1),
                               at(0, 0));
}

// Steps forward, backward (negative frequencies) and by powers of two, runs
// that wrap past 2^32, and lengths with a partial last group.
TEST_P(LayerKernelsAtLevel, StridedSumsAreTheSmoothedValuesOfTheirPoints) {
    for (const std::uint32_t step : {1u, 2u, 57u, 1000u, 0xFFFFFFF0u, 1u << 20}) {
        for (const std::uint32_t first : {0u, 12345u, 0xFFFFFF00u}) {
            const std::int32_t count = 37;
            std::vector<float> out(static_cast<std::size_t>(count));
            LevelKernels().smoothStridedSums(first, step, out.data(), count);
            for (std::int32_t i = 0; i < count; ++i) {
                const float expected = SmoothedAtSum(first + step * static_cast<std::uint32_t>(i));
                ASSERT_EQ(std::bit_cast<std::uint32_t>(out[static_cast<std::size_t>(i)]),
                          std::bit_cast<std::uint32_t>(expected))
                    << "step " << step << ", first " << first << ", entry " << i;
            }
        }
    }
}

// Pairs across a block's end (455 pairs a block) and past 2^32, then cells
// from their quads against the same cells from single values, rows that
// blend and rows that do not, with a partial last group.
TEST_P(LayerKernelsAtLevel, QuadsFromPairsBlendAsSingleValues) {
    for (const std::uint32_t first : {7u, 0xFFFFFE00u}) {
        const std::int32_t entries = 1000;
        std::vector<float> pairs(2 * static_cast<std::size_t>(entries));
        LevelKernels().smoothSumPairs(first, pairs.data(), entries);
        for (std::int32_t i = 0; i < entries; ++i) {
            for (const std::uint32_t up : {0u, 1u}) {
                const float expected = SmoothedAtSum(first + static_cast<std::uint32_t>(i) + up * LatticeRowSum);
                ASSERT_EQ(std::bit_cast<std::uint32_t>(pairs[2 * static_cast<std::size_t>(i) + up]),
                          std::bit_cast<std::uint32_t>(expected))
                    << "first " << first << ", pair " << i << ", " << up;
            }
        }
        std::vector<float> single(static_cast<std::size_t>(entries) + LatticeRowSum);
        LevelKernels().smoothSums(first, single.data(), static_cast<std::int32_t>(single.size()));
        const std::int32_t count = 45;
        std::vector<std::int32_t> column0(count);
        std::vector<std::int32_t> column1(count);
        std::vector<double> weight0(count);
        std::vector<double> weight1(count);
        for (std::int32_t x = 0; x < count; ++x) {
            column0[static_cast<std::size_t>(x)] = (x * 163) / 10;  // frequency 16.3
            column1[static_cast<std::size_t>(x)] = column0[static_cast<std::size_t>(x)] + 1;
            const float fraction = static_cast<float>((x * 163) % 10) / 10.0f;
            weight1[static_cast<std::size_t>(x)] = BlendWeight(fraction, fraction);
            weight0[static_cast<std::size_t>(x)] = 1.0 - weight1[static_cast<std::size_t>(x)];
        }
        for (const double rowWeight1 : {0.0, 0.375}) {
            std::vector<double> fromQuads(count);
            std::vector<double> fromSingles(count);
            LevelKernels().blendCellQuads(pairs.data(), column0.data(), weight0.data(), weight1.data(),
                                          1.0 - rowWeight1, rowWeight1, fromQuads.data(), count);
            LevelKernels().blendCells(single.data(), single.data() + LatticeRowSum, column0.data(), column1.data(),
                                      weight0.data(), weight1.data(), CellColumns::Adjacent, 1.0 - rowWeight1,
                                      rowWeight1, fromSingles.data(), count);
            EXPECT_EQ(fromQuads, fromSingles) << "first " << first << ", row weight " << rowWeight1;
        }
    }
}

VELMORA_FOR_EVERY_KERNEL_LEVEL(LayerKernelsAtLevel);

}  // namespace
