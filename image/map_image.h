// The map image: a 24-bit gray picture of the noise field, held in a
// device-independent bitmap selected into an off-screen surface.
#pragma once

#include <cmath>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <utility>

#include "image/drawing_surface.h"

namespace velmora {

// The current map. Rows are bottom-up, pixels blue-green-red with all three
// bytes equal, rows padded with zeros to a multiple of 4 bytes.
struct MapImage {
    std::shared_ptr<Bitmap> bitmap;

    [[nodiscard]] std::int32_t Width() const noexcept { return bitmap->Width(); }
    [[nodiscard]] std::int32_t Height() const noexcept { return bitmap->Height(); }
    [[nodiscard]] std::size_t Stride() const noexcept { return bitmap->Stride(); }
    [[nodiscard]] std::span<std::uint8_t> Pixels() noexcept { return bitmap->Pixels(); }
    [[nodiscard]] std::span<const std::uint8_t> Pixels() const noexcept {
        return std::as_const(*bitmap).Pixels();
    }
};

// The header of a width x height map: 40 bytes, bottom-up, 1 plane, 24 bits,
// BI_RGB, every other field 0.
[[nodiscard]] BitmapInfoHeader MapImageHeader(std::int32_t width, std::int32_t height) noexcept;

// Whether a width x height map can exist at all: both sides at least 1 and a
// BMP file of it small enough for the format's 32-bit size fields.
[[nodiscard]] bool MapImageSizeAllowed(std::int32_t width, std::int32_t height) noexcept;

// Creates a zero-filled width x height map and selects it into surface.
// Returns nothing, and leaves the surface's selection as it was, when the size
// is not allowed or the memory cannot be had.
[[nodiscard]] std::optional<MapImage> CreateMapImage(MemorySurface& surface, std::int32_t width,
                                                     std::int32_t height);

// Gray level of a sample, 0 ... 254: the low byte of trunc(|s| * 100), then
// modulo 255. Wraps rather than clamps; NaN and magnitudes whose product does
// not fit a 64-bit integer give 0.
// Inline: renderers call it once per pixel.
[[nodiscard]] inline std::uint8_t GrayLevel(float sample) noexcept {
    const double v = std::fabs(static_cast<double>(sample)) * 100.0;
    if (!(v < 9223372036854775808.0)) {
        return 0;  // NaN, or too large for a 64-bit integer
    }
    const auto k = static_cast<std::int64_t>(v);
    return static_cast<std::uint8_t>((k & 0xFF) % 255);
}

}  // namespace velmora
