#include "resources/dialog_template.h"
#include "resources/resource_ids.h"

namespace velmora {

namespace {

using enum ControlKind;

// The form, in tab order. The order is not top to bottom: Amplitude is tabbed
// to after Frequency, and Width and Height come last.
constexpr ControlTemplate MainControls[] = {
    {IDC_STATIC, "", GroupBox, "Perlin Noise", {7, 7, 218, 182}},
    {IDC_STATIC, "", Label, "Octaves", {16, 67, 29, 8}},
    {IDC_OCTAVES, "IDC_OCTAVES", EditField, "", {66, 62, 31, 13}},
    {IDC_STATIC, "", Label, "Frequency", {16, 99, 36, 8}},
    {IDC_FREQUENCY, "IDC_FREQUENCY", EditField, "", {66, 95, 31, 13}},
    {IDC_STATIC, "", Label, "Amplitude", {16, 83, 31, 8}},
    {IDC_AMPLITUDE, "IDC_AMPLITUDE", EditField, "", {66, 78, 31, 13}},
    {IDC_STATIC, "", Label, "Persistence", {16, 115, 38, 8}},
    {IDC_PERSISTENCE, "IDC_PERSISTENCE", EditField, "", {66, 112, 31, 13}},
    {IDC_VARY_FREQUENCY, "IDC_VARY_FREQUENCY", CheckBox, "Vary Frequency with octave", {111, 99, 106, 8}},
    {IDC_GENERATE, "IDC_GENERATE", PushButton, "Generate", {16, 168, 71, 13}},
    {IDC_VARY_AMPLITUDE, "IDC_VARY_AMPLITUDE", CheckBox, "Vary Amplitude with octave", {111, 81, 106, 10}},
    {IDC_STATIC, "", Label, "Save to file", {16, 143, 38, 8}},
    {IDC_FILENAME, "IDC_FILENAME", EditField, "", {66, 139, 149, 13}},
    {IDC_SAVE, "IDC_SAVE", PushButton, "Save to file", {111, 168, 71, 13}},
    {IDC_STATIC, "", Label, "Width", {16, 20, 22, 8}},
    {IDC_STATIC, "", Label, "Height", {16, 36, 22, 9}},
    {IDC_WIDTH, "IDC_WIDTH", EditField, "", {66, 17, 31, 13}},
    {IDC_HEIGHT, "IDC_HEIGHT", EditField, "", {66, 33, 31, 13}},
};

constexpr DialogTemplate MainTemplate{
    IDD_MAIN,
    "IDD_MAIN",
    "Velmora",
    DialogStyle::Popup | DialogStyle::Caption | DialogStyle::SystemMenu | DialogStyle::ModalFrame,
    "MS Sans Serif",
    8,
    {0, 0, 232, 196},
    MainControls,
};

constexpr DialogTemplate PictureTemplate{
    IDD_PICTURE,
    "IDD_PICTURE",
    "Picture",
    DialogStyle::Popup | DialogStyle::Caption | DialogStyle::SizingFrame,
    "MS Sans Serif",
    8,
    {0, 0, 122, 94},
    {},
};

}  // namespace

int FieldLabel(const DialogTemplate& dialogTemplate, std::size_t field) noexcept {
    const std::span<const ControlTemplate> controls = dialogTemplate.controls;
    const DialogRect& at = controls[field].rect;
    int nearest = -1;
    for (std::size_t candidate = 0; candidate < controls.size(); ++candidate) {
        const ControlTemplate& control = controls[candidate];
        const DialogRect& label = control.rect;
        const int centreTwice = 2 * label.y + label.height;
        const bool onRowToTheLeft = centreTwice >= 2 * at.y && centreTwice <= 2 * (at.y + at.height) &&
                                    label.x + label.width <= at.x;
        if (control.kind == ControlKind::Label && onRowToTheLeft &&
            (nearest < 0 || label.x + label.width > controls[nearest].rect.x + controls[nearest].rect.width)) {
            nearest = static_cast<int>(candidate);
        }
    }
    return nearest;
}

const DialogTemplate* FindDialogTemplate(int id) noexcept {
    switch (id) {
        case IDD_MAIN: return &MainTemplate;
        case IDD_PICTURE: return &PictureTemplate;
        default: return nullptr;
    }
}

}  // namespace velmora
