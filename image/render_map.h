// Rendering a map: every pixel's gray level from the noise, on every core,
// byte for byte what the plain per-pixel definition gives.
#pragma once

#include "image/render_control.h"

namespace velmora {

class OctaveNoise;
struct LayerKernels;
struct MapImage;

// Fills every pixel of image with GrayLevel(noise.Sample(x, y)); (0, 0) is the
// bottom-left pixel. Reads noise only. Shares the map out to every hardware
// thread unless it is too small to be worth it; each thread takes working
// memory of a few MiB, whatever the map's size. Without that memory it falls
// back to the per-pixel definition.
void RenderMap(const OctaveNoise& noise, MapImage& image);

// The same render on control.threads threads, reporting its progress in
// control and stopping early, within milliseconds, once control.stop is set.
// Returns Stopped, with the image partly rendered, if it stopped early, and
// NoMemory, rendering nothing, if not even one thread's working memory could
// be had.
[[nodiscard]] RenderStatus RenderMap(const OctaveNoise& noise, MapImage& image, RenderControl& control);

// The same render with the given kernels rather than the processor's best,
// for tests and benchmarks that compare the instruction sets; the bytes are
// the same whichever they are.
[[nodiscard]] RenderStatus RenderMap(const OctaveNoise& noise, MapImage& image, RenderControl& control,
                                     const LayerKernels& kernels);

// The same map by the plain definition: one Sample per pixel, columns outer,
// rows inner. The reference that every faster renderer must match byte for byte.
void RenderMapPerPixel(const OctaveNoise& noise, MapImage& image);

}  // namespace velmora
