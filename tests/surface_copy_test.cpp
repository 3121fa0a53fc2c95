#include "image/drawing_surface.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

using namespace velmora;

namespace {

constexpr std::int32_t Int32Max = std::numeric_limits<std::int32_t>::max();
constexpr std::int32_t Int32Min = std::numeric_limits<std::int32_t>::min();

// A 5 x 3 24-bit bitmap whose every byte says where it is: blue = 10 * column
// + top-down row, green = 100 + that, red = 200 + that. Odd width, so rows
// carry padding, and no two pixels alike, so flips and shifts show.
std::shared_ptr<Bitmap> NumberedBitmap() {
    BitmapInfoHeader header;
    header.width = 5;
    header.height = 3;
    header.bitCount = 24;
    std::shared_ptr<Bitmap> bitmap = CreateDibSection(header);
    for (std::int32_t top = 0; top < 3; ++top) {
        std::uint8_t* row = bitmap->Row(2 - top);
        for (std::int32_t x = 0; x < 5; ++x) {
            const auto tag = static_cast<std::uint8_t>(10 * x + top);
            row[3 * x + 0] = tag;
            row[3 * x + 1] = static_cast<std::uint8_t>(100 + tag);
            row[3 * x + 2] = static_cast<std::uint8_t>(200 + tag);
        }
    }
    return bitmap;
}

class SurfaceCopy : public testing::Test {
protected:
    void SetUp() override { (void)surface_.Select(NumberedBitmap()); }
    MemorySurface surface_;
};

TEST_F(SurfaceCopy, ClipsToTheSelectedBitmap) {
    const struct {
        PixelRect block;
        PixelRect clipped;
    } cases[] = {
        {{0, 0, 5, 3}, {0, 0, 5, 3}},
        {{-2, -1, 4, 3}, {0, 0, 2, 2}},
        {{3, 2, 100, 100}, {3, 2, 2, 1}},
        {{5, 0, 1, 1}, {}},
        {{0, 3, 1, 1}, {}},
        {{-1, 0, 1, 3}, {}},
        {{1, 1, 0, 5}, {}},
        {{1, 1, -3, 5}, {}},
        {{Int32Max, Int32Max, Int32Max, Int32Max}, {}},
        {{Int32Min, Int32Min, Int32Max, Int32Max}, {}},
        {{-1, -1, Int32Max, Int32Max}, {0, 0, 5, 3}},
        {{4, 2, Int32Max, Int32Max}, {4, 2, 1, 1}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.block.left << ", " << c.block.top << ", " << c.block.width << ", "
                                        << c.block.height);
        EXPECT_EQ(ClipToSelection(surface_, c.block), c.clipped);
    }
}

TEST(SurfaceCopyWithoutMap, NothingSelectedClipsToNothingAndAnyDepthClips) {
    MemorySurface empty;
    EXPECT_TRUE(ClipToSelection(empty, {0, 0, 1, 1}).Empty());

    BitmapInfoHeader header;
    header.width = 2;
    header.height = 2;
    header.bitCount = 32;
    MemorySurface deep;
    (void)deep.Select(CreateDibSection(header));
    EXPECT_EQ(ClipToSelection(deep, {0, 0, 9, 9}), (PixelRect{0, 0, 2, 2}));
}

}  // namespace
