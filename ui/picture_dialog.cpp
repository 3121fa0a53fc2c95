#include "ui/picture_dialog.h"

#include <QCloseEvent>
#include <QImage>
#include <QPaintEvent>
#include <QPainter>

#include <algorithm>
#include <cmath>
#include <span>

#include "resources/dialog_builder.h"
#include "resources/resource_ids.h"
#include "ui/app_state.h"

namespace {

constexpr QPoint PicturePosition(200, 10);

// Device pixels to the logical pixels Qt sizes windows in, rounded up so
// that the client area holds them all.
int LogicalSize(std::int32_t devicePixels, qreal ratio) {
    const double logical = std::ceil(static_cast<double>(devicePixels) / ratio);
    return static_cast<int>(std::min<double>(logical, QWIDGETSIZE_MAX));
}

// The device pixels that a logical rectangle covers.
QRect DevicePixels(const QRect& logical, qreal ratio) {
    const auto left = static_cast<int>(std::floor(logical.left() * ratio));
    const auto top = static_cast<int>(std::floor(logical.top() * ratio));
    const auto right = static_cast<int>(std::ceil((logical.left() + logical.width()) * ratio));
    const auto bottom = static_cast<int>(std::ceil((logical.top() + logical.height()) * ratio));
    return {left, top, right - left, bottom - top};
}

}  // namespace

PictureDialog::PictureDialog(AppState& state, QWidget* owner) : QDialog(owner), state_(state) {
    BuildDialog(*FindDialogTemplate(IDD_PICTURE), *this);
    state_.surface = CreateCompatibleSurface();
}

void PictureDialog::ResizePictureWindow(std::int32_t width, std::int32_t height) {
    const qreal ratio = devicePixelRatioF();
    move(PicturePosition);
    resize(LogicalSize(width, ratio), LogicalSize(height, ratio));
    show();
    lower();
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

void PictureDialog::paintEvent(QPaintEvent* event) {
    if (!state_.surface || state_.width < 1 || state_.height < 1) {
        return;  // no map yet: only the background shows
    }
    // The exposed part of the map's width x height block, in device pixels.
    const qreal ratio = devicePixelRatioF();
    const QRect exposed = DevicePixels(event->rect(), ratio).intersected(QRect(0, 0, state_.width, state_.height));
    const PixelRect block =
        ClipToSelection(*state_.surface, {exposed.left(), exposed.top(), exposed.width(), exposed.height()});
    if (block.Empty()) {
        return;
    }
    QImage picture(block.width, block.height, QImage::Format_BGR888);
    if (picture.isNull()) {
        return;  // no memory for this repaint; the next one tries again
    }
    const std::span<std::uint8_t> bytes(picture.bits(), static_cast<std::size_t>(picture.sizeInBytes()));
    if (!CopyBlockTopDown(*state_.surface, block, bytes, static_cast<std::size_t>(picture.bytesPerLine()))) {
        return;
    }
    // At the window's own ratio one picture pixel lands on one device pixel.
    picture.setDevicePixelRatio(ratio);
    QPainter painter(this);
    painter.drawImage(QPointF(block.left / ratio, block.top / ratio), picture);
}

void PictureDialog::closeEvent(QCloseEvent* event) {
    if (!closingWithOwner_) {
        event->ignore();
        return;
    }
    state_.image.reset();
    state_.surface.reset();
    event->accept();
}

PictureDialog* CreatePictureWindow(AppState& state, QWidget* owner) {
    return new PictureDialog(state, owner);
}
