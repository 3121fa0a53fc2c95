// The state of the program: one instance for the whole process.
#pragma once

#include <cstdint>
#include <memory>

#include "image/drawing_surface.h"

namespace velmora {

// Everything starts at zero: no map, no size, switches off, no windows.
struct AppState {
    std::int32_t width = 0;   // map width, read from the Width field at each Generate
    std::int32_t height = 0;  // map height, read from the Height field at each Generate
    // The off-screen surface that holds the current map. The program makes
    // one at start, and another when the picture window opens; closing the
    // picture window releases it.
    std::unique_ptr<MemorySurface> surface;
    std::int32_t varyFrequencyChecked = 0;  // flipped by each click on "Vary Frequency with octave"
    std::int32_t varyAmplitudeChecked = 0;  // flipped by each click on "Vary Amplitude with octave"
    bool pictureWindow = false;             // whether the picture window exists; it may fail to open
    std::int32_t imageReady = 0;            // 1 once a Generate has made a map; Save waits for it
    std::shared_ptr<Bitmap> image;          // the current map, selected into surface
};

}  // namespace velmora
