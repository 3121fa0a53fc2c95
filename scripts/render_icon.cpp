// Renders the application icon: a noise tile drawn by the program's own
// renderer, written as a BMP for conversion to PNG.
//   render_icon SIZE FILE
#include <cstdio>
#include <cstdlib>

#include "image/bitmap_file.h"
#include "image/map_image.h"
#include "image/render_map.h"
#include "noise/octave_noise.h"

using namespace velmora;

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s SIZE FILE\n", argv[0]);
        return 2;
    }
    const int size = std::atoi(argv[1]);
    OctaveNoise noise;
    // The same tile at every size: smaller sizes sample the field more coarsely.
    noise.frequency = static_cast<float>(0.02 * 256.0 / size);
    noise.octaves = 5;
    noise.amplitude = 5.0f;
    noise.persistence = 0.5f;
    noise.varyFrequency = 1;
    noise.varyAmplitude = 1;
    auto surface = CreateCompatibleSurface();
    std::optional<MapImage> image = CreateMapImage(*surface, size, size);
    if (!image) {
        return 1;
    }
    RenderMap(noise, *image);
    return SaveBitmapFile(argv[2], image->bitmap.get(), surface.get()) == S_OK ? 0 : 1;
}
