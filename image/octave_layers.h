// The octaves of a map grouped into layers: runs of octaves that share one
// frequency, and so one layer value per pixel.
#pragma once

#include <bit>
#include <cstdint>

#include "noise/octave_noise.h"

namespace velmora {

// The frequency of the octave after one at f.
[[nodiscard]] inline float NextFrequency(const OctaveNoise& noise, float f) noexcept {
    return noise.varyFrequency != 0 ? static_cast<float>(static_cast<double>(f) + f) : f;
}

// The amplitude of the octave after one at a.
[[nodiscard]] inline float NextAmplitude(const OctaveNoise& noise, float a) noexcept {
    return noise.varyAmplitude != 0 ? static_cast<float>(static_cast<double>(a) * noise.persistence) : a;
}

// Calls visit(frequency, first octave, run length) for each layer in order.
// Only the last run can be long; the ones before it are single octaves. Once
// the frequency repeats, the rest of the octaves are one run, so there are at
// most a few hundred layers.
template <typename Visit>
void ForEachLayer(const OctaveNoise& noise, Visit&& visit) {
    float frequency = noise.frequency;
    std::int32_t done = 0;
    while (done < noise.octaves) {
        frequency = NextFrequency(noise, frequency);
        std::int32_t runLength = 1;
        if (std::bit_cast<std::uint32_t>(NextFrequency(noise, frequency)) == std::bit_cast<std::uint32_t>(frequency)) {
            runLength = noise.octaves - done;
        }
        visit(frequency, done, runLength);
        done += runLength;
    }
}

[[nodiscard]] inline std::int32_t LayerCount(const OctaveNoise& noise) {
    std::int32_t layers = 0;
    ForEachLayer(noise, [&layers](float, std::int32_t, std::int32_t) { ++layers; });
    return layers;
}

}  // namespace velmora
