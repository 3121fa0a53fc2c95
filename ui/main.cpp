// The program: the form window, which opens the picture window. It reads no
// configuration and takes no arguments but Qt's choice of platform.
#include <QApplication>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "app/app_state.h"
#include "image/bitmap_file.h"
#include "noise/octave_noise.h"
#include "ui/main_dialog.h"
#include "ui/platform_choice.h"
#include "ui/startup.h"

int main(int argc, char* argv[]) {
    // A signal that ends the program during a save takes no temporary file
    // with it, and a file size limit fails a save rather than the program.
    velmora::InstallSaveCleanup();

    // The noise generator exists before any window and until the end.
    velmora::OctaveNoise noise;

    // Qt would read its own options from the command line; it gets only the
    // platform to run on. Both lists live as long as the application.
    const std::vector<std::string> arguments(argv, argv + argc);
    std::vector<std::string> qtArguments =
        velmora::QtArguments(arguments, std::getenv("QT_QPA_PLATFORM"), std::getenv("DISPLAY"));
    std::vector<char*> pointers;
    for (std::string& argument : qtArguments) {
        pointers.push_back(argument.data());
    }
    pointers.push_back(nullptr);
    int argumentCount = static_cast<int>(qtArguments.size());
    const std::unique_ptr<QApplication> application = velmora::StartApplication(argumentCount, pointers.data());

    velmora::AppState state;
    velmora::MainDialog dialog(state, noise);
    return dialog.exec();
}
