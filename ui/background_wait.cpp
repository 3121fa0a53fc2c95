#include "ui/background_wait.h"

#include <QCoreApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QEvent>
#include <QEventLoop>
#include <QKeyEvent>
#include <QLabel>
#include <QProgressBar>
#include <QTimer>
#include <QVBoxLayout>
#include <QWindow>

#include <new>

#include "app/background_job.h"
#include "app/front_end.h"

namespace velmora {

namespace {

// Steps of the progress bar: fine enough that slow work visibly moves.
constexpr int ProgressSteps = 1'000'000;

// How often the loop looks at the job even without news of its end, in case
// that news could not be sent.
constexpr std::chrono::milliseconds FinishedCheck{100};

bool IsUserInput(QEvent::Type type) {
    switch (type) {
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
        case QEvent::ShortcutOverride:
        case QEvent::Shortcut:
        case QEvent::InputMethod:
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::MouseMove:
        case QEvent::Wheel:
        case QEvent::ContextMenu:
        case QEvent::TouchBegin:
        case QEvent::TouchUpdate:
        case QEvent::TouchEnd:
        case QEvent::TabletPress:
        case QEvent::TabletMove:
        case QEvent::TabletRelease:
        case QEvent::NativeGesture:
        case QEvent::DragEnter:
        case QEvent::DragMove:
        case QEvent::Drop: return true;
        default: return false;
    }
}

}  // namespace

BackgroundWait::BackgroundWait(QWidget* owner) : QObject(owner), owner_(owner) {}

bool BackgroundWait::Run(BackgroundJob& job, const ProgressText& progress) {
    bool memoryLeft = true;
    QEventLoop loop;
    const auto quitIfFinished = [&] {
        if (job.Finished()) {
            loop.quit();
        }
    };
    connect(this, &BackgroundWait::JobReturned, &loop, quitIfFinished, Qt::QueuedConnection);
    QTimer finishedCheck;
    connect(&finishedCheck, &QTimer::timeout, &loop, quitIfFinished);
    QTimer progressTimer;
    connect(&progressTimer, &QTimer::timeout, this, [&] {
        try {
            if (progress_ == nullptr) {
                ShowProgress(progress);
                progressTimer.setInterval(ProgressRefresh);
            }
            UpdateProgress();
        } catch (const std::bad_alloc&) {
            // No memory for the dialog: stop rather than go on without a
            // way to cancel.
            memoryLeft = false;
            progressTimer.stop();
            StopJob();
        }
    });

    job_ = &job;
    QCoreApplication::instance()->installEventFilter(this);
    finishedCheck.start(FinishedCheck);
    progressTimer.start(ProgressDelay);
    if (!job.Finished()) {
        loop.exec();
    }
    if (!job.Finished()) {
        // The loop was ended from outside: stop rather than wait.
        StopJob();
    }
    progressTimer.stop();
    finishedCheck.stop();
    QCoreApplication::instance()->removeEventFilter(this);
    delete progress_;
    progress_ = nullptr;
    job_ = nullptr;
    return memoryLeft;
}

void BackgroundWait::Wake() noexcept {
    try {
        emit JobReturned();
    } catch (const std::bad_alloc&) {
        // The periodic look at the job finds it finished instead.
    }
}

void BackgroundWait::StopJob() noexcept {
    if (job_ != nullptr) {
        job_->Stop();
    }
}

bool BackgroundWait::eventFilter(QObject* watched, QEvent* event) {
    if (!IsUserInput(event->type())) {
        return false;
    }
    if (progress_ != nullptr) {
        const auto* widget = qobject_cast<const QWidget*>(watched);
        if ((widget != nullptr && widget->window() == progress_) || watched == progress_->windowHandle()) {
            return false;
        }
    }
    if (!watched->isWidgetType() && !watched->isWindowType()) {
        return false;
    }
    // Escape aimed at any window stops the job; everything else typed or
    // clicked meanwhile is discarded, not kept for later.
    if (event->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
        StopJob();
    }
    return true;
}

void BackgroundWait::ShowProgress(const ProgressText& progress) {
    progress_ = new QDialog(owner_);
    progress_->setObjectName(QStringLiteral("renderProgress"));
    progress_->setWindowTitle(QString::fromStdString(progress.title));
    // Opening must not take the keyboard from the form: a Return or an
    // Alt+F4 meant for the form would otherwise land on Cancel.
    progress_->setAttribute(Qt::WA_ShowWithoutActivating);
    auto* layout = new QVBoxLayout(progress_);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    layout->addWidget(new QLabel(QString::fromStdString(progress.text), progress_));
    auto* bar = new QProgressBar(progress_);
    bar->setRange(0, ProgressSteps);
    bar->setMinimumWidth(progress_->fontMetrics().averageCharWidth() * 40);
    layout->addWidget(bar);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Cancel, progress_);
    layout->addWidget(buttons);
    // Cancel, Escape and the close box all reject the dialog.
    connect(buttons, &QDialogButtonBox::rejected, progress_, &QDialog::reject);
    connect(progress_, &QDialog::rejected, this, &BackgroundWait::StopJob);
    progress_->show();
}

void BackgroundWait::UpdateProgress() {
    auto* bar = progress_->findChild<QProgressBar*>();
    bar->setValue(static_cast<int>(job_->Progress() * ProgressSteps));
}

}  // namespace velmora
