// Writes a bitmap as an uncompressed BMP file.
//
// On-disk layout, all integers little-endian, no gaps:
//
//   offset  size  field
//        0     2  "BM"
//        2     4  file size: 14 + 40 + 4 * colours + image size
//        6     4  reserved, 0
//       10     4  offset of the pixel rows: 14 + 40 + 4 * colours
//       14     4  header size, 40
//       18     4  width
//       22     4  height (positive: rows bottom-up)
//       26     2  planes (the bitmap's own)
//       28     2  bits per pixel (the bitmap's own)
//       30     4  compression, 0 (BI_RGB)
//       34     4  image size: ((width * depth + 31) & ~31) / 8 * height
//       38     8  pixels per metre, x and y: 0
//       46     4  colours used: 2^depth below 24 bits, else 0
//       50     4  important colours, 0
//       54        colour table (4 bytes per colour), then the pixel rows,
//                 bottom row first, each padded to a multiple of 4 bytes
//
// depth is settled from planes * bits per pixel by SettleDepth.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "image/drawing_surface.h"

namespace velmora {

using HRESULT = std::int32_t;
constexpr HRESULT S_OK = 0;
constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005u);

// The colour depth a bitmap is written at, from its planes * bits per pixel
// taken as a 16-bit product: 1 -> 1, up to 4 -> 4, up to 8 -> 8,
// up to 16 -> 16, up to 24 -> 24, anything larger -> 32.
[[nodiscard]] std::uint16_t SettleDepth(std::uint16_t planes, std::uint16_t bitsPerPixel) noexcept;

// Sizes of the file that a bitmap gives.
struct BitmapFileLayout {
    std::uint16_t depth = 0;
    std::uint32_t colours = 0;    // colour-table entries
    std::uint32_t imageSize = 0;  // bytes of pixel rows
    std::uint32_t pixelOffset = 0;
    std::uint32_t fileSize = 0;
};

// The layout for a bitmap description; nothing when a size does not fit the
// format's 32-bit fields or the description is unusable (width or height
// below 1).
[[nodiscard]] std::optional<BitmapFileLayout> LayOutBitmapFile(const BitmapDescription& description) noexcept;

// Receives the file's bytes in order; returns false to stop the write.
using ByteSink = std::function<bool(std::span<const std::uint8_t>)>;

// Writes the whole file for bitmap (fetched through surface) to sink.
// Returns false when the bitmap cannot be described or fetched, memory runs
// out, or the sink refuses bytes.
[[nodiscard]] bool WriteBitmapFile(const Bitmap& bitmap, const MemorySurface& surface, const ByteSink& sink);

// Saves bitmap to fileName, used unchanged (no extension added; a relative
// name is taken from the current directory). A symbolic link, or a chain of
// them, is followed: the file it points to is written, in its own folder, and
// a dangling link creates that file. The file is written whole to a
// temporary in the same folder and then renamed over the name, so a failed
// save leaves no partial file and an existing file is replaced only by a
// complete one, which keeps its mode and, where the process may set them, its
// owner and group. An existing file that the user may not write, or that is
// not a regular file (a directory, a device, a FIFO), is never replaced nor
// opened. Returns S_OK, or E_FAIL with nothing written.
[[nodiscard]] HRESULT SaveBitmapFile(std::string_view fileName, const Bitmap* bitmap, const MemorySurface* surface);

// The errorNumber of a save whose target exists but is not a regular file;
// outside the range of errno values.
constexpr int NotRegularFileError = 0x10000;

// The same save, also telling why it failed: errorNumber becomes 0 on S_OK,
// and otherwise EINVAL for an empty name, a name with a NUL or a missing
// bitmap or surface; NotRegularFileError for a target that is not a regular
// file; EFBIG for a bitmap too large for the format; ENOMEM when memory runs
// out; else the errno value of the failing step, such as EACCES for a file
// or folder the user may not write, ENAMETOOLONG for a name longer than the
// file system takes, ELOOP for a loop of links, ENOSPC for a full disk.
[[nodiscard]] HRESULT SaveBitmapFile(std::string_view fileName, const Bitmap* bitmap, const MemorySurface* surface,
                                     int& errorNumber);

// Shared between a save and the thread that started it; any field may be
// read or set from any thread while the save runs.
struct SaveControl {
    alignas(64) std::atomic<bool> stop{false};          // set to abandon the save
    alignas(64) std::atomic<std::uint64_t> written{0};  // bytes of the file written so far
    std::atomic<std::uint64_t> total{0};                // the file's size; set before the first byte
};

// errorNumber of a save abandoned through SaveControl::stop: the target is
// as it was and no temporary is left.
constexpr int SaveStoppedError = 0x10001;

// The same save, watched and stopped through control (may be null).
[[nodiscard]] HRESULT SaveBitmapFile(std::string_view fileName, const Bitmap* bitmap, const MemorySurface* surface,
                                     int& errorNumber, SaveControl* control);

// The system's reason for an errno value, in English whatever the locale.
[[nodiscard]] std::string SystemErrorText(int errorNumber);

}  // namespace velmora
