// Helpers that the tests and the benchmark share.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "image/layer_kernels.h"
#include "noise/octave_noise.h"

namespace velmora {

// One row of a table of noise parameters, named by field; what a row leaves
// out keeps OctaveNoise's default.
struct NoiseParameters {
    std::int32_t octaves = 4;
    float frequency = 0.015f;
    float amplitude = 1.0f;
    float persistence = 0.25f;
    int varyFrequency = 0;
    int varyAmplitude = 0;

    // The OctaveNoise with these parameters.
    [[nodiscard]] OctaveNoise Noise() const;
};

// A new, empty folder under the system's temporary folder, its name
// starting with prefix and unique among processes that run at once.
[[nodiscard]] std::filesystem::path MakeTestFolder(const std::string& prefix);

// Every byte of the file at path; empty when it cannot be read.
[[nodiscard]] std::vector<std::uint8_t> ReadFileBytes(const std::filesystem::path& path);

// The level's name: "baseline", "avx2" or "avx512".
[[nodiscard]] std::string KernelLevelName(KernelLevel level);

}  // namespace velmora
