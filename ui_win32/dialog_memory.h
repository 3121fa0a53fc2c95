// Dialog templates in the binary form the Win32 dialog manager reads from
// memory (DLGTEMPLATE), made from the templates as data in resources/, so
// that both front ends build their windows from one source.
#pragma once

#include <windows.h>

#include <cstdint>
#include <vector>

#include "resources/dialog_template.h"

namespace velmora {

// The style of a control of kind, as a resource compiler gives it: labels
// left-aligned and starting a group, edit fields single-line with a border
// and horizontal auto-scroll, check boxes that toggle themselves, push
// buttons that are never the default one; tab stops as IsTabStop says.
// Visible children, like every control of a template.
[[nodiscard]] DWORD ControlStyle(ControlKind kind) noexcept;

// A DLGTEMPLATE with its controls, ready for DialogBoxIndirectParamW and
// CreateDialogIndirectParamW: the template's style with DS_SETFONT (and not
// visible: the program shows its windows itself), its place and size, no
// menu, the standard dialog class, its caption, its font and point size,
// then each control, in tab order, with its style, rectangle, identifier,
// predefined class and text.
class DialogMemory {
public:
    explicit DialogMemory(const DialogTemplate& dialog);

    [[nodiscard]] const DLGTEMPLATE* Get() const noexcept {
        return reinterpret_cast<const DLGTEMPLATE*>(words_.data());
    }
    // The template's size in bytes.
    [[nodiscard]] std::size_t Size() const noexcept { return 2 * words_.size(); }

private:
    void Word(std::uint32_t value) { words_.push_back(static_cast<WORD>(value)); }
    void DoubleWord(std::uint32_t value);
    void Text(const char* utf8);
    // Pads to a multiple of 4 bytes from the start, where every control's
    // record must begin.
    void AlignToDoubleWord();

    // WORDs, whose allocation is aligned for DWORDs as the records need.
    std::vector<WORD> words_;
};

// Puts each edit field's label, the nearest label on its row to its left,
// directly before the field among dialog's controls: the system's
// accessibility layer names a field after the static text just before it,
// and the form's template lists Width's and Height's labels both before
// either field. The order of the tab stops stays as it was.
void PairLabelsWithFields(const DialogTemplate& dialogTemplate, HWND dialog) noexcept;

}  // namespace velmora
