// The render control: progress that ends at its total, and a stop that ends a
// render of any kind partway, leaving a clear status.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <optional>
#include <thread>

#include "image/map_image.h"
#include "image/render_map.h"
#include "noise/octave_noise.h"

using namespace velmora;

namespace {

TEST(RenderControl, ProgressEndsAtItsTotal) {
    MemorySurface surface;
    std::optional<MapImage> image = CreateMapImage(surface, 301, 203);
    ASSERT_TRUE(image);
    OctaveNoise noise;
    noise.varyFrequency = 1;
    noise.octaves = 9;
    RenderControl control;
    ASSERT_EQ(RenderMap(noise, *image, control), RenderStatus::Complete);
    EXPECT_GT(control.total.load(), 0u);
    EXPECT_EQ(control.done.load(), control.total.load());
}

// Slow renders of each kind: lattice cells far smaller than a pixel, the
// exact jumps over two billion octaves, and amplitudes that settle only
// after millions of octaves. Each is stopped once it has made progress.
TEST(RenderControl, StopEndsEveryKindOfSlowRender) {
    constexpr std::int32_t MostOctaves = std::numeric_limits<std::int32_t>::max();
    struct Case {
        const char* name;
        int side;
        std::int32_t octaves;
        float persistence;
        int varyFrequency;
        int varyAmplitude;
    };
    for (const Case c : {Case{"fine cells", 4096, 16, 0.5f, 1, 1}, Case{"jumps", 4096, MostOctaves, 0.25f, 0, 0},
                         Case{"slowly settling", 1024, MostOctaves, 0.99999f, 0, 1}}) {
        SCOPED_TRACE(c.name);
        MemorySurface surface;
        std::optional<MapImage> image = CreateMapImage(surface, c.side, c.side);
        ASSERT_TRUE(image);
        OctaveNoise noise;
        noise.octaves = c.octaves;
        noise.persistence = c.persistence;
        noise.varyFrequency = c.varyFrequency;
        noise.varyAmplitude = c.varyAmplitude;
        RenderControl control;
        RenderStatus status = RenderStatus::Complete;
        std::thread render([&] { status = RenderMap(noise, *image, control); });
        while (control.done.load() == 0) {
            std::this_thread::yield();
        }
        control.stop = true;
        render.join();
        EXPECT_EQ(status, RenderStatus::Stopped);
        EXPECT_LT(control.done.load(), control.total.load());
    }
}

TEST(RenderControl, StopBeforeTheStartRendersNothing) {
    MemorySurface surface;
    std::optional<MapImage> image = CreateMapImage(surface, 64, 64);
    ASSERT_TRUE(image);
    RenderControl control;
    control.stop = true;
    EXPECT_EQ(RenderMap(OctaveNoise(), *image, control), RenderStatus::Stopped);
    EXPECT_EQ(control.done.load(), 0u);
}

}  // namespace
