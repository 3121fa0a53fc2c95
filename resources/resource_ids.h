// Identifiers of the two dialog templates and of their controls.
#pragma once

namespace velmora {

constexpr int IDD_MAIN = 101;
constexpr int IDD_PICTURE = 102;

// Controls that commands and fields never refer to (labels, the group box).
constexpr int IDC_STATIC = -1;

constexpr int IDC_OCTAVES = 1000;
constexpr int IDC_FREQUENCY = 1001;
constexpr int IDC_AMPLITUDE = 1002;
constexpr int IDC_PERSISTENCE = 1003;
constexpr int IDC_VARY_FREQUENCY = 1004;
constexpr int IDC_GENERATE = 1005;
constexpr int IDC_SAVE = 1006;
constexpr int IDC_VARY_AMPLITUDE = 1007;
constexpr int IDC_FILENAME = 1008;
constexpr int IDC_WIDTH = 1009;
constexpr int IDC_HEIGHT = 1010;

}  // namespace velmora
