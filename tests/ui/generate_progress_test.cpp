// Generate renders in the background: progress and Cancel for a slow map,
// a Cancel that wins even over a render that has just completed, input
// discarded while it runs, and a close that does not wait for it.
#include <QCheckBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QSemaphore>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <functional>
#include <memory>
#include <vector>

#include "message_box_watcher.h"
#include "noise/octave_noise.h"
#include "tests/support/main_dialog_fixture.h"
#include "app/app_state.h"
#include "ui/background_wait.h"
#include "ui/main_dialog.h"
#include "ui/picture_dialog.h"

using namespace velmora;

namespace {

// Watches Generate while it runs: remembers the progress dialog that opened
// and, once its progress moves, does act once.
class RenderWatcher : public QObject {
public:
    explicit RenderWatcher(std::function<void(QDialog*)> act) : act_(std::move(act)) {
        QApplication::instance()->installEventFilter(this);
        connect(&timer_, &QTimer::timeout, this, &RenderWatcher::Look);
        timer_.start(10);
    }

    bool shown = false;
    QString text;         // the dialog's text
    bool onForm = false;  // whether it opened on the form
    bool acted = false;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Show && watched->objectName() == QLatin1String("renderProgress")) {
            dialog_ = qobject_cast<QDialog*>(watched);
            shown = true;
            text = dialog_->findChild<QLabel*>()->text();
            onForm = qobject_cast<MainDialog*>(dialog_->parentWidget()) != nullptr;
        }
        return false;
    }

private:
    void Look() {
        if (acted || !dialog_) {
            return;
        }
        const int value = dialog_->findChild<QProgressBar*>()->value();
        if (firstValue_ < 0) {
            firstValue_ = value;
        } else if (value > firstValue_) {
            acted = true;
            act_(dialog_);
        }
    }

    std::function<void(QDialog*)> act_;
    QPointer<QDialog> dialog_;
    int firstValue_ = -1;
    QTimer timer_;
};

// Holds a thread until the render has returned, however busy the form is.
class RenderEnd {
public:
    explicit RenderEnd(BackgroundWait* render) {
        QObject::connect(render, &BackgroundWait::JobReturned, &connection_, [this] { returned_.release(); },
                         Qt::DirectConnection);
    }

    // Whether the render returned within five minutes.
    [[nodiscard]] bool Wait() { return returned_.tryAcquire(1, 300'000); }

private:
    QSemaphore returned_;
    QObject connection_;  // after returned_, so that the connection goes first
};

enum class Way { CancelButton, Escape, CloseBox };

void Cancel(QDialog* dialog, Way way) {
    switch (way) {
        case Way::CancelButton:
            QTest::mouseClick(dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Cancel), Qt::LeftButton);
            break;
        case Way::Escape: QTest::keyClick(dialog, Qt::Key_Escape); break;
        case Way::CloseBox: dialog->close(); break;
    }
}

}  // namespace

class GenerateProgressTest : public QObject, MainDialogFixture {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void cancelKeepsEverythingAsBefore_data();
    void cancelKeepsEverythingAsBefore();
    void inputDuringARenderIsDiscarded();
    void closingDuringARenderEndsWithZero_data();
    void closingDuringARenderEndsWithZero();

private:
    // 4096 x 4096 with the most octaves and a persistence that keeps every
    // octave counting: minutes of work.
    void TypeSlowMap() {
        Type("IDC_WIDTH", QStringLiteral("4096"));
        Type("IDC_HEIGHT", QStringLiteral("4096"));
        Type("IDC_OCTAVES", QStringLiteral("2147483647"));
        Type("IDC_PERSISTENCE", QStringLiteral("0.99999"));
        Click("IDC_VARY_AMPLITUDE");
    }
    // 8192 x 8192 with 16 octaves at both switches: seconds of work, long
    // enough for the progress dialog to open even on a fast idle machine,
    // and short enough to wait for.
    void TypeMapOfSeconds() {
        Type("IDC_WIDTH", QStringLiteral("8192"));
        Type("IDC_HEIGHT", QStringLiteral("8192"));
        Type("IDC_OCTAVES", QStringLiteral("16"));
        Type("IDC_PERSISTENCE", QStringLiteral("0.5"));
        Click("IDC_VARY_FREQUENCY");
        Click("IDC_VARY_AMPLITUDE");
    }
};

void GenerateProgressTest::init() {
    OpenDialog();
}

void GenerateProgressTest::cleanup() {
    CloseDialog();
    QCOMPARE(QApplication::overrideCursor(), nullptr);
}

void GenerateProgressTest::cancelKeepsEverythingAsBefore_data() {
    QTest::addColumn<Way>("way");
    QTest::addColumn<bool>("mapBefore");
    // Late: the form is held busy until the render has completed, and only
    // then is Cancel pressed, while the news of the render's end waits in
    // the event queue.
    QTest::addColumn<bool>("late");
    QTest::newRow("Cancel button") << Way::CancelButton << true << false;
    QTest::newRow("Escape") << Way::Escape << true << false;
    QTest::newRow("close box") << Way::CloseBox << true << false;
    QTest::newRow("before any map") << Way::CancelButton << false << false;
    QTest::newRow("late Cancel button") << Way::CancelButton << true << true;
    QTest::newRow("late Escape") << Way::Escape << true << true;
    QTest::newRow("late close box") << Way::CloseBox << true << true;
}

void GenerateProgressTest::cancelKeepsEverythingAsBefore() {
    QFETCH(Way, way);
    QFETCH(bool, mapBefore);
    QFETCH(bool, late);
    PictureDialog* picture = Picture();
    if (mapBefore) {
        Type("IDC_WIDTH", QStringLiteral("40"));
        Type("IDC_HEIGHT", QStringLiteral("30"));
        const RenderWatcher quick([](QDialog*) {});
        Click("IDC_GENERATE");
        QVERIFY(!quick.shown);  // a short render opens no dialog
        QTRY_COMPARE(picture->pos(), QPoint(200, 10));
    }
    const std::int32_t width = state_->width;
    const std::int32_t height = state_->height;
    const std::int32_t imageReady = state_->imageReady;
    const std::shared_ptr<Bitmap> image = state_->image;
    const std::vector<std::uint8_t> bytes =
        image ? std::vector<std::uint8_t>(image->Pixels().begin(), image->Pixels().end()) : std::vector<std::uint8_t>();
    const QRect geometry = picture->geometry();

    RenderEnd renderEnd(dialog_->findChild<BackgroundWait*>());
    late ? TypeMapOfSeconds() : TypeSlowMap();
    MessageBoxWatcher boxes;
    QImage shownMeanwhile;
    RenderWatcher watcher([&](QDialog* dialog) {
        shownMeanwhile = picture->grab(QRect(0, 0, 40, 30)).toImage();
        if (late) {
            QVERIFY(renderEnd.Wait());
        }
        Cancel(dialog, way);
    });
    Click("IDC_GENERATE");

    QVERIFY(watcher.shown && watcher.acted);  // it showed and its progress moved
    QVERIFY(watcher.onForm);
    QVERIFY2(watcher.text.contains(late ? QStringLiteral("8192 \u00d7 8192") : QStringLiteral("4096 \u00d7 4096")),
             qPrintable(watcher.text));
    QVERIFY(boxes.Seen().isEmpty());
    QCOMPARE(state_->width, width);
    QCOMPARE(state_->height, height);
    QCOMPARE(state_->imageReady, imageReady);
    QCOMPARE(state_->image, image);
    QCOMPARE(state_->surface->Selected(), image);
    if (image) {
        QVERIFY(std::equal(bytes.begin(), bytes.end(), image->Pixels().begin(), image->Pixels().end()));
        // While the render ran, the picture window went on showing the previous map.
        for (int y = 0; y < 30; ++y) {
            for (int x = 0; x < 40; ++x) {
                QCOMPARE(qGray(shownMeanwhile.pixel(x, y)), int{image->Row(29 - y)[3 * x]});
            }
        }
    }
    QTRY_COMPARE(picture->geometry(), geometry);
    // The view is back to the previous map's size: no scroll bar covers it.
    for (const QScrollBar* bar : picture->findChildren<QScrollBar*>()) {
        QCOMPARE(bar->maximum(), 0);
    }
}

void GenerateProgressTest::inputDuringARenderIsDiscarded() {
    const QTemporaryDir directory;
    const QString path = directory.filePath("during.bmp");
    TypeSlowMap();
    QSignalSpy generateClicks(Button("IDC_GENERATE"), &QAbstractButton::clicked);
    bool typed = false;
    // Once the render runs, before its dialog opens: type, tick a box, press
    // Generate and Save.
    QTimer input;
    connect(&input, &QTimer::timeout, this, [&] {
        if (typed || QApplication::overrideCursor() == nullptr) {
            return;
        }
        typed = true;
        QTest::keyClicks(Field("IDC_OCTAVES"), QStringLiteral("5"));
        Field("IDC_FILENAME")->setText(path);
        Click("IDC_VARY_FREQUENCY");
        Click("IDC_GENERATE");
        Click("IDC_SAVE");
    });
    input.start(10);
    RenderWatcher watcher([](QDialog* dialog) { Cancel(dialog, Way::Escape); });
    Click("IDC_GENERATE");
    QCoreApplication::processEvents();

    QVERIFY(typed && watcher.acted);
    QCOMPARE(Field("IDC_OCTAVES")->text(), QStringLiteral("2147483647"));
    QVERIFY(!qobject_cast<QCheckBox*>(Button("IDC_VARY_FREQUENCY"))->isChecked());
    QCOMPARE(state_->varyFrequencyChecked, 0);
    QCOMPARE(generateClicks.count(), 1);
    QVERIFY(!QFile::exists(path));
}

void GenerateProgressTest::closingDuringARenderEndsWithZero_data() {
    QTest::addColumn<bool>("late");
    QTest::newRow("while it renders") << false;
    QTest::newRow("once it has completed") << true;
}

void GenerateProgressTest::closingDuringARenderEndsWithZero() {
    QFETCH(bool, late);
    RenderEnd renderEnd(dialog_->findChild<BackgroundWait*>());
    late ? TypeMapOfSeconds() : TypeSlowMap();
    PictureDialog* picture = Picture();
    RenderWatcher watcher([&](QDialog*) {
        if (late) {
            QVERIFY(renderEnd.Wait());
        }
        dialog_->close();
    });
    QTimer::singleShot(0, dialog_.get(), [this] { Click("IDC_GENERATE"); });
    QCOMPARE(dialog_->exec(), 0);
    QVERIFY(watcher.acted);
    QVERIFY(!picture->isVisible());
    QVERIFY(state_->surface == nullptr && state_->image == nullptr);
    QVERIFY(!dialog_->isVisible());
}

QTEST_MAIN(GenerateProgressTest)
#include "generate_progress_test.moc"
