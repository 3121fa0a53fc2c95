// Dialog templates as data: a window's caption, style, font and size, and its
// controls in order. Sizes and positions are in dialog units, which scale
// with the dialog's font (see dialog_builder.h). The template order is also
// the tab order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace velmora {

// Window style bits of a dialog, with the values the platform gives them.
namespace DialogStyle {
constexpr std::uint32_t Popup = 0x80000000u;
constexpr std::uint32_t Caption = 0x00C00000u;
constexpr std::uint32_t SystemMenu = 0x00080000u;  // a close box in the caption bar
constexpr std::uint32_t SizingFrame = 0x00040000u;
constexpr std::uint32_t ModalFrame = 0x00000080u;
}  // namespace DialogStyle

// x, y, width, height in dialog units.
struct DialogRect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
};

enum class ControlKind {
    GroupBox,    // a frame with a title; no tab stop
    Label,       // left-aligned static text; no tab stop
    EditField,   // single line, border, scrolls horizontally; tab stop
    CheckBox,    // toggles itself when clicked; tab stop
    PushButton,  // never a default button; tab stop
};

// Whether a control of this kind takes the focus by Tab.
[[nodiscard]] constexpr bool IsTabStop(ControlKind kind) noexcept {
    return kind == ControlKind::EditField || kind == ControlKind::CheckBox || kind == ControlKind::PushButton;
}

struct ControlTemplate {
    int id;                  // IDC_STATIC for controls that nothing refers to
    const char* identifier;  // "IDC_OCTAVES"; empty for IDC_STATIC
    ControlKind kind;
    const char* text;
    DialogRect rect;
};

struct DialogTemplate {
    int id;
    const char* identifier;
    const char* caption;
    std::uint32_t style;
    const char* fontName;
    int fontPointSize;
    DialogRect rect;  // position of the window, size of its client area
    std::span<const ControlTemplate> controls;
};

// The index of the label that names the control at index field: the nearest
// label on the field's row to its left (its vertical centre within the
// field's height, its right edge at or before the field's left edge). A
// screen reader announces the field by that label. -1 when there is none.
[[nodiscard]] int FieldLabel(const DialogTemplate& dialogTemplate, std::size_t field) noexcept;

// The template with identifier id (IDD_MAIN, IDD_PICTURE); null for any other.
[[nodiscard]] const DialogTemplate* FindDialogTemplate(int id) noexcept;

}  // namespace velmora
