// The parameter window: the form for the map size and the noise parameters,
// the Generate and Save commands. It is the program's main window; its modal
// loop is the program's only main loop, and it ends with code 0 when closed.
#pragma once

#include <QDialog>
#include <QString>

#include <string>

#include "ui/picture_dialog.h"

class QCloseEvent;
class QKeyEvent;

namespace velmora {

struct AppState;
class BackgroundRender;
class OctaveNoise;

class MainDialog : public QDialog {
    Q_OBJECT

public:
    // Builds the form and fills it with the start-up texts, resets the
    // switches, and opens the picture window made by createPicture. When
    // that gives none, says so in a message box and goes on without it.
    MainDialog(AppState& state, OctaveNoise& noise, PictureWindowFactory createPicture = CreatePictureWindow);

    // The Generate command: reads the form, sets the noise parameters,
    // renders a new map and shows it. A size that cannot make a map is
    // refused with a message, keeping the previous map and window size. The
    // render runs on another thread while the windows repaint without taking
    // input; once it has run a while, a progress dialog offers Cancel, which
    // keeps the previous map and window size without a message. Returns once
    // the map is shown or kept; does nothing while a render runs.
    void GenerateMap();

    // The Save command: once a map exists, writes it under the name in the
    // file-name field; a failure is reported in a message box.
    void SaveMap();

    // The whole text of field id as UTF-8; empty if there is no such field.
    [[nodiscard]] std::string GetFieldText(int id) const;

public slots:
    // Enter and Escape end no dialog here: only the close box does.
    void accept() override;
    void reject() override;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void OnCommand(int id);
    // Steps 1 to 9 of Generate; returns the reason when no map could be made.
    [[nodiscard]] QString MakeMap();
    void Warn(const QString& text);

    AppState& state_;
    OctaveNoise& noise_;
    BackgroundRender* render_;
    bool closeRequested_ = false;  // a close came while a render ran
};

}  // namespace velmora
