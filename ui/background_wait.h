// Waiting for background work while the windows stay alive: they repaint
// but take no input, and work that takes a while shows how far it has come
// and can be cancelled.
#pragma once

#include <QObject>

class QDialog;
class QEvent;
class QWidget;

namespace velmora {

class BackgroundJob;
struct ProgressText;

class BackgroundWait : public QObject {
    Q_OBJECT

public:
    // owner: the window that the progress dialog opens on.
    explicit BackgroundWait(QWidget* owner);

    // Runs the event loop until job has finished. Meanwhile every window
    // repaints, but user input to any window other than the progress dialog
    // is discarded, and Escape asks the job to stop. After ProgressDelay a
    // dialog opens on the owner with progress's title and text, the job's
    // share done and a Cancel button; Cancel and its close box stop the job
    // too. The dialog is shown without being activated, so the keyboard
    // stays where the user was typing; it blocks the owner's input through
    // that filter rather than as a modal window, whose owner would ignore
    // the window manager's close requests. Returns false when memory ran out
    // meanwhile: the job was then asked to stop and has finished.
    [[nodiscard]] bool Run(BackgroundJob& job, const ProgressText& progress);

    // Whether Run is waiting for a job.
    [[nodiscard]] bool Running() const noexcept { return job_ != nullptr; }

    // From any thread: the job has finished. Emits JobReturned.
    void Wake() noexcept;

signals:
    // Emitted on the job's own thread as soon as the job has returned,
    // before Run hears of it through the event loop.
    void JobReturned();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void StopJob() noexcept;
    void ShowProgress(const ProgressText& progress);
    void UpdateProgress();

    QWidget* owner_;
    BackgroundJob* job_ = nullptr;  // the job waited for; null when none
    QDialog* progress_ = nullptr;   // the open progress dialog, if any
};

}  // namespace velmora
