// Value noise on the integer lattice, summed over octaves.
//
// Every operation is a pure function of the six public parameters and its
// arguments. Arithmetic is done in double precision; each value that the
// algorithm stores as a float is rounded to single precision at that point,
// visibly, so results are identical on every IEEE-754 host built without
// floating-point contraction.
#pragma once

#include <cmath>
#include <cstdint>

namespace velmora {

// Truncates v toward zero to a 64-bit integer and returns its low 32 bits as a
// signed lattice index. NaN, infinities and magnitudes of 2^63 or more give 0.
// Never performs an out-of-range conversion. Inline: renderers call it for
// every column and row of every layer.
[[nodiscard]] inline std::int32_t LatticeIndex(double v) noexcept {
    if (!(std::fabs(v) < 9223372036854775808.0)) {
        return 0;  // NaN, infinities and values that do not fit 64 bits
    }
    const auto wide = static_cast<std::int64_t>(v);
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(static_cast<std::uint64_t>(wide)));
}

// index + 1, wrapping from INT32_MAX to INT32_MIN.
[[nodiscard]] constexpr std::int32_t NextLatticeIndex(std::int32_t index) noexcept {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(index) + 1u);
}

// The cubic blend weight 3 s^2 - 2 c^3, in double, with the square and the
// cube each correctly rounded to double, on every processor. c is s itself or
// s rounded to float; the two differ only where the caller's definition says so.
// Inline: renderers call it for every column and row of every layer.
[[nodiscard]] inline double BlendWeight(double s, float cubeBase) noexcept {
    // Plain multiplication gives the correctly rounded powers. s * s rounds
    // once, so it is the double nearest to the square. cubeBase is a float: its
    // square has at most 48 significant bits and is exact in double, so the
    // one rounding of the second product gives the double nearest to the cube,
    // at any magnitude a float can have. The library power function is not
    // used because its last bit can differ between processors and library
    // versions, and a map must not depend on the machine that made it.
    const double square = s * s;
    const double cube = static_cast<double>(cubeBase) * cubeBase * cubeBase;
    return 3.0 * square - 2.0 * cube;
}

// The lattice hash of the point whose index sum x + 57 y (wrapping at 32 bits)
// is n, in (-1, 1]: the hash depends on that sum alone, so a renderer can
// tabulate it along a range of sums. Exactly 1 when the hash is 0.
[[nodiscard]] inline double LatticeHashOfSum(std::uint32_t n) noexcept {
    n ^= n << 13;
    const std::uint32_t m = (n * (n * n * 15731u + 789221u) - 771171059u) & 0x7FFFFFFFu;
    return 1.0 - static_cast<double>(m) * 9.313225746154785e-10;
}

// How far the index sum moves from one lattice row to the next.
constexpr std::uint32_t LatticeRowSum = 57;

// The index sum x + 57 y of lattice point (x, y), wrapping at 32 bits. The sum
// is linear, so LatticeSum(dx, dy) is also how far the sum of the neighbour dx
// columns right and dy rows up lies from a point's own.
[[nodiscard]] constexpr std::uint32_t LatticeSum(std::int32_t x, std::int32_t y) noexcept {
    return static_cast<std::uint32_t>(x) + LatticeRowSum * static_cast<std::uint32_t>(y);
}

// The smoothing step of SmoothedValue, from the nine lattice values around a
// point, named by column then row: m is index - 1, c the index, p index + 1.
// Corners and sides are each summed in a fixed order, rounding to float after
// every addition; the result is rounded to float.
[[nodiscard]] inline float SmoothLatticeValues(double pp, double mp, double pm, double mm, double pc,
                                               double mc, double cp, double cm, double cc) noexcept {
    float corners = static_cast<float>(pp);
    corners = static_cast<float>(corners + mp);
    corners = static_cast<float>(corners + pm);
    corners = static_cast<float>((corners + mm) * 0.0625);

    float sides = static_cast<float>(pc);
    sides = static_cast<float>(sides + mc);
    sides = static_cast<float>(sides + cp);
    sides = static_cast<float>((sides + cm) * 0.125);

    const double centre = cc * 0.25;
    return static_cast<float>((centre + sides) + corners);
}

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

}  // namespace velmora
