#include "image/octave_runs.h"

#include <algorithm>
#include <bit>
#include <cmath>

#include "image/layer_kernels.h"
#include "image/octave_layers.h"
#include "noise/octave_sum.h"

namespace velmora {

namespace {

// How often, in octaves, a long run checks whether its sums have settled, and
// whether it is asked to stop.
constexpr std::int32_t CheckInterval = 8;

// Pixels of a row jumped between two looks at the stop request (each pixel's
// jumps take well under a microsecond).
constexpr std::int32_t JumpsBetweenChecks = 512;

bool StopRequested(const RenderControl* control) noexcept {
    return control != nullptr && control->stop.load(std::memory_order_relaxed);
}

bool RowIsSettled(const float* sums, const double* layer, float amplitude, std::int32_t width) noexcept {
    for (std::int32_t x = 0; x < width; ++x) {
        if (!SumIsSettled(sums[x], layer[x] * amplitude)) {
            return false;
        }
    }
    return true;
}

// Every sum of the row after count octaves whose amplitudes alternate first,
// second, ..., a piece of the row at a time.
bool RepeatRow(const LayerKernels& kernels, float* sums, const double* layer, float first, float second,
               std::int64_t count, std::int32_t width, const RenderControl* control) {
    for (std::int32_t x = 0; x < width; x += JumpsBetweenChecks) {
        if (StopRequested(control)) {
            return false;
        }
        kernels.repeatRun(sums + x, layer + x, first, second, count, std::min(JumpsBetweenChecks, width - x));
    }
    return true;
}

// Octave by octave while the amplitude still changes, stopping early once no
// sum can change any more; once the amplitude repeats (period 1 or 2), every
// pixel jumps to its end.
bool AddRunInSteps(const OctaveNoise& noise, const LayerKernels& kernels, float* sums, const double* layer,
                   std::int32_t width, float amplitude, std::int64_t count, const RenderControl* control) {
    // Amplitudes that never grow in magnitude leave a sum alone for good once
    // its contribution is too small to move it.
    const bool shrinking = noise.varyAmplitude == 0 || std::fabs(noise.persistence) <= 1.0f;
    float before = amplitude;
    float twoBefore = 0.0f;
    bool haveTwoBefore = false;
    std::int32_t untilCheck = CheckInterval;
    while (count > 0) {
        const float a = NextAmplitude(noise, before);
        if (std::bit_cast<std::uint32_t>(a) == std::bit_cast<std::uint32_t>(before)) {
            return RepeatRow(kernels, sums, layer, a, a, count, width, control);
        }
        if (haveTwoBefore && std::bit_cast<std::uint32_t>(a) == std::bit_cast<std::uint32_t>(twoBefore)) {
            return RepeatRow(kernels, sums, layer, a, before, count, width, control);
        }
        kernels.addOctave(sums, layer, a, width);
        --count;
        twoBefore = before;
        haveTwoBefore = true;
        before = a;
        if (--untilCheck == 0) {
            untilCheck = CheckInterval;
            if (StopRequested(control)) {
                return false;
            }
            if (shrinking && RowIsSettled(sums, layer, NextAmplitude(noise, before), width)) {
                return true;
            }
        }
    }
    return true;
}

}  // namespace

void RunAmplitudes(const OctaveNoise& noise, float amplitude, std::int64_t count, float* amplitudes) {
    for (std::int64_t i = 0; i < count; ++i) {
        amplitude = NextAmplitude(noise, amplitude);
        amplitudes[i] = amplitude;
    }
}

bool AddLongRun(const OctaveNoise& noise, const LayerKernels& kernels, float* sums, const double* layer,
                std::int32_t width, float amplitude, std::int64_t count, bool fresh, const RenderControl* control) {
    if (fresh) {
        std::fill_n(sums, width, 0.0f);
    }
    return AddRunInSteps(noise, kernels, sums, layer, width, amplitude, count, control);
}

}  // namespace velmora
