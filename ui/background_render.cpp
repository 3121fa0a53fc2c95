#include "ui/background_render.h"

#include <QCoreApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QEvent>
#include <QEventLoop>
#include <QLabel>
#include <QProgressBar>
#include <QTimer>
#include <QVBoxLayout>
#include <QWindow>

#include <thread>

#include "image/map_image.h"
#include "image/render_map.h"
#include "noise/octave_noise.h"

namespace velmora {

namespace {

// Steps of the progress bar: fine enough that a slow render visibly moves.
constexpr int ProgressSteps = 1'000'000;

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

BackgroundRender::BackgroundRender(QWidget* owner) : QObject(owner), owner_(owner) {}

RenderStatus BackgroundRender::Run(const OctaveNoise& noise, MapImage& image, const QString& text) {
    RenderControl control;
    RenderStatus status = RenderStatus::Stopped;
    bool finished = false;
    QEventLoop loop;
    QTimer timer;
    connect(&timer, &QTimer::timeout, this, [&] {
        if (progress_ == nullptr) {
            ShowProgress(text);
            timer.setInterval(ProgressRefresh);
        }
        UpdateProgress();
    });

    connect(
        this, &BackgroundRender::RenderReturned, &loop,
        [&] {
            finished = true;
            loop.quit();
        },
        Qt::QueuedConnection);

    control_ = &control;
    QCoreApplication::instance()->installEventFilter(this);
    timer.start(ProgressDelay);
    {
        // The worker renders its own copy of the parameters, so nothing it
        // reads can change under it, and tells the loop when it is done. It
        // is joined when it leaves this scope, before anything it uses goes.
        std::jthread worker([&, parameters = noise] {
            status = RenderMap(parameters, image, control);
            emit RenderReturned();
        });
        loop.exec();
        if (!finished) {
            control.stop = true;  // the loop was ended from outside: stop rather than wait
        }
    }
    // A stop asked for wins over a render that completed meanwhile: a Cancel
    // queued ahead of the news of the render's end was taken while the
    // dialog was still open.
    if (control.stop.load()) {
        status = RenderStatus::Stopped;
    }
    timer.stop();
    QCoreApplication::instance()->removeEventFilter(this);
    delete progress_;
    progress_ = nullptr;
    control_ = nullptr;
    return status;
}

void BackgroundRender::Stop() noexcept {
    if (control_ != nullptr) {
        control_->stop = true;
    }
}

bool BackgroundRender::eventFilter(QObject* watched, QEvent* event) {
    if (!IsUserInput(event->type())) {
        return false;
    }
    if (progress_ != nullptr) {
        const auto* widget = qobject_cast<const QWidget*>(watched);
        if ((widget != nullptr && widget->window() == progress_) || watched == progress_->windowHandle()) {
            return false;
        }
    }
    // Discarded, not kept for later: nothing typed or clicked during the
    // render may act once it is over.
    return watched->isWidgetType() || watched->isWindowType();
}

void BackgroundRender::ShowProgress(const QString& text) {
    progress_ = new QDialog(owner_);
    progress_->setObjectName(QStringLiteral("renderProgress"));
    progress_->setWindowTitle(QStringLiteral("Generate"));
    auto* layout = new QVBoxLayout(progress_);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    layout->addWidget(new QLabel(text, progress_));
    auto* bar = new QProgressBar(progress_);
    bar->setRange(0, ProgressSteps);
    bar->setMinimumWidth(progress_->fontMetrics().averageCharWidth() * 40);
    layout->addWidget(bar);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Cancel, progress_);
    layout->addWidget(buttons);
    // Cancel, Escape and the close box all reject the dialog.
    connect(buttons, &QDialogButtonBox::rejected, progress_, &QDialog::reject);
    connect(progress_, &QDialog::rejected, this, &BackgroundRender::Stop);
    progress_->show();
}

void BackgroundRender::UpdateProgress() {
    auto* bar = progress_->findChild<QProgressBar*>();
    const auto total = static_cast<double>(control_->total.load());
    const auto done = static_cast<double>(control_->done.load());
    bar->setValue(total > 0 ? static_cast<int>(done / total * ProgressSteps) : 0);
}

}  // namespace velmora
