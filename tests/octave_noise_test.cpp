#include "noise/octave_noise.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <limits>

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

}  // namespace
