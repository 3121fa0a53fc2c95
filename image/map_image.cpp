#include "image/map_image.h"

#include <utility>

#include "image/bitmap_file.h"
#include "noise/octave_noise.h"

namespace velmora {

namespace {

void PutGray(std::uint8_t* pixel, std::uint8_t gray) noexcept {
    pixel[0] = gray;
    pixel[1] = gray;
    pixel[2] = gray;
}

}  // namespace

BitmapInfoHeader MapImageHeader(std::int32_t width, std::int32_t height) noexcept {
    BitmapInfoHeader header;
    header.width = width;
    header.height = height;
    header.planes = 1;
    header.bitCount = 24;
    header.compression = BI_RGB;
    return header;
}

bool MapImageSizeAllowed(std::int32_t width, std::int32_t height) noexcept {
    // The file writer's own layout decides, so the two limits cannot drift apart.
    return LayOutBitmapFile({width, height, 1, 24}).has_value();
}

std::optional<MapImage> CreateMapImage(MemorySurface& surface, std::int32_t width, std::int32_t height) {
    if (!MapImageSizeAllowed(width, height)) {
        return std::nullopt;
    }
    std::shared_ptr<Bitmap> bitmap = CreateDibSection(MapImageHeader(width, height));
    if (!bitmap) {
        return std::nullopt;
    }
    (void)surface.Select(bitmap);
    return MapImage{std::move(bitmap)};
}

void RenderMapPerPixel(const OctaveNoise& noise, MapImage& image) {
    const std::int32_t width = image.Width();
    const std::int32_t height = image.Height();
    const std::size_t stride = image.Stride();
    std::uint8_t* pixels = image.Pixels().data();
    for (std::int32_t x = 0; x < width; ++x) {
        for (std::int32_t y = 0; y < height; ++y) {
            const float sample = noise.Sample(static_cast<float>(x), static_cast<float>(y));
            PutGray(pixels + static_cast<std::size_t>(y) * stride + 3 * static_cast<std::size_t>(x),
                    GrayLevel(sample));
        }
    }
}

}  // namespace velmora
