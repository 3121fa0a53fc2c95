#include "image/bitmap_file.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <memory>
#include <new>

#include "image/save_file.h"

namespace velmora {

namespace {

constexpr std::uint32_t FileHeaderSize = 14;
constexpr std::uint32_t InfoHeaderSize = 40;
constexpr std::uint64_t LargestFileSize = 0xFFFFFFFFu;
// Pixel rows are fetched and written in pieces of at most this size, so a
// save never needs a second copy of a large image, nor of a wide row.
constexpr std::size_t ChunkBytes = std::size_t{1} << 20;

class ByteWriter {
public:
    explicit ByteWriter(std::span<std::uint8_t> out) : out_(out) {}
    void U16(std::uint32_t v) { Put(v, 2); }
    void U32(std::uint32_t v) { Put(v, 4); }

private:
    void Put(std::uint32_t v, int bytes) {
        for (int i = 0; i < bytes; ++i) {
            out_[at_++] = static_cast<std::uint8_t>(v >> (8 * i));
        }
    }
    std::span<std::uint8_t> out_;
    std::size_t at_ = 0;
};

}  // namespace

std::uint16_t SettleDepth(std::uint16_t planes, std::uint16_t bitsPerPixel) noexcept {
    const auto product = static_cast<std::uint16_t>(planes * bitsPerPixel);
    if (product == 1) return 1;
    if (product <= 4) return 4;
    if (product <= 8) return 8;
    if (product <= 16) return 16;
    if (product <= 24) return 24;
    return 32;
}

std::optional<BitmapFileLayout> LayOutBitmapFile(const BitmapDescription& description) noexcept {
    if (description.width < 1 || description.height < 1) {
        return std::nullopt;
    }
    BitmapFileLayout layout;
    layout.depth = SettleDepth(description.planes, description.bitsPerPixel);
    layout.colours = layout.depth < 24 ? std::uint32_t{1} << layout.depth : 0;
    // Width < 2^31 and depth <= 32: every term below stays far inside 64 bits.
    const std::uint64_t stride = *RowStride(description.width, layout.depth);
    const std::uint64_t imageSize = stride * static_cast<std::uint64_t>(description.height);
    const std::uint64_t pixelOffset = FileHeaderSize + InfoHeaderSize + 4ull * layout.colours;
    if (imageSize > LargestFileSize - pixelOffset) {
        return std::nullopt;
    }
    layout.imageSize = static_cast<std::uint32_t>(imageSize);
    layout.pixelOffset = static_cast<std::uint32_t>(pixelOffset);
    layout.fileSize = static_cast<std::uint32_t>(pixelOffset + imageSize);
    return layout;
}

bool WriteBitmapFile(const Bitmap& bitmap, const MemorySurface& surface, const ByteSink& sink) {
    const std::optional<BitmapDescription> description = DescribeBitmap(&bitmap);
    if (!description) {
        return false;
    }
    const std::optional<BitmapFileLayout> layout = LayOutBitmapFile(*description);
    if (!layout) {
        return false;
    }

    BitmapInfoHeader info;
    info.width = description->width;
    info.height = description->height;
    info.planes = description->planes;
    info.bitCount = description->bitsPerPixel;
    info.compression = BI_RGB;
    info.sizeImage = layout->imageSize;
    info.clrUsed = layout->colours;

    const std::size_t stride = layout->imageSize / static_cast<std::uint32_t>(description->height);
    const auto height = static_cast<std::uint32_t>(description->height);
    // Whole rows go in one piece while they fit a chunk; a wider row is
    // fetched a chunk at a time, so the buffer never exceeds ChunkBytes.
    const bool wholeRows = stride <= ChunkBytes;
    const std::uint32_t rowsPerChunk =
        wholeRows ? static_cast<std::uint32_t>(std::clamp<std::size_t>(ChunkBytes / stride, 1, height)) : 1;
    const std::size_t chunkBytes = wholeRows ? stride * rowsPerChunk : ChunkBytes;

    std::unique_ptr<RgbQuad[]> colourTable(new (std::nothrow) RgbQuad[layout->colours]());
    std::unique_ptr<std::uint8_t[]> buffer(new (std::nothrow) std::uint8_t[chunkBytes]);
    if (!colourTable || !buffer) {
        return false;
    }
    const std::span<RgbQuad> table(colourTable.get(), layout->colours);
    const std::span<std::uint8_t> chunk(buffer.get(), chunkBytes);

    // The next piece of pixel rows into chunk; its size in bytes, 0 on failure.
    std::uint32_t row = 0;
    std::size_t rowByte = 0;  // where in row a wide row goes on
    const auto fetchNext = [&]() -> std::size_t {
        if (wholeRows) {
            const std::uint32_t rows =
                FetchBitmapRows(surface, bitmap, row, std::min(rowsPerChunk, height - row), chunk, info, table);
            row += rows;
            return stride * rows;
        }
        const std::size_t bytes = FetchBitmapRowPart(surface, bitmap, row, rowByte,
                                                     chunk.first(std::min(chunkBytes, stride - rowByte)), info, table);
        rowByte += bytes;
        if (rowByte == stride) {
            rowByte = 0;
            ++row;
        }
        return bytes;
    };

    // The first fetch also fills the colour table, which precedes the rows.
    std::size_t fetched = fetchNext();
    if (fetched == 0) {
        return false;
    }

    std::array<std::uint8_t, FileHeaderSize + InfoHeaderSize> headers{};
    ByteWriter out(headers);
    out.U16(0x4D42);  // "BM"
    out.U32(layout->fileSize);
    out.U16(0);
    out.U16(0);
    out.U32(layout->pixelOffset);
    out.U32(InfoHeaderSize);
    out.U32(static_cast<std::uint32_t>(info.width));
    out.U32(static_cast<std::uint32_t>(info.height));
    out.U16(info.planes);
    out.U16(info.bitCount);
    out.U32(info.compression);
    out.U32(info.sizeImage);
    out.U32(0);
    out.U32(0);
    out.U32(info.clrUsed);
    out.U32(0);

    std::unique_ptr<std::uint8_t[]> tableBytes(new (std::nothrow) std::uint8_t[4 * table.size() + 1]);
    if (!tableBytes) {
        return false;
    }
    for (std::size_t i = 0; i < table.size(); ++i) {
        tableBytes[4 * i + 0] = table[i].blue;
        tableBytes[4 * i + 1] = table[i].green;
        tableBytes[4 * i + 2] = table[i].red;
        tableBytes[4 * i + 3] = table[i].reserved;
    }
    if (!sink(headers) || !sink({tableBytes.get(), 4 * table.size()})) {
        return false;
    }

    while (true) {
        if (!sink(chunk.first(fetched))) {
            return false;
        }
        if (row == height) {
            return true;
        }
        fetched = fetchNext();
        if (fetched == 0) {
            return false;
        }
    }
}

HRESULT SaveBitmapFile(std::string_view fileName, const Bitmap* bitmap, const MemorySurface* surface) {
    int ignored = 0;
    return SaveBitmapFile(fileName, bitmap, surface, ignored, nullptr);
}

HRESULT SaveBitmapFile(std::string_view fileName, const Bitmap* bitmap, const MemorySurface* surface,
                       int& errorNumber) {
    return SaveBitmapFile(fileName, bitmap, surface, errorNumber, nullptr);
}

HRESULT SaveBitmapFile(std::string_view fileName, const Bitmap* bitmap, const MemorySurface* surface,
                       int& errorNumber, SaveControl* control) {
    errorNumber = EINVAL;
    if (fileName.empty() || fileName.find('\0') != std::string_view::npos || bitmap == nullptr ||
        surface == nullptr) {
        return E_FAIL;
    }
    const std::optional<BitmapDescription> description = DescribeBitmap(bitmap);
    const std::optional<BitmapFileLayout> layout =
        description ? LayOutBitmapFile(*description) : std::optional<BitmapFileLayout>();
    if (!layout) {
        errorNumber = EFBIG;
        return E_FAIL;
    }
    if (control != nullptr) {
        control->written = 0;
        control->total = layout->fileSize;
    }
    errorNumber = save_file::SaveFile(
        fileName, [bitmap, surface](const ByteSink& sink) { return WriteBitmapFile(*bitmap, *surface, sink); },
        control);
    return errorNumber == 0 ? S_OK : E_FAIL;
}

namespace save_file {

TestHooks& Hooks() noexcept {
    static TestHooks hooks;
    return hooks;
}

}  // namespace save_file

}  // namespace velmora
