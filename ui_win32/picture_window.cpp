#include "ui_win32/picture_window.h"

#include <algorithm>

#include "app/app_state.h"
#include "resources/dialog_template.h"
#include "resources/resource_ids.h"
#include "ui_win32/dialog_memory.h"
#include "ui_win32/wait_cursor.h"

namespace velmora {

namespace {

// Where the frame's top-left corner goes, in pixels at 96 dots per inch.
constexpr POINT PicturePosition{200, 10};

// How far one step of a scroll bar's arrow or a third of a wheel notch
// scrolls, in pixels at 96 dots per inch.
constexpr int ScrollStep = 20;

int Scaled(int length, UINT dpi) noexcept {
    return MulDiv(length, static_cast<int>(dpi), USER_DEFAULT_SCREEN_DPI);
}

struct Size {
    int width;
    int height;
};

// The window's frame around its client area, without scroll bars.
Size FrameSize(HWND window, UINT dpi) noexcept {
    const auto style = static_cast<DWORD>(GetWindowLongPtrW(window, GWL_STYLE)) & ~(WS_HSCROLL | WS_VSCROLL);
    const auto exStyle = static_cast<DWORD>(GetWindowLongPtrW(window, GWL_EXSTYLE));
    RECT frame{0, 0, 0, 0};
    AdjustWindowRectExForDpi(&frame, style, FALSE, exStyle, dpi);
    return {frame.right - frame.left, frame.bottom - frame.top};
}

}  // namespace

std::unique_ptr<PictureWindow> PictureWindow::Create(const AppState& state, HINSTANCE instance) {
    std::unique_ptr<PictureWindow> picture(new PictureWindow(state));
    picture->owner_ = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, instance, nullptr);
    if (picture->owner_ == nullptr) {
        return nullptr;
    }
    const DialogMemory dialog(*FindDialogTemplate(IDD_PICTURE));
    if (CreateDialogIndirectParamW(instance, dialog.Get(), picture->owner_, PictureDialogProc,
                                   reinterpret_cast<LPARAM>(picture.get())) == nullptr) {
        return nullptr;
    }
    return picture;
}

PictureWindow::~PictureWindow() {
    if (window_ != nullptr) {
        DestroyWindow(window_);
    }
    if (owner_ != nullptr) {
        DestroyWindow(owner_);
    }
}

void PictureWindow::Show() {
    ShowWindow(window_, SW_SHOW);
}

void PictureWindow::ResizePictureWindow(std::int32_t width, std::int32_t height) {
    const UINT dpi = GetDpiForWindow(window_);
    const POINT position{Scaled(PicturePosition.x, dpi), Scaled(PicturePosition.y, dpi)};
    const Size frame = FrameSize(window_, dpi);

    // The client area that fits on the work area of the screen at position,
    // and within the largest window the system allows.
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    GetMonitorInfoW(MonitorFromPoint(position, MONITOR_DEFAULTTONEAREST), &monitor);
    const RECT& work = monitor.rcWork;
    const int left = std::max<int>(position.x, work.left);
    const int top = std::max<int>(position.y, work.top);
    const int roomWidth = std::max(1, std::min<int>(work.right - left, GetSystemMetricsForDpi(SM_CXMAXTRACK, dpi)) -
                                          frame.width);
    const int roomHeight = std::max(1, std::min<int>(work.bottom - top, GetSystemMetricsForDpi(SM_CYMAXTRACK, dpi)) -
                                           frame.height);

    // Where the map does not fit, a scroll bar takes room beside or below
    // it, which can make the other side need one too.
    const int barWidth = GetSystemMetricsForDpi(SM_CXVSCROLL, dpi);
    const int barHeight = GetSystemMetricsForDpi(SM_CYHSCROLL, dpi);
    bool horizontal = false;
    bool vertical = false;
    for (int pass = 0; pass < 2; ++pass) {
        horizontal = width + (vertical ? barWidth : 0) > roomWidth;
        vertical = height + (horizontal ? barHeight : 0) > roomHeight;
    }
    const int clientWidth = std::min(width + (vertical ? barWidth : 0), roomWidth);
    const int clientHeight = std::min(height + (horizontal ? barHeight : 0), roomHeight);

    scroll_ = {0, 0};
    // An owned window goes no lower than its owner: the hidden owner goes
    // to the bottom first.
    SetWindowPos(owner_, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    SetWindowPos(window_, HWND_BOTTOM, position.x, position.y, clientWidth + frame.width,
                 clientHeight + frame.height, SWP_SHOWWINDOW | SWP_NOACTIVATE);
    UpdateScrollBars();
    InvalidateRect(window_, nullptr, TRUE);
}

void PictureWindow::ShowPicture() {
    InvalidateRect(window_, nullptr, TRUE);
    UpdateWindow(window_);
}

PictureWindow::Placement PictureWindow::CurrentPlacement() const {
    Placement placement;
    GetWindowRect(window_, &placement.frame);
    placement.scroll = scroll_;
    return placement;
}

void PictureWindow::RestorePlacement(const Placement& placement) {
    const RECT& frame = placement.frame;
    SetWindowPos(window_, nullptr, frame.left, frame.top, frame.right - frame.left, frame.bottom - frame.top,
                 SWP_NOZORDER | SWP_NOACTIVATE);
    UpdateScrollBars();
    ScrollTo(placement.scroll);
    InvalidateRect(window_, nullptr, TRUE);
}

INT_PTR CALLBACK PictureWindow::PictureDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        auto* picture = reinterpret_cast<PictureWindow*>(lParam);
        SetWindowLongPtrW(window, DWLP_USER, lParam);
        picture->window_ = window;
    }
    auto* picture = reinterpret_cast<PictureWindow*>(GetWindowLongPtrW(window, DWLP_USER));
    if (picture == nullptr) {
        return FALSE;
    }
    if (message == WM_NCDESTROY) {
        picture->window_ = nullptr;
        SetWindowLongPtrW(window, DWLP_USER, 0);
        return FALSE;
    }
    return picture->OnMessage(message, wParam, lParam);
}

INT_PTR PictureWindow::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG: return FALSE;  // nothing to focus
        case WM_PAINT: {
            PAINTSTRUCT paint;
            if (HDC dc = BeginPaint(window_, &paint)) {
                Paint(dc, paint.rcPaint);
                EndPaint(window_, &paint);
            }
            return TRUE;
        }
        case WM_ERASEBKGND:
            EraseBackground(reinterpret_cast<HDC>(wParam));
            SetWindowLongPtrW(window_, DWLP_MSGRESULT, TRUE);
            return TRUE;
        case WM_SIZE: UpdateScrollBars(); return TRUE;
        case WM_HSCROLL: OnScroll(SB_HORZ, LOWORD(wParam)); return TRUE;
        case WM_VSCROLL: OnScroll(SB_VERT, LOWORD(wParam)); return TRUE;
        case WM_MOUSEWHEEL:
            OnWheel((GET_KEYSTATE_WPARAM(wParam) & MK_SHIFT) ? SB_HORZ : SB_VERT, GET_WHEEL_DELTA_WPARAM(wParam));
            return TRUE;
        case WM_MOUSEHWHEEL: OnWheel(SB_HORZ, -GET_WHEEL_DELTA_WPARAM(wParam)); return TRUE;
        case WM_DPICHANGED: OnDpiChanged(HIWORD(wParam), *reinterpret_cast<const RECT*>(lParam)); return TRUE;
        case WM_SETCURSOR: return SetCursorFor(window_, lParam);
        // The window closes only with the form, which destroys it; every
        // other close request, and Enter and Escape, are ignored.
        case WM_CLOSE:
        case WM_COMMAND: return TRUE;
        default: return FALSE;
    }
}

RECT PictureWindow::DrawnMap() const noexcept {
    const MemorySurface* surface = state_.surface.get();
    if (surface == nullptr || state_.width < 1 || state_.height < 1) {
        return {0, 0, 0, 0};  // no map yet: only the background shows
    }
    const Bitmap* map = surface->Selected().get();
    if (map == nullptr || map->Header().bitCount != 24) {
        return {0, 0, 0, 0};
    }
    const PixelRect block = ClipToSelection(*surface, {0, 0, state_.width, state_.height});
    return {block.left, block.top, block.left + block.width, block.top + block.height};
}

void PictureWindow::Paint(HDC dc, const RECT& exposed) const {
    const RECT drawn = DrawnMap();
    // The exposed part of the drawn map, in map pixels.
    const LONG left = std::max(exposed.left + scroll_.x, drawn.left);
    const LONG top = std::max(exposed.top + scroll_.y, drawn.top);
    const LONG right = std::min(exposed.right + scroll_.x, drawn.right);
    const LONG bottom = std::min(exposed.bottom + scroll_.y, drawn.bottom);
    if (left >= right || top >= bottom) {
        return;
    }
    // The map's memory already has the layout of a bottom-up DIB: its rows
    // from top to bottom - 1 are one block of memory, a DIB of their own
    // that the system reads in place, whatever the map's size.
    const Bitmap& map = *state_.surface->Selected();
    const LONG rows = bottom - top;
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = map.Width();
    info.bmiHeader.biHeight = rows;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    const std::uint8_t* firstRow = map.Row(map.Height() - bottom);
    SetDIBitsToDevice(dc, left - scroll_.x, top - scroll_.y, static_cast<DWORD>(right - left),
                      static_cast<DWORD>(rows), left, 0, 0, static_cast<UINT>(rows), firstRow, &info,
                      DIB_RGB_COLORS);
}

void PictureWindow::EraseBackground(HDC dc) const {
    // Everything but the map, which its own painting covers: erasing it too
    // would make it flicker. The device context is the one the painting
    // then draws the map with, so its clipping is put back.
    const int saved = SaveDC(dc);
    const RECT drawn = DrawnMap();
    if (drawn.right > drawn.left && drawn.bottom > drawn.top) {
        ExcludeClipRect(dc, drawn.left - scroll_.x, drawn.top - scroll_.y, drawn.right - scroll_.x,
                        drawn.bottom - scroll_.y);
    }
    RECT client;
    GetClientRect(window_, &client);
    FillRect(dc, &client, GetSysColorBrush(COLOR_3DFACE));
    RestoreDC(dc, saved);
}

void PictureWindow::UpdateScrollBars() {
    // Showing or hiding a bar resizes the client area, which calls this
    // again: the outer call repeats until the bars settle.
    if (updatingBars_) {
        return;
    }
    updatingBars_ = true;
    const UINT dpi = GetDpiForWindow(window_);
    for (int pass = 0; pass < 3; ++pass) {
        RECT client;
        GetClientRect(window_, &client);
        const auto style = GetWindowLongPtrW(window_, GWL_STYLE);
        int visibleWidth = client.right;
        int visibleHeight = client.bottom;
        // A map that fits the whole window needs no scroll bar, even while
        // bars from a larger map still take room from it.
        const int wholeWidth = visibleWidth + ((style & WS_VSCROLL) ? GetSystemMetricsForDpi(SM_CXVSCROLL, dpi) : 0);
        const int wholeHeight =
            visibleHeight + ((style & WS_HSCROLL) ? GetSystemMetricsForDpi(SM_CYHSCROLL, dpi) : 0);
        const int mapWidth = std::max(0, state_.width);
        const int mapHeight = std::max(0, state_.height);
        if (mapWidth <= wholeWidth && mapHeight <= wholeHeight) {
            visibleWidth = std::max(visibleWidth, mapWidth);
            visibleHeight = std::max(visibleHeight, mapHeight);
        }
        // A page at least as large as the range hides the bar.
        SCROLLINFO info{};
        info.cbSize = sizeof info;
        info.fMask = SIF_RANGE | SIF_PAGE | SIF_POS;
        info.nMax = std::max(0, mapWidth - 1);
        info.nPage = static_cast<UINT>(std::max(1, visibleWidth));
        scroll_.x = std::clamp<LONG>(scroll_.x, 0, std::max(0, mapWidth - visibleWidth));
        info.nPos = scroll_.x;
        SetScrollInfo(window_, SB_HORZ, &info, TRUE);
        info.nMax = std::max(0, mapHeight - 1);
        info.nPage = static_cast<UINT>(std::max(1, visibleHeight));
        scroll_.y = std::clamp<LONG>(scroll_.y, 0, std::max(0, mapHeight - visibleHeight));
        info.nPos = scroll_.y;
        SetScrollInfo(window_, SB_VERT, &info, TRUE);
        RECT after;
        GetClientRect(window_, &after);
        if (after.right == client.right && after.bottom == client.bottom) {
            break;
        }
    }
    updatingBars_ = false;
}

void PictureWindow::ScrollTo(POINT position) {
    const POINT before = scroll_;
    for (const int bar : {SB_HORZ, SB_VERT}) {
        SCROLLINFO info{};
        info.cbSize = sizeof info;
        info.fMask = SIF_POS;
        info.nPos = bar == SB_HORZ ? position.x : position.y;
        SetScrollInfo(window_, bar, &info, TRUE);
        // The bar keeps the position within its range.
        info.fMask = SIF_POS | SIF_RANGE | SIF_PAGE;
        GetScrollInfo(window_, bar, &info);
        const bool shown = info.nPage <= static_cast<UINT>(info.nMax - info.nMin);
        (bar == SB_HORZ ? scroll_.x : scroll_.y) = shown ? info.nPos : 0;
    }
    if (scroll_.x != before.x || scroll_.y != before.y) {
        ScrollWindowEx(window_, before.x - scroll_.x, before.y - scroll_.y, nullptr, nullptr, nullptr, nullptr,
                       SW_INVALIDATE | SW_ERASE);
        UpdateWindow(window_);
    }
}

void PictureWindow::OnScroll(int bar, int request) {
    SCROLLINFO info{};
    info.cbSize = sizeof info;
    info.fMask = SIF_ALL;
    GetScrollInfo(window_, bar, &info);
    const int step = Scaled(ScrollStep, GetDpiForWindow(window_));
    const int page = static_cast<int>(info.nPage);
    int position = info.nPos;
    switch (request) {
        case SB_LINEUP: position -= step; break;
        case SB_LINEDOWN: position += step; break;
        case SB_PAGEUP: position -= page; break;
        case SB_PAGEDOWN: position += page; break;
        case SB_TOP: position = info.nMin; break;
        case SB_BOTTOM: position = info.nMax; break;
        // The 32-bit position: the message's own has 16 bits.
        case SB_THUMBTRACK:
        case SB_THUMBPOSITION: position = info.nTrackPos; break;
        default: return;
    }
    position = std::clamp(position, info.nMin, std::max(info.nMin, info.nMax - page + 1));
    ScrollTo(bar == SB_HORZ ? POINT{position, scroll_.y} : POINT{scroll_.x, position});
}

void PictureWindow::OnWheel(int bar, int delta) {
    // Three steps per notch, as wheels scroll lines elsewhere.
    int& remainder = wheelRemainder_[bar == SB_HORZ ? 0 : 1];
    remainder += delta;
    const int notches = remainder / WHEEL_DELTA;
    remainder -= notches * WHEEL_DELTA;
    const int distance = -notches * 3 * Scaled(ScrollStep, GetDpiForWindow(window_));
    ScrollTo(bar == SB_HORZ ? POINT{scroll_.x + distance, scroll_.y} : POINT{scroll_.x, scroll_.y + distance});
}

void PictureWindow::OnDpiChanged(UINT dpi, const RECT& suggested) {
    // The map stays one map pixel per device pixel: the client area keeps
    // its size, and only the frame and the scroll bars follow the new DPI.
    RECT client;
    GetClientRect(window_, &client);
    const auto style = GetWindowLongPtrW(window_, GWL_STYLE);
    const int barWidth = (style & WS_VSCROLL) ? GetSystemMetricsForDpi(SM_CXVSCROLL, dpi) : 0;
    const int barHeight = (style & WS_HSCROLL) ? GetSystemMetricsForDpi(SM_CYHSCROLL, dpi) : 0;
    const Size frame = FrameSize(window_, dpi);
    SetWindowPos(window_, nullptr, suggested.left, suggested.top, client.right + barWidth + frame.width,
                 client.bottom + barHeight + frame.height, SWP_NOZORDER | SWP_NOACTIVATE);
}

}  // namespace velmora
