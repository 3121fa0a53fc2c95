// A small drawing-surface layer: device-independent bitmaps, a memory surface
// that holds one selected bitmap, the bitmap description and the row fetch
// (whole rows, or a part of one row).
//
// Pixel memory of a bitmap is laid out as on disk in a BMP file: rows
// bottom-up (the first row in memory is the bottom row of the picture), each
// row padded with zero bytes to a multiple of 4 bytes. 24-bit pixels are
// blue, green, red; 32-bit pixels blue, green, red, unused; 16-bit pixels are
// 5-5-5 little-endian words; 1-, 4- and 8-bit pixels index the colour table,
// leftmost pixel in the most significant bits.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "image/system_types.h"

namespace velmora {

// The 40-byte header that describes a device-independent bitmap.
struct BitmapInfoHeader {
    std::uint32_t size = 40;
    std::int32_t width = 0;
    std::int32_t height = 0;  // positive: rows bottom-up
    std::uint16_t planes = 1;
    std::uint16_t bitCount = 0;
    std::uint32_t compression = BI_RGB;
    std::uint32_t sizeImage = 0;
    std::int32_t xPelsPerMeter = 0;
    std::int32_t yPelsPerMeter = 0;
    std::uint32_t clrUsed = 0;
    std::uint32_t clrImportant = 0;
};

struct RgbQuad {
    std::uint8_t blue = 0;
    std::uint8_t green = 0;
    std::uint8_t red = 0;
    std::uint8_t reserved = 0;

    friend bool operator==(const RgbQuad&, const RgbQuad&) = default;
};

// What a bitmap says about itself.
struct BitmapDescription {
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::uint16_t planes = 0;
    std::uint16_t bitsPerPixel = 0;
};

// Bytes per row of a bitmap width pixels wide at bitsPerPixel, padded to a
// multiple of 4. Nothing when width is negative or bitsPerPixel is 0.
[[nodiscard]] std::optional<std::uint64_t> RowStride(std::int64_t width, std::uint32_t bitsPerPixel) noexcept;

// A device-independent bitmap: its header, its colour table (1, 4 and 8 bits
// per pixel only) and its zero-filled pixel memory.
class Bitmap {
public:
    [[nodiscard]] const BitmapInfoHeader& Header() const noexcept { return header_; }
    [[nodiscard]] std::int32_t Width() const noexcept { return header_.width; }
    [[nodiscard]] std::int32_t Height() const noexcept { return header_.height; }
    [[nodiscard]] std::size_t Stride() const noexcept { return stride_; }
    [[nodiscard]] std::span<const RgbQuad> Colours() const noexcept { return colours_; }
    [[nodiscard]] std::span<std::uint8_t> Pixels() noexcept { return {pixels_.get(), stride_ * Height()}; }
    [[nodiscard]] std::span<const std::uint8_t> Pixels() const noexcept { return {pixels_.get(), stride_ * Height()}; }
    // Row 0 is the bottom row of the picture.
    [[nodiscard]] std::uint8_t* Row(std::int32_t row) noexcept { return pixels_.get() + stride_ * row; }
    [[nodiscard]] const std::uint8_t* Row(std::int32_t row) const noexcept { return pixels_.get() + stride_ * row; }

private:
    friend std::shared_ptr<Bitmap> CreateDibSection(const BitmapInfoHeader&, std::span<const RgbQuad>);
    Bitmap() = default;

    // Frees pixel memory from the C heap (mappedBytes 0) or from AllocatePages.
    struct FreeMemory {
        std::size_t mappedBytes;  // value-initialized to 0 with the pointer
        void operator()(std::uint8_t* memory) const noexcept;
    };

    BitmapInfoHeader header_;
    std::vector<RgbQuad> colours_;
    std::size_t stride_ = 0;
    std::unique_ptr<std::uint8_t[], FreeMemory> pixels_;
};

// Creates a bottom-up, uncompressed bitmap from header (width and height of
// at least 1, 1 plane, 1, 4, 8, 16, 24 or 32 bits per pixel) with zero-filled
// pixels. colours sets the first entries of the colour table of a 1-, 4- or
// 8-bit bitmap (the rest are 0) and must be empty otherwise. Returns nothing
// for any other header, too many colours, or when the memory cannot be had.
[[nodiscard]] std::shared_ptr<Bitmap> CreateDibSection(const BitmapInfoHeader& header,
                                                       std::span<const RgbQuad> colours = {});

// An off-screen surface that holds one selected bitmap, the source of copies
// and of the row fetch. Releasing the surface or the caller's handle never
// leaves the other dangling: the surface shares ownership of its selection.
class MemorySurface {
public:
    // Selects bitmap (may be null) and returns the one selected before.
    std::shared_ptr<Bitmap> Select(std::shared_ptr<Bitmap> bitmap) noexcept;
    [[nodiscard]] const std::shared_ptr<Bitmap>& Selected() const noexcept { return selected_; }

private:
    std::shared_ptr<Bitmap> selected_;
};

[[nodiscard]] std::unique_ptr<MemorySurface> CreateCompatibleSurface();

// The bitmap's width, height, planes and bits per pixel; nothing for a null bitmap.
[[nodiscard]] std::optional<BitmapDescription> DescribeBitmap(const Bitmap* bitmap) noexcept;

// Copies rowCount rows of bitmap from startRow upward into rows, bottom-up
// with each row padded to 4 bytes, in the format that header asks for. Only
// the bitmap's own format (its width, bits per pixel and BI_RGB) can be
// delivered. For 1, 4 and 8 bits per pixel it also fills 2^bits entries of
// colourTable. Rows past the top of the bitmap are not delivered.
// Returns the number of rows delivered, 0 on failure.
[[nodiscard]] std::uint32_t FetchBitmapRows(const MemorySurface& surface, const Bitmap& bitmap,
                                            std::uint32_t startRow, std::uint32_t rowCount,
                                            std::span<std::uint8_t> rows, const BitmapInfoHeader& header,
                                            std::span<RgbQuad> colourTable) noexcept;

// Copies a part of one row, so that a row wider than any buffer can be
// fetched piece by piece: up to out.size() bytes of row (row 0 is the bottom
// row) from byte firstByte of that row on, its padding included, in the same
// formats as FetchBitmapRows, and fills colourTable as it does. Bytes past the
// end of the row are not delivered.
// Returns the number of bytes delivered, 0 on failure (row or firstByte
// outside the bitmap, an empty out, a format or table it cannot deliver).
[[nodiscard]] std::size_t FetchBitmapRowPart(const MemorySurface& surface, const Bitmap& bitmap, std::uint32_t row,
                                             std::size_t firstByte, std::span<std::uint8_t> out,
                                             const BitmapInfoHeader& header,
                                             std::span<RgbQuad> colourTable) noexcept;

// A block of a picture: x to the right and y downward from its top-left corner.
struct PixelRect {
    std::int32_t left = 0;
    std::int32_t top = 0;
    std::int32_t width = 0;
    std::int32_t height = 0;

    [[nodiscard]] bool Empty() const noexcept { return width <= 0 || height <= 0; }
    friend bool operator==(const PixelRect&, const PixelRect&) = default;
};

// The part of block that lies inside the surface's selected bitmap, in the
// same top-down coordinates; an empty rectangle at (0, 0) when nothing
// overlaps or nothing is selected. Never overflows, whatever block holds.
[[nodiscard]] PixelRect ClipToSelection(const MemorySurface& surface, PixelRect block) noexcept;

// The plain block copy that puts a picture on screen: copies block, which must
// be non-empty and lie inside the surface's selected 24-bit bitmap, into out
// top row first, rows outStride bytes apart, each row 3 * block.width bytes of
// blue, green, red. Bytes of out between rows are left as they were.
// Returns false, copying nothing, for any other block or bitmap, or when out
// or outStride is too small.
[[nodiscard]] bool CopyBlockTopDown(const MemorySurface& surface, PixelRect block, std::span<std::uint8_t> out,
                                    std::size_t outStride) noexcept;

}  // namespace velmora
