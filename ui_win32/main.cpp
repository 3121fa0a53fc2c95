// The program on Windows: the form, which opens the picture window. It takes
// no arguments and reads no configuration.
#include <windows.h>
#include <commctrl.h>

#include "app/app_state.h"
#include "noise/octave_noise.h"
#include "ui_win32/main_window.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    // The noise generator exists before any window and until the end.
    velmora::OctaveNoise noise;

    INITCOMMONCONTROLSEX controls{};
    controls.dwSize = sizeof controls;
    controls.dwICC = ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS;
    InitCommonControlsEx(&controls);

    velmora::AppState state;
    velmora::MainWindow form(state, noise, instance);
    const INT_PTR end = form.Run();
    return end == -1 ? 1 : static_cast<int>(end);
}
