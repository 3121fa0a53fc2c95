// Rendering a map on a thread of its own while the windows stay alive: they
// repaint but take no input, and a render that takes a while shows how far it
// has come and can be cancelled.
#pragma once

#include <QObject>
#include <QString>

#include <chrono>

#include "image/render_control.h"

class QDialog;
class QEvent;
class QWidget;

namespace velmora {

class OctaveNoise;
struct MapImage;

// How long a render runs before its progress dialog opens, and how often the
// dialog's progress is brought up to date.
constexpr std::chrono::milliseconds ProgressDelay{400};
constexpr std::chrono::milliseconds ProgressRefresh{50};

class BackgroundRender : public QObject {
    Q_OBJECT

public:
    // owner: the window that the progress dialog opens on.
    explicit BackgroundRender(QWidget* owner);

    // Renders image from a copy of noise on another thread and returns once
    // the render has completed or stopped. Meanwhile the event loop runs, so
    // every window repaints, but user input to any window other than the
    // progress dialog is discarded. After ProgressDelay a dialog titled
    // "Generate" opens on the owner with text, the share done and a Cancel
    // button; Cancel, Escape and its close box stop the render. The dialog
    // blocks the owner's input through that filter rather than as a modal
    // window, whose owner would ignore the window manager's close requests.
    // Returns Stopped, with image of no use, whenever a stop was asked for
    // while it ran: also when the render had completed by then and only the
    // news of it was still on its way to the event loop.
    [[nodiscard]] RenderStatus Run(const OctaveNoise& noise, MapImage& image, const QString& text);

    // Whether Run is waiting for a render.
    [[nodiscard]] bool Running() const noexcept { return control_ != nullptr; }

    // Asks the running render to stop; Run returns Stopped shortly after.
    // Does nothing when no render runs.
    void Stop() noexcept;

signals:
    // Emitted on the render's own thread as soon as the render has returned,
    // before Run hears of it through the event loop.
    void RenderReturned();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void ShowProgress(const QString& text);
    void UpdateProgress();

    QWidget* owner_;
    RenderControl* control_ = nullptr;  // the running render's; null when none runs
    QDialog* progress_ = nullptr;       // the open progress dialog, if any
};

}  // namespace velmora
