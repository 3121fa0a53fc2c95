// The picture window: shows the current map at its natural size, one map
// pixel per device pixel, at the top-left corner of its client area, with
// scroll bars for a map larger than the screen has room for.
#pragma once

#include <QDialog>

#include <cstdint>

class QCloseEvent;
class QResizeEvent;

namespace velmora {

struct AppState;
class MapView;

class PictureDialog : public QDialog {
    Q_OBJECT

public:
    // Creates the window hidden at its template's place and size, owned by
    // owner, showing state's map.
    PictureDialog(AppState& state, QWidget* owner);

    // Moves the window's frame to (200, 10) on the screen, sizes its client
    // area to hold width x height device pixels, puts it at the bottom of the
    // stacking order and shows it. width and height must be at least 1. Where
    // the device pixel ratio does not divide a side, the client area is the
    // smallest that holds it, less than one logical pixel larger. Where the
    // window would not fit on the screen's available area there, or would be
    // larger than the window system allows, the client area is as large as
    // fits and scroll bars reach the rest of the map.
    void ResizePictureWindow(std::int32_t width, std::int32_t height);

    // Draws the state's width x height block of the current map now, without
    // waiting for the next repaint.
    void ShowPicture();

    // Where the window is, how large, and where its view is scrolled to.
    struct Placement {
        QPoint framePosition;
        QSize clientSize;
        QSize baseSize;
        QPoint scroll;
    };
    [[nodiscard]] Placement CurrentPlacement() const;

    // Puts the window back as placement says, showing the state's map at its
    // current size: after a Generate that made no map.
    void RestorePlacement(const Placement& placement);

    // Closes the window for its owner. Every other close request, from the
    // window manager or the keyboard, is refused.
    void CloseWithOwner();

public slots:
    void accept() override;
    void reject() override;

protected:
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    // The largest client area, in logical pixels, whose window, frame
    // included, stays on the available area of the screen at (200, 10).
    [[nodiscard]] QSize ClientRoom() const;
    // Puts the top-left corner of the window's frame at position.
    void PlaceFrameAt(QPoint position);

    AppState& state_;
    MapView* view_ = nullptr;
    bool closingWithOwner_ = false;
};

// Creates the picture window owned by owner; null when it cannot be created.
using PictureWindowFactory = PictureDialog* (*)(AppState& state, QWidget* owner);
[[nodiscard]] PictureDialog* CreatePictureWindow(AppState& state, QWidget* owner);

}  // namespace velmora
