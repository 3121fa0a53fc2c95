// The picture window's client area: the current map at one map pixel per
// device pixel from its top-left corner, with scroll bars where the map is
// larger than the area.
#pragma once

#include <QAbstractScrollArea>

class QPaintEvent;
class QResizeEvent;

namespace velmora {

struct AppState;

class MapView : public QAbstractScrollArea {
    Q_OBJECT

public:
    MapView(const AppState& state, QWidget* parent);

    // Takes the state's width x height as the map's size in device pixels
    // and scrolls back to its top-left corner.
    void ResetMap();

    // Where the view is scrolled to, in the scroll bars' device pixels.
    [[nodiscard]] QPoint ScrollPosition() const;
    void ScrollTo(QPoint position);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void UpdateScrollRanges();

    const AppState& state_;
};

}  // namespace velmora
