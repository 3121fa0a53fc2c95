// Rendering one work unit of a map, tile by tile, layer by layer: the work
// that pixels share is computed once, and the rest in the kernels.
#pragma once

#include <cstddef>
#include <cstdint>

#include "image/render_control.h"
#include "image/render_plan.h"

namespace velmora {

class OctaveNoise;
struct LayerKernels;
struct MapImage;

// Fills every pixel of unit (whole tiles of plan, one column band) with
// GrayLevel(noise.Sample(x, y)), byte for byte what RenderMapPerPixel writes,
// with kernels, whichever level they are.
// memory is this thread's working memory: WorkspaceBytes bytes, aligned to
// 64. Adds the pixel-layers done to control (may be null) as it goes, and
// returns false, leaving the unit partly rendered, once control asks to stop.
[[nodiscard]] bool RenderUnit(const OctaveNoise& noise, const LayerKernels& kernels, const TilePlan& plan,
                              std::byte* memory, const PixelBlock& unit, MapImage& image, RenderControl* control);

}  // namespace velmora
