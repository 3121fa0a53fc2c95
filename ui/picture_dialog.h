// The picture window: shows the current map at its natural size, one map
// pixel per device pixel, at the top-left corner of its client area.
#pragma once

#include <QDialog>

#include <cstdint>

struct AppState;
class QCloseEvent;
class QKeyEvent;
class QPaintEvent;

class PictureDialog : public QDialog {
    Q_OBJECT

public:
    // Creates the window hidden at its template's place and size, owned by
    // owner, and gives state a fresh off-screen surface in place of the one
    // it held.
    PictureDialog(AppState& state, QWidget* owner);

    // Moves the window to (200, 10) on the screen, sizes its client area to
    // hold width x height device pixels, puts it at the bottom of the
    // stacking order and shows it. width and height must be at least 1. Where
    // the device pixel ratio does not divide a side, the client area is one
    // device pixel larger on that side.
    void ResizePictureWindow(std::int32_t width, std::int32_t height);

    // Draws the state's width x height block of the current map now, without
    // waiting for the next repaint.
    void ShowPicture();

    // Closes the window for its owner: releases the map and the surface.
    // Every other close request, from the window manager or the keyboard, is
    // refused.
    void CloseWithOwner();

public slots:
    void accept() override;
    void reject() override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    AppState& state_;
    bool closingWithOwner_ = false;
};

// Creates the picture window owned by owner; null when it cannot be created.
using PictureWindowFactory = PictureDialog* (*)(AppState& state, QWidget* owner);
[[nodiscard]] PictureDialog* CreatePictureWindow(AppState& state, QWidget* owner);
