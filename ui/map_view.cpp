#include "ui/map_view.h"

#include <QImage>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>

#include <algorithm>

#include "app/app_state.h"
#include "ui/device_pixels.h"

namespace velmora {

MapView::MapView(const AppState& state, QWidget* parent) : QAbstractScrollArea(parent), state_(state) {
    setFrameShape(QFrame::NoFrame);
    // Beside and below the map the window's own background shows, and
    // the window itself is painted whenever its map is.
    viewport()->setAutoFillBackground(false);
    setFocusPolicy(Qt::NoFocus);
}

void MapView::ResetMap() {
    UpdateScrollRanges();
    horizontalScrollBar()->setValue(0);
    verticalScrollBar()->setValue(0);
    viewport()->update();
}

QPoint MapView::ScrollPosition() const {
    return {horizontalScrollBar()->value(), verticalScrollBar()->value()};
}

void MapView::ScrollTo(QPoint position) {
    horizontalScrollBar()->setValue(position.x());
    verticalScrollBar()->setValue(position.y());
}

void MapView::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    UpdateScrollRanges();
}

// Scroll bar values count device pixels, so every map pixel can be reached
// at any ratio.
void MapView::UpdateScrollRanges() {
    const qreal ratio = viewport()->devicePixelRatioF();
    int visibleWidth = DeviceLength(viewport()->width(), ratio);
    int visibleHeight = DeviceLength(viewport()->height(), ratio);
    // A map that fits the whole view needs no scroll bar, even while bars
    // from a larger map still take room from the viewport.
    if (state_.width <= DeviceLength(width(), ratio) && state_.height <= DeviceLength(height(), ratio)) {
        visibleWidth = std::max(visibleWidth, state_.width);
        visibleHeight = std::max(visibleHeight, state_.height);
    }
    const int step = std::max(1, DeviceLength(20, ratio));
    QScrollBar* horizontal = horizontalScrollBar();
    horizontal->setRange(0, std::max(0, state_.width - visibleWidth));
    horizontal->setPageStep(std::max(1, visibleWidth));
    horizontal->setSingleStep(step);
    QScrollBar* vertical = verticalScrollBar();
    vertical->setRange(0, std::max(0, state_.height - visibleHeight));
    vertical->setPageStep(std::max(1, visibleHeight));
    vertical->setSingleStep(step);
}

void MapView::paintEvent(QPaintEvent* event) {
    const MemorySurface* surface = state_.surface.get();
    if (surface == nullptr || state_.width < 1 || state_.height < 1) {
        return;  // no map yet: only the background shows
    }
    const Bitmap* map = surface->Selected().get();
    if (map == nullptr || map->Header().bitCount != 24) {
        return;
    }
    // The exposed device pixels, in map coordinates, within the width x
    // height block and the bitmap.
    const qreal ratio = viewport()->devicePixelRatioF();
    const QPoint scroll(horizontalScrollBar()->value(), verticalScrollBar()->value());
    const QRect exposed =
        DevicePixels(event->rect(), ratio).translated(scroll).intersected(QRect(0, 0, state_.width, state_.height));
    const PixelRect block =
        ClipToSelection(*surface, {exposed.left(), exposed.top(), exposed.width(), exposed.height()});
    if (block.Empty()) {
        return;
    }
    // Memory holds the bottom row first, so one image cannot span several
    // rows top-down. Each row is drawn from the bitmap's own memory instead:
    // nothing is copied, whatever the map's size.
    QPainter painter(viewport());
    const auto left = static_cast<std::size_t>(block.left);
    for (std::int32_t y = block.top; y < block.top + block.height; ++y) {
        const std::uint8_t* row = map->Row(map->Height() - 1 - y) + 3 * left;
        QImage line(row, block.width, 1, static_cast<qsizetype>(map->Stride()), QImage::Format_BGR888);
        // At the window's own ratio one map pixel lands on one device pixel.
        line.setDevicePixelRatio(ratio);
        painter.drawImage(QPointF((block.left - scroll.x()) / ratio, (y - scroll.y()) / ratio), line);
    }
}

}  // namespace velmora
