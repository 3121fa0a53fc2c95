// The wait cursor over the program's windows while a command runs.
#pragma once

#include <windows.h>

namespace velmora {

// Shows the wait cursor over every window of the program, or takes it down;
// the cursor changes at once where it is over one of them.
void ShowWaitCursor(bool shown) noexcept;

// What a dialog procedure of the program does with WM_SETCURSOR: while the
// wait cursor is shown, sets it over the client area of window (and of its
// controls) and returns TRUE as the message's result; otherwise FALSE, for
// the default handling.
[[nodiscard]] INT_PTR SetCursorFor(HWND window, LPARAM lParam) noexcept;

}  // namespace velmora
