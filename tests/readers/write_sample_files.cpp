// Writes sample BMP files with the project's writer, each beside the pixels
// it must decode to (top-down RGB bytes, ".rgb"), for independent readers to
// check: a default 512 x 512 map, a small asymmetric map, and palette bitmaps
// at 1, 4 and 8 bits per pixel.
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "image/bitmap_file.h"
#include "image/map_image.h"
#include "image/render_map.h"
#include "noise/octave_noise.h"

using namespace velmora;

namespace {

// The colour of pixel (x, y), y counted from the top of the picture.
RgbQuad PixelColour(const Bitmap& bitmap, int x, int yFromTop) {
    const std::uint8_t* row = bitmap.Row(bitmap.Height() - 1 - yFromTop);
    const int bits = bitmap.Header().bitCount;
    if (bits == 24) {
        return {row[3 * x], row[3 * x + 1], row[3 * x + 2], 0};
    }
    const int perByte = 8 / bits;
    const int shift = 8 - bits * (x % perByte + 1);
    const int index = (row[x / perByte] >> shift) & ((1 << bits) - 1);
    return bitmap.Colours()[index];
}

bool Write(const std::string& directory, const std::string& name, const Bitmap& bitmap,
           const MemorySurface& surface) {
    const std::string path = directory + "/" + name;
    if (SaveBitmapFile(path + ".bmp", &bitmap, &surface) != S_OK) {
        std::fprintf(stderr, "cannot save %s.bmp\n", path.c_str());
        return false;
    }
    std::vector<char> rgb;
    for (int y = 0; y < bitmap.Height(); ++y) {
        for (int x = 0; x < bitmap.Width(); ++x) {
            const RgbQuad c = PixelColour(bitmap, x, y);
            rgb.insert(rgb.end(), {static_cast<char>(c.red), static_cast<char>(c.green), static_cast<char>(c.blue)});
        }
    }
    std::ofstream out(path + ".rgb", std::ios::binary);
    out.write(rgb.data(), static_cast<std::streamsize>(rgb.size()));
    return static_cast<bool>(out.flush());
}

std::shared_ptr<Bitmap> PaletteBitmap(int bits, int width, int height) {
    std::vector<RgbQuad> colours;
    for (int i = 0; i < (1 << bits); ++i) {
        colours.push_back({static_cast<std::uint8_t>(i * 7), static_cast<std::uint8_t>(255 - i),
                           static_cast<std::uint8_t>(i * 53), 0});
    }
    BitmapInfoHeader header;
    header.width = width;
    header.height = height;
    header.bitCount = static_cast<std::uint16_t>(bits);
    auto bitmap = CreateDibSection(header, colours);
    const std::size_t usedBytes = (static_cast<std::size_t>(width) * bits + 7) / 8;
    for (int y = 0; y < height; ++y) {
        for (std::size_t i = 0; i < usedBytes; ++i) {
            bitmap->Row(y)[i] = static_cast<std::uint8_t>(y * 31 + i * 11 + 5);
        }
    }
    return bitmap;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s DIRECTORY\n", argv[0]);
        return 2;
    }
    const std::string directory = argv[1];
    auto surface = CreateCompatibleSurface();
    bool ok = true;

    std::optional<MapImage> map = CreateMapImage(*surface, 512, 512);
    RenderMap(OctaveNoise{}, *map);
    ok = Write(directory, "default", *map->bitmap, *surface) && ok;

    OctaveNoise noise;
    noise.frequency = 0.09f;
    noise.varyFrequency = 1;
    std::optional<MapImage> small = CreateMapImage(*surface, 37, 23);
    RenderMap(noise, *small);
    ok = Write(directory, "small", *small->bitmap, *surface) && ok;

    for (int bits : {1, 4, 8}) {
        ok = Write(directory, "palette" + std::to_string(bits), *PaletteBitmap(bits, 13, 7), *surface) && ok;
    }
    return ok ? 0 : 1;
}
