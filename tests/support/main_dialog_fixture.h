// A fresh parameter window for each Qt test function: a test class derives
// from this next to QObject, opens the window in init() and closes it in
// cleanup(), and finds the controls by their identifiers.
#pragma once

#include <QString>

#include <memory>

#include "noise/octave_noise.h"
#include "app/app_state.h"
#include "ui/main_dialog.h"
#include "ui/picture_dialog.h"

class QAbstractButton;
class QCheckBox;
class QLineEdit;

namespace velmora {

class MainDialogFixture {
protected:
    // Makes fresh state and noise and shows the window on them, with the
    // given picture window; fails the test when it is not exposed.
    void OpenDialog(PictureWindowFactory factory = CreatePictureWindow);
    // Makes the window on the current state and noise, replacing the one open.
    void MakeDialog(PictureWindowFactory factory = CreatePictureWindow);
    // Closes the window, then drops the state and the noise.
    void CloseDialog();

    // The controls by identifier (IDC_...); null when there is none.
    [[nodiscard]] QLineEdit* Field(const char* name) const;
    [[nodiscard]] QCheckBox* Box(const char* name) const;
    [[nodiscard]] QAbstractButton* Button(const char* name) const;

    // Selects a field's text and types text over it, as a user does; fails
    // the test when the field then holds anything else.
    void Type(const char* name, const QString& text);
    // A left click on a button or box.
    void Click(const char* name);
    // The picture window; null when there is none.
    [[nodiscard]] PictureDialog* Picture() const { return dialog_ ? dialog_->PictureWindow() : nullptr; }

    std::unique_ptr<AppState> state_;
    std::unique_ptr<OctaveNoise> noise_;
    std::unique_ptr<MainDialog> dialog_;
};

}  // namespace velmora
