// The picture window: one map pixel per device pixel, at the client area's
// top-left corner. ctest runs these at device pixel ratio 1 and again at
// 1.25, 1.5, 1.75 and 2.
#include <QAbstractScrollArea>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QScrollBar>
#include <QTest>

#include <memory>

#include "image/map_image.h"
#include "noise/octave_noise.h"
#include "tests/support/main_dialog_fixture.h"
#include "app/app_state.h"
#include "ui/device_pixels.h"
#include "ui/main_dialog.h"
#include "ui/picture_dialog.h"

using namespace velmora;

namespace {

// Gray of map pixel (x, y) counted from the top-left corner.
int MapGray(const Bitmap& map, int x, int y) {
    return map.Row(map.Height() - 1 - y)[3 * x];
}

// Device pixels of a window as it is drawn now.
QImage Drawn(QWidget* window) {
    return window->grab().toImage().convertToFormat(QImage::Format_RGB32);
}

// Checks that image holds the map from its column mapLeft on at its
// top-left corner and the background everywhere else; returns the first
// difference, or nothing.
QString CompareWithMap(const QImage& image, const Bitmap& map, QRgb background, int mapLeft = 0) {
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const bool onMap = mapLeft + x < map.Width() && y < map.Height();
            const int gray = onMap ? MapGray(map, mapLeft + x, y) : -1;
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

class PictureDialogTest : public QObject, MainDialogFixture {
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
    void mapLargerThanTheScreenScrolls();
    void sizesStayOnTheResizeSteps_data();
    void sizesStayOnTheResizeSteps();

private:
    void Generate(int width, int height) {
        Field("IDC_WIDTH")->setText(QString::number(width));
        Field("IDC_HEIGHT")->setText(QString::number(height));
        Click("IDC_GENERATE");
        QCOMPARE(state_->width, width);
        QCOMPARE(state_->height, height);
    }
    // Whether the client area holds width x height device pixels and is the
    // smallest that does: one logical pixel less on a side would not.
    bool HoldsJust(int width, int height) const {
        const qreal ratio = Picture()->devicePixelRatioF();
        const QSize device = Picture()->size() * ratio;
        const QSize smaller = (Picture()->size() - QSize(1, 1)) * ratio;
        return device.width() >= width && device.height() >= height && smaller.width() < width &&
               smaller.height() < height;
    }
    QRgb Background() const { return Picture()->palette().color(QPalette::Window).rgb(); }
};

void PictureDialogTest::initTestCase() {
    // Make sure the run at scale factor 2 really draws at that ratio.
    const double scale = qEnvironmentVariableIsSet("QT_SCALE_FACTOR") ? qEnvironmentVariable("QT_SCALE_FACTOR").toDouble() : 1.0;
    QWidget probe;
    QCOMPARE(probe.devicePixelRatioF(), scale);
}

void PictureDialogTest::init() {
    // A paint device that cannot be painted on must never occur.
    QTest::failOnWarning(QRegularExpression(QStringLiteral("QPainter")));
    OpenDialog();
    QVERIFY(QTest::qWaitForWindowExposed(Picture()));
}

void PictureDialogTest::cleanup() {
    CloseDialog();
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
    QTest::newRow("301 x 201") << 301 << 201;
}

void PictureDialogTest::clientAreaIsTheMapSize() {
    QFETCH(int, width);
    QFETCH(int, height);
    Generate(width, height);
    const qreal ratio = Picture()->devicePixelRatioF();
    // Exactly the map where the ratio divides its sides, otherwise the
    // smallest client area that holds it: one logical pixel less would not.
    QTRY_VERIFY(HoldsJust(width, height));
    const QSize device = Picture()->size() * ratio;

    const QImage drawn = Drawn(Picture());
    QCOMPARE(drawn.size(), device);
    const QString difference = CompareWithMap(drawn, *state_->image, Background());
    QVERIFY2(difference.isEmpty(), qPrintable(difference));
}

void PictureDialogTest::mapIsOnScreenWhenGenerateReturns() {
    Generate(64, 40);
    QTRY_VERIFY(HoldsJust(64, 40));
    Generate(64, 40);
    // No event has been processed since Generate drew the map: what the
    // window shows was drawn by Generate itself.
    const QImage shown = Picture()->screen()->grabWindow(Picture()->winId()).toImage().convertToFormat(QImage::Format_RGB32);
    // The offscreen platform hands out the window's logical size in device
    // pixels from the top-left corner: all of it at ratio 1, a part above.
    QVERIFY(!shown.isNull());
    QCOMPARE(shown.size(), Picture()->size());
    const QString difference = CompareWithMap(shown, *state_->image, Background());
    QVERIFY2(difference.isEmpty(), qPrintable(difference));
}

void PictureDialogTest::growingTheWindowLeavesTheMapAtTheTopLeft() {
    Generate(50, 30);
    QTRY_VERIFY(HoldsJust(50, 30));
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
    QTRY_VERIFY(HoldsJust(90, 70));
    QVERIFY(Picture()->isVisible());
}

void PictureDialogTest::mapLargerThanTheScreenScrolls() {
    Generate(40000, 200);
    // The whole window stays on the screen, and a horizontal scroll bar
    // reaches the rest of the map.
    QTRY_VERIFY(Picture()->screen()->availableGeometry().contains(Picture()->frameGeometry()));
    auto* view = Picture()->findChild<QAbstractScrollArea*>();
    QVERIFY(view != nullptr);
    QTRY_VERIFY(view->horizontalScrollBar()->isVisible());
    QVERIFY(!view->verticalScrollBar()->isVisible());

    const QImage start = Drawn(Picture());
    QVERIFY(start.width() >= 512 && start.height() >= 200);
    QString difference = CompareWithMap(start.copy(0, 0, 512, 200), *state_->image, Background());
    QVERIFY2(difference.isEmpty(), qPrintable(difference));

    // Scrolled to the far end, the map's last column is the last one shown.
    QScrollBar* bar = view->horizontalScrollBar();
    bar->setValue(bar->maximum());
    const QImage end = Drawn(view->viewport());
    QCOMPARE(bar->value() + end.width(), 40000);
    difference = CompareWithMap(end, *state_->image, Background(), bar->value());
    QVERIFY2(difference.isEmpty(), qPrintable(difference));
}

void PictureDialogTest::sizesStayOnTheResizeSteps_data() {
    QTest::addColumn<double>("ratio");
    for (const double ratio : {1.0, 1.25, 1.5, 1.75, 2.0, 2.5, 3.0}) {
        QTest::addRow("ratio %g", ratio) << ratio;
    }
}

// Under a scale factor the window manager sizes the window in steps of
// DeviceLength(1) from a base size: every client size the window asks for
// must lie on those steps, or it is rounded down and a map row is lost.
void PictureDialogTest::sizesStayOnTheResizeSteps() {
    QFETCH(double, ratio);
    const int step = DeviceLength(1, ratio);
    for (int map = 1; map <= 2000; ++map) {
        const int device = DeviceLength(LogicalLengthCovering(map, ratio), ratio);
        QVERIFY(device >= map);
        const int base = DeviceLength(BaseLengthOnGrid(device, ratio), ratio);
        QVERIFY2(base <= device && (step <= 1 || (device - base) % step == 0), qPrintable(QString::number(map)));
    }
}

QTEST_MAIN(PictureDialogTest)
#include "picture_dialog_test.moc"
