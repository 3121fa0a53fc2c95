// The parameter window, driven through its controls as a user drives it.
#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <sys/resource.h>

#include <clocale>
#include <fstream>
#include <memory>
#include <vector>

#include "image/bitmap_file.h"
#include "image/map_image.h"
#include "image/render_map.h"
#include "message_box_watcher.h"
#include "noise/octave_noise.h"
#include "ui/dialog_builder.h"
#include "resources/resource_ids.h"
#include "tests/support/main_dialog_fixture.h"
#include "tests/support/test_support.h"
#include "app/app_state.h"
#include "ui/main_dialog.h"
#include "ui/picture_dialog.h"

using namespace velmora;

namespace {

using Bytes = std::vector<std::uint8_t>;

// The pixel bytes the core makes for noise at width x height.
Bytes Rendered(const OctaveNoise& noise, std::int32_t width, std::int32_t height) {
    const std::unique_ptr<MemorySurface> surface = CreateCompatibleSurface();
    std::optional<MapImage> image = CreateMapImage(*surface, width, height);
    RenderMap(noise, *image);
    return {image->Pixels().begin(), image->Pixels().end()};
}

// The file the core writes for noise at width x height.
Bytes SavedByCore(const OctaveNoise& noise, std::int32_t width, std::int32_t height, const QString& path) {
    const std::unique_ptr<MemorySurface> surface = CreateCompatibleSurface();
    std::optional<MapImage> image = CreateMapImage(*surface, width, height);
    RenderMap(noise, *image);
    if (SaveBitmapFile(path.toStdString(), image->bitmap.get(), surface.get()) != S_OK) {
        return {};
    }
    return ReadFileBytes(path.toStdString());
}

Bytes FileBytes(const QString& path) {
    return ReadFileBytes(path.toStdString());
}

PictureDialog* NoPictureWindow(AppState&, QWidget*) {
    return nullptr;
}

// Address space the process holds now, in bytes; 0 if unknown.
rlim_t AddressSpaceInUse() {
    std::ifstream status("/proc/self/status");
    std::string key;
    while (status >> key) {
        if (key == "VmSize:") {
            rlim_t kilobytes = 0;
            status >> kilobytes;
            return kilobytes * 1024;
        }
        status.ignore(1 << 20, '\n');
    }
    return 0;
}

}  // namespace

class MainDialogTest : public QObject, MainDialogFixture {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void startUpState();
    void tabFollowsTheTemplateOrder();
    void generateWithStartValuesGivesTheDefaultMap();
    void waitCursorShowsWhileTheMapIsMadeAndIsAlwaysRestored();
    void varyBoxesTakeEffectAtTheNextGenerate();
    void fieldsAreReadLikeAtoiAndAtof_data();
    void fieldsAreReadLikeAtoiAndAtof();
    void germanLocaleStillReadsAPoint();
    void fieldTextIsWholeAndUtf8();
    void zeroOctavesGiveABlackMap();
    void mostOctavesFinishAndTakeTheWaitCursorDown();
    void escapeDoesNothingAndEnterPressesOnlyAFocusedButton();
    void saveWritesWhatTheCoreWrites();
    void failedSaveWarns_data();
    void failedSaveWarns();
    void sizeThatMakesNoMapKeepsThePreviousOne_data();
    void sizeThatMakesNoMapKeepsThePreviousOne();
    void mapWithoutMemoryKeepsThePreviousOne();
    void goesOnWithoutAPictureWindow();
    void closingClosesThePictureWindowFirstAndEndsWithZero();
    void pictureWindowRefusesItsOwnCloseRequests();

private:
    void SetSize(int width, int height) {
        Type("IDC_WIDTH", QString::number(width));
        Type("IDC_HEIGHT", QString::number(height));
    }
    [[nodiscard]] Bytes MapBytes() const { return {state_->image->Pixels().begin(), state_->image->Pixels().end()}; }

    std::unique_ptr<QTemporaryDir> directory_;
};

void MainDialogTest::init() {
    directory_ = std::make_unique<QTemporaryDir>();
    QVERIFY(directory_->isValid());
    OpenDialog();
}

void MainDialogTest::cleanup() {
    CloseDialog();
    directory_.reset();
    QCOMPARE(QApplication::overrideCursor(), nullptr);
}

void MainDialogTest::startUpState() {
    QCOMPARE(dialog_->windowTitle(), QStringLiteral("Velmora"));
    QCOMPARE(dialog_->pos(), QPoint(0, 0));
    QCOMPARE(dialog_->minimumSize(), dialog_->maximumSize());
    QCOMPARE(Field("IDC_WIDTH")->text(), QStringLiteral("512"));
    QCOMPARE(Field("IDC_HEIGHT")->text(), QStringLiteral("512"));
    QCOMPARE(Field("IDC_OCTAVES")->text(), QStringLiteral("4"));
    QCOMPARE(Field("IDC_FREQUENCY")->text(), QStringLiteral("0.015"));
    QCOMPARE(Field("IDC_PERSISTENCE")->text(), QStringLiteral("0.25"));
    QCOMPARE(Field("IDC_AMPLITUDE")->text(), QStringLiteral("1"));
    QCOMPARE(Field("IDC_FILENAME")->text(), QString());
    QVERIFY(!Box("IDC_VARY_FREQUENCY")->isChecked());
    QVERIFY(!Box("IDC_VARY_AMPLITUDE")->isChecked());
    QCOMPARE(state_->varyFrequencyChecked, 0);
    QCOMPARE(state_->varyAmplitudeChecked, 0);
    QCOMPARE(state_->imageReady, 0);
    QCOMPARE(state_->width, 0);
    QCOMPARE(state_->height, 0);
    QVERIFY(state_->surface != nullptr);
    QVERIFY(state_->image == nullptr);

    // The focus is on the first tab stop, its text selected, so typing replaces it.
    QCOMPARE(dialog_->focusWidget(), Field("IDC_OCTAVES"));
    QCOMPARE(Field("IDC_OCTAVES")->selectedText(), QStringLiteral("4"));

    // The picture window is open, empty, at its template's place and size.
    PictureDialog* picture = Picture();
    QVERIFY(picture != nullptr);
    QVERIFY(picture->isVisible());
    QCOMPARE(picture->windowTitle(), QStringLiteral("Picture"));
    QCOMPARE(picture->parentWidget(), dialog_.get());
    QCOMPARE(picture->pos(), QPoint(0, 0));
    const DialogTemplate& pictureTemplate = *FindDialogTemplate(IDD_PICTURE);
    QCOMPARE(picture->size(), DialogUnits(DialogFont(pictureTemplate)).ToPixels(pictureTemplate.rect).size());

    // Save before any Generate does nothing at all.
    Type("IDC_FILENAME", directory_->filePath("early.bmp"));
    MessageBoxWatcher watcher;
    Click("IDC_SAVE");
    QVERIFY(watcher.Seen().isEmpty());
    QVERIFY(!QFile::exists(directory_->filePath("early.bmp")));
}

void MainDialogTest::tabFollowsTheTemplateOrder() {
    dialog_->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(dialog_.get()));
    QTRY_COMPARE(QApplication::focusWidget(), Field("IDC_OCTAVES"));
    // Not top to bottom: Frequency before Amplitude, Width and Height last.
    const char* const order[] = {"IDC_FREQUENCY", "IDC_AMPLITUDE", "IDC_PERSISTENCE", "IDC_VARY_FREQUENCY",
                                 "IDC_GENERATE",  "IDC_VARY_AMPLITUDE", "IDC_FILENAME", "IDC_SAVE",
                                 "IDC_WIDTH",     "IDC_HEIGHT",         "IDC_OCTAVES"};
    for (const char* name : order) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget()->objectName(), QLatin1String(name));
    }
    // Tabbing into a field selects its text.
    QCOMPARE(Field("IDC_OCTAVES")->selectedText(), QStringLiteral("4"));
}

void MainDialogTest::generateWithStartValuesGivesTheDefaultMap() {
    MessageBoxWatcher watcher;
    Click("IDC_GENERATE");
    QVERIFY(watcher.Seen().isEmpty());
    QCOMPARE(state_->imageReady, 1);
    QCOMPARE(state_->width, 512);
    QCOMPARE(state_->height, 512);
    QCOMPARE(state_->image->Width(), 512);
    QCOMPARE(state_->image->Height(), 512);
    QCOMPARE(state_->surface->Selected(), state_->image);

    const OctaveNoise defaults;
    QCOMPARE(noise_->octaves, defaults.octaves);
    QCOMPARE(noise_->frequency, defaults.frequency);
    QCOMPARE(noise_->amplitude, defaults.amplitude);
    QCOMPARE(noise_->persistence, defaults.persistence);
    QCOMPARE(noise_->varyFrequency, 0);
    QCOMPARE(noise_->varyAmplitude, 0);
    QVERIFY(MapBytes() == Rendered(defaults, 512, 512));
}

void MainDialogTest::waitCursorShowsWhileTheMapIsMadeAndIsAlwaysRestored() {
    // The map is drawn into the picture window before Generate returns; the
    // wait cursor must be up then.
    struct CursorAtPaint : QObject {
        QVector<bool> waitCursor;
        bool eventFilter(QObject*, QEvent* event) override {
            if (event->type() == QEvent::Paint) {
                const QCursor* cursor = QApplication::overrideCursor();
                waitCursor.push_back(cursor != nullptr && cursor->shape() == Qt::WaitCursor);
            }
            return false;
        }
    } spy;
    SetSize(40, 30);
    QCoreApplication::processEvents();
    Picture()->installEventFilter(&spy);
    Click("IDC_GENERATE");
    Picture()->removeEventFilter(&spy);
    QVERIFY(!spy.waitCursor.isEmpty());
    QVERIFY(spy.waitCursor.front());
    QCOMPARE(QApplication::overrideCursor(), nullptr);

    // A refused Generate restores it too, before its message shows.
    MessageBoxWatcher watcher;
    Type("IDC_WIDTH", QStringLiteral("0"));
    Click("IDC_GENERATE");
    QCOMPARE(watcher.Seen().size(), 1);
    QVERIFY(!watcher.Seen().front().waitCursorShown);
    QCOMPARE(QApplication::overrideCursor(), nullptr);
}

void MainDialogTest::varyBoxesTakeEffectAtTheNextGenerate() {
    SetSize(48, 32);
    Click("IDC_GENERATE");
    const Bytes plain = MapBytes();

    Click("IDC_VARY_FREQUENCY");
    QVERIFY(Box("IDC_VARY_FREQUENCY")->isChecked());
    QCOMPARE(state_->varyFrequencyChecked, 1);
    QCOMPARE(noise_->varyFrequency, 0);
    QVERIFY(MapBytes() == plain);

    Click("IDC_GENERATE");
    OctaveNoise expected;
    expected.varyFrequency = 1;
    QCOMPARE(noise_->varyFrequency, 1);
    QCOMPARE(noise_->varyAmplitude, 0);
    QVERIFY(MapBytes() == Rendered(expected, 48, 32));
    QVERIFY(MapBytes() != plain);

    // The space bar flips a box like a click; typing changes nothing before Generate.
    Box("IDC_VARY_AMPLITUDE")->setFocus();
    QTest::keyClick(Box("IDC_VARY_AMPLITUDE"), Qt::Key_Space);
    QCOMPARE(state_->varyAmplitudeChecked, 1);
    Type("IDC_PERSISTENCE", QStringLiteral("0.5"));
    QCOMPARE(noise_->varyAmplitude, 0);
    QCOMPARE(noise_->persistence, 0.25f);
    Click("IDC_GENERATE");
    expected.varyAmplitude = 1;
    expected.persistence = 0.5f;
    QVERIFY(MapBytes() == Rendered(expected, 48, 32));

    // Each click flips the switch back.
    Click("IDC_VARY_FREQUENCY");
    Click("IDC_VARY_AMPLITUDE");
    QCOMPARE(state_->varyFrequencyChecked, 0);
    QCOMPARE(state_->varyAmplitudeChecked, 0);
    Click("IDC_GENERATE");
    QCOMPARE(noise_->varyFrequency, 0);
    QCOMPARE(noise_->varyAmplitude, 0);
}

// One field at a time, so a field wired to the wrong parameter shows.
void MainDialogTest::fieldsAreReadLikeAtoiAndAtof_data() {
    QTest::addColumn<QByteArray>("field");
    QTest::addColumn<QString>("text");
    QTest::addColumn<double>("value");
    QTest::newRow("octaves 12abc") << QByteArray("IDC_OCTAVES") << QStringLiteral("12abc") << 12.0;
    QTest::newRow("octaves past 32 bits") << QByteArray("IDC_OCTAVES") << QStringLiteral("-99999999999") << -2147483648.0;
    QTest::newRow("frequency 1e-2") << QByteArray("IDC_FREQUENCY") << QStringLiteral("1e-2") << double(0.01f);
    QTest::newRow("amplitude with unit") << QByteArray("IDC_AMPLITUDE") << QStringLiteral("2.5x") << 2.5;
    QTest::newRow("persistence negative") << QByteArray("IDC_PERSISTENCE") << QStringLiteral("-0.75") << -0.75;
    QTest::newRow("width with unit") << QByteArray("IDC_WIDTH") << QStringLiteral("  21px") << 21.0;
    QTest::newRow("height decimal") << QByteArray("IDC_HEIGHT") << QStringLiteral("9.9") << 9.0;
}

void MainDialogTest::fieldsAreReadLikeAtoiAndAtof() {
    QFETCH(QByteArray, field);
    QFETCH(QString, text);
    QFETCH(double, value);
    SetSize(16, 8);
    Field(field.constData())->setText(text);
    Click("IDC_GENERATE");
    QCOMPARE(state_->imageReady, 1);
    const double read = field == "IDC_OCTAVES"       ? noise_->octaves
                        : field == "IDC_FREQUENCY"   ? noise_->frequency
                        : field == "IDC_AMPLITUDE"   ? noise_->amplitude
                        : field == "IDC_PERSISTENCE" ? noise_->persistence
                        : field == "IDC_WIDTH"       ? state_->width
                                                     : state_->height;
    QCOMPARE(read, value);
}

void MainDialogTest::germanLocaleStillReadsAPoint() {
    const std::string saved = std::setlocale(LC_ALL, nullptr);
    QVERIFY2(std::setlocale(LC_ALL, "de_DE.UTF-8") != nullptr,
             "the de_DE.UTF-8 locale is missing: ctest makes one and points LOCPATH at it");
    SetSize(24, 20);
    Click("IDC_GENERATE");
    std::setlocale(LC_ALL, saved.c_str());
    QCOMPARE(noise_->frequency, 0.015f);
    QCOMPARE(noise_->persistence, 0.25f);
    QVERIFY(MapBytes() == Rendered(OctaveNoise(), 24, 20));
}

void MainDialogTest::fieldTextIsWholeAndUtf8() {
    const QString text = QStringLiteral("k\u00e4rt\u00e9 ") + QString(300, QLatin1Char('x'));
    Field("IDC_FILENAME")->setText(text);
    QCOMPARE(QString::fromStdString(dialog_->GetFieldText(IDC_FILENAME)), text);
    // A number field's text ends at a NUL, as a C string does.
    Field("IDC_OCTAVES")->setText(QStringLiteral("3") + QChar(0) + QStringLiteral("9"));
    QCOMPARE(dialog_->GetFieldText(IDC_OCTAVES).size(), std::size_t{3});
    SetSize(8, 8);
    Click("IDC_GENERATE");
    QCOMPARE(noise_->octaves, 3);
    QVERIFY(dialog_->GetFieldText(IDC_STATIC).empty());
    QVERIFY(dialog_->GetFieldText(IDC_GENERATE).empty());
}

void MainDialogTest::zeroOctavesGiveABlackMap() {
    SetSize(33, 17);
    Type("IDC_OCTAVES", QStringLiteral("0"));
    Click("IDC_GENERATE");
    QCOMPARE(noise_->octaves, 0);
    const Bitmap& bitmap = *state_->image;
    for (std::int32_t row = 0; row < bitmap.Height(); ++row) {
        for (std::int32_t x = 0; x < 3 * bitmap.Width(); ++x) {
            QCOMPARE(bitmap.Row(row)[x], std::uint8_t{0});
        }
    }
}

void MainDialogTest::mostOctavesFinishAndTakeTheWaitCursorDown() {
    // The start size with the largest count the field takes: the octave sum
    // is fast-forwarded, so Generate comes back with a map at once.
    Type("IDC_OCTAVES", QStringLiteral("2147483647"));
    Click("IDC_GENERATE");
    QCOMPARE(noise_->octaves, 2147483647);
    QCOMPARE(state_->imageReady, 1);
    QCOMPARE(QApplication::overrideCursor(), nullptr);
}

void MainDialogTest::escapeDoesNothingAndEnterPressesOnlyAFocusedButton() {
    dialog_->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(dialog_.get()));
    QSignalSpy finished(dialog_.get(), &QDialog::finished);
    QSignalSpy generateClicked(Button("IDC_GENERATE"), &QPushButton::clicked);
    SetSize(20, 10);

    QTest::keyClick(Field("IDC_OCTAVES"), Qt::Key_Escape);
    QTest::keyClick(dialog_.get(), Qt::Key_Escape);
    QVERIFY(dialog_->isVisible());
    QCOMPARE(finished.count(), 0);

    // Enter in a field or on a box: nothing, not even a hidden default button.
    QTest::keyClick(Field("IDC_OCTAVES"), Qt::Key_Return);
    QTest::keyClick(Field("IDC_WIDTH"), Qt::Key_Enter, Qt::KeypadModifier);
    Box("IDC_VARY_FREQUENCY")->setFocus();
    QTest::keyClick(Box("IDC_VARY_FREQUENCY"), Qt::Key_Return);
    QCOMPARE(state_->varyFrequencyChecked, 0);
    QVERIFY(!Box("IDC_VARY_FREQUENCY")->isChecked());
    QCOMPARE(generateClicked.count(), 0);
    QCOMPARE(state_->imageReady, 0);

    // Enter on a focused button presses it, once.
    Button("IDC_GENERATE")->setFocus();
    QTRY_VERIFY(Button("IDC_GENERATE")->hasFocus());
    QTest::keyClick(Button("IDC_GENERATE"), Qt::Key_Return);
    QCOMPARE(generateClicked.count(), 1);
    QCOMPARE(state_->imageReady, 1);

    const QString path = directory_->filePath("by-enter.bmp");
    Type("IDC_FILENAME", path);
    Button("IDC_SAVE")->setFocus();
    QTRY_VERIFY(Button("IDC_SAVE")->hasFocus());
    QTest::keyClick(Button("IDC_SAVE"), Qt::Key_Enter, Qt::KeypadModifier);
    QVERIFY(QFile::exists(path));

    QVERIFY(dialog_->isVisible());
    QCOMPARE(finished.count(), 0);
}

void MainDialogTest::saveWritesWhatTheCoreWrites() {
    SetSize(37, 23);
    Type("IDC_OCTAVES", QStringLiteral("3"));
    Type("IDC_FREQUENCY", QStringLiteral("0.05"));
    Click("IDC_VARY_AMPLITUDE");
    Click("IDC_GENERATE");

    const QString path = directory_->filePath("map.bmp");
    Type("IDC_FILENAME", path);
    MessageBoxWatcher watcher;
    Click("IDC_SAVE");
    QVERIFY(watcher.Seen().isEmpty());  // success is silent

    OctaveNoise expected;
    expected.octaves = 3;
    expected.frequency = 0.05f;
    expected.varyAmplitude = 1;
    const Bytes reference = SavedByCore(expected, 37, 23, directory_->filePath("reference.bmp"));
    QVERIFY(!reference.empty());
    QVERIFY(FileBytes(path) == reference);

    // A relative name is taken from the current directory.
    const QString previous = QDir::currentPath();
    QVERIFY(QDir::setCurrent(directory_->path()));
    Type("IDC_FILENAME", QStringLiteral("relative.bmp"));
    Click("IDC_SAVE");
    QDir::setCurrent(previous);
    QVERIFY(FileBytes(directory_->filePath("relative.bmp")) == reference);
}

void MainDialogTest::failedSaveWarns_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("reason");
    QTest::addColumn<bool>("elided");
    const QString noSuchFile = QStringLiteral("No such file or directory");
    QTest::newRow("missing directory") << QStringLiteral("missing/map.bmp") << noSuchFile << false;
    QTest::newRow("a directory") << QStringLiteral(".") << QStringLiteral("is not a regular file") << false;
    QTest::newRow("a device") << QStringLiteral("/dev/null") << QStringLiteral("is not a regular file") << false;
    QTest::newRow("empty") << QString() << QStringLiteral("no file name was given") << false;
    QTest::newRow("long name") << QStringLiteral("missing-%1/end-of-name.bmp").arg(QString(200, QLatin1Char('x')))
                               << noSuchFile << true;
}

void MainDialogTest::failedSaveWarns() {
    QFETCH(QString, name);
    QFETCH(QString, reason);
    QFETCH(bool, elided);
    SetSize(9, 7);
    Click("IDC_GENERATE");
    const QString path = name.startsWith(QLatin1Char('/')) || name.isEmpty() ? name : directory_->filePath(name);
    Field("IDC_FILENAME")->setText(path);

    MessageBoxWatcher watcher;
    Click("IDC_SAVE");
    QCOMPARE(watcher.Seen().size(), 1);
    const SeenMessageBox& box = watcher.Seen().front();
    QCOMPARE(box.caption, QStringLiteral("Warning!"));
    QCOMPARE(box.icon, QMessageBox::Warning);
    QVERIFY2(box.text.contains(reason), qPrintable(box.text));
    // A long name is cut in the middle: the start of its folder and its end show.
    QVERIFY2(box.text.contains(path) != elided, qPrintable(box.text));
    QVERIFY2(box.text.contains(path.left(8)) && box.text.contains(path.right(15)), qPrintable(box.text));
    QCOMPARE(box.text.contains(QChar(0x2026)), elided);
    QVERIFY(QDir(directory_->path()).isEmpty());
}

void MainDialogTest::sizeThatMakesNoMapKeepsThePreviousOne_data() {
    QTest::addColumn<QString>("width");
    QTest::addColumn<QString>("height");
    QTest::addColumn<QString>("says");
    QTest::addColumn<bool>("mapBefore");
    const QString tooLarge = QStringLiteral("too large");
    const QString atLeastOne = QStringLiteral("at least 1");
    QTest::newRow("too large") << QStringLiteral("100000") << QStringLiteral("100000") << tooLarge << true;
    QTest::newRow("too large for the file format") << QStringLiteral("2147483647") << QStringLiteral("1") << tooLarge
                                                   << true;
    QTest::newRow("zero width") << QStringLiteral("0") << QStringLiteral("30") << atLeastOne << true;
    QTest::newRow("negative height") << QStringLiteral("30") << QStringLiteral("-5") << atLeastOne << true;
    QTest::newRow("no number") << QStringLiteral("wide") << QStringLiteral("30") << atLeastOne << true;
    QTest::newRow("too large, no map yet") << QStringLiteral("100000") << QStringLiteral("100000") << tooLarge << false;
    QTest::newRow("zero width, no map yet") << QStringLiteral("0") << QStringLiteral("30") << atLeastOne << false;
}

void MainDialogTest::sizeThatMakesNoMapKeepsThePreviousOne() {
    QFETCH(QString, width);
    QFETCH(QString, height);
    QFETCH(QString, says);
    QFETCH(bool, mapBefore);
    const QString keptSentence = QStringLiteral("The previous map is kept.");
    if (!mapBefore) {
        Type("IDC_WIDTH", width);
        Type("IDC_HEIGHT", height);
        MessageBoxWatcher watcher;
        Click("IDC_GENERATE");
        QCOMPARE(watcher.Seen().size(), 1);
        const QString text = watcher.Seen().front().text;
        QVERIFY2(text.contains(says) && !text.contains(keptSentence), qPrintable(text));
        QCOMPARE(state_->imageReady, 0);
        return;
    }
    SetSize(40, 30);
    Click("IDC_GENERATE");
    PictureDialog* picture = Picture();
    QTRY_COMPARE(picture->pos(), QPoint(200, 10));
    const QRect pictureGeometry = picture->geometry();
    const std::shared_ptr<Bitmap> previous = state_->image;
    const Bytes previousBytes = MapBytes();

    Type("IDC_WIDTH", width);
    Type("IDC_HEIGHT", height);
    Type("IDC_OCTAVES", QStringLiteral("1"));
    MessageBoxWatcher watcher;
    Click("IDC_GENERATE");
    QCOMPARE(watcher.Seen().size(), 1);
    QCOMPARE(watcher.Seen().front().caption, QStringLiteral("Warning!"));
    QCOMPARE(watcher.Seen().front().icon, QMessageBox::Warning);
    QVERIFY2(watcher.Seen().front().text.contains(says), qPrintable(watcher.Seen().front().text));
    QVERIFY2(watcher.Seen().front().text.contains(keptSentence), qPrintable(watcher.Seen().front().text));

    QCOMPARE(state_->width, 40);
    QCOMPARE(state_->height, 30);
    QCOMPARE(state_->image, previous);
    QCOMPARE(state_->surface->Selected(), previous);
    QVERIFY(MapBytes() == previousBytes);
    QCoreApplication::processEvents();
    QCOMPARE(picture->geometry(), pictureGeometry);

    // Save still writes the map the window shows.
    const QString path = directory_->filePath("kept.bmp");
    Type("IDC_FILENAME", path);
    Click("IDC_SAVE");
    QVERIFY(FileBytes(path) == SavedByCore(OctaveNoise(), 40, 30, directory_->filePath("reference.bmp")));
}

void MainDialogTest::mapWithoutMemoryKeepsThePreviousOne() {
#ifdef VELMORA_SANITIZED
    QSKIP("built with a sanitizer, whose own address space counts against the limit");
#endif
    SetSize(40, 30);
    Click("IDC_GENERATE");
    PictureDialog* picture = Picture();
    QTRY_COMPARE(picture->pos(), QPoint(200, 10));
    const QRect pictureGeometry = picture->geometry();
    const std::shared_ptr<Bitmap> previous = state_->image;

    // A map of 1.6 GB in a process allowed only 512 MB more than it holds.
    // One pixel wide, so that the picture window itself stays small.
    Type("IDC_WIDTH", QStringLiteral("1"));
    Type("IDC_HEIGHT", QStringLiteral("400000000"));
    const rlim_t inUse = AddressSpaceInUse();
    QVERIFY(inUse > 0);
    rlimit saved{};
    QCOMPARE(getrlimit(RLIMIT_AS, &saved), 0);
    const rlimit limited{inUse + (rlim_t{512} << 20), saved.rlim_max};
    QCOMPARE(setrlimit(RLIMIT_AS, &limited), 0);
    MessageBoxWatcher watcher;
    Click("IDC_GENERATE");
    QCOMPARE(setrlimit(RLIMIT_AS, &saved), 0);

    QCOMPARE(watcher.Seen().size(), 1);
    QVERIFY2(watcher.Seen().front().text.contains(QStringLiteral("too large")), qPrintable(watcher.Seen().front().text));
    QCOMPARE(state_->width, 40);
    QCOMPARE(state_->height, 30);
    QCOMPARE(state_->image, previous);
    QTRY_COMPARE(picture->geometry(), pictureGeometry);
}

void MainDialogTest::goesOnWithoutAPictureWindow() {
    dialog_.reset();
    state_ = std::make_unique<AppState>();
    MessageBoxWatcher watcher;
    MakeDialog(NoPictureWindow);
    QCOMPARE(watcher.Seen().size(), 1);
    QCOMPARE(watcher.Seen().front().caption, QStringLiteral("Warning!"));
    QCOMPARE(watcher.Seen().front().text, QStringLiteral("CreateDialog returned NULL"));
    QCOMPARE(watcher.Seen().front().icon, QMessageBox::Information);
    QVERIFY(Picture() == nullptr);
    QVERIFY(dialog_->findChild<PictureDialog*>() == nullptr);

    // Generate and Save still work, on the form's own surface.
    SetSize(21, 13);
    Click("IDC_GENERATE");
    QCOMPARE(state_->imageReady, 1);
    QVERIFY(MapBytes() == Rendered(OctaveNoise(), 21, 13));
    const QString path = directory_->filePath("alone.bmp");
    Type("IDC_FILENAME", path);
    Click("IDC_SAVE");
    QVERIFY(FileBytes(path) == SavedByCore(OctaveNoise(), 21, 13, directory_->filePath("reference.bmp")));
    QCOMPARE(watcher.Seen().size(), 1);

    QTimer::singleShot(0, dialog_.get(), [this] { dialog_->close(); });
    QCOMPARE(dialog_->exec(), 0);
}

void MainDialogTest::closingClosesThePictureWindowFirstAndEndsWithZero() {
    SetSize(16, 16);
    Click("IDC_GENERATE");
    PictureDialog* picture = Picture();
    bool pictureOpenAtEnd = true;
    bool mapHeldAtEnd = true;
    connect(dialog_.get(), &QDialog::finished, this, [&] {
        pictureOpenAtEnd = picture->isVisible();
        mapHeldAtEnd = state_->surface != nullptr || state_->image != nullptr;
    });
    // The close box, as the window manager sends it, while the modal loop runs.
    QTimer::singleShot(0, dialog_.get(), [this] { dialog_->close(); });
    QCOMPARE(dialog_->exec(), 0);
    QVERIFY(!pictureOpenAtEnd);
    QVERIFY(!mapHeldAtEnd);
    QVERIFY(!dialog_->isVisible());
}

void MainDialogTest::pictureWindowRefusesItsOwnCloseRequests() {
    PictureDialog* picture = Picture();
    QVERIFY(!picture->close());
    QTest::keyClick(picture, Qt::Key_Escape);
    QTest::keyClick(picture, Qt::Key_Return);
    QCoreApplication::processEvents();
    QVERIFY(picture->isVisible());
    QVERIFY(state_->surface != nullptr);
    QVERIFY(dialog_->isVisible());
}

QTEST_MAIN(MainDialogTest)
#include "main_dialog_test.moc"
