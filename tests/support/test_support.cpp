#include "tests/support/test_support.h"

#include <fstream>
#include <iterator>
#include <random>

namespace velmora {

OctaveNoise NoiseParameters::Noise() const {
    OctaveNoise noise;
    noise.octaves = octaves;
    noise.frequency = frequency;
    noise.amplitude = amplitude;
    noise.persistence = persistence;
    noise.varyFrequency = varyFrequency;
    noise.varyAmplitude = varyAmplitude;
    return noise;
}

std::filesystem::path MakeTestFolder(const std::string& prefix) {
    std::random_device entropy;
    for (;;) {
        const std::filesystem::path folder =
            std::filesystem::temp_directory_path() / (prefix + "-" + std::to_string(entropy()));
        if (std::filesystem::create_directory(folder)) {
            return folder;
        }
    }
}

std::vector<std::uint8_t> ReadFileBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string KernelLevelName(KernelLevel level) {
    switch (level) {
        case KernelLevel::Baseline: return "baseline";
        case KernelLevel::Avx2: return "avx2";
        case KernelLevel::Avx512: return "avx512";
    }
    return "unknown";
}

}  // namespace velmora
