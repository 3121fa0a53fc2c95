// The state of the user interface: one instance for the whole process.
#pragma once

#include <QPointer>

#include <cstdint>
#include <memory>

#include "image/drawing_surface.h"

namespace velmora {

class PictureDialog;

// Everything starts at zero: no map, no size, switches off, no windows.
struct AppState {
    std::int32_t width = 0;   // map width, read from the Width field at each Generate
    std::int32_t height = 0;  // map height, read from the Height field at each Generate
    // The off-screen surface that holds the current map. The parameter window
    // makes one, the picture window replaces it with its own and releases it
    // when it closes.
    std::unique_ptr<MemorySurface> surface;
    std::int32_t varyFrequencyChecked = 0;  // flipped by each click on "Vary Frequency with octave"
    std::int32_t varyAmplitudeChecked = 0;  // flipped by each click on "Vary Amplitude with octave"
    QPointer<PictureDialog> pictureWindow;  // null when it could not be created
    std::int32_t imageReady = 0;            // 1 once a Generate has made a map; Save waits for it
    std::shared_ptr<Bitmap> image;          // the current map, selected into surface
};

}  // namespace velmora
