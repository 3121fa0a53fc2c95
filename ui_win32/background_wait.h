// Waiting for background work while the windows stay alive: they repaint
// but take no input, and work that takes a while shows how far it has come
// and can be cancelled.
#pragma once

#include <windows.h>

namespace velmora {

class BackgroundJob;
struct ProgressText;

class BackgroundWait {
public:
    // Posted to the form when a job has finished, to wake the wait.
    static constexpr UINT WakeMessage = WM_APP + 1;

    explicit BackgroundWait(HINSTANCE instance) noexcept : instance_(instance) {}
    ~BackgroundWait();
    BackgroundWait(const BackgroundWait&) = delete;
    BackgroundWait& operator=(const BackgroundWait&) = delete;

    // Runs a message loop until job has finished. Meanwhile every window
    // repaints and the window manager's actions (moving, closing) work, but
    // keyboard and mouse input to any window other than the progress window
    // is dropped, and Escape asks the job to stop. After ProgressDelay a
    // progress window opens on form, without taking the keyboard from it,
    // with progress's title and text, the job's share done and a Cancel
    // button; Cancel and its close box stop the job too. The form's dialog
    // procedure hands its WM_TIMER messages to OnTimer. Returns false when
    // the progress window could not be made: the job was then asked to stop.
    [[nodiscard]] bool Run(HWND form, BackgroundJob& job, const ProgressText& progress);

    // From any thread: the job has finished.
    void Wake(HWND form) noexcept;

    // A timer of form's: true when it was one of the wait's.
    bool OnTimer(UINT_PTR id);

    // The open progress window, if any.
    [[nodiscard]] HWND ProgressWindow() const noexcept { return progress_; }

private:
    static INT_PTR CALLBACK ProgressDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    // Whether msg is user input that the wait drops; acts on Escape.
    [[nodiscard]] bool Dropped(const MSG& msg) noexcept;
    void StopJob() noexcept;
    // False when the window could not be made.
    [[nodiscard]] bool OpenProgressWindow();
    void PlaceProgressWindow();
    void UpdateProgress() noexcept;

    HINSTANCE instance_;
    HWND form_ = nullptr;
    BackgroundJob* job_ = nullptr;            // the job waited for; null when none
    const ProgressText* progressText_ = nullptr;
    HWND progress_ = nullptr;                 // the open progress window, if any
    bool windowsLeft_ = true;                 // false once the progress window could not be made
};

}  // namespace velmora
