// The exact fast-forward of the octave sum, one pixel at a time and in vector
// lanes, against the sum taken one octave at a time.
#include "noise/octave_sum.h"

#include "image/layer_kernels.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>

#include "tests/support/every_kernel_level.h"

using namespace velmora;

namespace {

float StepByStep(float sum, double first, double second, std::int64_t count) {
    for (std::int64_t i = 0; i < count; ++i) {
        sum = static_cast<float>(sum + (i % 2 == 0 ? first : second));
    }
    return sum;
}

void ExpectSameBits(float expected, float actual) {
    if (std::isnan(expected)) {
        EXPECT_TRUE(std::isnan(actual)) << actual;
    } else {
        EXPECT_EQ(std::bit_cast<std::uint32_t>(expected), std::bit_cast<std::uint32_t>(actual))
            << expected << " vs " << actual;
    }
}

// RepeatContributions, and the renderer's jumps in vector lanes with one
// kernel level's kernels (repeatRun), against the sum taken one octave at a
// time.
class RepeatRun : public testing::TestWithParam<KernelLevel> {
protected:
    void ExpectMatches(float sum, double first, double second, std::int64_t count) const {
        SCOPED_TRACE(testing::Message() << std::hexfloat << "sum " << sum << " first " << first << " second "
                                        << second << std::defaultfloat << " count " << count);
        const float expected = StepByStep(sum, first, second, count);
        ExpectSameBits(expected, RepeatContributions(sum, first, second, count));
        float lanes = sum;
        const double layer = 1.0;
        KernelsFor(GetParam()).repeatRun(&lanes, &layer, first, second, count, 1);
        ExpectSameBits(expected, lanes);
    }
};

TEST_P(RepeatRun, ConstantContributionsOfEveryScale) {
    std::mt19937_64 random(7);
    std::uniform_real_distribution<double> mantissa(-1.0, 1.0);
    std::uniform_int_distribution<int> exponent(-150, 20);
    std::uniform_int_distribution<std::int64_t> count(0, 20000);
    for (int trial = 0; trial < 400; ++trial) {
        const double c = std::ldexp(mantissa(random), exponent(random));
        const float start = trial % 3 == 0 ? 0.0f : static_cast<float>(std::ldexp(mantissa(random), exponent(random)));
        ExpectMatches(start, c, c, count(random));
    }
}

// Contributions that land exactly halfway between floats: the running sum
// then rounds to even, and the increments depend on the last bit.
TEST_P(RepeatRun, DyadicTiesRoundToEven) {
    std::mt19937_64 random(11);
    std::uniform_int_distribution<int> odd(0, 50);
    std::uniform_int_distribution<int> scale(-30, 10);
    std::uniform_int_distribution<std::int64_t> count(0, 20000);
    for (int trial = 0; trial < 400; ++trial) {
        const int e = scale(random);
        // (2k + 1) halves of the float spacing at 2^e, and sums on both sides of binades.
        const double c = (2 * odd(random) + 1) * std::ldexp(1.0, e - 24);
        const float start = static_cast<float>(std::ldexp(1.0 + odd(random) / 64.0, e + (trial % 5) - 2));
        ExpectMatches(trial % 2 == 0 ? start : -start, trial % 4 < 2 ? c : -c, trial % 4 < 2 ? c : -c,
                      count(random));
    }
    ExpectMatches(1.0f, 0x1p-24, 0x1p-24, 1000);        // exactly half an ulp of 1: stays
    ExpectMatches(1.0f + 0x1p-23f, 0x1p-24, 0x1p-24, 1000);  // odd last bit: rounds up once, then stays
    ExpectMatches(0.0f, 0x1p-150, 0x1p-150, 1000);       // half the smallest subnormal
    ExpectMatches(0.0f, 0x1.8p-149, 0x1.8p-149, 100000);  // subnormal steps
}

// Alternating contributions as a persistence near -1 leaves them: equal and
// opposite, or unequal, around a sum of either sign.
TEST_P(RepeatRun, AlternatingContributions) {
    std::mt19937_64 random(13);
    std::uniform_real_distribution<double> mantissa(-1.0, 1.0);
    std::uniform_int_distribution<int> exponent(-40, 10);
    std::uniform_int_distribution<std::int64_t> count(0, 20000);
    for (int trial = 0; trial < 400; ++trial) {
        const double first = std::ldexp(mantissa(random), exponent(random));
        const double second = trial % 2 == 0 ? -first : std::ldexp(mantissa(random), exponent(random));
        const float start = static_cast<float>(std::ldexp(mantissa(random), exponent(random)));
        ExpectMatches(start, first, second, count(random));
        ExpectMatches(start, first, second, count(random) | 1);  // odd counts end on the first
    }
    ExpectMatches(0.3f, 1.0000001, -1.0, 100001);  // drifts across many units of a coarser binade
}

TEST_P(RepeatRun, NonFiniteAndZeroContributions) {
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::nan("");
    ExpectMatches(1.0f, inf, inf, 5);
    ExpectMatches(1.0f, inf, -inf, 5);  // inf, then NaN
    ExpectMatches(1.0f, nan, nan, 5);
    ExpectMatches(1.0f, 1.0, nan, 6);
    ExpectMatches(0.0f, -0.0, -0.0, 3);
    ExpectMatches(-0.0f, 0.0, -0.0, 4);
    ExpectMatches(-0.0f, -0.0, 0.0, 5);
    ExpectMatches(std::numeric_limits<float>::max(), 1e30, 1e30, 1000);  // overflows on the way
    ExpectMatches(-3.0f, 1e300, 1e300, 2);
}

// Counts the step-by-step sum cannot afford: the sum must settle, and the
// call must return at once.
TEST(RepeatContributions, HugeCountsSaturate) {
    const std::int64_t most = std::numeric_limits<std::int32_t>::max();
    // A constant contribution c grows the sum until c is below half an ulp:
    // between 2^24 c and 2^25 c, and the result is a fixed point.
    const float saturated = RepeatContributions(0.0f, 0.1, 0.1, most);
    EXPECT_GT(saturated, 0x1p24f * 0.1f * 0.99f);
    EXPECT_LT(saturated, 0x1p25f * 0.1f);
    ExpectSameBits(saturated, StepByStep(saturated, 0.1, 0.1, 1000));
    // Growth by a large constant overflows to infinity and stays there.
    EXPECT_EQ(RepeatContributions(0.0f, 1e32, 1e32, most), std::numeric_limits<float>::infinity());
    const float large = RepeatContributions(0.0f, 1e30, 1e30, most);  // saturates just short of it
    ExpectSameBits(large, StepByStep(large, 1e30, 1e30, 1000));
    EXPECT_LT(large, std::numeric_limits<float>::max());
    // Equal and opposite contributions: the sum alternates and the parity of
    // the count picks the phase.
    ExpectSameBits(RepeatContributions(0.5f, 2.0, -2.0, most), StepByStep(0.5f, 2.0, -2.0, 1));
    ExpectSameBits(RepeatContributions(0.5f, 2.0, -2.0, most - 1), 0.5f);
}

VELMORA_FOR_EVERY_KERNEL_LEVEL(RepeatRun);

TEST(SumIsSettled, StaysWhereAnySmallerContributionLeavesTheSum) {
    std::mt19937_64 random(17);
    std::uniform_real_distribution<double> mantissa(-1.0, 1.0);
    std::uniform_int_distribution<int> exponent(-149, 127);
    for (int trial = 0; trial < 2000; ++trial) {
        const float sum = static_cast<float>(std::ldexp(mantissa(random), exponent(random)));
        if (sum == 0.0f) {
            continue;
        }
        const double c = std::ldexp(mantissa(random), std::ilogb(sum) - 20 - trial % 8);
        if (SumIsSettled(sum, c)) {
            for (const double smaller : {c, c / 3, -c, std::nextafter(c, 0.0)}) {
                ExpectSameBits(sum, static_cast<float>(sum + smaller));
            }
        }
    }
    EXPECT_TRUE(SumIsSettled(1.0f, 0x1p-26));
    EXPECT_FALSE(SumIsSettled(1.0f, 0x1p-25));   // half the gap below 1: could round down
    EXPECT_TRUE(SumIsSettled(std::nanf(""), 1.0));
    EXPECT_TRUE(SumIsSettled(std::numeric_limits<float>::infinity(), 1e300));
    EXPECT_FALSE(SumIsSettled(std::numeric_limits<float>::infinity(), std::nan("")));
    EXPECT_TRUE(SumIsSettled(0.0f, -0.0));
    EXPECT_FALSE(SumIsSettled(-0.0f, 0.0));
    EXPECT_FALSE(SumIsSettled(0.0f, 1e-300));  // would become -0 or +0 by the sign of the contribution
}

}  // namespace
