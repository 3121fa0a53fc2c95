// Every text the program shows its user, in one place. Texts are UTF-8.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace velmora::messages {

// The caption of every message box the program shows.
inline constexpr std::string_view WarningCaption = "Warning!";

// Shown, with the information icon, when the picture window cannot be made.
inline constexpr std::string_view NoPictureWindow = "CreateDialog returned NULL";

// The titles of the progress windows of the two commands.
inline constexpr std::string_view GenerateTitle = "Generate";
inline constexpr std::string_view SaveTitle = "Save";

// What the form's fields hold at start, in the order they are filled.
struct StartText {
    int id;
    std::string_view text;
};
extern const StartText StartTexts[6];

// Refusals of Generate. previousMap: whether a map exists, which is then
// said to be kept.
[[nodiscard]] std::string NoPixel(std::int32_t width, std::int32_t height, bool previousMap);
[[nodiscard]] std::string TooLarge(std::int32_t width, std::int32_t height, bool previousMap);
[[nodiscard]] std::string NotEnoughMemory(std::int32_t width, std::int32_t height, bool previousMap);

// The progress window's text while a map is made, and while one is saved
// under shownName (the file name as the window can show it).
[[nodiscard]] std::string Generating(std::int32_t width, std::int32_t height);
[[nodiscard]] std::string Saving(std::string_view shownName);

// A failed save: the file name as shown and why, from the save's error
// number. An empty name gets a sentence of its own.
[[nodiscard]] std::string SaveFailed(std::string_view shownName, int errorNumber);
[[nodiscard]] std::string NoFileName();
// A save that could not start for want of memory or a thread.
[[nodiscard]] std::string SaveNotEnoughMemory(std::string_view shownName);

// Why a save failed, to follow the file name: the program's own words for
// its own error numbers, the system's English text for the others.
[[nodiscard]] std::string SaveFailureReason(int errorNumber);

// Start-up on a desktop. The line printed when no display can be opened,
// from the reasons for each platform tried, and the reasons themselves.
[[nodiscard]] std::string NoDisplay(const std::string& reasons);
[[nodiscard]] std::string NoXDisplayNamed();
[[nodiscard]] std::string XDisplayUnreachable(std::string_view display);
[[nodiscard]] std::string NoWaylandRuntimeFolder();
[[nodiscard]] std::string WaylandDisplayUnreachable(std::string_view display, std::string_view why);
[[nodiscard]] std::string PlatformUnavailable(std::string_view platform);
// The line printed when a scale factor given in the environment is ignored.
[[nodiscard]] std::string ScaleFactorIgnored(std::string_view variable, std::string_view value);

}  // namespace velmora::messages
