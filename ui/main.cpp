// The program: the form window, which opens the picture window. It takes no
// arguments and reads no configuration.
#include <QApplication>

#include "noise/octave_noise.h"
#include "ui/app_state.h"
#include "ui/main_dialog.h"

int main(int /*argc*/, char* /*argv*/[]) {
    // The noise generator exists before any window and until the end.
    OctaveNoise noise;

    // Qt would read its own options from the command line; the program has none.
    char programName[] = "velmora";
    char* arguments[] = {programName, nullptr};
    int argumentCount = 1;
    QApplication application(argumentCount, arguments);

    AppState state;
    MainDialog dialog(state, noise);
    return dialog.exec();
}
