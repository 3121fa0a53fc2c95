// Octaves: one layer's octaves added to a row of running sums, one octave at
// a time, and the exact jumps over many octaves whose contributions repeat.
#pragma once

#include <cstdint>
#include <cstring>

#include "image/lattice_lanes.h"
#include "noise/octave_sum.h"

namespace velmora {

namespace {

using namespace lanes;

void AddOctave(float* sums, const double* layer, float amplitude, std::int32_t count) {
    for (std::int32_t x = 0; x < count; ++x) {
        sums[x] = static_cast<float>(sums[x] + layer[x] * amplitude);
    }
}

void AddOctaves(float* sums, const double* layer, const float* amplitudes, std::int32_t octaves, bool fresh,
                std::int32_t count) {
    // Octave by octave over the row, which stays in the first-level cache:
    // each pass is one loop of independent lanes.
    std::int32_t i = 0;
    if (fresh && octaves > 0) {
        const float amplitude = amplitudes[i++];
        for (std::int32_t x = 0; x < count; ++x) {
            sums[x] = static_cast<float>(0.0f + layer[x] * amplitude);
        }
    }
    for (; i < octaves; ++i) {
        AddOctave(sums, layer, amplitudes[i], count);
    }
}

// Exact jumps over repeating contributions in lanes: RepeatContributions of
// noise/octave_sum.cpp for one register of pixels at once, step for step the same
// algorithm (see there for why a jump is exact), with every decision made
// per lane and lanes that are done left as they are.

VELMORA_LANE_INLINE DoubleRegister Magnitude(DoubleRegister v) {
    return reinterpret_cast<DoubleRegister>(reinterpret_cast<Uint64Register>(v) & 0x7FFFFFFFFFFFFFFFu);
}

// The exponent of each lane's magnitude, for finite non-zero doubles.
VELMORA_LANE_INLINE Int64Register ExponentOf(DoubleRegister v) {
    return reinterpret_cast<Int64Register>((reinterpret_cast<Uint64Register>(v) >> 52) & 0x7FFu) - 1023;
}

// 2^exponent for exponents of normal doubles.
VELMORA_LANE_INLINE DoubleRegister PowerOfTwo(Int64Register exponent) {
    return reinterpret_cast<DoubleRegister>(PowerOfTwoBits(exponent));
}

VELMORA_LANE_INLINE DoubleRegister Min(DoubleRegister a, DoubleRegister b) { return a < b ? a : b; }
VELMORA_LANE_INLINE Int64Register Max(Int64Register a, Int64Register b) { return a > b ? a : b; }

VELMORA_LANE_INLINE bool AnyLane(Int64Register mask) {
    bool any = false;
    for (int lane = 0; lane < RegisterDoubles; ++lane) {
        any |= mask[lane] != 0;
    }
    return any;
}

// What BinadeOf, IsMultipleOf and TranslationRoom decide for the exact sums t
// of one step: the largest number of jumps by step that keeps every
// translated t inside its binade, 0 where no jump is allowed (t outside the
// float range or zero, step no even multiple of t's float grid), or -1.
VELMORA_LANE_INLINE DoubleRegister JumpRoom(DoubleRegister t, DoubleRegister step) {
    const DoubleRegister magnitude = Magnitude(t);
    const Int64Register inRange = (magnitude >= 0x1p-149) & (magnitude <= FloatMax);
    const Int64Register exponent = ExponentOf(magnitude);
    const DoubleRegister low = PowerOfTwo(exponent);
    const DoubleRegister high = Min(PowerOfTwo(exponent + 1), DoubleRegister{} + FloatMax);
    const DoubleRegister doubleSpacing = PowerOfTwo(exponent - 52);
    // step over twice the float grid's spacing, exact: a product with a power of two.
    const DoubleRegister quotient = Magnitude(step * PowerOfTwo(-1 - Max(exponent - 23, Int64Register{} - 149)));
    const Int64Register multiple = FloorOfPositive(quotient) == quotient;
    const Int64Register nearEdge = (magnitude - doubleSpacing < low) | (magnitude + doubleSpacing > high);
    const DoubleRegister growth = t > 0.0 ? step : -step;
    const DoubleRegister room = (growth > 0.0 ? high - doubleSpacing - magnitude : magnitude - doubleSpacing - low) /
                                Magnitude(growth);
    DoubleRegister whole = FloorOfPositive(room) - 1.0;
    whole = whole > 0.0 ? Min(whole, DoubleRegister{} + 0x1p62) : DoubleRegister{};
    whole = growth == 0.0 ? DoubleRegister{} + __builtin_inf() : whole;
    whole = nearEdge ? DoubleRegister{} - 1.0 : whole;
    return (inRange & multiple) ? whole : DoubleRegister{};
}

// Whether end - start is exact in double: for finite floats it is unless both
// are non-zero and their exponents lie far apart.
VELMORA_LANE_INLINE Int64Register DifferenceIsExact(DoubleRegister start, DoubleRegister end) {
    const Int64Register finite = (Magnitude(start) <= FloatMax) & (Magnitude(end) <= FloatMax);
    const Int64Register zero = (start == 0.0) | (end == 0.0);
    const Int64Register gap = ExponentOf(start) - ExponentOf(end);
    return finite & (zero | ((gap <= 28) & (gap >= -28)));
}

// The state of one register of pixels during their jumps.
struct JumpLanes {
    DoubleRegister sum;
    DoubleRegister first;   // the contributions, alternating
    DoubleRegister second;
    DoubleRegister left;    // octaves still to add
    Int64Register active;   // lanes still taking macro steps

    // One macro step, then as many more as can be jumped over at once.
    VELMORA_LANE_INLINE void Advance(int period) {
        const int macroSteps = 2 * period;
        active &= (left >= macroSteps) & (sum == sum);  // a NaN sum stays NaN
        DoubleRegister exact[4];
        DoubleRegister end = sum;
        for (int i = 0; i < macroSteps; ++i) {
            exact[i] = end + (i % period == 0 ? first : second);
            end = WidenRegister(NarrowRegister(exact[i]));
        }
        left = active ? left - macroSteps : left;
        // A fixed point of the macro step: the rest are single steps.
        const Int64Register fixed =
            active & (reinterpret_cast<Uint64Register>(end) == reinterpret_cast<Uint64Register>(sum));
        left = fixed ? left - FloorOfPositive(left / macroSteps) * macroSteps : left;
        active &= ~fixed;
        const DoubleRegister start = sum;
        sum = active ? end : sum;
        const DoubleRegister step = end - start;
        DoubleRegister jumps = FloorOfPositive(left / macroSteps);
        for (int i = 0; i < macroSteps; ++i) {
            jumps = Min(jumps, JumpRoom(exact[i], step));
        }
        const Int64Register jump = active & DifferenceIsExact(start, end) & (jumps > 0.0);
        // jumps * step is the distance between two floats of one binade: exact.
        sum = jump ? WidenRegister(NarrowRegister(end + jumps * step)) : sum;
        left = jump ? left - jumps * macroSteps : left;
        active &= left >= macroSteps;
    }

    // The last octaves, fewer than a macro step.
    VELMORA_LANE_INLINE void Finish(int period) {
        for (int i = 0; i + 1 < 2 * period; ++i) {
            const DoubleRegister next = WidenRegister(NarrowRegister(sum + (i % period == 0 ? first : second)));
            sum = left > i ? next : sum;
        }
    }
};

// Registers of pixels jumped together: their chains of dependent steps
// overlap in the processor, which one chain alone would leave idle.
constexpr int JumpRegisters = 2;

// The sums after count more octaves with contributions layer * first, layer *
// second, ... for JumpRegisters registers of pixels at sums and layer; period
// 1 when first and second are the same.
void RepeatInRegisters(double* sums, const double* layer, double first, double second, int period,
                       double count) {
    JumpLanes lanes[JumpRegisters];
    for (int k = 0; k < JumpRegisters; ++k) {
        const auto value = Load<DoubleRegister>(layer + k * RegisterDoubles);
        lanes[k] = {Load<DoubleRegister>(sums + k * RegisterDoubles), value * first, value * second,
                    DoubleRegister{} + count, Int64Register{} - 1};
    }
    for (;;) {
        Int64Register any{};
        for (int k = 0; k < JumpRegisters; ++k) {
            lanes[k].Advance(period);
            any |= lanes[k].active;
        }
        if (!AnyLane(any)) {
            break;
        }
    }
    for (int k = 0; k < JumpRegisters; ++k) {
        lanes[k].Finish(period);
        Store(sums + k * RegisterDoubles, lanes[k].sum);
    }
}

// Pieces with at most this many distinct pixels jump them one at a time.
constexpr std::int32_t FewDistinct = 2;

// Pixels are taken in pieces of this many; in each, neighbours with the same
// sum and layer value, as on flat maps, share one jump.
constexpr std::int32_t RepeatPiece = 512;

void RepeatRun(float* sums, const double* layer, double first, double second, std::int64_t count,
               std::int32_t width) {
    constexpr std::int32_t Group = JumpRegisters * RegisterDoubles;
    const int period = std::memcmp(&first, &second, sizeof first) == 0 ? 1 : 2;
    const double left = static_cast<double>(count < 0 ? 0 : count);
    alignas(64) double distinctSums[RepeatPiece + Group];
    alignas(64) double distinctLayers[RepeatPiece + Group];
    std::int32_t owner[RepeatPiece];
    for (std::int32_t start = 0; start < width; start += RepeatPiece) {
        const std::int32_t piece = width - start < RepeatPiece ? width - start : RepeatPiece;
        std::int32_t distinct = 0;
        for (std::int32_t x = 0; x < piece; ++x) {
            const double sum = sums[start + x];
            const double value = layer[start + x];
            if (distinct == 0 || std::memcmp(&sum, &distinctSums[distinct - 1], sizeof sum) != 0 ||
                std::memcmp(&value, &distinctLayers[distinct - 1], sizeof value) != 0) {
                distinctSums[distinct] = sum;
                distinctLayers[distinct] = value;
                ++distinct;
            }
            owner[x] = distinct - 1;
        }
        if (distinct <= FewDistinct) {
            // A flat piece: lanes would mostly jump padding.
            for (std::int32_t i = 0; i < distinct; ++i) {
                distinctSums[i] = RepeatContributions(static_cast<float>(distinctSums[i]), distinctLayers[i] * first,
                                                      distinctLayers[i] * second, count);
            }
        } else {
            // Padding of contribution 0, which stops at once.
            for (std::int32_t i = distinct; i % Group != 0; ++i) {
                distinctSums[i] = 0.0;
                distinctLayers[i] = 0.0;
            }
            for (std::int32_t i = 0; i < distinct; i += Group) {
                RepeatInRegisters(distinctSums + i, distinctLayers + i, first, second, period, left);
            }
        }
        for (std::int32_t x = 0; x < piece; ++x) {
            sums[start + x] = static_cast<float>(distinctSums[owner[x]]);
        }
    }
}

}  // namespace

}  // namespace velmora
