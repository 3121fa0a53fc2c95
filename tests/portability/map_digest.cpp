// Prints a digest of maps and samples that cover every way the renderer
// computes a layer, with every instruction set's kernels, and fails when the
// kernels disagree with each other or with the per-pixel definition. Run on
// processors of different features and byte orders (see check_digest.sh),
// the printed digests must not change: a map must not depend on the machine
// that made it.
#include <bit>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "image/layer_kernels.h"
#include "image/map_image.h"
#include "image/render_map.h"
#include "noise/octave_noise.h"
#include "tests/support/test_support.h"

using namespace velmora;

namespace {

// FNV-1a over bytes: the same bytes give the same digest everywhere.
class Digest {
public:
    void Add(const void* bytes, std::size_t count) {
        const auto* p = static_cast<const unsigned char*>(bytes);
        for (std::size_t i = 0; i < count; ++i) {
            value_ = (value_ ^ p[i]) * 0x100000001B3u;
        }
    }
    // A float by its bits, least significant byte first, so that equal values
    // give equal digests on machines of either byte order.
    void Add(float value) {
        const auto bits = std::bit_cast<std::uint32_t>(value);
        const unsigned char bytes[4] = {static_cast<unsigned char>(bits), static_cast<unsigned char>(bits >> 8),
                                        static_cast<unsigned char>(bits >> 16), static_cast<unsigned char>(bits >> 24)};
        Add(bytes, sizeof bytes);
    }
    [[nodiscard]] std::uint64_t Value() const { return value_; }

private:
    std::uint64_t value_ = 0xCBF29CE484222325u;
};

struct Map {
    const char* name;
    int side;
    NoiseParameters parameters;
    bool perPixel;  // whether the definition is cheap enough to compare with
};

constexpr std::int32_t MostOctaves = std::numeric_limits<std::int32_t>::max();

const Map Maps[] = {
    {"defaults", 512, {}, true},
    {"both-switches-16", 256, {.octaves = 16, .persistence = 0.5f, .varyFrequency = 1, .varyAmplitude = 1}, true},
    {"cells-per-pixel-16", 256, {.octaves = 1, .frequency = 16.0f}, true},
    {"cells-per-pixel-100", 256, {.octaves = 1, .frequency = 100.0f}, true},
    {"whole-and-wrapping-3e5", 256, {.octaves = 1, .frequency = 3e5f}, true},
    {"persistence-minus-1", 128, {.octaves = 11, .persistence = -1.0f, .varyAmplitude = 1}, true},
    {"most-octaves", 128, {.octaves = MostOctaves}, false},
    {"most-octaves-alternating", 128, {.octaves = MostOctaves, .persistence = -1.0f, .varyAmplitude = 1}, false},
};

std::uint64_t DigestOf(const MapImage& image) {
    Digest digest;
    digest.Add(image.Pixels().data(), image.Pixels().size());
    return digest.Value();
}

// Samples where the sum is almost all cancellation, so that the last bits of
// each layer show; among them the point (-0x1.47a948p+8, 0x1.69c44p+2).
std::uint64_t SampleDigest() {
    OctaveNoise noise;
    noise.octaves = 12;
    noise.persistence = -1.0f;
    noise.varyAmplitude = 1;
    Digest digest;
    const float example = noise.Sample(-0x1.47a948p+8f, 0x1.69c44p+2f);
    std::printf("sample at (-0x1.47a948p+8, 0x1.69c44p+2): %a\n", example);
    digest.Add(example);
    for (int i = 0; i < 20000; ++i) {
        const float x = -400.0f + 0.0371f * static_cast<float>(i);
        const float y = 5.0f + 0.0173f * static_cast<float>(i % 997);
        const float value = noise.Sample(x, y);
        digest.Add(value);
    }
    return digest.Value();
}

}  // namespace

int main(int argc, char** argv) {
    // --chosen-kernels: the kernels this processor gets when nothing chose
    // others, as their name; the check runs it on emulated processors.
    if (argc == 2 && std::string(argv[1]) == "--chosen-kernels") {
        std::printf("%s\n", Kernels().name);
        return 0;
    }
    bool agree = true;
    std::printf("samples %016llx\n", static_cast<unsigned long long>(SampleDigest()));
    for (const Map& map : Maps) {
        const OctaveNoise noise = map.parameters.Noise();
        MemorySurface surface;
        std::optional<MapImage> image = CreateMapImage(surface, map.side, map.side);
        if (!image) {
            std::printf("%s: no memory\n", map.name);
            return 1;
        }
        std::optional<std::uint64_t> reference;
        if (map.perPixel) {
            RenderMapPerPixel(noise, *image);
            reference = DigestOf(*image);
        }
        for (const KernelLevel level : SupportedKernelLevels()) {
            RenderControl control;
            if (RenderMap(noise, *image, control, KernelsFor(level)) != RenderStatus::Complete) {
                std::printf("%s: no memory\n", map.name);
                return 1;
            }
            const std::uint64_t digest = DigestOf(*image);
            if (!reference) {
                reference = digest;
            }
            if (digest != *reference) {
                std::printf("%s: %s kernels give %016llx, not %016llx\n", map.name, KernelsFor(level).name,
                            static_cast<unsigned long long>(digest), static_cast<unsigned long long>(*reference));
                agree = false;
            }
        }
        std::printf("%s %016llx\n", map.name, static_cast<unsigned long long>(*reference));
    }
    return agree ? 0 : 1;
}
