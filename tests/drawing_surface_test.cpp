#include "image/drawing_surface.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <limits>
#include <vector>

using namespace velmora;

namespace {

BitmapInfoHeader Header(int width, int height, int bits) {
    BitmapInfoHeader header;
    header.width = width;
    header.height = height;
    header.bitCount = static_cast<std::uint16_t>(bits);
    return header;
}

TEST(RowStride, PadsToFourBytes) {
    const struct {
        std::int64_t width;
        std::uint32_t bits;
        std::uint64_t stride;
    } cases[] = {{1, 1, 4},   {32, 1, 4},   {33, 1, 8},  {7, 4, 4},   {9, 4, 8},   {3, 8, 4},
                 {5, 8, 8},   {1, 16, 4},   {3, 16, 8},  {3, 24, 12}, {4, 24, 12}, {1, 24, 4},
                 {512, 24, 1536}, {2, 32, 8}, {0, 24, 0}};
    for (const auto& c : cases) {
        EXPECT_EQ(RowStride(c.width, c.bits), c.stride) << c.width << " at " << c.bits;
    }
    EXPECT_EQ(RowStride(std::numeric_limits<std::int32_t>::max(), 32), 8589934588u);
    EXPECT_FALSE(RowStride(-1, 24));
    EXPECT_FALSE(RowStride(5, 0));
    EXPECT_FALSE(RowStride(std::numeric_limits<std::int64_t>::max(), 32));
}

TEST(CreateDibSection, AcceptsEveryDepthWithZeroedPixels) {
    for (int bits : {1, 4, 8, 16, 24, 32}) {
        SCOPED_TRACE(bits);
        const std::array<RgbQuad, 2> colours{RgbQuad{1, 2, 3, 0}, RgbQuad{4, 5, 6, 0}};
        const auto bitmap =
            CreateDibSection(Header(5, 3, bits), bits <= 8 ? std::span<const RgbQuad>(colours) : std::span<const RgbQuad>());
        ASSERT_TRUE(bitmap);
        EXPECT_EQ(bitmap->Stride(), *RowStride(5, bits));
        EXPECT_EQ(bitmap->Pixels().size(), bitmap->Stride() * 3);
        for (std::uint8_t byte : bitmap->Pixels()) {
            ASSERT_EQ(byte, 0);
        }
        if (bits <= 8) {
            ASSERT_EQ(bitmap->Colours().size(), 1u << bits);
            EXPECT_EQ(bitmap->Colours()[1], (RgbQuad{4, 5, 6, 0}));
            EXPECT_EQ(bitmap->Colours().back(), bits == 1 ? (RgbQuad{4, 5, 6, 0}) : RgbQuad{});
        } else {
            EXPECT_TRUE(bitmap->Colours().empty());
        }
    }
}

TEST(CreateDibSection, RefusesWhatItCannotHold) {
    EXPECT_FALSE(CreateDibSection(Header(0, 3, 24)));
    EXPECT_FALSE(CreateDibSection(Header(3, 0, 24)));
    EXPECT_FALSE(CreateDibSection(Header(3, -3, 24)));  // top-down bitmaps are not made here
    for (int bits : {0, 2, 3, 7, 15, 23, 31, 33, 64}) {
        EXPECT_FALSE(CreateDibSection(Header(3, 3, bits))) << bits;
    }
    BitmapInfoHeader twoPlanes = Header(3, 3, 24);
    twoPlanes.planes = 2;
    EXPECT_FALSE(CreateDibSection(twoPlanes));
    BitmapInfoHeader compressed = Header(3, 3, 8);
    compressed.compression = 1;
    EXPECT_FALSE(CreateDibSection(compressed));
    const std::vector<RgbQuad> tooMany(3);
    EXPECT_FALSE(CreateDibSection(Header(3, 3, 1), tooMany));
    EXPECT_FALSE(CreateDibSection(Header(3, 3, 24), tooMany));
}

TEST(MemorySurface, SelectReturnsThePreviousBitmapAndKeepsItsOwnAlive) {
    auto surface = CreateCompatibleSurface();
    EXPECT_EQ(surface->Selected(), nullptr);
    auto first = CreateDibSection(Header(2, 2, 24));
    auto second = CreateDibSection(Header(3, 3, 24));
    EXPECT_EQ(surface->Select(first), nullptr);
    EXPECT_EQ(surface->Select(second), first);
    Bitmap* raw = second.get();
    second.reset();  // the caller lets go; the surface still holds it
    ASSERT_EQ(surface->Selected().get(), raw);
    EXPECT_EQ(surface->Selected()->Width(), 3);
}

TEST(DescribeBitmap, ReportsSizeAndFormatOrFails) {
    EXPECT_FALSE(DescribeBitmap(nullptr));
    const auto bitmap = CreateDibSection(Header(7, 70000, 4));
    ASSERT_TRUE(bitmap);
    const auto description = DescribeBitmap(bitmap.get());
    ASSERT_TRUE(description);
    EXPECT_EQ(description->width, 7);
    EXPECT_EQ(description->height, 70000);
    EXPECT_EQ(description->planes, 1);
    EXPECT_EQ(description->bitsPerPixel, 4);
}

TEST(FetchBitmapRows, DeliversRowsAndColourTableInTheBitmapsFormat) {
    const std::array<RgbQuad, 4> colours{RgbQuad{10, 20, 30, 0}, RgbQuad{40, 50, 60, 0}, RgbQuad{1, 1, 1, 0},
                                         RgbQuad{9, 8, 7, 0}};
    const auto bitmap = CreateDibSection(Header(3, 5, 8), colours);
    auto surface = CreateCompatibleSurface();
    for (int row = 0; row < 5; ++row) {
        for (int x = 0; x < 3; ++x) {
            bitmap->Row(row)[x] = static_cast<std::uint8_t>(10 * row + x);
        }
    }
    std::vector<std::uint8_t> rows(4 * 5, 0xEE);
    std::vector<RgbQuad> table(256, RgbQuad{0xEE, 0xEE, 0xEE, 0xEE});
    const BitmapInfoHeader want = bitmap->Header();

    EXPECT_EQ(FetchBitmapRows(*surface, *bitmap, 0, 5, rows, want, table), 5u);
    EXPECT_EQ(table[3], (RgbQuad{9, 8, 7, 0}));
    EXPECT_EQ(table[4], RgbQuad{});  // entries the bitmap does not set are 0
    EXPECT_EQ(rows[0], 0);
    EXPECT_EQ(rows[4 * 4 + 2], 42);
    EXPECT_EQ(rows[3], 0);  // padding

    // A window of rows; a request past the top delivers only what exists.
    std::fill(rows.begin(), rows.end(), 0xEE);
    EXPECT_EQ(FetchBitmapRows(*surface, *bitmap, 3, 10, rows, want, table), 2u);
    EXPECT_EQ(rows[0], 30);
    EXPECT_EQ(rows[4], 40);
    EXPECT_EQ(rows[8], 0xEE);

    // Failures deliver nothing.
    EXPECT_EQ(FetchBitmapRows(*surface, *bitmap, 5, 1, rows, want, table), 0u);
    std::vector<std::uint8_t> tooSmall(7);
    EXPECT_EQ(FetchBitmapRows(*surface, *bitmap, 0, 2, tooSmall, want, table), 0u);
    std::vector<RgbQuad> shortTable(16);
    EXPECT_EQ(FetchBitmapRows(*surface, *bitmap, 0, 1, rows, want, shortTable), 0u);
    BitmapInfoHeader otherFormat = want;
    otherFormat.bitCount = 24;
    EXPECT_EQ(FetchBitmapRows(*surface, *bitmap, 0, 1, rows, otherFormat, table), 0u);
}

TEST(FetchBitmapRows, DirectColourLeavesTheTableAlone) {
    const auto bitmap = CreateDibSection(Header(2, 1, 16));
    auto surface = CreateCompatibleSurface();
    bitmap->Row(0)[0] = 0x1F;
    std::vector<std::uint8_t> rows(4);
    std::vector<RgbQuad> table(4, RgbQuad{7, 7, 7, 7});
    EXPECT_EQ(FetchBitmapRows(*surface, *bitmap, 0, 1, rows, bitmap->Header(), table), 1u);
    EXPECT_EQ(rows[0], 0x1F);
    EXPECT_EQ(table[0], (RgbQuad{7, 7, 7, 7}));
}

// Pieces of one row, bounded by out and by the row's end, padding included.
TEST(FetchBitmapRowPart, DeliversAPieceOfOneRow) {
    const std::array<RgbQuad, 2> colours{RgbQuad{10, 20, 30, 0}, RgbQuad{40, 50, 60, 0}};
    const auto bitmap = CreateDibSection(Header(3, 2, 8), colours);  // stride 4: one byte of padding
    auto surface = CreateCompatibleSurface();
    bitmap->Row(1)[0] = 11;
    bitmap->Row(1)[1] = 12;
    bitmap->Row(1)[2] = 13;
    const struct {
        std::uint32_t row;
        std::size_t firstByte, outSize;
        std::vector<std::uint8_t> delivered;
    } cases[] = {{1, 0, 4, {11, 12, 13, 0}}, {1, 1, 1, {12}}, {1, 2, 9, {13, 0}}, {1, 4, 1, {}}, {2, 0, 1, {}}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "row " << c.row << " from " << c.firstByte << " into " << c.outSize);
        std::vector<std::uint8_t> out(c.outSize, 0xEE);
        std::vector<RgbQuad> table(256, RgbQuad{0xEE, 0xEE, 0xEE, 0xEE});
        ASSERT_EQ(FetchBitmapRowPart(*surface, *bitmap, c.row, c.firstByte, out, bitmap->Header(), table),
                  c.delivered.size());
        EXPECT_TRUE(std::equal(c.delivered.begin(), c.delivered.end(), out.begin()));
        EXPECT_EQ(table[1], c.delivered.empty() ? (RgbQuad{0xEE, 0xEE, 0xEE, 0xEE}) : colours[1]);
    }
}

}  // namespace
