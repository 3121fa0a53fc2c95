// RenderMap against the per-pixel definition: the same bytes for every
// parameter set, including the ones where lattice indices wrap, keys round
// when they become floats, and weights or sums overflow.
#include "image/fast_render.h"
#include "image/map_image.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstddef>
#include <limits>
#include <string>
#include <vector>

#include "noise/octave_noise.h"

namespace {

constexpr float Inf = std::numeric_limits<float>::infinity();
const float NaN = std::nanf("");

struct Size {
    int width;
    int height;
};

// Small sizes that still catch a swapped axis, a missed last row or column
// and padding bytes.
constexpr Size SmallSizes[] = {{1, 1}, {1, 37}, {37, 1}, {3, 2}, {13, 11}};

struct Switches {
    int varyFrequency;
    int varyAmplitude;
};

constexpr Switches AllSwitches[] = {{0, 0}, {1, 0}, {0, 1}, {1, 1}};

std::string Describe(const OctaveNoise& noise, Size size) {
    return std::to_string(size.width) + "x" + std::to_string(size.height) + " octaves " +
           std::to_string(noise.octaves) + " frequency " + std::to_string(noise.frequency) + " amplitude " +
           std::to_string(noise.amplitude) + " persistence " + std::to_string(noise.persistence) + " switches " +
           std::to_string(noise.varyFrequency) + std::to_string(noise.varyAmplitude);
}

// Renders size both ways and compares every byte of the pixel memory,
// padding included; reports the first differing pixel.
void ExpectSameAsPerPixel(const OctaveNoise& noise, Size size) {
    SCOPED_TRACE(Describe(noise, size));
    MemorySurface surface;
    std::optional<MapImage> expected = CreateMapImage(surface, size.width, size.height);
    std::optional<MapImage> actual = CreateMapImage(surface, size.width, size.height);
    ASSERT_TRUE(expected && actual);
    RenderMapPerPixel(noise, *expected);
    RenderMap(noise, *actual);
    const auto want = expected->Pixels();
    const auto got = actual->Pixels();
    ASSERT_EQ(want.size(), got.size());
    for (std::size_t i = 0; i < want.size(); ++i) {
        if (want[i] != got[i]) {
            const std::size_t row = i / expected->Stride();
            const std::size_t column = i % expected->Stride() / 3;
            FAIL() << "pixel (" << column << ", " << row << ") byte " << i << ": expected " << int(want[i])
                   << ", got " << int(got[i]) << " (sample " << noise.Sample(float(column), float(row)) << ")";
        }
    }
}

void ExpectSameOnSmallSizes(const OctaveNoise& noise) {
    for (const Size size : SmallSizes) {
        ExpectSameAsPerPixel(noise, size);
    }
}

TEST(RenderMapFast, DefaultsAndSwitchesOnSmallSizes) {
    for (const Switches switches : AllSwitches) {
        OctaveNoise noise;
        noise.varyFrequency = switches.varyFrequency;
        noise.varyAmplitude = switches.varyAmplitude;
        ExpectSameOnSmallSizes(noise);
    }
}

TEST(RenderMapFast, OctaveCounts) {
    for (const int octaves : {0, -3, 1, 12, 200}) {
        for (const Switches switches : AllSwitches) {
            OctaveNoise noise;
            noise.octaves = octaves;
            noise.varyFrequency = switches.varyFrequency;
            noise.varyAmplitude = switches.varyAmplitude;
            ExpectSameAsPerPixel(noise, {3, 2});
            ExpectSameAsPerPixel(noise, {1, 37});
        }
    }
}

// Zero, negative (negative fractions), tiny, whole, where float keys round
// (2^24 and around), where indices wrap (1e9), and where coordinates overflow
// 64 bits, become infinite or are not numbers.
TEST(RenderMapFast, Frequencies) {
    const float frequencies[] = {0.0f,        -0.0f,       -0.015f,      -3.7f,        1e-7f, 1.0f,
                                 1.5f,        8388607.5f,  16777215.0f,  16777216.0f,  16777218.0f,
                                 -16777216.0f, 1e9f,       -1e9f,        1e30f,        Inf,   -Inf,
                                 NaN};
    for (const float frequency : frequencies) {
        for (const Switches switches : AllSwitches) {
            OctaveNoise noise;
            noise.frequency = frequency;
            noise.varyFrequency = switches.varyFrequency;
            noise.varyAmplitude = switches.varyAmplitude;
            ExpectSameOnSmallSizes(noise);
        }
    }
}

TEST(RenderMapFast, AmplitudesAndPersistences) {
    for (const float amplitude : {0.0f, -1.0f, -2.5f, 1e30f, NaN}) {
        for (const Switches switches : AllSwitches) {
            OctaveNoise noise;
            noise.amplitude = amplitude;
            noise.varyFrequency = switches.varyFrequency;
            noise.varyAmplitude = switches.varyAmplitude;
            ExpectSameOnSmallSizes(noise);
        }
    }
    for (const float persistence : {0.0f, 1.0f, -1.0f, 2.0f}) {
        for (const int varyFrequency : {0, 1}) {
            OctaveNoise noise;
            noise.persistence = persistence;
            noise.varyAmplitude = 1;
            noise.varyFrequency = varyFrequency;
            noise.octaves = 12;
            ExpectSameOnSmallSizes(noise);
        }
    }
}

// Larger maps span several tiles of running sums, both down (300 x 100 at
// its own memory size) and across (4100 columns, more than one tile wide).
TEST(RenderMapFast, LargerSizesAndTiles) {
    for (const Size size : {Size{300, 100}, Size{513, 7}, Size{4100, 3}}) {
        for (const Switches switches : AllSwitches) {
            OctaveNoise noise;
            noise.varyFrequency = switches.varyFrequency;
            noise.varyAmplitude = switches.varyAmplitude;
            ExpectSameAsPerPixel(noise, size);
        }
    }
    OctaveNoise fine;
    fine.frequency = 2.7f;  // lattice cells smaller than a pixel
    fine.octaves = 2;
    ExpectSameAsPerPixel(fine, {300, 100});
    OctaveNoise wrapping;
    wrapping.frequency = 1e9f;  // scattered lattice indices
    wrapping.octaves = 1;
    ExpectSameAsPerPixel(wrapping, {513, 7});
}

TEST(RenderMapFast, WorkspaceStaysWithinTheImage) {
    EXPECT_EQ(RenderWorkspaceBytes(0, 5), 0u);
    EXPECT_EQ(RenderWorkspaceBytes(1, 1), RenderMinimumWorkspace);
    EXPECT_EQ(RenderWorkspaceBytes(512, 512), 512u * 3 * 512);
    EXPECT_EQ(RenderWorkspaceBytes(3, 100000), 12u * 100000);
}

}  // namespace
