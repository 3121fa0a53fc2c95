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
#include "image/system_types.h"

namespace velmora {

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
// owner and group. Where the file system allows it the temporary has no name
// until it is complete, so not even a killed process leaves it behind; else
// it is a hidden ".velmora-" name with six more characters, which
// InstallSaveCleanup removes when a signal ends the program. An existing file
// that the user may not write, or that is not a regular file (a directory, a
// device, a FIFO), is never replaced nor opened. Returns S_OK, or E_FAIL with
// nothing written.
[[nodiscard]] HRESULT SaveBitmapFile(std::string_view fileName, const Bitmap* bitmap, const MemorySurface* surface);

// Error numbers of a save that are the core's own, outside the range of
// errno values; the program has its own words for each.
// The target exists but is not a regular file (a folder, a device, a FIFO).
constexpr int NotRegularFileError = 0x10000;
// errorNumber of a save abandoned through SaveControl::stop: the target is
// as it was and no temporary is left.
constexpr int SaveStoppedError = 0x10001;
// The target's folder may not be written: a map is written beside its target
// before it replaces it, so even a file the user may write cannot be saved there.
constexpr int FolderNotWritableError = 0x10002;
// The target belongs to another user and lies in a shared folder with the
// sticky bit (such as /tmp), where only its owner may replace it.
constexpr int OtherUsersFileError = 0x10003;
// On Windows, a system error with no errno counterpart: this base plus the
// Win32 error code (below 0x10000); SystemErrorText gives the system's text.
constexpr int WindowsErrorBase = 0x20000;

// The same save, also telling why it failed: errorNumber becomes 0 on S_OK,
// and otherwise
//   EINVAL                  an empty name, a name with a NUL, a missing bitmap or surface
//   EFBIG                   a bitmap too large for the format, or a file past the
//                           process's file size limit
//   ENOMEM                  memory ran out
//   NotRegularFileError     the target is a folder, a device or a FIFO
//   FolderNotWritableError  the target's folder may not be written
//   OtherUsersFileError     another user's file in a sticky folder
//   SaveStoppedError        stopped through the control
//   WindowsErrorBase + n    (Windows) a system error n without an errno value
//   any other errno value   the failing step's, such as EACCES for a file the
//                           user may not write, ENOENT for a missing folder,
//                           ENAMETOOLONG for a name longer than the file system
//                           takes, ELOOP for a loop of links, ENOSPC for a full
//                           disk, EROFS for a read-only file system.
// On Windows the system's errors are turned into the same errno values.
[[nodiscard]] HRESULT SaveBitmapFile(std::string_view fileName, const Bitmap* bitmap, const MemorySurface* surface,
                                     int& errorNumber);

// Shared between a save and the thread that started it; any field may be
// read or set from any thread while the save runs.
struct SaveControl {
    alignas(64) std::atomic<bool> stop{false};          // set to abandon the save
    alignas(64) std::atomic<std::uint64_t> written{0};  // bytes of the file written so far
    std::atomic<std::uint64_t> total{0};                // the file's size; set before the first byte
};

// The same save, watched and stopped through control (may be null). The save
// looks at stop between pieces of at most 1 MiB and before and after it
// flushes the file to the disk; a stop seen before the file is renamed over
// the target fails the save with SaveStoppedError, and once it is renamed the
// save is complete (S_OK). On Linux write-back starts as the file is written,
// so the final flush of even a huge file is short.
[[nodiscard]] HRESULT SaveBitmapFile(std::string_view fileName, const Bitmap* bitmap, const MemorySurface* surface,
                                     int& errorNumber, SaveControl* control);

// The system's reason for an errno value, in English and the same whatever
// the locale ("No such file or directory" for ENOENT), with the same words on
// Windows as on Linux; on Windows, for WindowsErrorBase + n, the system's
// English text for error n. The core's own error numbers have no text here:
// the program words them.
[[nodiscard]] std::string SystemErrorText(int errorNumber);

// Called once at the start of the program, before any save. On Linux and
// other POSIX systems: a write past the process's file size limit then fails
// the save with EFBIG instead of killing the program (SIGXFSZ is ignored),
// and SIGTERM, SIGINT, SIGHUP, SIGQUIT and the crash signals (SIGSEGV,
// SIGBUS, SIGABRT, SIGFPE, SIGILL, SIGPIPE) first remove any named temporary
// that a save has in flight, then end the program as the signal would have.
// Only signals left at their default action are taken over: one the program
// ignores or handles itself stays so. On Windows it does nothing: the
// temporary is deleted by the system whenever the program ends before the
// file is complete.
void InstallSaveCleanup() noexcept;

}  // namespace velmora
