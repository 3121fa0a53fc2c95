#include "ui/platform_choice.h"

namespace velmora {

std::vector<std::string> QtArguments(std::span<const std::string> arguments, const char* qpaPlatform,
                                     const char* display) {
    std::vector<std::string> result{"velmora"};
    for (std::size_t i = 1; i + 1 < arguments.size(); ++i) {
        if (arguments[i] == "-platform" || arguments[i] == "--platform") {
            result.insert(result.end(), {"-platform", arguments[i + 1]});
            return result;
        }
    }
    if (qpaPlatform != nullptr && *qpaPlatform != '\0') {
        return result;
    }
    const bool xDisplay = display != nullptr && *display != '\0';
    result.insert(result.end(), {"-platform", xDisplay ? "xcb;wayland" : "wayland;xcb"});
    return result;
}

}  // namespace velmora
