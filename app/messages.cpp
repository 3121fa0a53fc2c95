#include "app/messages.h"

#include "image/bitmap_file.h"
#include "resources/resource_ids.h"

namespace velmora::messages {

namespace {

// "W × H", as a map's size is written.
std::string SizeText(std::int32_t width, std::int32_t height) {
    return std::to_string(width) + " \u00d7 " + std::to_string(height);
}

std::string Kept(std::string sentence, bool previousMap) {
    if (previousMap) {
        sentence += " The previous map is kept.";
    }
    return sentence;
}

std::string Quoted(std::string_view name) {
    return "\u201c" + std::string(name) + "\u201d";
}

}  // namespace

const StartText StartTexts[6] = {{IDC_WIDTH, "512"},       {IDC_HEIGHT, "512"},        {IDC_OCTAVES, "4"},
                                 {IDC_FREQUENCY, "0.015"}, {IDC_PERSISTENCE, "0.25"}, {IDC_AMPLITUDE, "1"}};

std::string NoPixel(std::int32_t width, std::int32_t height, bool previousMap) {
    return Kept("A map of " + SizeText(width, height) +
                    " pixels has no pixel: width and height must be at least 1.",
                previousMap);
}

std::string TooLarge(std::int32_t width, std::int32_t height, bool previousMap) {
    return Kept("The map is too large: " + SizeText(width, height) + " pixels cannot be created.", previousMap);
}

std::string NotEnoughMemory(std::int32_t width, std::int32_t height, bool previousMap) {
    return Kept("There is not enough memory to make a map of " + SizeText(width, height) + " pixels.",
                previousMap);
}

std::string Generating(std::int32_t width, std::int32_t height) {
    return "Generating a map of " + SizeText(width, height) + " pixels\u2026";
}

std::string Saving(std::string_view shownName) {
    return "Saving the map to " + Quoted(shownName) + "\u2026";
}

std::string SaveFailed(std::string_view shownName, int errorNumber) {
    return "The map could not be saved to " + Quoted(shownName) + ": " + SaveFailureReason(errorNumber) + ".";
}

std::string NoFileName() {
    return "The map was not saved: no file name was given.";
}

std::string SaveNotEnoughMemory(std::string_view shownName) {
    return "The map could not be saved to " + Quoted(shownName) + ": there is not enough memory to start the save.";
}

std::string SaveFailureReason(int errorNumber) {
    switch (errorNumber) {
        case NotRegularFileError: return "is not a regular file";
        case FolderNotWritableError:
            return "its folder may not be written (a map is written beside the file it replaces)";
        case OtherUsersFileError:
            return "the file belongs to another user, and only they may replace it in this shared folder";
        case SaveStoppedError: return "the save was stopped";
        default: return SystemErrorText(errorNumber);
    }
}

std::string NoDisplay(const std::string& reasons) {
    return "velmora: no display could be opened: " + reasons + ".";
}

std::string NoXDisplayNamed() {
    return "no X display is named (DISPLAY is not set)";
}

std::string XDisplayUnreachable(std::string_view display) {
    return "the X display \"" + std::string(display) + "\" (DISPLAY) could not be connected to";
}

std::string NoWaylandRuntimeFolder() {
    return "no Wayland display can be found (XDG_RUNTIME_DIR is not set)";
}

std::string WaylandDisplayUnreachable(std::string_view display, std::string_view why) {
    std::string reason = "the Wayland display \"" + std::string(display) + "\" could not be connected to";
    if (!why.empty()) {
        reason += " (" + std::string(why) + ")";
    }
    return reason;
}

std::string PlatformUnavailable(std::string_view platform) {
    return "the platform \"" + std::string(platform) + "\" could not be started";
}

std::string ScaleFactorIgnored(std::string_view variable, std::string_view value) {
    return "velmora: " + std::string(variable) + "=\"" + std::string(value) +
           "\" is not a positive number; it is ignored.";
}

}  // namespace velmora::messages
