#include "ui_win32/main_window.h"

#include <exception>
#include <vector>

#include "app/messages.h"
#include "resources/dialog_template.h"
#include "resources/resource_ids.h"
#include "ui_win32/dialog_memory.h"
#include "ui_win32/utf16.h"
#include "ui_win32/wait_cursor.h"

namespace velmora {

namespace {

// The program's icon, as velmora.rc numbers it.
constexpr WORD IconResource = 1;

}  // namespace

MainWindow::MainWindow(AppState& state, OctaveNoise& noise, HINSTANCE instance, PictureFactory createPicture)
    : state_(state), instance_(instance), createPicture_(createPicture), wait_(instance), program_(state, noise, *this) {}

MainWindow::~MainWindow() {
    picture_.reset();
    if (window_ != nullptr) {
        DestroyWindow(window_);
    }
    for (HICON icon : icons_) {
        if (icon != nullptr) {
            DestroyIcon(icon);
        }
    }
}

INT_PTR MainWindow::Run() {
    const DialogMemory dialog(*FindDialogTemplate(IDD_MAIN));
    return DialogBoxIndirectParamW(instance_, dialog.Get(), nullptr, MainDialogProc, reinterpret_cast<LPARAM>(this));
}

HWND MainWindow::OpenModeless() {
    const DialogMemory dialog(*FindDialogTemplate(IDD_MAIN));
    HWND window = CreateDialogIndirectParamW(instance_, dialog.Get(), nullptr, MainDialogProc,
                                             reinterpret_cast<LPARAM>(this));
    if (window != nullptr) {
        ShowWindow(window, SW_SHOW);
    }
    return window;
}

INT_PTR CALLBACK MainWindow::MainDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        SetWindowLongPtrW(window, DWLP_USER, lParam);
        reinterpret_cast<MainWindow*>(lParam)->window_ = window;
    }
    auto* form = reinterpret_cast<MainWindow*>(GetWindowLongPtrW(window, DWLP_USER));
    if (form == nullptr) {
        return FALSE;
    }
    if (message == WM_NCDESTROY) {
        form->window_ = nullptr;
        SetWindowLongPtrW(window, DWLP_USER, 0);
        return FALSE;
    }
    // No exception may cross the system's frames: one that reaches here,
    // memory running out where the program does not look for it, drops the
    // message.
    try {
        return form->OnMessage(message, wParam, lParam);
    } catch (const std::exception&) {
        return TRUE;
    }
}

INT_PTR MainWindow::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG: {
            PairLabelsWithFields(*FindDialogTemplate(IDD_MAIN), window_);
            program_.Start();
            SetIcons();
            // The first tab stop takes the focus with its text selected, as
            // the dialog manager gives it when tabbing in.
            if (HWND first = GetNextDlgTabItem(window_, nullptr, FALSE)) {
                SendMessageW(window_, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(first), TRUE);
            }
            return FALSE;  // the focus is set
        }
        case WM_COMMAND:
            // Enter and Escape come as IDOK and IDCANCEL, which the program
            // ignores like any other identifier it has no command for.
            program_.OnCommand(LOWORD(wParam));
            return TRUE;
        case WM_CLOSE:
            if (program_.RequestClose()) {
                ended_ = true;
                EndDialog(window_, 0);
            }
            return TRUE;  // otherwise the command at hand stops and closes the form then
        case WM_SETCURSOR: return SetCursorFor(window_, lParam);
        case WM_TIMER: return wait_.OnTimer(wParam) ? TRUE : FALSE;
        case BackgroundWait::WakeMessage: return TRUE;  // the wait looks at its job after each message
        default: return FALSE;
    }
}

void MainWindow::SetIcons() {
    // The program's icon in the sizes the system shows in captions and on
    // the taskbar, on both windows; none where the program has no icon (in
    // the tests).
    const UINT dpi = GetDpiForWindow(window_);
    const int sizes[2] = {GetSystemMetricsForDpi(SM_CXICON, dpi), GetSystemMetricsForDpi(SM_CXSMICON, dpi)};
    const WPARAM kinds[2] = {ICON_BIG, ICON_SMALL};
    for (int i = 0; i < 2; ++i) {
        icons_[i] = static_cast<HICON>(
            LoadImageW(instance_, MAKEINTRESOURCEW(IconResource), IMAGE_ICON, sizes[i], sizes[i], LR_DEFAULTCOLOR));
        if (icons_[i] == nullptr) {
            continue;
        }
        SendMessageW(window_, WM_SETICON, kinds[i], reinterpret_cast<LPARAM>(icons_[i]));
        if (picture_ != nullptr) {
            SendMessageW(picture_->Window(), WM_SETICON, kinds[i], reinterpret_cast<LPARAM>(icons_[i]));
        }
    }
}

std::string MainWindow::GetFieldText(int id) const {
    HWND field = GetDlgItem(window_, id);
    if (field == nullptr) {
        return {};
    }
    // Exactly the text's length plus its terminator.
    const int length = GetWindowTextLengthW(field);
    std::vector<wchar_t> text(static_cast<std::size_t>(length) + 1, L'\0');
    const UINT copied = GetDlgItemTextW(window_, id, text.data(), length + 1);
    return Utf8(std::wstring_view(text.data(), copied));
}

void MainWindow::InsertFieldText(int id, std::string_view text) {
    const std::wstring wide = Utf16(text);
    SendDlgItemMessageW(window_, id, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(wide.c_str()));
}

void MainWindow::SetWaitCursor(bool shown) {
    ShowWaitCursor(shown);
}

void MainWindow::ShowMessageBox(std::string_view text, UINT icon) {
    MessageBoxW(window_, Utf16(text).c_str(), Utf16(messages::WarningCaption).c_str(), MB_OK | icon);
}

void MainWindow::ShowWarning(std::string_view text) {
    ShowMessageBox(text, MB_ICONWARNING);
}

void MainWindow::ShowInformation(std::string_view text) {
    ShowMessageBox(text, MB_ICONINFORMATION);
}

// A message box wraps its text at spaces, but a long name has none to wrap
// at and would make the box as wide as the screen; so a name wider than 360
// pixels at 96 dots per inch, in the message boxes' font, is cut in the
// middle, keeping as much as it can of the name after its last backslash.
std::string MainWindow::ShownFileName(std::string_view fileName) const {
    constexpr int LongestNameWidth = 360;
    const UINT dpi = window_ != nullptr ? GetDpiForWindow(window_) : USER_DEFAULT_SCREEN_DPI;
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof metrics;
    if (!SystemParametersInfoForDpi(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0, dpi)) {
        return std::string(fileName);
    }
    HFONT font = CreateFontIndirectW(&metrics.lfMessageFont);
    HDC dc = CreateCompatibleDC(nullptr);
    if (font == nullptr || dc == nullptr) {
        DeleteObject(font);
        DeleteDC(dc);
        return std::string(fileName);
    }
    HGDIOBJ previous = SelectObject(dc, font);
    // DT_MODIFYSTRING writes the shortened name back, and may need up to
    // four more characters than the name has.
    std::wstring name = Utf16(fileName);
    const auto length = static_cast<int>(name.size());
    name.append(5, L'\0');
    RECT box{0, 0, MulDiv(LongestNameWidth, static_cast<int>(dpi), USER_DEFAULT_SCREEN_DPI), 1000};
    DrawTextW(dc, name.data(), length, &box, DT_SINGLELINE | DT_NOPREFIX | DT_PATH_ELLIPSIS | DT_MODIFYSTRING);
    SelectObject(dc, previous);
    DeleteDC(dc);
    DeleteObject(font);
    return Utf8(name.c_str());
}

bool MainWindow::WaitFor(BackgroundJob& job, const ProgressText& progress) {
    return wait_.Run(window_, job, progress);
}

void MainWindow::Wake() noexcept {
    wait_.Wake(window_);
}

void MainWindow::CloseForm() {
    SendMessageW(window_, WM_CLOSE, 0, 0);
}

bool MainWindow::OpenPictureWindow() {
    picture_ = createPicture_(state_, instance_);
    return picture_ != nullptr;
}

void MainWindow::ShowPictureWindow() {
    picture_->Show();
}

void MainWindow::KeepPicturePlacement() {
    keptPlacement_ = picture_->CurrentPlacement();
}

void MainWindow::RestorePicturePlacement() {
    if (keptPlacement_) {
        picture_->RestorePlacement(*keptPlacement_);
    }
}

void MainWindow::ResizePictureWindow(std::int32_t width, std::int32_t height) {
    picture_->ResizePictureWindow(width, height);
}

void MainWindow::ShowPicture() {
    picture_->ShowPicture();
}

void MainWindow::ClosePictureWindow() {
    picture_.reset();
}

}  // namespace velmora
