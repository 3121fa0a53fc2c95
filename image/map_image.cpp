#include "image/map_image.h"

#include <utility>

#include "image/bitmap_file.h"

namespace velmora {

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

}  // namespace velmora
