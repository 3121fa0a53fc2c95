// The running octave sum of Sample, one step at a time or in exact jumps.
//
// Each octave adds a contribution c = layer * amplitude (a double) to the sum:
// sum = float(sum + c), the addition in double. Once frequency and amplitude
// have settled, a pixel's contribution repeats with period 1 or 2, and many
// octaves can be skipped at once without changing a bit of the result.
#pragma once

#include <cstdint>
#include <limits>

namespace velmora {

// The largest float, as a double: sums beyond it round to infinity.
constexpr double FloatMax = std::numeric_limits<float>::max();

// The bits of the double 2^exponent, for exponents of normal doubles (-1022
// ... 1023): of one exponent as a 64-bit integer, or of each lane of a
// vector of them.
template <typename Bits>
[[nodiscard]] constexpr Bits PowerOfTwoBits(Bits exponent) noexcept {
    return (exponent + 1023) << 52;
}

// Whether float(sum + c') equals sum, bit for bit, for every contribution c'
// no larger in magnitude than contribution: a NaN sum; an infinite sum and a
// finite contribution; +0 and a zero contribution; any other finite sum and a
// contribution of at most a quarter of the gap to its neighbour toward zero.
// Conservative: may say false where the sum would in fact stay.
[[nodiscard]] bool SumIsSettled(float sum, double contribution) noexcept;

// The sum after count more octaves whose contributions alternate first,
// second, first, ... (pass the same value twice for a constant one), exactly
// as count single steps give it. count < 0 counts as 0. Takes time of the
// order of the binades the sum crosses, not of count.
[[nodiscard]] float RepeatContributions(float sum, double first, double second, std::int64_t count) noexcept;

}  // namespace velmora
