// The parameter window: the form for the map size and the noise parameters,
// the Generate and Save commands. It is the program's main window; its modal
// loop is the program's only main loop, and it ends with code 0 when closed.
// What the commands do is the program's (app/program.h); this window turns
// its events into the program's calls and shows what the program asks for.
#pragma once

#include <QDialog>
#include <QPointer>

#include <optional>
#include <string>

#include "app/front_end.h"
#include "app/program.h"
#include "ui/picture_dialog.h"

class QCloseEvent;
class QKeyEvent;

namespace velmora {

struct AppState;
class BackgroundWait;
class OctaveNoise;

class MainDialog : public QDialog, public FrontEnd {
    Q_OBJECT

public:
    // Builds the form and starts the program on it, which fills the form and
    // opens the picture window made by createPicture.
    MainDialog(AppState& state, OctaveNoise& noise, PictureWindowFactory createPicture = CreatePictureWindow);

    // The picture window; null when it could not be made.
    [[nodiscard]] PictureDialog* PictureWindow() const { return picture_; }

    [[nodiscard]] std::string GetFieldText(int id) const override;
    void InsertFieldText(int id, std::string_view text) override;
    void SetWaitCursor(bool shown) override;
    void ShowWarning(std::string_view text) override;
    void ShowInformation(std::string_view text) override;
    [[nodiscard]] std::string ShownFileName(std::string_view fileName) const override;
    [[nodiscard]] bool WaitFor(BackgroundJob& job, const ProgressText& progress) override;
    void Wake() noexcept override;
    void CloseForm() override;
    [[nodiscard]] bool OpenPictureWindow() override;
    void ShowPictureWindow() override;
    void KeepPicturePlacement() override;
    void RestorePicturePlacement() override;
    void ResizePictureWindow(std::int32_t width, std::int32_t height) override;
    void ShowPicture() override;
    void ClosePictureWindow() override;

public slots:
    // Enter and Escape end no dialog here: only the close box does.
    void accept() override;
    void reject() override;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void MessageBox(int icon, std::string_view text);

    AppState& state_;
    PictureWindowFactory createPicture_;
    QPointer<PictureDialog> picture_;
    std::optional<PictureDialog::Placement> keptPlacement_;
    BackgroundWait* wait_;
    Program program_;
};

}  // namespace velmora
