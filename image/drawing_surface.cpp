#include "image/drawing_surface.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "image/page_memory.h"

namespace velmora {

namespace {

// Pixel memory of at least this size comes in huge pages where the system
// offers them (the first touch of a large map then costs one fault per 2 MiB
// rather than per 4 KiB); smaller bitmaps come from the C heap.
constexpr std::uint64_t LargeBitmapBytes = std::uint64_t{2} << 20;

bool IsSupportedDepth(std::uint32_t bitsPerPixel) noexcept {
    switch (bitsPerPixel) {
        case 1: case 4: case 8: case 16: case 24: case 32: return true;
        default: return false;
    }
}

std::size_t PaletteSize(std::uint32_t bitsPerPixel) noexcept {
    return bitsPerPixel <= 8 ? std::size_t{1} << bitsPerPixel : 0;
}

// Whether bitmap can be delivered in the format that header asks for; fills
// colourTable for palette formats.
bool DeliverFormat(const Bitmap& bitmap, const BitmapInfoHeader& header, std::span<RgbQuad> colourTable) noexcept {
    const BitmapInfoHeader& own = bitmap.Header();
    if (header.width != own.width || header.bitCount != own.bitCount || header.compression != BI_RGB ||
        header.planes != 1) {
        return false;
    }
    const std::size_t palette = PaletteSize(own.bitCount);
    if (palette != 0) {
        if (colourTable.size() < palette) {
            return false;
        }
        std::copy(bitmap.Colours().begin(), bitmap.Colours().end(), colourTable.begin());
    }
    return true;
}

}  // namespace

std::optional<std::uint64_t> RowStride(std::int64_t width, std::uint32_t bitsPerPixel) noexcept {
    if (width < 0 || bitsPerPixel == 0 || bitsPerPixel > 32) {
        return std::nullopt;
    }
    // width < 2^63 and bitsPerPixel <= 32: the bit count can still overflow 64 bits.
    const auto w = static_cast<std::uint64_t>(width);
    if (w > (std::numeric_limits<std::uint64_t>::max() - 31) / bitsPerPixel) {
        return std::nullopt;
    }
    return (w * bitsPerPixel + 31) / 32 * 4;
}

std::shared_ptr<Bitmap> CreateDibSection(const BitmapInfoHeader& header, std::span<const RgbQuad> colours) {
    if (header.width < 1 || header.height < 1 || header.planes != 1 || header.compression != BI_RGB ||
        !IsSupportedDepth(header.bitCount) || colours.size() > PaletteSize(header.bitCount)) {
        return nullptr;
    }
    const std::uint64_t stride = *RowStride(header.width, header.bitCount);
    // stride < 2^34 and height < 2^31, so the product fits 64 bits.
    const std::uint64_t bytes = stride * static_cast<std::uint64_t>(header.height);
    if (bytes > std::numeric_limits<std::size_t>::max()) {
        return nullptr;
    }
    std::unique_ptr<Bitmap> bitmap(new (std::nothrow) Bitmap());
    if (!bitmap) {
        return nullptr;
    }
    if (bytes >= LargeBitmapBytes) {
        PageMemory pages = AllocatePages(static_cast<std::size_t>(bytes));
        if (!pages) {
            return nullptr;
        }
        const std::size_t mapped = pages.get_deleter().bytes;
        bitmap->pixels_ = std::unique_ptr<std::uint8_t[], Bitmap::FreeMemory>(
            reinterpret_cast<std::uint8_t*>(pages.release()), Bitmap::FreeMemory{mapped});
    } else {
        auto* memory = static_cast<std::uint8_t*>(std::calloc(static_cast<std::size_t>(bytes), 1));
        if (memory == nullptr) {
            return nullptr;
        }
        bitmap->pixels_.reset(memory);
    }
    bitmap->header_ = header;
    bitmap->header_.size = 40;
    bitmap->stride_ = static_cast<std::size_t>(stride);
    bitmap->colours_.assign(colours.begin(), colours.end());
    bitmap->colours_.resize(PaletteSize(header.bitCount));
    return std::shared_ptr<Bitmap>(bitmap.release());
}

void Bitmap::FreeMemory::operator()(std::uint8_t* memory) const noexcept {
    if (mappedBytes != 0) {
        PageMemoryRelease{mappedBytes}(memory);
    } else {
        std::free(memory);
    }
}

std::shared_ptr<Bitmap> MemorySurface::Select(std::shared_ptr<Bitmap> bitmap) noexcept {
    std::swap(selected_, bitmap);
    return bitmap;
}

std::unique_ptr<MemorySurface> CreateCompatibleSurface() {
    return std::make_unique<MemorySurface>();
}

std::optional<BitmapDescription> DescribeBitmap(const Bitmap* bitmap) noexcept {
    if (bitmap == nullptr) {
        return std::nullopt;
    }
    const BitmapInfoHeader& header = bitmap->Header();
    return BitmapDescription{header.width, header.height, header.planes, header.bitCount};
}

std::uint32_t FetchBitmapRows(const MemorySurface& /*surface*/, const Bitmap& bitmap, std::uint32_t startRow,
                              std::uint32_t rowCount, std::span<std::uint8_t> rows,
                              const BitmapInfoHeader& header, std::span<RgbQuad> colourTable) noexcept {
    const auto height = static_cast<std::uint32_t>(bitmap.Height());
    if (startRow >= height) {
        return 0;
    }
    const std::uint32_t delivered = std::min(rowCount, height - startRow);
    const std::size_t stride = bitmap.Stride();
    if (rows.size() / stride < delivered || !DeliverFormat(bitmap, header, colourTable)) {
        return 0;
    }
    std::memcpy(rows.data(), bitmap.Row(static_cast<std::int32_t>(startRow)), stride * delivered);
    return delivered;
}

std::size_t FetchBitmapRowPart(const MemorySurface& /*surface*/, const Bitmap& bitmap, std::uint32_t row,
                               std::size_t firstByte, std::span<std::uint8_t> out, const BitmapInfoHeader& header,
                               std::span<RgbQuad> colourTable) noexcept {
    const std::size_t stride = bitmap.Stride();
    if (row >= static_cast<std::uint32_t>(bitmap.Height()) || firstByte >= stride || out.empty() ||
        !DeliverFormat(bitmap, header, colourTable)) {
        return 0;
    }
    const std::size_t delivered = std::min(out.size(), stride - firstByte);
    std::memcpy(out.data(), bitmap.Row(static_cast<std::int32_t>(row)) + firstByte, delivered);
    return delivered;
}

PixelRect ClipToSelection(const MemorySurface& surface, PixelRect block) noexcept {
    const Bitmap* bitmap = surface.Selected().get();
    if (bitmap == nullptr || block.Empty()) {
        return {};
    }
    // 64-bit edges: left + width can exceed the 32-bit range.
    const std::int64_t left = std::max<std::int64_t>(block.left, 0);
    const std::int64_t top = std::max<std::int64_t>(block.top, 0);
    const std::int64_t right = std::min<std::int64_t>(std::int64_t{block.left} + block.width, bitmap->Width());
    const std::int64_t bottom = std::min<std::int64_t>(std::int64_t{block.top} + block.height, bitmap->Height());
    if (left >= right || top >= bottom) {
        return {};
    }
    return {static_cast<std::int32_t>(left), static_cast<std::int32_t>(top), static_cast<std::int32_t>(right - left),
            static_cast<std::int32_t>(bottom - top)};
}

}  // namespace velmora
