#include "ui/platform_choice.h"

#include <string_view>

std::vector<std::string> QtArguments(std::span<const char* const> arguments, const char* qpaPlatform,
                                     const char* display) {
    std::vector<std::string> result{"velmora"};
    for (std::size_t i = 1; i + 1 < arguments.size(); ++i) {
        const std::string_view argument(arguments[i]);
        if (argument == "-platform" || argument == "--platform") {
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
