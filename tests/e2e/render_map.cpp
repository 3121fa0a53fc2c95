// Renders and saves a map with the core alone, for comparison with what the
// program saves:
//   velmora_render_map WIDTH HEIGHT OCTAVES FREQUENCY AMPLITUDE PERSISTENCE
//                      VARY_FREQUENCY VARY_AMPLITUDE FILE
// Reals are read as decimal doubles and rounded to float, as the form does.
#include <cstdio>
#include <cstdlib>

#include "image/bitmap_file.h"
#include "image/map_image.h"
#include "image/render_map.h"
#include "noise/octave_noise.h"

using namespace velmora;

int main(int argc, char* argv[]) {
    if (argc != 10) {
        std::fprintf(stderr,
                     "usage: %s WIDTH HEIGHT OCTAVES FREQUENCY AMPLITUDE PERSISTENCE VARY_FREQUENCY VARY_AMPLITUDE "
                     "FILE\n",
                     argv[0]);
        return 2;
    }
    OctaveNoise noise;
    const auto width = static_cast<std::int32_t>(std::strtol(argv[1], nullptr, 10));
    const auto height = static_cast<std::int32_t>(std::strtol(argv[2], nullptr, 10));
    noise.octaves = static_cast<std::int32_t>(std::strtol(argv[3], nullptr, 10));
    noise.frequency = static_cast<float>(std::strtod(argv[4], nullptr));
    noise.amplitude = static_cast<float>(std::strtod(argv[5], nullptr));
    noise.persistence = static_cast<float>(std::strtod(argv[6], nullptr));
    noise.varyFrequency = static_cast<std::int32_t>(std::strtol(argv[7], nullptr, 10));
    noise.varyAmplitude = static_cast<std::int32_t>(std::strtol(argv[8], nullptr, 10));

    const std::unique_ptr<MemorySurface> surface = CreateCompatibleSurface();
    std::optional<MapImage> image = CreateMapImage(*surface, width, height);
    if (!image) {
        std::fprintf(stderr, "cannot make a %d x %d map\n", width, height);
        return 1;
    }
    RenderMap(noise, *image);
    if (SaveBitmapFile(argv[9], image->bitmap.get(), surface.get()) != S_OK) {
        std::fprintf(stderr, "cannot save %s\n", argv[9]);
        return 1;
    }
    return 0;
}
