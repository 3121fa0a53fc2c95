// Long octave runs: the fast renderer, which stops settled sums and jumps
// over repeating contributions, against the per-pixel definition.
#include "image/map_image.h"

#include "image/layer_kernels.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstddef>
#include <limits>

#include "image/render_map.h"
#include "noise/octave_noise.h"
#include "tests/support/every_kernel_level.h"

using namespace velmora;

namespace {

constexpr float Inf = std::numeric_limits<float>::infinity();
constexpr std::int32_t MostOctaves = std::numeric_limits<std::int32_t>::max();

struct Case {
    const char* name;
    NoiseParameters parameters;
};

OctaveNoise NoiseOf(const Case& c) {
    return c.parameters.Noise();
}

// The map by the definition (kernels null) or by the renderer with kernels.
std::vector<std::uint8_t> Render(const OctaveNoise& noise, int width, int height, const LayerKernels* kernels) {
    MemorySurface surface;
    std::optional<MapImage> image = CreateMapImage(surface, width, height);
    EXPECT_TRUE(image.has_value());
    if (!image) {
        return {};
    }
    if (kernels == nullptr) {
        RenderMapPerPixel(noise, *image);
    } else {
        RenderControl control;
        EXPECT_EQ(RenderMap(noise, *image, control, *kernels), RenderStatus::Complete);
    }
    return {image->Pixels().begin(), image->Pixels().end()};
}

// The renderer with one kernel level's kernels against the definition.
class OctaveFastForward : public testing::TestWithParam<KernelLevel> {
protected:
    [[nodiscard]] std::vector<std::uint8_t> Fast(const OctaveNoise& noise, int width, int height) const {
        return Render(noise, width, height, &KernelsFor(GetParam()));
    }

    void ExpectSameAsPerPixel(const Case& c, int width, int height) const {
        SCOPED_TRACE(testing::Message() << c.name << ", " << c.parameters.octaves << " octaves, " << width << "x"
                                        << height);
        const OctaveNoise noise = NoiseOf(c);
        EXPECT_EQ(Render(noise, width, height, nullptr), Fast(noise, width, height));
    }
};

// Around the transitions, at counts the definition affords on 4 x 3 maps.
TEST_P(OctaveFastForward, AroundTransitions) {
    const Case cases[] = {
        // The frequency doubles to infinity after about 134 octaves from 0.015.
        {"frequency overflows", {140, 0.015f, 1.0f, 0.25f, 1, 0}},
        {"frequency overflowed", {400, 0.015f, 1.0f, 0.25f, 1, 0}},
        {"frequency 1e30 overflows", {60, 1e30f, 1.0f, 0.25f, 1, 0}},
        {"both switches", {400, 0.015f, 1.0f, 0.25f, 1, 1}},
        // Halving from 1 reaches the subnormals at octave 126 and 0 after 150.
        {"amplitude subnormal", {140, 0.015f, 1.0f, 0.5f, 0, 1}},
        {"amplitude smallest subnormal", {149, 0.015f, 1.0f, 0.5f, 0, 1}},
        {"amplitude zero", {151, 0.015f, 1.0f, 0.5f, 0, 1}},
        {"amplitude long zero", {600, 0.015f, 1.0f, 0.5f, 0, 1}},
        {"amplitude subnormal start", {300, 0.015f, 0x1p-140f, 0.5f, 0, 1}},
        {"amplitude grows to infinity", {300, 0.015f, 1.0f, 2.0f, 0, 1}},
        {"amplitude alternates to infinity", {300, 0.015f, 1.0f, -2.0f, 0, 1}},
        // Doubling from 1 overflows at octave 128: the map turns black there.
        {"amplitude overflows at the last octave", {128, 0.015f, 1.0f, 2.0f, 0, 1}},
        {"amplitude overflows after the last octave", {127, 0.015f, 1.0f, 2.0f, 0, 1}},
        {"persistence infinite", {2, 0.015f, 1.0f, Inf, 0, 1}},
        {"persistence 1", {2000, 0.015f, 1.0f, 1.0f, 0, 1}},
        {"persistence -1, even", {2000, 0.015f, 1.0f, -1.0f, 0, 1}},
        {"persistence -1, odd", {2001, 0.015f, 1.0f, -1.0f, 0, 1}},
        {"persistence 0", {100, 0.015f, 1.0f, 0.0f, 0, 1}},
        {"persistence 0.999", {3000, 0.015f, 1.0f, 0.999f, 0, 1}},
        {"persistence -0.999", {3001, 0.015f, 1.0f, -0.999f, 0, 1}},
        {"persistence nan", {100, 0.015f, 1.0f, std::nanf(""), 0, 1}},
        {"switches off", {3000}},
        // Frequency 0: every pixel adds the float SmoothedValue(0, 0) times a
        // power of two, so the running sum hits exact ties as it grows.
        {"ties", {5000, 0.0f, 1.0f}},
        {"ties, small amplitude", {5000, 0.0f, 0x1p-20f}},
        {"ties, alternating", {5001, 0.0f, 0.75f, -1.0f, 0, 1}},
        {"amplitude infinite", {100, 0.015f, Inf}},
        {"amplitude nan", {100, 0.015f, std::nanf("")}},
        {"amplitude 0", {100, 0.015f, 0.0f, 0.5f, 1, 1}},
        {"frequency nan", {100, std::nanf(""), 1.0f, 0.25f, 1, 1}},
    };
    for (const Case& c : cases) {
        ExpectSameAsPerPixel(c, 4, 3);
    }
}

// A million octaves, where the definition still finishes on a few pixels:
// slow settling near persistence 1, long saturation and exact ties.
TEST_P(OctaveFastForward, MillionOctaves) {
    ExpectSameAsPerPixel({"persistence 0.999", {1000000, 0.015f, 1.0f, 0.999f, 0, 1}}, 2, 2);
    ExpectSameAsPerPixel({"ties", {1000000, 0.0f, 1.0f}}, 1, 1);
    ExpectSameAsPerPixel({"switches off, odd sizes", {1000001}}, 1, 2);
    ExpectSameAsPerPixel({"persistence -1", {1000001, 0.015f, 1.0f, -1.0f, 0, 1}}, 1, 2);
}

// The largest count finishes, and where the sum has stopped changing long
// before, it equals the sum of a count the definition affords.
TEST_P(OctaveFastForward, LargestCountEqualsSettledSum) {
    const Case settled[] = {
        {"persistence 0.5", {MostOctaves, 0.015f, 1.0f, 0.5f, 0, 1}},
        {"persistence 0", {MostOctaves, 0.015f, 1.0f, 0.0f, 0, 1}},
        {"both switches", {MostOctaves, 0.015f, 1.0f, 0.25f, 1, 1}},
        {"persistence 2", {MostOctaves, 0.015f, 1.0f, 2.0f, 0, 1}},
        {"amplitude nan", {MostOctaves, 0.015f, std::nanf("")}},
        {"frequency inf", {MostOctaves, Inf, 1.0f, 0.25f, 1, 0}},
        {"frequency nan", {MostOctaves, std::nanf("")}},
    };
    // Persistence just above 1 overflows after about 8.9 million octaves, and
    // every sum with it: the whole map is black.
    const Case overflowing{"persistence 1.00001", {MostOctaves, 0.015f, 1.0f, 1.00001f, 0, 1}};
    const std::vector<std::uint8_t> black = Fast(NoiseOf(overflowing), 3, 2);
    EXPECT_EQ(black, std::vector<std::uint8_t>(black.size(), 0));
    for (const Case& c : settled) {
        SCOPED_TRACE(c.name);
        Case affordable = c;
        affordable.parameters.octaves = 1000;
        EXPECT_EQ(Fast(NoiseOf(c), 3, 2), Render(NoiseOf(affordable), 3, 2, nullptr));
    }
    // Persistence -1 alternates for ever: the parity of the count decides.
    Case alternating{"persistence -1", {MostOctaves, 0.015f, 1.0f, -1.0f, 0, 1}};
    Case odd = alternating;
    odd.parameters.octaves = 1001;
    EXPECT_EQ(Fast(NoiseOf(alternating), 3, 2), Render(NoiseOf(odd), 3, 2, nullptr));
    alternating.parameters.octaves = MostOctaves - 1;
    odd.parameters.octaves = 1000;
    EXPECT_EQ(Fast(NoiseOf(alternating), 3, 2), Render(NoiseOf(odd), 3, 2, nullptr));
}

VELMORA_FOR_EVERY_KERNEL_LEVEL(OctaveFastForward);

}  // namespace
