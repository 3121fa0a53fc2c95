#include "ui/main_dialog.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCloseEvent>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>

#include <memory>
#include <optional>

#include "image/bitmap_file.h"
#include "image/map_image.h"
#include "noise/octave_noise.h"
#include "resources/dialog_builder.h"
#include "resources/resource_ids.h"
#include "ui/app_state.h"
#include "ui/background_render.h"
#include "ui/text_number.h"

namespace velmora {

namespace {

const QString WarningCaption = QStringLiteral("Warning!");

// Shows the wait cursor for as long as it lives, however the scope is left.
class WaitCursor {
public:
    WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~WaitCursor() { QApplication::restoreOverrideCursor(); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;
};

QString SizeText(std::int32_t width, std::int32_t height) {
    return QStringLiteral("%1 \u00d7 %2").arg(width).arg(height);
}

// A refusal of Generate, saying that the previous map stays where there is one.
QString MapRefusalText(const QString& reason, bool previousMap) {
    return previousMap ? reason + QStringLiteral(" The previous map is kept.") : reason;
}

// A file name as a message shows it. A message box wraps its text at spaces
// within about 500 pixels, but a long name has none to wrap at and would run
// past the box's edge; so a name wider than 360 pixels (what is left beside
// the icon) is cut in the middle, and both its folder and its end still show.
QString ShownFileName(const std::string& fileName) {
    constexpr int LongestNameWidth = 360;
    return QFontMetrics(QApplication::font("QMessageBox"))
        .elidedText(QString::fromStdString(fileName), Qt::ElideMiddle, LongestNameWidth);
}

QString SaveFailureText(const std::string& fileName, int errorNumber) {
    if (fileName.empty()) {
        return QStringLiteral("The map was not saved: no file name was given.");
    }
    return QStringLiteral("The map could not be saved to \u201c%1\u201d: %2.")
        .arg(ShownFileName(fileName), QString::fromLocal8Bit(SaveFailureReason(errorNumber).c_str()));
}

}  // namespace

MainDialog::MainDialog(AppState& state, OctaveNoise& noise, PictureWindowFactory createPicture)
    : QDialog(nullptr), state_(state), noise_(noise), render_(new BackgroundRender(this)) {
    const DialogTemplate& dialogTemplate = *FindDialogTemplate(IDD_MAIN);
    BuildDialog(dialogTemplate, *this);
    for (int id : {IDC_VARY_FREQUENCY, IDC_GENERATE, IDC_SAVE, IDC_VARY_AMPLITUDE}) {
        auto* button = qobject_cast<QAbstractButton*>(DialogItem(*this, id));
        connect(button, &QAbstractButton::clicked, this, [this, id] { OnCommand(id); });
    }

    state_.surface = CreateCompatibleSurface();
    const struct {
        int id;
        const char* text;
    } startTexts[] = {{IDC_WIDTH, "512"},     {IDC_HEIGHT, "512"},        {IDC_OCTAVES, "4"},
                      {IDC_FREQUENCY, "0.015"}, {IDC_PERSISTENCE, "0.25"}, {IDC_AMPLITUDE, "1"}};
    for (const auto& start : startTexts) {
        qobject_cast<QLineEdit*>(DialogItem(*this, start.id))->insert(QString::fromLatin1(start.text));
    }
    state_.varyFrequencyChecked = 0;
    state_.varyAmplitudeChecked = 0;
    state_.imageReady = 0;

    state_.pictureWindow = createPicture(state_, this);
    if (state_.pictureWindow) {
        state_.pictureWindow->show();
    } else {
        QMessageBox box(QMessageBox::Information, WarningCaption, QStringLiteral("CreateDialog returned NULL"),
                        QMessageBox::Ok, this);
        box.exec();
    }
    FocusFirstTabStop(dialogTemplate, *this);
}

void MainDialog::OnCommand(int id) {
    switch (id) {
        case IDC_VARY_FREQUENCY: state_.varyFrequencyChecked = !state_.varyFrequencyChecked; break;
        case IDC_GENERATE: GenerateMap(); break;
        case IDC_SAVE: SaveMap(); break;
        case IDC_VARY_AMPLITUDE: state_.varyAmplitudeChecked = !state_.varyAmplitudeChecked; break;
        default: break;
    }
}

void MainDialog::GenerateMap() {
    if (render_->Running()) {
        return;  // one map at a time
    }
    QString problem;
    {
        const WaitCursor wait;
        problem = MakeMap();
    }
    if (closeRequested_) {
        close();  // the render has stopped: the close that came during it can go ahead
        return;
    }
    if (!problem.isEmpty()) {
        Warn(problem);
    }
}

QString MainDialog::MakeMap() {
    const std::int32_t width = TextToInteger(GetFieldText(IDC_WIDTH));
    const std::int32_t height = TextToInteger(GetFieldText(IDC_HEIGHT));
    if (width < 1 || height < 1) {
        return MapRefusalText(
            QStringLiteral("A map of %1 pixels has no pixel: width and height must be at least 1.")
                .arg(SizeText(width, height)),
            state_.imageReady != 0);
    }
    const QString tooLarge = MapRefusalText(
        QStringLiteral("The map is too large: %1 pixels cannot be created.").arg(SizeText(width, height)),
        state_.imageReady != 0);
    if (!MapImageSizeAllowed(width, height)) {
        return tooLarge;
    }

    // What a map that is not made puts back.
    const std::int32_t previousWidth = state_.width;
    const std::int32_t previousHeight = state_.height;
    const QPointer<PictureDialog> picture = state_.pictureWindow;
    const PictureDialog::Placement previousPlacement = picture ? picture->CurrentPlacement() : PictureDialog::Placement{};
    const auto putBack = [&] {
        state_.width = previousWidth;
        state_.height = previousHeight;
        if (picture) {
            picture->RestorePlacement(previousPlacement);
        }
    };

    state_.width = width;
    state_.height = height;
    if (picture) {
        picture->ResizePictureWindow(width, height);
    }

    const std::int32_t octaves = TextToInteger(GetFieldText(IDC_OCTAVES));
    const auto frequency = static_cast<float>(TextToReal(GetFieldText(IDC_FREQUENCY)));
    const auto amplitude = static_cast<float>(TextToReal(GetFieldText(IDC_AMPLITUDE)));
    const auto persistence = static_cast<float>(TextToReal(GetFieldText(IDC_PERSISTENCE)));

    noise_.persistence = persistence;
    noise_.octaves = octaves;
    noise_.frequency = frequency;
    noise_.amplitude = amplitude;
    noise_.varyFrequency = state_.varyFrequencyChecked;
    noise_.varyAmplitude = state_.varyAmplitudeChecked;

    // The new map is made on a surface of its own and takes the place of the
    // current one only when complete, so that the picture window keeps
    // showing the current map while the new one is rendered.
    const std::unique_ptr<MemorySurface> renderSurface = CreateCompatibleSurface();
    std::optional<MapImage> image = CreateMapImage(*renderSurface, width, height);
    if (!image) {
        putBack();
        return tooLarge;
    }
    const QString progressText = QStringLiteral("Generating a map of %1 pixels\u2026").arg(SizeText(width, height));
    switch (render_->Run(noise_, *image, progressText)) {
        case RenderStatus::Complete: break;
        case RenderStatus::NoMemory: putBack(); return tooLarge;
        case RenderStatus::Stopped: putBack(); return {};  // cancelled: nothing to report
    }
    if (!state_.surface) {
        state_.surface = CreateCompatibleSurface();
    }
    (void)state_.surface->Select(image->bitmap);
    state_.image = image->bitmap;
    if (picture) {
        picture->ShowPicture();
    }
    state_.imageReady = 1;
    return {};
}

void MainDialog::SaveMap() {
    if (!state_.imageReady) {
        return;
    }
    const std::string fileName = GetFieldText(IDC_FILENAME);
    int errorNumber = 0;
    if (SaveBitmapFile(fileName, state_.image.get(), state_.surface.get(), errorNumber) != S_OK) {
        Warn(SaveFailureText(fileName, errorNumber));
    }
}

std::string MainDialog::GetFieldText(int id) const {
    const auto* field = qobject_cast<const QLineEdit*>(DialogItem(*this, id));
    return field ? field->text().toStdString() : std::string();
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
    if (render_->Running()) {
        // Stop the render and close once Generate has seen it stop, so that
        // nothing it leaves behind meets a closed picture window.
        closeRequested_ = true;
        render_->Stop();
        event->ignore();
        return;
    }
    if (state_.pictureWindow) {
        state_.pictureWindow->CloseWithOwner();
    }
    done(0);
    event->accept();
}

void MainDialog::Warn(const QString& text) {
    QMessageBox::warning(this, WarningCaption, text);
}

}  // namespace velmora
