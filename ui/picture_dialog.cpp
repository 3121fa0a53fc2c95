#include "ui/picture_dialog.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QResizeEvent>
#include <QScreen>
#include <QStyle>
#include <QWindow>

#include <algorithm>

#include "ui/dialog_builder.h"
#include "resources/resource_ids.h"
#include "app/app_state.h"
#include "ui/device_pixels.h"
#include "ui/map_view.h"

namespace velmora {

namespace {

constexpr QPoint PicturePosition(200, 10);

// The longest side, in device pixels, that a window may have: X11 keeps
// window sizes in 16-bit signed fields.
constexpr int LongestWindowSide = 32767;

}  // namespace

PictureDialog::PictureDialog(AppState& state, QWidget* owner) : QDialog(owner), state_(state) {
    BuildDialog(*FindDialogTemplate(IDD_PICTURE), *this);
    view_ = new MapView(state_, this);
    view_->setGeometry(rect());
}

void PictureDialog::ResizePictureWindow(std::int32_t width, std::int32_t height) {
    const qreal ratio = devicePixelRatioF();
    const QSize map(LogicalLengthCovering(width, ratio), LogicalLengthCovering(height, ratio));
    const QSize room = ClientRoom();
    // Where the map does not fit, a scroll bar takes room beside or below
    // it, which can make the other side need one too.
    const int bar = view_->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, view_);
    bool horizontal = false;
    bool vertical = false;
    for (int pass = 0; pass < 2; ++pass) {
        horizontal = map.width() + (vertical ? bar : 0) > room.width();
        vertical = map.height() + (horizontal ? bar : 0) > room.height();
    }
    const QSize client =
        QSize(map.width() + (vertical ? bar : 0), map.height() + (horizontal ? bar : 0)).boundedTo(room);

    // Keep the size on the grid of the resize steps that Qt announces
    // under a scale factor, so that no window manager rounds it down.
    setBaseSize(BaseLengthOnGrid(DeviceLength(client.width(), ratio), ratio),
                BaseLengthOnGrid(DeviceLength(client.height(), ratio), ratio));
    resize(client);
    view_->ResetMap();
    PlaceFrameAt(PicturePosition);
    // Showing a window that is already shown again would, since Qt 6.8, put
    // it back where the widget last heard it was, before the move above.
    if (!isVisible()) {
        show();
    }
    lower();
}

QSize PictureDialog::ClientRoom() const {
    const QScreen* screen = QGuiApplication::screenAt(PicturePosition);
    if (screen == nullptr) {
        screen = this->screen();
    }
    const QRect area = screen->availableGeometry();
    // The frame as the window manager drew it; none before the window was
    // first shown.
    const QRect frame = frameGeometry();
    const QRect inside = geometry();
    const int frameWidth = frame.width() - inside.width();
    const int frameHeight = frame.height() - inside.height();
    const int left = std::max(PicturePosition.x(), area.left());
    const int top = std::max(PicturePosition.y(), area.top());
    const int longest = static_cast<int>(LongestWindowSide / devicePixelRatioF());
    const int width = std::min(area.left() + area.width() - left - frameWidth, longest);
    const int height = std::min(area.top() + area.height() - top - frameHeight, longest);
    return {std::max(width, 1), std::max(height, 1)};
}

void PictureDialog::PlaceFrameAt(QPoint position) {
    // The window's own frame-inclusive placement rounds the position to
    // device pixels once. QWidget::move would place the client area after
    // a frame rounded to logical pixels, one device pixel off where the
    // ratio does not divide the frame.
    if (QWindow* window = windowHandle()) {
        window->setFramePosition(position);
    } else {
        move(position);
    }
}

PictureDialog::Placement PictureDialog::CurrentPlacement() const {
    return {pos(), size(), baseSize(), view_->ScrollPosition()};
}

void PictureDialog::RestorePlacement(const Placement& placement) {
    setBaseSize(placement.baseSize);
    resize(placement.clientSize);
    view_->ResetMap();
    view_->ScrollTo(placement.scroll);
    PlaceFrameAt(placement.framePosition);
}

void PictureDialog::ShowPicture() {
    repaint();
}

void PictureDialog::CloseWithOwner() {
    closingWithOwner_ = true;
    close();
}

void PictureDialog::accept() {}

void PictureDialog::reject() {}

void PictureDialog::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    view_->setGeometry(rect());
}

void PictureDialog::closeEvent(QCloseEvent* event) {
    if (!closingWithOwner_) {
        event->ignore();
        return;
    }
    event->accept();
}

PictureDialog* CreatePictureWindow(AppState& state, QWidget* owner) {
    return new PictureDialog(state, owner);
}

}  // namespace velmora
