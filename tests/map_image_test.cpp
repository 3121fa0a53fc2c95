#include "image/map_image.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>

#include "image/render_map.h"
#include "noise/octave_noise.h"

using namespace velmora;

namespace {

std::uint8_t PixelAt(const MapImage& image, int x, int y) {
    return image.Pixels()[static_cast<std::size_t>(y) * image.Stride() + 3 * static_cast<std::size_t>(x)];
}

MapImage MakeImage(MemorySurface& surface, int width, int height) {
    std::optional<MapImage> image = CreateMapImage(surface, width, height);
    EXPECT_TRUE(image.has_value()) << width << "x" << height;
    return std::move(*image);
}

TEST(GrayLevel, WrapsRatherThanClamps) {
    const struct {
        float sample;
        int gray;
    } cases[] = {
        {0.0f, 0},        {0.5f, 50},       {2.5f, 250},         {2.546875f, 254},
        {2.55078125f, 0}, {2.5625f, 0},     {2.57421875f, 1},    {3.0f, 44},
        {-1.25f, 125},    {1.25f, 125},     {2.55f, 254},        {-0.0f, 0},
        {0.0297193006f, 2}, {-0.577938378f, 57},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(GrayLevel(c.sample), c.gray) << c.sample;
    }
}

TEST(GrayLevel, NotANumberAndHugeGiveBlack) {
    const float inf = std::numeric_limits<float>::infinity();
    EXPECT_EQ(GrayLevel(std::nanf("")), 0);
    EXPECT_EQ(GrayLevel(inf), 0);
    EXPECT_EQ(GrayLevel(-inf), 0);
    EXPECT_EQ(GrayLevel(1e17f), 0);  // 1e19 does not fit a 64-bit integer
    EXPECT_EQ(GrayLevel(std::numeric_limits<float>::max()), 0);
    // Just below 2^63 / 100 still converts: 2^56 * 100 has low byte 0.
    EXPECT_EQ(GrayLevel(72057594037927936.0f), 0);
    EXPECT_EQ(GrayLevel(1e16f), (static_cast<std::int64_t>(1e18) & 0xFF) % 255);
}

TEST(MapImage, HeaderAndLayout) {
    const BitmapInfoHeader header = MapImageHeader(3, 2);
    EXPECT_EQ(header.size, 40u);
    EXPECT_EQ(header.width, 3);
    EXPECT_EQ(header.height, 2);
    EXPECT_EQ(header.planes, 1);
    EXPECT_EQ(header.bitCount, 24);
    EXPECT_EQ(header.compression, BI_RGB);
    EXPECT_EQ(header.sizeImage, 0u);
    EXPECT_EQ(header.clrUsed, 0u);

    auto surface = CreateCompatibleSurface();
    const MapImage image = MakeImage(*surface, 3, 2);
    EXPECT_EQ(image.Stride(), 12u);
    EXPECT_EQ(image.Pixels().size(), 24u);
    EXPECT_TRUE(std::all_of(image.Pixels().begin(), image.Pixels().end(), [](auto b) { return b == 0; }));
    EXPECT_EQ(surface->Selected(), image.bitmap);
}

TEST(MapImage, RejectsSizesThatCannotExistAndKeepsTheSelection) {
    auto surface = CreateCompatibleSurface();
    const MapImage kept = MakeImage(*surface, 4, 4);
    const std::pair<int, int> sizes[] = {{0, 5}, {5, 0}, {-1, 5}, {5, -1},
                                         {std::numeric_limits<std::int32_t>::min(), 1},
                                         {65536, 65536},  // its file would exceed 4 GiB
                                         {std::numeric_limits<std::int32_t>::max(), 1}};
    for (const auto& [w, h] : sizes) {
        EXPECT_FALSE(CreateMapImage(*surface, w, h).has_value()) << w << "x" << h;
        EXPECT_EQ(surface->Selected(), kept.bitmap);
    }
}

TEST(MapImage, SizeLimitIsTheFileSizeField) {
    // Width 1 has a 4-byte stride; the file holds 54 header bytes.
    EXPECT_TRUE(MapImageSizeAllowed(1, (0xFFFFFFFFu - 54) / 4));
    EXPECT_FALSE(MapImageSizeAllowed(1, (0xFFFFFFFFu - 54) / 4 + 1));
    EXPECT_TRUE(MapImageSizeAllowed(37837, 37837));  // just under 4 GiB
    EXPECT_FALSE(MapImageSizeAllowed(37838, 37838));
}

// Pre-filled pixel memory shows every pixel written exactly where it belongs
// and no padding byte touched.
TEST(RenderMap, WritesEveryPixelInItsPlaceAndLeavesPaddingAlone) {
    OctaveNoise noise;
    noise.frequency = 0.037f;
    for (const auto& [w, h] : {std::pair{3, 2}, std::pair{300, 100}, std::pair{5, 3}}) {
        SCOPED_TRACE(testing::Message() << w << "x" << h);
        auto surface = CreateCompatibleSurface();
        MapImage image = MakeImage(*surface, w, h);
        std::fill(image.Pixels().begin(), image.Pixels().end(), std::uint8_t{0xAB});
        RenderMap(noise, image);
        const std::size_t stride = image.Stride();
        for (int y = 0; y < h; ++y) {
            const std::uint8_t* row = image.Pixels().data() + y * stride;
            for (int x = 0; x < w; ++x) {
                const std::uint8_t gray = GrayLevel(noise.Sample(static_cast<float>(x), static_cast<float>(y)));
                ASSERT_EQ(row[3 * x], gray) << x << "," << y;
                ASSERT_EQ(row[3 * x + 1], gray);
                ASSERT_EQ(row[3 * x + 2], gray);
            }
            for (std::size_t pad = 3 * static_cast<std::size_t>(w); pad < stride; ++pad) {
                ASSERT_EQ(row[pad], 0xAB) << "padding of row " << y;
            }
        }
    }
}

TEST(RenderMap, ZeroFilledPaddingStaysZero) {
    auto surface = CreateCompatibleSurface();
    MapImage image = MakeImage(*surface, 3, 4);
    RenderMap(OctaveNoise{}, image);
    for (int y = 0; y < 4; ++y) {
        for (int pad = 9; pad < 12; ++pad) {
            EXPECT_EQ(image.Pixels()[y * 12 + pad], 0);
        }
    }
}

TEST(RenderMap, OriginIsTheBottomLeftPixel) {
    // An asymmetric map: the first bytes in memory are the bottom row, read
    // left to right, so they hold the samples at y = 0.
    OctaveNoise noise;
    noise.frequency = 0.43f;
    auto surface = CreateCompatibleSurface();
    MapImage image = MakeImage(*surface, 5, 3);
    RenderMap(noise, image);
    EXPECT_NE(PixelAt(image, 0, 0), PixelAt(image, 0, 2));
    for (int x = 0; x < 5; ++x) {
        EXPECT_EQ(image.Pixels()[3 * x], GrayLevel(noise.Sample(static_cast<float>(x), 0.0f))) << x;
    }
}

TEST(RenderMap, DefaultMapWorkedGraysAndRange) {
    struct Setting {
        int varyFrequency, varyAmplitude, maxGray;
    };
    for (const Setting s : {Setting{0, 0, 163}, Setting{1, 1, 17}}) {
        OctaveNoise noise;
        noise.varyFrequency = s.varyFrequency;
        noise.varyAmplitude = s.varyAmplitude;
        auto surface = CreateCompatibleSurface();
        MapImage image = MakeImage(*surface, 512, 512);
        RenderMap(noise, image);
        int lowest = 255;
        int highest = 0;
        for (int y = 0; y < 512; ++y) {
            for (int x = 0; x < 512; ++x) {
                lowest = std::min<int>(lowest, PixelAt(image, x, y));
                highest = std::max<int>(highest, PixelAt(image, x, y));
            }
        }
        EXPECT_EQ(lowest, 0);
        EXPECT_EQ(highest, s.maxGray);
        if (s.varyFrequency == 0) {
            EXPECT_EQ(PixelAt(image, 0, 0), 2);
            EXPECT_EQ(PixelAt(image, 10, 20), 11);
            EXPECT_EQ(PixelAt(image, 100, 50), 57);
            EXPECT_EQ(PixelAt(image, 511, 511), 46);
        } else {
            EXPECT_EQ(PixelAt(image, 100, 50), 5);
        }
    }
}

TEST(RenderMap, ZeroOctavesIsBlack) {
    OctaveNoise noise;
    noise.octaves = 0;
    auto surface = CreateCompatibleSurface();
    MapImage image = MakeImage(*surface, 7, 5);
    std::fill(image.Pixels().begin(), image.Pixels().end(), std::uint8_t{0xAB});
    RenderMap(noise, image);
    for (int y = 0; y < 5; ++y) {
        for (int x = 0; x < 7; ++x) {
            EXPECT_EQ(PixelAt(image, x, y), 0);
        }
    }
}

}  // namespace
