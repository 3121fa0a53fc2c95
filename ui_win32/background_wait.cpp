#include "ui_win32/background_wait.h"

#include <commctrl.h>

#include <algorithm>
#include <new>
#include <string>

#include "app/background_job.h"
#include "app/front_end.h"
#include "resources/dialog_template.h"
#include "resources/resource_ids.h"
#include "ui_win32/dialog_memory.h"
#include "ui_win32/utf16.h"
#include "ui_win32/wait_cursor.h"

namespace velmora {

namespace {

constexpr UINT_PTR ProgressTimer = 1;
// How often the loop looks at the job even without news of its end, in case
// that news could not be posted.
constexpr UINT_PTR FinishedCheckTimer = 2;
constexpr UINT FinishedCheck = 100;

// Steps of the progress bar: fine enough that slow work visibly moves.
constexpr int ProgressSteps = 1'000'000;

constexpr int IDC_PROGRESS_TEXT = 100;
constexpr int IDC_PROGRESS_BAR = 101;

// The progress window in dialog units: its text, the bar below it (made in
// code: the templates have no kind for it) and Cancel at the bottom right.
// The window grows wider for a text that needs it.
constexpr int ProgressWidth = 220;
constexpr DialogRect ProgressTextRect{7, 7, ProgressWidth - 14, 8};
constexpr DialogRect ProgressBarRect{7, 20, ProgressWidth - 14, 10};
constexpr DialogRect CancelRect{ProgressWidth - 57, 38, 50, 14};

bool IsKeyboardInput(UINT message) noexcept {
    // WM_SYSKEYDOWN and its kin pass: Alt+F4 and Alt+Space are the window
    // manager's.
    switch (message) {
        case WM_KEYDOWN:
        case WM_KEYUP:
        case WM_CHAR:
        case WM_DEADCHAR:
        case WM_UNICHAR: return true;
        default: return false;
    }
}

bool IsClientPointerInput(UINT message) noexcept {
    // Mouse, touch and pen input on the client area; the frame's (moving,
    // the close box, scroll bars) passes.
    constexpr UINT Touch = 0x0240;
    constexpr UINT FirstPointer = 0x0245;  // WM_POINTERUPDATE
    constexpr UINT LastPointer = 0x024F;   // WM_POINTERHWHEEL
    return (message >= WM_MOUSEFIRST && message <= WM_MOUSELAST) || message == Touch ||
           (message >= FirstPointer && message <= LastPointer);
}

}  // namespace

BackgroundWait::~BackgroundWait() {
    if (progress_ != nullptr) {
        DestroyWindow(progress_);
    }
}

bool BackgroundWait::Run(HWND form, BackgroundJob& job, const ProgressText& progress) {
    form_ = form;
    job_ = &job;
    progressText_ = &progress;
    windowsLeft_ = true;
    SetTimer(form_, FinishedCheckTimer, FinishedCheck, nullptr);
    SetTimer(form_, ProgressTimer, static_cast<UINT>(ProgressDelay.count()), nullptr);
    bool quit = false;
    WPARAM quitCode = 0;
    while (!job.Finished()) {
        MSG msg;
        const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
        if (got <= 0) {
            quit = got == 0;
            quitCode = msg.wParam;
            break;
        }
        if (Dropped(msg) || (progress_ != nullptr && IsDialogMessageW(progress_, &msg))) {
            continue;
        }
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    if (!job.Finished()) {
        StopJob();  // the loop was ended from outside: stop rather than wait
    }
    KillTimer(form_, ProgressTimer);
    KillTimer(form_, FinishedCheckTimer);
    if (progress_ != nullptr) {
        DestroyWindow(progress_);
        progress_ = nullptr;
    }
    job_ = nullptr;
    progressText_ = nullptr;
    if (quit) {
        PostQuitMessage(static_cast<int>(quitCode));  // for the loop that runs this one
    }
    return windowsLeft_;
}

void BackgroundWait::Wake(HWND form) noexcept {
    // If the message cannot be posted, the periodic look at the job finds
    // it finished instead.
    PostMessageW(form, WakeMessage, 0, 0);
}

bool BackgroundWait::OnTimer(UINT_PTR id) {
    if (id == FinishedCheckTimer) {
        return true;  // the loop looks at the job after every message
    }
    if (id != ProgressTimer) {
        return false;
    }
    if (job_ == nullptr) {
        KillTimer(form_, ProgressTimer);
        return true;
    }
    if (progress_ == nullptr) {
        bool opened = false;
        try {
            opened = OpenProgressWindow();
        } catch (const std::bad_alloc&) {
        }
        if (!opened) {
            // No way to cancel: stop rather than go on without one.
            windowsLeft_ = false;
            KillTimer(form_, ProgressTimer);
            StopJob();
            return true;
        }
        SetTimer(form_, ProgressTimer, static_cast<UINT>(ProgressRefresh.count()), nullptr);
    }
    UpdateProgress();
    return true;
}

bool BackgroundWait::Dropped(const MSG& msg) noexcept {
    if (!IsKeyboardInput(msg.message) && !IsClientPointerInput(msg.message)) {
        return false;
    }
    if (progress_ != nullptr && (msg.hwnd == progress_ || IsChild(progress_, msg.hwnd))) {
        return false;
    }
    if (msg.message == WM_KEYDOWN && msg.wParam == VK_ESCAPE) {
        StopJob();
    }
    return true;
}

void BackgroundWait::StopJob() noexcept {
    if (job_ != nullptr) {
        job_->Stop();
    }
}

bool BackgroundWait::OpenProgressWindow() {
    const ControlTemplate controls[] = {
        {IDC_PROGRESS_TEXT, "", ControlKind::Label, progressText_->text.c_str(), ProgressTextRect},
        {IDCANCEL, "IDCANCEL", ControlKind::PushButton, "Cancel", CancelRect},
    };
    const DialogTemplate dialog{
        0,
        "",
        progressText_->title.c_str(),
        DialogStyle::Popup | DialogStyle::Caption | DialogStyle::SystemMenu | DialogStyle::ModalFrame,
        "MS Sans Serif",
        8,
        {0, 0, ProgressWidth, CancelRect.y + CancelRect.height + 7},
        controls,
    };
    const DialogMemory memory(dialog);
    progress_ = CreateDialogIndirectParamW(instance_, memory.Get(), form_, ProgressDialogProc,
                                           reinterpret_cast<LPARAM>(this));
    if (progress_ == nullptr) {
        return false;
    }
    RECT barRect{ProgressBarRect.x, ProgressBarRect.y, ProgressBarRect.x + ProgressBarRect.width,
                 ProgressBarRect.y + ProgressBarRect.height};
    MapDialogRect(progress_, &barRect);
    HWND bar = CreateWindowExW(0, PROGRESS_CLASSW, L"", WS_CHILD | WS_VISIBLE, barRect.left, barRect.top,
                               barRect.right - barRect.left, barRect.bottom - barRect.top, progress_,
                               reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDC_PROGRESS_BAR)), instance_, nullptr);
    if (bar == nullptr) {
        DestroyWindow(progress_);
        progress_ = nullptr;
        return false;
    }
    SendMessageW(bar, PBM_SETRANGE32, 0, ProgressSteps);
    PlaceProgressWindow();
    // Opening must not take the keyboard from the form: a Return or an
    // Alt+F4 meant for the form would otherwise land on Cancel. Shown
    // without activation, and never activated: a window manager that
    // focuses new windows itself (X11 ones, under Wine) is refused too.
    // Cancel still takes clicks, and Escape on the form cancels.
    SetWindowLongPtrW(progress_, GWL_EXSTYLE, GetWindowLongPtrW(progress_, GWL_EXSTYLE) | WS_EX_NOACTIVATE);
    ShowWindow(progress_, SW_SHOWNOACTIVATE);
    return true;
}

void BackgroundWait::PlaceProgressWindow() {
    // As wide as its text needs, within the screen, and centred on the form.
    HWND text = GetDlgItem(progress_, IDC_PROGRESS_TEXT);
    RECT textRect;
    GetWindowRect(text, &textRect);
    MapWindowPoints(nullptr, progress_, reinterpret_cast<POINT*>(&textRect), 2);
    const std::wstring wide = Utf16(progressText_->text);
    HDC dc = GetDC(text);
    HGDIOBJ previous = SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageW(text, WM_GETFONT, 0, 0)));
    SIZE needed{};
    GetTextExtentPoint32W(dc, wide.c_str(), static_cast<int>(wide.size()), &needed);
    SelectObject(dc, previous);
    ReleaseDC(text, dc);

    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    GetMonitorInfoW(MonitorFromWindow(form_, MONITOR_DEFAULTTONEAREST), &monitor);
    const RECT& work = monitor.rcWork;
    RECT window;
    GetWindowRect(progress_, &window);
    const int room = (work.right - work.left) - (window.right - window.left);
    const int grow = std::clamp(static_cast<int>(needed.cx - (textRect.right - textRect.left)), 0, std::max(0, room));
    if (grow > 0) {
        for (const int id : {IDC_PROGRESS_TEXT, IDC_PROGRESS_BAR}) {
            HWND control = GetDlgItem(progress_, id);
            RECT rect;
            GetWindowRect(control, &rect);
            SetWindowPos(control, nullptr, 0, 0, rect.right - rect.left + grow, rect.bottom - rect.top,
                         SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
        }
        HWND cancel = GetDlgItem(progress_, IDCANCEL);
        RECT rect;
        GetWindowRect(cancel, &rect);
        MapWindowPoints(nullptr, progress_, reinterpret_cast<POINT*>(&rect), 2);
        SetWindowPos(cancel, nullptr, rect.left + grow, rect.top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
        window.right += grow;
    }
    RECT form;
    GetWindowRect(form_, &form);
    const int width = window.right - window.left;
    const int height = window.bottom - window.top;
    const int x = std::clamp<int>((form.left + form.right - width) / 2, work.left, std::max<int>(work.left, work.right - width));
    const int y = std::clamp<int>((form.top + form.bottom - height) / 2, work.top, std::max<int>(work.top, work.bottom - height));
    SetWindowPos(progress_, nullptr, x, y, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
}

void BackgroundWait::UpdateProgress() noexcept {
    if (progress_ == nullptr || job_ == nullptr) {
        return;
    }
    const auto position = static_cast<WPARAM>(std::clamp(job_->Progress(), 0.0, 1.0) * ProgressSteps);
    SendDlgItemMessageW(progress_, IDC_PROGRESS_BAR, PBM_SETPOS, position, 0);
}

INT_PTR CALLBACK BackgroundWait::ProgressDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        SetWindowLongPtrW(window, DWLP_USER, lParam);
        return FALSE;  // the keyboard stays where it is
    }
    auto* wait = reinterpret_cast<BackgroundWait*>(GetWindowLongPtrW(window, DWLP_USER));
    if (wait == nullptr) {
        return FALSE;
    }
    switch (message) {
        case WM_COMMAND:
            // Cancel, Escape and the close box all stop the job; the window
            // goes at once, the wait ends once the job has stopped.
            if (LOWORD(wParam) == IDCANCEL) {
                wait->StopJob();
                ShowWindow(window, SW_HIDE);
            }
            return TRUE;
        case WM_CLOSE:
            wait->StopJob();
            ShowWindow(window, SW_HIDE);
            return TRUE;
        case WM_SETCURSOR: return SetCursorFor(window, lParam);
        default: return FALSE;
    }
}

}  // namespace velmora
