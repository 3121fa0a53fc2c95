// Value noise on the integer lattice, summed over octaves.
//
// Every operation is a pure function of the six public parameters and its
// arguments. Arithmetic is done in double precision; each value that the
// algorithm stores as a float is rounded to single precision at that point,
// visibly, so results are identical on every IEEE-754 host built without
// floating-point contraction.
#pragma once

#include <cstdint>

// Truncates v toward zero to a 64-bit integer and returns its low 32 bits as a
// signed lattice index. NaN, infinities and magnitudes of 2^63 or more give 0.
// Never performs an out-of-range conversion.
[[nodiscard]] std::int32_t LatticeIndex(double v) noexcept;

// index + 1, wrapping from INT32_MAX to INT32_MIN.
[[nodiscard]] constexpr std::int32_t NextLatticeIndex(std::int32_t index) noexcept {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(index) + 1u);
}

// The cubic blend weight 3s^2 - 2s^3 with the squares and cubes taken by the
// library power function. cubeBase is s itself or s rounded to float; the two
// differ only where the caller's definition says so.
[[nodiscard]] double BlendWeight(double s, double cubeBase) noexcept;

class OctaveNoise {
public:
    OctaveNoise() noexcept { Reset(); }

    // Plain parameters, written directly by the caller and never checked:
    // negative, zero, huge, infinite and NaN values all flow through.
    float persistence;         // amplitude factor per octave (varyAmplitude on)
    std::int32_t octaves;      // layers summed; 0 or less gives 0 everywhere
    float frequency;           // sample coordinates to lattice coordinates
    float amplitude;           // weight of a layer
    std::int32_t varyFrequency;  // non-zero: double the frequency each octave
    std::int32_t varyAmplitude;  // non-zero: multiply the amplitude by persistence each octave

    // Restores persistence 0.25, octaves 4, frequency 0.015f, amplitude 1,
    // both switches off.
    void Reset() noexcept;

    // Hash value of lattice point (x, y), in (-1, 1]; exactly 1 when the hash is 0.
    [[nodiscard]] double LatticeValue(std::int32_t x, std::int32_t y) const noexcept;

    // Average of the lattice values around (trunc x, trunc y), weighted 1/4 for
    // the point, 1/8 per edge neighbour and 1/16 per diagonal neighbour.
    [[nodiscard]] float SmoothedValue(float x, float y) const noexcept;

    // Cubic blend from a (t = 0, exactly) to b (t = 1, exactly). t outside
    // [0, 1] is evaluated unchanged.
    [[nodiscard]] double Blend(float a, float b, float t) const noexcept;

    // Smoothed lattice values of the cell around (x, y), blended along x and
    // then along y. Negative coordinates give negative fractions.
    [[nodiscard]] double InterpolatedValue(float x, float y) const noexcept;

    // The octave sum at (x, y). 0 when octaves <= 0.
    [[nodiscard]] float Sample(float x, float y) const noexcept;
};
