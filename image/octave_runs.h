// Adding runs of octaves of one layer to a row of running sums: octave by
// octave for short runs, and for long ones with the settled-sum stop and the
// exact jumps over repeating contributions.
#pragma once

#include <cstdint>

#include "image/render_control.h"

namespace velmora {

class OctaveNoise;
struct LayerKernels;

// Runs of at most this many octaves are added octave by octave (the kernels'
// addOctaves); longer ones with AddLongRun.
constexpr std::int64_t ShortRun = 32;

// The amplitudes of count (at most ShortRun) octaves after one of amplitude.
void RunAmplitudes(const OctaveNoise& noise, float amplitude, std::int64_t count, float* amplitudes);

// Adds count (more than ShortRun) octaves of the layer row layer (width
// values) to the row of sums, exactly as count single octaves do, with the
// settled-sum stop and the exact jumps, with kernels; amplitude is that of the
// octave before the first of them, and the run's amplitudes follow from it as
// noise says.
// With fresh the sums start at 0, whatever their memory holds. Checks control
// (may be null) every few milliseconds and returns false, leaving the sums
// partly updated, once it asks to stop.
[[nodiscard]] bool AddLongRun(const OctaveNoise& noise, const LayerKernels& kernels, float* sums, const double* layer,
                              std::int32_t width, float amplitude, std::int64_t count, bool fresh,
                              const RenderControl* control);

}  // namespace velmora
