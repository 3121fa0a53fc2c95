#include "ui_win32/dialog_memory.h"

#include <span>
#include <vector>

#include "ui_win32/utf16.h"

namespace velmora {

namespace {

// The atoms of the predefined control classes in a dialog template.
constexpr WORD ButtonClass = 0x0080;
constexpr WORD EditClass = 0x0081;
constexpr WORD StaticClass = 0x0082;

WORD ClassOf(ControlKind kind) noexcept {
    switch (kind) {
        case ControlKind::EditField: return EditClass;
        case ControlKind::Label: return StaticClass;
        case ControlKind::GroupBox:
        case ControlKind::CheckBox:
        case ControlKind::PushButton: return ButtonClass;
    }
    return StaticClass;
}

}  // namespace

DWORD ControlStyle(ControlKind kind) noexcept {
    DWORD style = WS_CHILD | WS_VISIBLE;
    switch (kind) {
        case ControlKind::GroupBox: style |= BS_GROUPBOX; break;
        case ControlKind::Label: style |= SS_LEFT | WS_GROUP; break;
        case ControlKind::EditField: style |= ES_LEFT | ES_AUTOHSCROLL | WS_BORDER; break;
        case ControlKind::CheckBox: style |= BS_AUTOCHECKBOX; break;
        case ControlKind::PushButton: style |= BS_PUSHBUTTON; break;
    }
    if (IsTabStop(kind)) {
        style |= WS_TABSTOP;
    }
    return style;
}

DialogMemory::DialogMemory(const DialogTemplate& dialog) {
    // DLGTEMPLATE: style, extended style, number of controls, x, y, cx, cy.
    DoubleWord((dialog.style | DS_SETFONT) & ~static_cast<std::uint32_t>(WS_VISIBLE));
    DoubleWord(0);
    Word(static_cast<std::uint32_t>(dialog.controls.size()));
    Word(static_cast<std::uint32_t>(dialog.rect.x));
    Word(static_cast<std::uint32_t>(dialog.rect.y));
    Word(static_cast<std::uint32_t>(dialog.rect.width));
    Word(static_cast<std::uint32_t>(dialog.rect.height));
    Word(0);  // no menu
    Word(0);  // the standard dialog class
    Text(dialog.caption);
    Word(static_cast<std::uint32_t>(dialog.fontPointSize));
    Text(dialog.fontName);

    for (const ControlTemplate& control : dialog.controls) {
        // DLGITEMTEMPLATE: style, extended style, x, y, cx, cy, identifier;
        // then the class, the text and no creation data.
        AlignToDoubleWord();
        DoubleWord(ControlStyle(control.kind));
        DoubleWord(0);
        Word(static_cast<std::uint32_t>(control.rect.x));
        Word(static_cast<std::uint32_t>(control.rect.y));
        Word(static_cast<std::uint32_t>(control.rect.width));
        Word(static_cast<std::uint32_t>(control.rect.height));
        Word(static_cast<std::uint32_t>(control.id));  // IDC_STATIC, -1, becomes 0xFFFF
        Word(0xFFFF);
        Word(ClassOf(control.kind));
        Text(control.text);
        Word(0);
    }
}

void PairLabelsWithFields(const DialogTemplate& dialogTemplate, HWND dialog) noexcept {
    const std::span<const ControlTemplate> controls = dialogTemplate.controls;
    // The controls were made in the template's order; labels have no
    // identifier to find them by.
    std::vector<HWND> windows;
    for (HWND child = GetWindow(dialog, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
        windows.push_back(child);
    }
    if (windows.size() != controls.size()) {
        return;
    }
    for (std::size_t field = 0; field < controls.size(); ++field) {
        if (controls[field].kind != ControlKind::EditField) {
            continue;
        }
        const int labelIndex = FieldLabel(dialogTemplate, field);
        HWND label = labelIndex >= 0 ? windows[static_cast<std::size_t>(labelIndex)] : nullptr;
        HWND before = GetWindow(windows[field], GW_HWNDPREV);
        if (label != nullptr && before != label) {
            SetWindowPos(label, before != nullptr ? before : HWND_TOP, 0, 0, 0, 0,
                         SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE | SWP_NOREDRAW);
        }
    }
}

void DialogMemory::DoubleWord(std::uint32_t value) {
    Word(value & 0xFFFF);
    Word(value >> 16);
}

void DialogMemory::Text(const char* utf8) {
    for (const wchar_t unit : Utf16(utf8)) {
        Word(static_cast<std::uint32_t>(unit));
    }
    Word(0);
}

void DialogMemory::AlignToDoubleWord() {
    if (words_.size() % 2 != 0) {
        Word(0);
    }
}

}  // namespace velmora
