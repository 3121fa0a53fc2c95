// Rendering that computes the work pixels share once: the same bytes as one
// Sample per pixel, at a fraction of the cost.
#pragma once

#include <cstdint>

#include "image/render_control.h"

class OctaveNoise;
struct MapImage;

// Working memory below which small maps are not squeezed further: a map whose
// pixel memory is smaller still gets this much.
constexpr std::uint64_t RenderMinimumWorkspace = 64 * 1024;

// Bytes of working memory that RenderMapFast takes for a width x height map:
// the map's own pixel bytes (stride x height), or RenderMinimumWorkspace if
// that is more. 0 for a size that CreateMapImage refuses.
[[nodiscard]] std::uint64_t RenderWorkspaceBytes(std::int32_t width, std::int32_t height) noexcept;

// Fills every pixel of image with GrayLevel(noise.Sample(x, y)), byte for byte
// what RenderMapPerPixel writes, on the calling thread. Per octave it computes
// the scaled coordinate, lattice index, fraction and blend weights once per
// column and once per row, each smoothed lattice value once (tabulated by the
// index sum of its centre where that range is small), and each blend along x
// once per column and lattice row, or, where lattice cells are smaller than a
// pixel, each cell's blend directly from the tabulated values; octaves of
// equal frequency share one layer. Falls back to RenderMapPerPixel when the
// working memory cannot be had.
// With a control, reports progress there and stops early once it says so.
RenderStatus RenderMapFast(const OctaveNoise& noise, MapImage& image, RenderControl* control = nullptr);
