// Which windowing platform Qt runs the windows on.
#pragma once

#include <span>
#include <string>
#include <vector>

namespace velmora {

// The arguments to hand to QApplication, from the program's own arguments
// (the first being its name): "velmora", then "-platform" and the platform
// plugins that Qt tries in order. The user's choice wins: a "-platform NAME"
// (or "--platform NAME") among the arguments is passed on as given, and
// nothing is added while qpaPlatform (the QT_QPA_PLATFORM variable; null or
// empty when unset) names one. Otherwise X11 comes first wherever display
// (the DISPLAY variable) names an X display, because only there can the
// picture window be placed and lowered, and Wayland first where it does
// not. The program takes no other arguments; they are dropped.
[[nodiscard]] std::vector<std::string> QtArguments(std::span<const std::string> arguments, const char* qpaPlatform,
                                                   const char* display);

}  // namespace velmora
