#include "tests/support/main_dialog_fixture.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QLineEdit>
#include <QTest>

namespace velmora {

void MainDialogFixture::OpenDialog(PictureWindowFactory factory) {
    state_ = std::make_unique<AppState>();
    noise_ = std::make_unique<OctaveNoise>();
    MakeDialog(factory);
}

void MainDialogFixture::MakeDialog(PictureWindowFactory factory) {
    dialog_ = std::make_unique<MainDialog>(*state_, *noise_, factory);
    dialog_->show();
    QVERIFY(QTest::qWaitForWindowExposed(dialog_.get()));
}

void MainDialogFixture::CloseDialog() {
    dialog_.reset();
    state_.reset();
    noise_.reset();
}

QLineEdit* MainDialogFixture::Field(const char* name) const {
    return dialog_->findChild<QLineEdit*>(QLatin1String(name));
}

QCheckBox* MainDialogFixture::Box(const char* name) const {
    return dialog_->findChild<QCheckBox*>(QLatin1String(name));
}

QAbstractButton* MainDialogFixture::Button(const char* name) const {
    return dialog_->findChild<QAbstractButton*>(QLatin1String(name));
}

void MainDialogFixture::Type(const char* name, const QString& text) {
    Field(name)->selectAll();
    QTest::keyClicks(Field(name), text);
    QCOMPARE(Field(name)->text(), text);
}

void MainDialogFixture::Click(const char* name) {
    QTest::mouseClick(Button(name), Qt::LeftButton);
}

}  // namespace velmora
