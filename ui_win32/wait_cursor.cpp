#include "ui_win32/wait_cursor.h"

namespace velmora {

namespace {

// One thread runs every window of the program, so a plain flag serves.
bool waitCursorShown = false;

}  // namespace

void ShowWaitCursor(bool shown) noexcept {
    waitCursorShown = shown;
    // Without this the cursor would change only when the mouse next moves:
    // the window under it is asked again which cursor it wants.
    POINT position{};
    if (!GetCursorPos(&position)) {
        return;
    }
    HWND window = WindowFromPoint(position);
    if (window == nullptr || GetWindowThreadProcessId(window, nullptr) != GetCurrentThreadId()) {
        return;
    }
    const LRESULT hit = SendMessageW(window, WM_NCHITTEST, 0, MAKELPARAM(position.x, position.y));
    SendMessageW(window, WM_SETCURSOR, reinterpret_cast<WPARAM>(window), MAKELPARAM(hit, WM_MOUSEMOVE));
}

INT_PTR SetCursorFor(HWND window, LPARAM lParam) noexcept {
    // The frame keeps its own cursors, for resizing.
    if (!waitCursorShown || LOWORD(lParam) != HTCLIENT) {
        return FALSE;
    }
    SetCursor(LoadCursorW(nullptr, IDC_WAIT));
    SetWindowLongPtrW(window, DWLP_MSGRESULT, TRUE);
    return TRUE;
}

}  // namespace velmora
