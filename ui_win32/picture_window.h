// The picture window: the current map at its natural size, one map pixel
// per device pixel, from the top-left corner of its client area, with
// scroll bars where the map is larger than the screen has room for. A
// modeless dialog.
//
// It is owned by a hidden window of its own rather than by the form:
// Windows keeps an owned window above its owner, so a picture window owned
// by the form could never go behind it, and at (200, 10) it would cover the
// form's right part (the vary boxes, the file name, Save) after every
// Generate. Owned by a hidden window it still has no button on the taskbar.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>

namespace velmora {

struct AppState;

class PictureWindow {
public:
    // Creates the window hidden at its template's place and size, showing
    // state's map; null when it cannot be created.
    [[nodiscard]] static std::unique_ptr<PictureWindow> Create(const AppState& state, HINSTANCE instance);
    ~PictureWindow();
    PictureWindow(const PictureWindow&) = delete;
    PictureWindow& operator=(const PictureWindow&) = delete;

    [[nodiscard]] HWND Window() const noexcept { return window_; }

    void Show();

    // Moves the window's frame to (200, 10) (in pixels at 96 dots per inch,
    // scaled with the window's DPI), sizes its client area to width x
    // height device pixels, puts it at the bottom of the stacking order and
    // shows it, without activating it. Where the window would not fit on the
    // work area of the screen there, or would be larger than a window may
    // be, the client area is as large as fits and scroll bars reach the rest
    // of the map. width and height must be at least 1.
    void ResizePictureWindow(std::int32_t width, std::int32_t height);

    // Draws the state's width x height block of the current map now,
    // without waiting for the next repaint.
    void ShowPicture();

    // Where the window is, how large, and where it is scrolled to.
    struct Placement {
        RECT frame{};
        POINT scroll{};
    };
    [[nodiscard]] Placement CurrentPlacement() const;
    // Puts the window back as placement says, showing the state's map at its
    // current size: after a Generate that made no map.
    void RestorePlacement(const Placement& placement);

    // Where the map is scrolled to: the map pixel at the client area's
    // top-left corner.
    [[nodiscard]] POINT ScrollPosition() const noexcept { return scroll_; }

private:
    explicit PictureWindow(const AppState& state) : state_(state) {}

    static INT_PTR CALLBACK PictureDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam);

    // The part of the map that can be drawn, in map pixels, top-down.
    [[nodiscard]] RECT DrawnMap() const noexcept;
    void Paint(HDC dc, const RECT& exposed) const;
    void EraseBackground(HDC dc) const;
    // Sets the scroll bars for the map and the client area: shown where the
    // map is larger, hidden where it fits the window without them.
    void UpdateScrollBars();
    // Scrolls so that map pixel position is at the top-left corner, as far
    // as the bars reach.
    void ScrollTo(POINT position);
    void OnScroll(int bar, int request);
    void OnWheel(int bar, int delta);
    // Keeps the client area's size in device pixels when the window moves to
    // a screen of another DPI.
    void OnDpiChanged(UINT dpi, const RECT& suggested);

    const AppState& state_;
    HWND owner_ = nullptr;  // hidden
    HWND window_ = nullptr;
    POINT scroll_{};
    bool updatingBars_ = false;
    int wheelRemainder_[2] = {0, 0};  // parts of a wheel notch not yet scrolled, per bar
};

}  // namespace velmora
