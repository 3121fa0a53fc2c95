// How renders are split: working memory that stays within its bound whatever
// the map, and work units that cover every pixel exactly once.
#include "image/render_plan.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <thread>
#include <vector>

#include "image/workspace.h"

using namespace velmora;

namespace {

struct Shape {
    std::int32_t width;
    std::int32_t height;
    std::int32_t layers;
};

// From one pixel to the widest and tallest maps a file can hold, and from
// one layer to the most that octaves can make.
constexpr Shape Shapes[] = {
    {1, 1, 1},          {3, 2, 1},        {1, 37, 300},         {513, 7, 8},      {4097, 130, 16},
    {20000, 20000, 4},  {37000, 37000, 200}, {1431655746, 1, 1}, {1, 1431655746, 300},
};

TEST(RenderPlan, WorkingMemoryStaysWithinItsBound) {
    for (const Shape shape : Shapes) {
        SCOPED_TRACE(testing::Message() << shape.width << "x" << shape.height << ", " << shape.layers << " layers");
        for (const unsigned threads : {1u, 2u, 7u, 64u}) {
            const RenderPlan plan = PlanRender(shape.width, shape.height, shape.layers, shape.layers, threads);
            EXPECT_LE(WorkspaceBytesUsed(plan.tiles), WorkspaceBytes);
            EXPECT_GE(plan.tiles.width, 1);
            EXPECT_GE(plan.tiles.height, 1);
        }
    }
}

TEST(RenderPlan, UnitsCoverEveryPixelOnce) {
    for (const Shape shape : {Shape{1, 1, 1}, Shape{37, 11, 1}, Shape{300, 257, 16}, Shape{4100, 130, 4},
                              Shape{9000, 3, 1}}) {
        for (const unsigned threads : {0u, 1u, 2u, 3u, 7u}) {
            SCOPED_TRACE(testing::Message() << shape.width << "x" << shape.height << ", " << threads << " threads");
            const RenderPlan plan = PlanRender(shape.width, shape.height, shape.layers, shape.layers, threads);
            EXPECT_GE(plan.threads, 1u);
            if (threads != 0) {
                EXPECT_LE(plan.threads, threads);
            }
            std::vector<int> covered(static_cast<std::size_t>(shape.width) * shape.height, 0);
            for (std::int64_t unit = 0; unit < plan.Units(); ++unit) {
                const PixelBlock block = plan.Unit(unit, shape.width, shape.height);
                ASSERT_GT(block.width, 0);
                ASSERT_GT(block.height, 0);
                for (std::int32_t y = block.y0; y < block.y0 + block.height; ++y) {
                    for (std::int32_t x = block.x0; x < block.x0 + block.width; ++x) {
                        ++covered[static_cast<std::size_t>(y) * shape.width + x];
                    }
                }
            }
            for (const int count : covered) {
                ASSERT_EQ(count, 1);
            }
        }
    }
}

// A small map of few octaves stays on one thread; one of very many octaves
// costs seconds whatever its size, and gets every hardware thread.
TEST(RenderPlan, ThreadsFollowPixelOctavesNotLayers) {
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    constexpr std::int32_t Most = std::numeric_limits<std::int32_t>::max();
    struct Case {
        Shape shape;
        std::int32_t octaves;
        unsigned threads;
    };
    for (const Case c : {Case{{64, 64, 1}, 1, 1u}, Case{{256, 256, 1}, Most, cores}, Case{{256, 256, 2}, Most, cores},
                         Case{{512, 512, 4}, 4, cores}, Case{{300, 2, 1}, Most, std::min(cores, 2u)}}) {
        SCOPED_TRACE(testing::Message() << c.shape.width << "x" << c.shape.height << ", " << c.octaves << " octaves");
        EXPECT_EQ(PlanRender(c.shape.width, c.shape.height, c.shape.layers, c.octaves, 0).threads, c.threads);
    }
}

}  // namespace
