// RenderMap against the per-pixel definition: the same bytes for every
// parameter set, including the ones where lattice indices wrap, keys round
// when they become floats, and weights or sums overflow.
#include "image/map_image.h"

#include "image/layer_kernels.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <limits>
#include <string>
#include <vector>

#include "image/render_map.h"
#include "noise/octave_noise.h"
#include "tests/support/every_kernel_level.h"

using namespace velmora;

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

// The first byte where two renders of size differ, as a failure message;
// empty when they agree.
std::string FirstDifference(const OctaveNoise& noise, const MapImage& want, const MapImage& got) {
    const auto expected = want.Pixels();
    const auto actual = got.Pixels();
    for (std::size_t i = 0; i < expected.size(); ++i) {
        if (expected[i] != actual[i]) {
            const std::size_t row = i / want.Stride();
            const std::size_t column = i % want.Stride() / 3;
            return "pixel (" + std::to_string(column) + ", " + std::to_string(row) + ") byte " + std::to_string(i) +
                   ": expected " + std::to_string(int(expected[i])) + ", got " + std::to_string(int(actual[i])) +
                   " (sample " + std::to_string(noise.Sample(float(column), float(row))) + ")";
        }
    }
    return {};
}

// The renderer with one kernel level's kernels against the definition.
class RenderMapFast : public testing::TestWithParam<KernelLevel> {
protected:
    // Renders size by the definition, then with the level's kernels on 1, 2,
    // 3 and 7 threads, and compares every byte of the pixel memory, padding
    // included; reports the first differing pixel.
    void ExpectSameAsPerPixel(const OctaveNoise& noise, Size size) const {
        SCOPED_TRACE(Describe(noise, size));
        MemorySurface surface;
        std::optional<MapImage> expected = CreateMapImage(surface, size.width, size.height);
        std::optional<MapImage> actual = CreateMapImage(surface, size.width, size.height);
        ASSERT_TRUE(expected && actual);
        RenderMapPerPixel(noise, *expected);
        for (const unsigned threads : {1u, 2u, 3u, 7u}) {
            RenderControl control;
            control.threads = threads;
            ASSERT_EQ(RenderMap(noise, *actual, control, KernelsFor(GetParam())), RenderStatus::Complete);
            const std::string difference = FirstDifference(noise, *expected, *actual);
            ASSERT_TRUE(difference.empty()) << threads << " threads: " << difference;
        }
    }

    void ExpectSameOnSmallSizes(const OctaveNoise& noise) const {
        for (const Size size : SmallSizes) {
            ExpectSameAsPerPixel(noise, size);
        }
    }
};

TEST_P(RenderMapFast, DefaultsAndSwitchesOnSmallSizes) {
    for (const Switches switches : AllSwitches) {
        OctaveNoise noise;
        noise.varyFrequency = switches.varyFrequency;
        noise.varyAmplitude = switches.varyAmplitude;
        ExpectSameOnSmallSizes(noise);
    }
}

TEST_P(RenderMapFast, OctaveCounts) {
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
TEST_P(RenderMapFast, Frequencies) {
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

TEST_P(RenderMapFast, AmplitudesAndPersistences) {
    // 2.1e7 and 3e7: gray levels of sums just below and around 2^31 / 100,
    // where the truncated sum times 100 stops fitting 32 bits.
    for (const float amplitude : {0.0f, -1.0f, -2.5f, 2.1e7f, 3e7f, 1e30f, NaN}) {
        for (const Switches switches : AllSwitches) {
            OctaveNoise noise;
            noise.amplitude = amplitude;
            noise.varyFrequency = switches.varyFrequency;
            noise.varyAmplitude = switches.varyAmplitude;
            ExpectSameOnSmallSizes(noise);
        }
    }
    // One octave of amplitude 4e8: in the first rows |s| * 100 reaches past
    // 2^31 but not 2^32 (the layer stays below 0.1 there).
    OctaveNoise wide;
    wide.octaves = 1;
    wide.amplitude = 4e8f;
    ExpectSameOnSmallSizes(wide);
    ExpectSameAsPerPixel(wide, {300, 100});
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
TEST_P(RenderMapFast, LargerSizesAndTiles) {
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

// Smoothed values come from a table by index sum x + 57 y where it is small
// enough next to the tile's pixels. Around frequency 1 rows switch between
// sharing the blends along x and blending each cell from the table; at
// 300 x 100 the table gives way to the hashes between 31 and 32 (whole
// numbers) and between 40.5 and 41.5.
TEST_P(RenderMapFast, SmoothedValuesByIndexSum) {
    for (const float frequency : {0.7f, 1.0f, 1.4f, 1.5f, 1.6f, 2.0f, -1.5f, -0.45f, 31.0f, 32.0f, 40.5f, 41.5f}) {
        OctaveNoise noise;
        noise.frequency = frequency;
        noise.octaves = 1;
        ExpectSameAsPerPixel(noise, {300, 100});
    }
    // Layers on either side of the switches in one sum, with runs of equal
    // frequency at the end (frequency overflowing to infinity).
    for (const float frequency : {0.3f, -0.3f, 1e36f}) {
        OctaveNoise noise;
        noise.frequency = frequency;
        noise.octaves = 4;
        noise.varyFrequency = 1;
        noise.varyAmplitude = 1;
        ExpectSameAsPerPixel(noise, {300, 100});
    }
    // One column, rows sharing blends, index sums too spread for a table of
    // smoothed values: from a table of hashes, and from the hashes.
    OctaveNoise tall;
    tall.frequency = 0.5f;
    tall.octaves = 1;
    ExpectSameAsPerPixel(tall, {1, 10000});
    ExpectSameAsPerPixel(tall, {1, 100000});
    // Three tiles down: the first layer's column terms are kept for the
    // tiles below, the other layers' are computed per tile.
    OctaveNoise kept;
    kept.frequency = 0.05f;
    kept.varyFrequency = 1;
    ExpectSameAsPerPixel(kept, {160, 200});
    kept.frequency = 0.5f;
    ExpectSameAsPerPixel(kept, {160, 200});
}

// Whole-number frequencies, where each pixel takes the smoothed value at its
// own lattice point: small and negative ones, a power of two whose index
// sums wrap at 32 bits, one whose indices wrap too (its fractions are then
// not 0), and a doubling run that leaves exact floats on the way.
TEST_P(RenderMapFast, WholeFrequenciesTakeTheirLatticePoints) {
    for (const float frequency : {1.0f, 3.0f, -7.0f, 1e5f, 1048576.0f, 16777216.0f}) {
        OctaveNoise noise;
        noise.frequency = frequency;
        noise.octaves = 1;
        ExpectSameAsPerPixel(noise, {300, 100});
    }
    OctaveNoise doubling;
    doubling.frequency = 1.0f;
    doubling.octaves = 40;
    doubling.varyFrequency = 1;
    doubling.varyAmplitude = 1;
    ExpectSameAsPerPixel(doubling, {203, 157});
}

// Lattice cells far smaller than a pixel, where every pixel's cell comes
// straight from the hash (and from 2^23 on lattice coordinates are whole, so
// its fractions are 0); odd sizes, so that vector groups and the rows where
// threads' work meets fall inside lattice cells.
TEST_P(RenderMapFast, FineLatticesOnEveryThreadCount) {
    for (const float frequency : {30.0f, 100.0f, 1000.0f, 1e5f, 3e7f}) {
        OctaveNoise noise;
        noise.frequency = frequency;
        noise.octaves = 16;
        noise.varyFrequency = 1;
        noise.varyAmplitude = 1;
        ExpectSameAsPerPixel(noise, {203, 157});
    }
}

// A map wider than one tile, tall enough for several tiles down and for kept
// column terms: too large to render per pixel in a test, so the pixels where
// tiles and bands of columns meet are compared with Sample one by one.
TEST_P(RenderMapFast, TileAndBandEdgesOfAWideMap) {
    constexpr int Width = 4100;
    constexpr int Height = 130;
    struct Case {
        float frequency;
        int octaves;
    };
    // 8 octaves up to frequency 3.84; a sum table near its limit; one past
    // it; negative indices; lattice points of a whole frequency; tables of
    // single values and of pairs, each near the other's size.
    for (const Case c : {Case{0.015f, 8}, Case{210.5f, 1}, Case{215.5f, 1}, Case{-3.84f, 1}, Case{-16.0f, 1},
                         Case{16.3f, 1}, Case{37.7f, 1}}) {
        OctaveNoise noise;
        noise.frequency = c.frequency;
        noise.octaves = c.octaves;
        noise.varyFrequency = c.octaves > 1 ? 1 : 0;
        SCOPED_TRACE(Describe(noise, {Width, Height}));
        MemorySurface surface;
        std::optional<MapImage> image = CreateMapImage(surface, Width, Height);
        ASSERT_TRUE(image);
        RenderControl control;
        ASSERT_EQ(RenderMap(noise, *image, control, KernelsFor(GetParam())), RenderStatus::Complete);
        const auto pixels = image->Pixels();
        const auto expectPixel = [&](int x, int y) {
            const std::uint8_t want = GrayLevel(noise.Sample(float(x), float(y)));
            const std::size_t at = std::size_t(y) * image->Stride() + 3 * std::size_t(x);
            ASSERT_TRUE(pixels[at] == want && pixels[at + 1] == want && pixels[at + 2] == want)
                << "pixel (" << x << ", " << y << "): expected " << int(want) << ", got " << int(pixels[at]);
        };
        for (const int x : {0, 1, 2047, 4094, 4095, 4096, 4097, 4099}) {
            for (int y = 0; y < Height; ++y) {
                expectPixel(x, y);
            }
        }
        for (const int y : {0, 31, 32, 33, 64, 127, 128, 129}) {
            for (int x = 0; x < Width; x += 7) {
                expectPixel(x, y);
            }
        }
    }
}

VELMORA_FOR_EVERY_KERNEL_LEVEL(RenderMapFast);

}  // namespace
