// The parameter window: the form for the map size and the noise parameters,
// the Generate and Save commands. It is the program's main window, a modal
// dialog whose loop is the program's main loop; it ends with code 0 when
// closed. What the commands do is the program's (app/program.h); this
// window turns its messages into the program's calls and shows what the
// program asks for.
#pragma once

#include <windows.h>

#include <memory>
#include <optional>
#include <string>

#include "app/front_end.h"
#include "app/program.h"
#include "ui_win32/background_wait.h"
#include "ui_win32/picture_window.h"

namespace velmora {

struct AppState;
class OctaveNoise;

class MainWindow final : public FrontEnd {
public:
    // Makes the picture window; null when it cannot be made.
    using PictureFactory = std::unique_ptr<PictureWindow> (*)(const AppState& state, HINSTANCE instance);

    // The form, not yet open; the program starts when it opens.
    MainWindow(AppState& state, OctaveNoise& noise, HINSTANCE instance,
               PictureFactory createPicture = PictureWindow::Create);
    ~MainWindow() override;
    MainWindow(const MainWindow&) = delete;
    MainWindow& operator=(const MainWindow&) = delete;

    // Runs the form as a modal dialog until it is closed. Returns its end
    // code, 0, or -1 when the form could not be made.
    [[nodiscard]] INT_PTR Run();

    // Opens the form as a modeless dialog and returns at once, for tests that
    // drive it through their own message loop; null when it could not be
    // made. A close ends it as it ends the modal one: see Ended.
    HWND OpenModeless();
    // Whether the form has been closed and has ended.
    [[nodiscard]] bool Ended() const noexcept { return ended_; }

    [[nodiscard]] HWND Window() const noexcept { return window_; }
    // The picture window; null when it could not be made or is closed.
    [[nodiscard]] PictureWindow* Picture() const noexcept { return picture_.get(); }
    // The progress window of the command that runs, if it is open.
    [[nodiscard]] HWND ProgressWindow() const noexcept { return wait_.ProgressWindow(); }

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

private:
    static INT_PTR CALLBACK MainDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam);
    void ShowMessageBox(std::string_view text, UINT icon);
    void SetIcons();

    AppState& state_;
    HINSTANCE instance_;
    PictureFactory createPicture_;
    HWND window_ = nullptr;
    std::unique_ptr<PictureWindow> picture_;
    std::optional<PictureWindow::Placement> keptPlacement_;
    BackgroundWait wait_;
    HICON icons_[2] = {nullptr, nullptr};  // big and small
    bool ended_ = false;
    Program program_;
};

}  // namespace velmora
