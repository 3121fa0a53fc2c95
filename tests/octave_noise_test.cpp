#include "noise/octave_noise.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <initializer_list>
#include <limits>
#include <random>

using namespace velmora;

namespace {

TEST(LatticeIndex, TruncatesTowardZeroAndKeepsLow32Bits) {
    EXPECT_EQ(LatticeIndex(-0.5), 0);
    EXPECT_EQ(LatticeIndex(-1.5), -1);
    EXPECT_EQ(LatticeIndex(2.999), 2);
    EXPECT_EQ(LatticeIndex(4294967296.0 + 5.0), 5);            // 2^32 + 5 wraps
    EXPECT_EQ(LatticeIndex(2147483648.0), -2147483647 - 1);     // 2^31 wraps to INT32_MIN
    EXPECT_EQ(LatticeIndex(-4294967297.0), -1);
    EXPECT_EQ(LatticeIndex(9223372036854774784.0), -1024);  // 2^63 - 1024: low 32 bits 0xFFFFFC00
}

TEST(LatticeIndex, NonFiniteAndHugeGiveZero) {
    const double inf = std::numeric_limits<double>::infinity();
    EXPECT_EQ(LatticeIndex(std::nan("")), 0);
    EXPECT_EQ(LatticeIndex(inf), 0);
    EXPECT_EQ(LatticeIndex(-inf), 0);
    EXPECT_EQ(LatticeIndex(9223372036854775808.0), 0);   // 2^63
    EXPECT_EQ(LatticeIndex(-9223372036854775808.0), 0);  // -2^63
    EXPECT_EQ(LatticeIndex(1e300), 0);
}

TEST(LatticeIndex, NextWrapsAtTheTop) {
    EXPECT_EQ(NextLatticeIndex(2147483647), -2147483647 - 1);
    EXPECT_EQ(NextLatticeIndex(-1), 0);
}

TEST(OctaveNoise, DefaultsAndReset) {
    OctaveNoise noise;
    noise.persistence = 9;
    noise.octaves = -1;
    noise.frequency = 2;
    noise.amplitude = 0;
    noise.varyFrequency = 1;
    noise.varyAmplitude = 1;
    noise.Reset();
    EXPECT_EQ(noise.persistence, 0.25f);
    EXPECT_EQ(noise.octaves, 4);
    EXPECT_EQ(std::bit_cast<std::uint32_t>(noise.frequency), 0x3C75C28Fu);
    EXPECT_EQ(noise.amplitude, 1.0f);
    EXPECT_EQ(noise.varyFrequency, 0);
    EXPECT_EQ(noise.varyAmplitude, 0);
}

TEST(OctaveNoise, LatticeValueWorkedValues) {
    const OctaveNoise noise;
    EXPECT_EQ(noise.LatticeValue(0, 0), -0.2817909838631749);
    EXPECT_EQ(noise.LatticeValue(0, 0), 1.0 - 1376312589.0 / 1073741824.0);
    EXPECT_EQ(noise.LatticeValue(1, 0), -0.2263730512931943);
    EXPECT_EQ(noise.LatticeValue(0, 1), 0.20434398483484983);
    EXPECT_EQ(noise.LatticeValue(-1, 0), 0.9001262886449695);
    EXPECT_EQ(noise.LatticeValue(5, 7), -0.05007557664066553);
}

TEST(OctaveNoise, LatticeValueStaysInHalfOpenRangeAtExtremeIndices) {
    const OctaveNoise noise;
    const std::int32_t edges[] = {std::numeric_limits<std::int32_t>::min(), -57, -1, 0, 1, 57, 12345,
                                  std::numeric_limits<std::int32_t>::max()};
    for (std::int32_t x : edges) {
        for (std::int32_t y : edges) {
            const double v = noise.LatticeValue(x, y);
            EXPECT_GT(v, -1.0) << x << "," << y;
            EXPECT_LE(v, 1.0) << x << "," << y;
        }
    }
}

TEST(OctaveNoise, BlendEndsExactlyOnItsInputs) {
    const OctaveNoise noise;
    EXPECT_EQ(noise.Blend(0.3f, -0.7f, 0.0f), static_cast<double>(0.3f));
    EXPECT_EQ(noise.Blend(0.3f, -0.7f, 1.0f), static_cast<double>(-0.7f));
    // Negative fractions are blended unchanged, not clamped.
    EXPECT_NE(noise.Blend(0.3f, -0.7f, -0.25f), static_cast<double>(0.3f));
}

TEST(OctaveNoise, SampleAtOriginIsOctavesTimesSmoothedValue) {
    OctaveNoise noise;
    const float smoothed = noise.SmoothedValue(0, 0);
    for (int octaves : {1, 2, 4, 7}) {
        noise.octaves = octaves;
        noise.amplitude = 1.5f;
        float expected = 0;
        for (int i = 0; i < octaves; ++i) {
            expected = static_cast<float>(expected + static_cast<double>(smoothed) * 1.5f);
        }
        EXPECT_EQ(noise.Sample(0, 0), expected) << octaves;
    }
}

// Worked samples of the default parameters and of each switch setting.
TEST(OctaveNoise, SampleWorkedValues) {
    struct Case {
        int varyFrequency, varyAmplitude;
        float x, y, expected;
    };
    const Case cases[] = {
        {0, 0, 0, 0, 0.0297193006f},     {0, 0, 10, 20, 0.113600023f},
        {0, 0, 100, 50, -0.577938378f},  {0, 0, 511, 511, 0.467862099f},
        {1, 0, 10, 20, -0.184359312f},   {1, 0, 100, 50, 0.158776909f},
        {0, 1, 100, 50, -0.0479733981f}, {1, 1, 100, 50, -0.0580068007f},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.varyFrequency << c.varyAmplitude << " at " << c.x << "," << c.y);
        OctaveNoise noise;
        noise.varyFrequency = c.varyFrequency;
        noise.varyAmplitude = c.varyAmplitude;
        EXPECT_EQ(noise.Sample(c.x, c.y), c.expected);
        EXPECT_EQ(noise.Sample(c.x, c.y), noise.Sample(c.x, c.y));  // no state between calls
    }
}

TEST(OctaveNoise, DegenerateParameters) {
    OctaveNoise noise;
    for (int octaves : {0, -1, std::numeric_limits<std::int32_t>::min()}) {
        noise.octaves = octaves;
        EXPECT_EQ(noise.Sample(10, 20), 0.0f);
        EXPECT_EQ(noise.Sample(-3, 7), 0.0f);
    }
    noise.Reset();
    noise.frequency = 0;
    EXPECT_EQ(noise.Sample(10, 20), noise.Sample(0, 0));
    EXPECT_EQ(noise.Sample(511, 3), noise.Sample(0, 0));

    // Negative frequency, NaN and infinity stay deterministic and never trap.
    for (float frequency : {-0.015f, std::numeric_limits<float>::infinity(), std::nanf(""), 1e30f}) {
        noise.frequency = frequency;
        const float a = noise.Sample(37, 11);
        const float b = noise.Sample(37, 11);
        EXPECT_EQ(std::bit_cast<std::uint32_t>(a), std::bit_cast<std::uint32_t>(b)) << frequency;
    }
}

__extension__ typedef unsigned __int128 Uint128;

// The double nearest to the exact product of factors, ties to even, worked
// out on integer significands so that no floating-point unit is involved.
// The factors' significands together must fit 127 bits.
double NearestProduct(std::initializer_list<double> factors, bool& tie) {
    Uint128 product = 1;
    int exponent = 0;
    bool negative = false;
    for (const double factor : factors) {
        if (factor == 0.0) {
            return 0.0;
        }
        int e = 0;
        auto significand = static_cast<std::uint64_t>(std::ldexp(std::frexp(std::fabs(factor), &e), 53));
        exponent += e - 53;
        while ((significand & 1) == 0) {
            significand >>= 1;
            ++exponent;
        }
        product *= significand;
        negative ^= factor < 0.0;
    }
    int bits = 0;
    for (Uint128 p = product; p != 0; p >>= 1) {
        ++bits;
    }
    tie = false;
    if (bits > 53) {
        const int shift = bits - 53;
        const Uint128 rest = product & ((static_cast<Uint128>(1) << shift) - 1);
        const Uint128 half = static_cast<Uint128>(1) << (shift - 1);
        product >>= shift;
        exponent += shift;
        tie = rest == half;
        if (rest > half || (tie && (product & 1) != 0)) {
            ++product;
        }
    }
    const double magnitude = std::ldexp(static_cast<double>(static_cast<std::uint64_t>(product)), exponent);
    return negative ? -magnitude : magnitude;
}

// Both weights that Blend takes, for fractions t over every binade of finite
// floats and for ones that make exact ties: 2^-27 (the square of 1 - t lies
// halfway between two doubles) and 0x1.96608p-1 (so does its cube).
TEST(BlendWeight, SquaresAndCubesAreCorrectlyRounded) {
    std::mt19937 random(20261208);
    std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
    int ties = 0;
    const auto check = [&ties](double s, float c) {
        bool squareTie = false;
        bool cubeTie = false;
        const double square = NearestProduct({s, s}, squareTie);
        const double cube = NearestProduct({c, c, c}, cubeTie);
        ties += squareTie + cubeTie;
        ASSERT_EQ(std::bit_cast<std::uint64_t>(BlendWeight(s, c)),
                  std::bit_cast<std::uint64_t>(3.0 * square - 2.0 * cube))
            << "s " << std::hexfloat << s << ", c " << c;
    };
    for (int i = 0; i < 3000000; ++i) {
        float t = 0.0f;
        switch (i % 3) {
            case 0: t = unit(random); break;
            case 1: t = std::bit_cast<float>(static_cast<std::uint32_t>(random())); break;
            default: t = std::ldexp(static_cast<float>(2 * (random() % 8388608) + 1), -27 - int(random() % 4)); break;
        }
        if (!std::isfinite(t)) {
            continue;
        }
        const double u = 1.0 - static_cast<double>(t);
        check(u, static_cast<float>(u));
        check(t, t);
        if (HasFailure()) {
            return;
        }
    }
    for (const float t : {0x1p-27f, -0x1p-27f, 0x1.96608p-1f, -0x1.96608p-1f, 0x1.96618p-1f}) {
        check(1.0 - static_cast<double>(t), static_cast<float>(1.0 - static_cast<double>(t)));
        check(t, t);
    }
    EXPECT_GT(ties, 1000);
}

}  // namespace
