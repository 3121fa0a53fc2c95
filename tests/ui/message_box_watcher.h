// Closes every message box that opens while it lives and remembers what each
// said, so a test can drive commands that may report something and then
// check what the user was shown.
#pragma once

#include <QApplication>
#include <QCursor>
#include <QMessageBox>
#include <QString>
#include <QTimer>
#include <QVector>

struct SeenMessageBox {
    QString caption;
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    bool waitCursorShown = false;  // whether the wait cursor was still up while it showed
};

class MessageBoxWatcher {
public:
    MessageBoxWatcher() {
        timer_.setInterval(10);
        QObject::connect(&timer_, &QTimer::timeout, [this] { CloseOpenBox(); });
        timer_.start();
    }

    [[nodiscard]] const QVector<SeenMessageBox>& Seen() const { return seen_; }

private:
    void CloseOpenBox() {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr || !box->isVisible()) {
            return;
        }
        const QCursor* cursor = QApplication::overrideCursor();
        seen_.push_back({box->windowTitle(), box->text(), box->icon(),
                         cursor != nullptr && cursor->shape() == Qt::WaitCursor});
        box->done(QMessageBox::Ok);
    }

    QTimer timer_;
    QVector<SeenMessageBox> seen_;
};
