// The picture window: one map pixel per device pixel, at the client area's
// top-left corner. ctest runs these at device pixel ratio 1 and again at 2.
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QTest>

#include <cmath>
#include <memory>

#include "image/map_image.h"
#include "noise/octave_noise.h"
#include "ui/app_state.h"
#include "ui/main_dialog.h"
#include "ui/picture_dialog.h"

namespace {

// Gray of map pixel (x, y) counted from the top-left corner.
int MapGray(const Bitmap& map, int x, int y) {
    return map.Row(map.Height() - 1 - y)[3 * x];
}

// Device pixels of a window as it is drawn now.
QImage Drawn(QWidget* window) {
    return window->grab().toImage().convertToFormat(QImage::Format_RGB32);
}

// Checks that image holds the whole map at its top-left corner and the
// background everywhere else; returns the first difference, or nothing.
QString CompareWithMap(const QImage& image, const Bitmap& map, QRgb background) {
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const bool onMap = x < map.Width() && y < map.Height();
            const int gray = onMap ? MapGray(map, x, y) : -1;
            const QRgb expected = onMap ? qRgb(gray, gray, gray) : background;
            if ((image.pixel(x, y) & 0xFFFFFF) != (expected & 0xFFFFFF)) {
                return QStringLiteral("device pixel (%1, %2) is %3, expected %4")
                    .arg(x)
                    .arg(y)
                    .arg(image.pixel(x, y) & 0xFFFFFF, 6, 16, QLatin1Char('0'))
                    .arg(expected & 0xFFFFFF, 6, 16, QLatin1Char('0'));
            }
        }
    }
    return {};
}

}  // namespace

class PictureDialogTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void beforeAnyGenerateOnlyTheBackgroundShows();
    void clientAreaIsTheMapSize_data();
    void clientAreaIsTheMapSize();
    void mapIsOnScreenWhenGenerateReturns();
    void growingTheWindowLeavesTheMapAtTheTopLeft();
    void eachGenerateMovesAndResizesTheWindowAgain();

private:
    void Generate(int width, int height) {
        dialog_->findChild<QLineEdit*>(QStringLiteral("IDC_WIDTH"))->setText(QString::number(width));
        dialog_->findChild<QLineEdit*>(QStringLiteral("IDC_HEIGHT"))->setText(QString::number(height));
        QTest::mouseClick(dialog_->findChild<QPushButton*>(QStringLiteral("IDC_GENERATE")), Qt::LeftButton);
        QCOMPARE(state_->width, width);
        QCOMPARE(state_->height, height);
    }
    PictureDialog* Picture() const { return state_->pictureWindow; }
    QRgb Background() const { return Picture()->palette().color(QPalette::Window).rgb(); }

    std::unique_ptr<AppState> state_;
    std::unique_ptr<OctaveNoise> noise_;
    std::unique_ptr<MainDialog> dialog_;
};

void PictureDialogTest::initTestCase() {
    // Make sure the run at scale factor 2 really draws at that ratio.
    const double scale = qEnvironmentVariableIsSet("QT_SCALE_FACTOR") ? qEnvironmentVariable("QT_SCALE_FACTOR").toDouble() : 1.0;
    QWidget probe;
    QCOMPARE(probe.devicePixelRatioF(), scale);
}

void PictureDialogTest::init() {
    state_ = std::make_unique<AppState>();
    noise_ = std::make_unique<OctaveNoise>();
    dialog_ = std::make_unique<MainDialog>(*state_, *noise_);
    dialog_->show();
    QVERIFY(QTest::qWaitForWindowExposed(dialog_.get()));
    QVERIFY(QTest::qWaitForWindowExposed(Picture()));
}

void PictureDialogTest::cleanup() {
    dialog_.reset();
    state_.reset();
}

void PictureDialogTest::beforeAnyGenerateOnlyTheBackgroundShows() {
    const QImage drawn = Drawn(Picture());
    QVERIFY(!drawn.isNull());
    for (int y = 0; y < drawn.height(); ++y) {
        for (int x = 0; x < drawn.width(); ++x) {
            QCOMPARE(drawn.pixel(x, y) & 0xFFFFFF, Background() & 0xFFFFFF);
        }
    }
}

void PictureDialogTest::clientAreaIsTheMapSize_data() {
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::newRow("start-up size") << 512 << 512;
    QTest::newRow("even sides") << 64 << 48;
    QTest::newRow("odd sides") << 101 << 37;
    QTest::newRow("one pixel") << 1 << 1;
    QTest::newRow("wide strip") << 300 << 6;
}

void PictureDialogTest::clientAreaIsTheMapSize() {
    QFETCH(int, width);
    QFETCH(int, height);
    Generate(width, height);
    const qreal ratio = Picture()->devicePixelRatioF();
    // Exactly the map where the ratio divides its sides, otherwise the
    // smallest client area that holds it.
    const QSize expected(static_cast<int>(std::ceil(width / ratio)), static_cast<int>(std::ceil(height / ratio)));
    QTRY_COMPARE(Picture()->size(), expected);
    const QSize device = Picture()->size() * ratio;
    QVERIFY(device.width() >= width && device.width() < width + ratio);
    QVERIFY(device.height() >= height && device.height() < height + ratio);

    const QImage drawn = Drawn(Picture());
    QCOMPARE(drawn.size(), device);
    const QString difference = CompareWithMap(drawn, *state_->image, Background());
    QVERIFY2(difference.isEmpty(), qPrintable(difference));
}

void PictureDialogTest::mapIsOnScreenWhenGenerateReturns() {
    Generate(64, 40);
    QTRY_COMPARE(Picture()->size() * Picture()->devicePixelRatioF(), QSize(64, 40));
    Generate(64, 40);
    // No event has been processed since Generate drew the map: what the
    // window shows was drawn by Generate itself.
    const QImage shown = Picture()->screen()->grabWindow(Picture()->winId()).toImage().convertToFormat(QImage::Format_RGB32);
    // The offscreen platform hands out the window's logical size in device
    // pixels from the top-left corner: all of it at ratio 1, a part above.
    QVERIFY(!shown.isNull());
    QCOMPARE(shown.size(), QSize(64, 40) / Picture()->devicePixelRatioF());
    const QString difference = CompareWithMap(shown, *state_->image, Background());
    QVERIFY2(difference.isEmpty(), qPrintable(difference));
}

void PictureDialogTest::growingTheWindowLeavesTheMapAtTheTopLeft() {
    Generate(50, 30);
    QTRY_COMPARE(Picture()->size() * Picture()->devicePixelRatioF(), QSize(50, 30));
    // The user drags the frame larger: the map stays where it is, at its size.
    Picture()->resize(200, 150);
    QTRY_COMPARE(Picture()->size(), QSize(200, 150));
    const QImage drawn = Drawn(Picture());
    const QString difference = CompareWithMap(drawn, *state_->image, Background());
    QVERIFY2(difference.isEmpty(), qPrintable(difference));
}

void PictureDialogTest::eachGenerateMovesAndResizesTheWindowAgain() {
    Generate(30, 20);
    QTRY_COMPARE(Picture()->pos(), QPoint(200, 10));
    Picture()->move(333, 222);
    Picture()->resize(77, 66);
    QTRY_COMPARE(Picture()->pos(), QPoint(333, 222));
    Generate(90, 70);
    QTRY_COMPARE(Picture()->pos(), QPoint(200, 10));
    QTRY_COMPARE(Picture()->size() * Picture()->devicePixelRatioF(), QSize(90, 70));
    QVERIFY(Picture()->isVisible());
}

QTEST_MAIN(PictureDialogTest)
#include "picture_dialog_test.moc"
