// Turns a dialog template into widgets.
#pragma once

#include <QFont>
#include <QRect>

#include "resources/dialog_template.h"

class QDialog;
class QWidget;

namespace velmora {

// The font a template asks for. Where that family is missing, the system's
// sans serif stands in at the same point size.
[[nodiscard]] QFont DialogFont(const DialogTemplate& dialogTemplate);

// Dialog units to pixels for one font, as the platform converts them: a
// horizontal unit is a quarter of the font's average character width, a
// vertical unit an eighth of its character height. Results are rounded to
// the nearest pixel, halves away from zero.
class DialogUnits {
public:
    explicit DialogUnits(const QFont& font);

    [[nodiscard]] int BaseWidth() const noexcept { return baseWidth_; }    // average character width
    [[nodiscard]] int BaseHeight() const noexcept { return baseHeight_; }  // character height
    [[nodiscard]] int ToPixelsX(int units) const noexcept;
    [[nodiscard]] int ToPixelsY(int units) const noexcept;
    [[nodiscard]] QRect ToPixels(const DialogRect& rect) const noexcept;

private:
    int baseWidth_ = 0;
    int baseHeight_ = 0;
};

// Fills dialog from the template: caption, window frame, font, position and
// client size, then one child widget per control in template order, each
// named by its identifier and carrying its numeric id, with the tab order of
// the template. A template without a sizing frame gives a fixed-size window.
// A label or check box whose text needs more room in the font at hand than
// its rectangle gives is widened to fit, never narrowed. Each edit field is
// paired with the label on its row to its left, which then names it to the
// accessibility layer; the other controls are named by their own texts.
void BuildDialog(const DialogTemplate& dialogTemplate, QDialog& dialog);

// The control with numeric id that BuildDialog made in dialog; null if none.
[[nodiscard]] QWidget* DialogItem(const QDialog& dialog, int id);

// Gives the focus to the first tab stop of a dialog built from dialogTemplate
// and selects the whole text if it is an edit field, as a dialog does when it
// opens.
void FocusFirstTabStop(const DialogTemplate& dialogTemplate, QDialog& dialog);

}  // namespace velmora
