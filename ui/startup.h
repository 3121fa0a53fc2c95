// Starting the Qt application on a desktop, or saying plainly why not.
#pragma once

#include <QApplication>

#include <memory>
#include <string>
#include <string_view>

namespace velmora {

// Whether text is a positive, finite number, as a scale factor must be.
[[nodiscard]] bool PositiveNumber(const char* text) noexcept;

// What the environment says about the displays the windows may open on.
struct DisplayEnvironment {
    std::string platforms;               // the platforms Qt tries, in order, separated by ';'
    const char* display = nullptr;       // DISPLAY; null when unset
    const char* waylandDisplay = nullptr;  // WAYLAND_DISPLAY
    const char* runtimeFolder = nullptr;   // XDG_RUNTIME_DIR
};

// Why none of the platforms tried could be started: one reason for each,
// joined by "; ", from the environment and from what Qt and its libraries
// printed while they tried (printed).
[[nodiscard]] std::string NoDisplayReasons(const DisplayEnvironment& environment, std::string_view printed);

// Makes the application for arguments (the program's name first, then Qt's
// own options), which must live as long as it. A QT_SCALE_FACTOR that is not
// a positive number is dropped, with a line on standard error saying so.
// Where no display can be opened, prints one line on standard error saying
// which and why, and ends the process with status 1.
[[nodiscard]] std::unique_ptr<QApplication> StartApplication(int& argc, char** argv);

}  // namespace velmora
