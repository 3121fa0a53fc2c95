#include "ui/main_dialog.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCloseEvent>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>

#include "app/messages.h"
#include "resources/resource_ids.h"
#include "ui/background_wait.h"
#include "ui/dialog_builder.h"

namespace velmora {

namespace {

QString FromUtf8(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

MainDialog::MainDialog(AppState& state, OctaveNoise& noise, PictureWindowFactory createPicture)
    : QDialog(nullptr),
      state_(state),
      createPicture_(createPicture),
      wait_(new BackgroundWait(this)),
      program_(state, noise, *this) {
    const DialogTemplate& dialogTemplate = *FindDialogTemplate(IDD_MAIN);
    BuildDialog(dialogTemplate, *this);
    for (int id : {IDC_VARY_FREQUENCY, IDC_GENERATE, IDC_SAVE, IDC_VARY_AMPLITUDE}) {
        auto* button = qobject_cast<QAbstractButton*>(DialogItem(*this, id));
        connect(button, &QAbstractButton::clicked, this, [this, id] { program_.OnCommand(id); });
    }
    program_.Start();
    FocusFirstTabStop(dialogTemplate, *this);
}

std::string MainDialog::GetFieldText(int id) const {
    const auto* field = qobject_cast<const QLineEdit*>(DialogItem(*this, id));
    return field ? field->text().toStdString() : std::string();
}

void MainDialog::InsertFieldText(int id, std::string_view text) {
    if (auto* field = qobject_cast<QLineEdit*>(DialogItem(*this, id))) {
        field->insert(FromUtf8(text));
    }
}

void MainDialog::SetWaitCursor(bool shown) {
    if (shown) {
        QApplication::setOverrideCursor(Qt::WaitCursor);
    } else {
        QApplication::restoreOverrideCursor();
    }
}

void MainDialog::MessageBox(int icon, std::string_view text) {
    QMessageBox box(static_cast<QMessageBox::Icon>(icon), FromUtf8(messages::WarningCaption), FromUtf8(text),
                    QMessageBox::Ok, this);
    box.exec();
}

void MainDialog::ShowWarning(std::string_view text) {
    MessageBox(QMessageBox::Warning, text);
}

void MainDialog::ShowInformation(std::string_view text) {
    MessageBox(QMessageBox::Information, text);
}

// A message box wraps its text at spaces within about 500 pixels, but a long
// name has none to wrap at and would run past the box's edge; so a name wider
// than 360 pixels (what is left beside the icon) is cut in the middle.
std::string MainDialog::ShownFileName(std::string_view fileName) const {
    constexpr int LongestNameWidth = 360;
    return QFontMetrics(QApplication::font("QMessageBox"))
        .elidedText(FromUtf8(fileName), Qt::ElideMiddle, LongestNameWidth)
        .toStdString();
}

bool MainDialog::WaitFor(BackgroundJob& job, const ProgressText& progress) {
    return wait_->Run(job, progress);
}

void MainDialog::Wake() noexcept {
    wait_->Wake();
}

void MainDialog::CloseForm() {
    close();
}

bool MainDialog::OpenPictureWindow() {
    picture_ = createPicture_(state_, this);
    return picture_ != nullptr;
}

void MainDialog::ShowPictureWindow() {
    picture_->show();
}

void MainDialog::KeepPicturePlacement() {
    keptPlacement_ = picture_->CurrentPlacement();
}

void MainDialog::RestorePicturePlacement() {
    if (keptPlacement_) {
        picture_->RestorePlacement(*keptPlacement_);
    }
}

void MainDialog::ResizePictureWindow(std::int32_t width, std::int32_t height) {
    picture_->ResizePictureWindow(width, height);
}

void MainDialog::ShowPicture() {
    picture_->ShowPicture();
}

void MainDialog::ClosePictureWindow() {
    picture_->CloseWithOwner();
}

void MainDialog::accept() {}

void MainDialog::reject() {}

void MainDialog::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
        case Qt::Key_Return:
        case Qt::Key_Enter:
            // Enter presses the push button that has the focus, and nothing else.
            if (auto* button = qobject_cast<QPushButton*>(focusWidget()); button && button->hasFocus()) {
                button->click();
            }
            event->accept();
            return;
        case Qt::Key_Escape:
            event->accept();
            return;
        default:
            QDialog::keyPressEvent(event);
    }
}

void MainDialog::closeEvent(QCloseEvent* event) {
    if (!program_.RequestClose()) {
        event->ignore();  // the command at hand stops and closes the form then
        return;
    }
    done(0);
    event->accept();
}

}  // namespace velmora
