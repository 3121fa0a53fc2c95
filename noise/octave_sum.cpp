#include "noise/octave_sum.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>

namespace velmora {

// Why a jump is exact. One step is h_c(x) = float(double(x + c)): the exact
// sum t = x + c is rounded to the double grid of t's binade, then to the float
// grid of the binade of that double T. If t and T are moved by d, an even
// multiple of the float grid spacing of their binade (and so of the finer
// double spacing), and stay inside the same binade, both roundings move by d
// exactly: ties still go to the same (even) neighbour. So h_c(x + d) =
// h_c(x) + d, and a composition of steps U (a "macro step") satisfies
// U(s + d) = U(s) + d under those conditions for every step in it.
//
// Measure one macro step from s: U(s) = s + D. If D meets the conditions for
// every step of the macro step at translations 0, D, 2D, ..., kD, then
// U(s + jD) = s + (j + 1)D for all those j, and k + 1 macro steps land on
// s + (k + 1)D. The macro step is two periods of the contribution, so a
// steady increment that is an odd multiple of the grid still qualifies.
//
// U is monotone (rounding and adding are), so the sum moves in one direction
// until it stops; it crosses each binade once, and only near binade edges
// and zero does the loop fall back to single macro steps.

namespace {

// Binade [low, high) of a magnitude, high capped at the largest float so that
// no translated sum overflows to infinity; the double and float grid spacings
// inside it.
struct Binade {
    double low;
    double high;
    double doubleSpacing;
    double floatSpacing;
};

// 2^exponent for exponents of normal doubles.
double PowerOfTwo(int exponent) noexcept {
    return std::bit_cast<double>(PowerOfTwoBits(static_cast<std::uint64_t>(exponent)));
}

// The binade of |t|, or false for 0, NaN, infinities, magnitudes that round
// to infinity as floats and ones that round to 0 as floats.
bool BinadeOf(double t, Binade& binade) noexcept {
    const double magnitude = std::fabs(t);
    if (!(magnitude >= 0x1p-149) || !(magnitude <= FloatMax)) {
        return false;
    }
    const int exponent = static_cast<int>(std::bit_cast<std::uint64_t>(magnitude) >> 52) - 1023;
    binade.low = PowerOfTwo(exponent);
    binade.high = std::min(PowerOfTwo(exponent + 1), FloatMax);
    binade.doubleSpacing = PowerOfTwo(exponent - 52);
    binade.floatSpacing = PowerOfTwo(std::max(exponent - 23, -149));
    return true;
}

// Whether step is a whole multiple of spacing, a power of two.
bool IsMultipleOf(double step, double spacing) noexcept {
    const double quotient = step / spacing;  // exact: dividing by a power of two
    return quotient == std::trunc(quotient);
}

// The largest k such that t + j * step stays at least one double spacing
// inside t's binade for every j in 0 ... k; -1 when t itself is too close to
// an edge. Errs low.
std::int64_t TranslationRoom(double t, double step, const Binade& binade) noexcept {
    const double magnitude = std::fabs(t);
    if (magnitude - binade.doubleSpacing < binade.low || magnitude + binade.doubleSpacing > binade.high) {
        return -1;
    }
    const double growth = t > 0 ? step : -step;
    if (growth == 0) {
        return std::numeric_limits<std::int64_t>::max();
    }
    const double room = growth > 0 ? (binade.high - binade.doubleSpacing - magnitude) / growth
                                   : (magnitude - binade.doubleSpacing - binade.low) / -growth;
    // The division may round up to the next whole number: give one back.
    const double whole = std::floor(room) - 1.0;
    if (!(whole > 0.0)) {
        return 0;
    }
    return whole >= 0x1p62 ? std::int64_t{1} << 62 : static_cast<std::int64_t>(whole);
}

// Whether end - start is exact in double: for two finite floats it is unless
// both are nonzero and their exponents lie far apart.
bool DifferenceIsExact(float start, float end) noexcept {
    if (!std::isfinite(start) || !std::isfinite(end)) {
        return false;
    }
    if (start == 0.0f || end == 0.0f) {
        return true;
    }
    return std::abs(std::ilogb(start) - std::ilogb(end)) <= 28;
}

constexpr int MaxMacroSteps = 4;

}  // namespace

bool SumIsSettled(float sum, double contribution) noexcept {
    if (std::isnan(sum)) {
        return true;
    }
    if (std::isnan(contribution)) {
        return false;
    }
    if (std::isinf(sum)) {
        return std::isfinite(contribution);
    }
    if (sum == 0.0f) {
        return !std::signbit(sum) && contribution == 0.0;  // -0 turns into +0 on adding +0
    }
    // The nearer neighbour is the one toward zero (half as far at a power of two).
    const float magnitude = std::fabs(sum);
    const double gap = static_cast<double>(magnitude) - static_cast<double>(std::nextafter(magnitude, 0.0f));
    return std::fabs(contribution) <= gap / 4.0;
}

float RepeatContributions(float sum, double first, double second, std::int64_t count) noexcept {
    const double contributions[2] = {first, second};
    const int period = std::bit_cast<std::uint64_t>(first) == std::bit_cast<std::uint64_t>(second) ? 1 : 2;
    const int macroSteps = 2 * period;
    // Every jump and every macro step consumes whole periods, so the next
    // octave always takes contributions[0].
    while (count >= macroSteps) {
        if (std::isnan(sum)) {
            return sum;
        }
        double exact[MaxMacroSteps];
        float end = sum;
        for (int i = 0; i < macroSteps; ++i) {
            exact[i] = end + contributions[i % period];
            end = static_cast<float>(exact[i]);
        }
        count -= macroSteps;
        if (std::bit_cast<std::uint32_t>(end) == std::bit_cast<std::uint32_t>(sum)) {
            count %= macroSteps;  // a fixed point of the macro step
            break;
        }
        const float start = sum;
        sum = end;
        if (!DifferenceIsExact(start, end)) {
            continue;
        }
        const double step = static_cast<double>(end) - static_cast<double>(start);
        std::int64_t jumps = count / macroSteps;
        for (int i = 0; i < macroSteps && jumps > 0; ++i) {
            Binade binade;
            if (!BinadeOf(exact[i], binade) || !IsMultipleOf(step, 2.0 * binade.floatSpacing)) {
                jumps = 0;
                break;
            }
            jumps = std::min(jumps, TranslationRoom(exact[i], step, binade));
        }
        if (jumps > 0) {
            // jumps * step is the distance between two floats of one binade: exact.
            sum = static_cast<float>(static_cast<double>(end) + static_cast<double>(jumps) * step);
            count -= jumps * macroSteps;
        }
    }
    for (std::int64_t i = 0; i < count; ++i) {
        sum = static_cast<float>(sum + contributions[i % period]);
    }
    return sum;
}

}  // namespace velmora
