#include "app/program.h"

#include <new>
#include <optional>
#include <thread>

#include "app/app_state.h"
#include "app/messages.h"
#include "app/text_number.h"
#include "image/map_image.h"
#include "noise/octave_noise.h"
#include "resources/resource_ids.h"

namespace velmora {

namespace {

// Memory a render needs beyond its map, and the windows while it runs: each
// thread's stack and working memory, and room for the windows to repaint
// and show progress. Asked for before a render starts, so that the render
// and the windows do not run out of memory halfway.
std::size_t WorkingRoom() noexcept {
    constexpr std::size_t MiB = std::size_t{1} << 20;
    const std::size_t threads = std::max(1u, std::thread::hardware_concurrency());
    return 64 * MiB + 16 * MiB * threads;
}

// Shows the wait cursor for as long as it lives, however the scope is left.
class WaitCursor {
public:
    explicit WaitCursor(FrontEnd& ui) : ui_(ui) { ui_.SetWaitCursor(true); }
    ~WaitCursor() { ui_.SetWaitCursor(false); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;

private:
    FrontEnd& ui_;
};

}  // namespace

Program::Program(AppState& state, OctaveNoise& noise, FrontEnd& ui, JobServices services)
    : state_(state), noise_(noise), ui_(ui), services_(std::move(services)) {}

void Program::Start() {
    state_.surface = CreateCompatibleSurface();
    for (const messages::StartText& start : messages::StartTexts) {
        ui_.InsertFieldText(start.id, start.text);
    }
    state_.varyFrequencyChecked = 0;
    state_.varyAmplitudeChecked = 0;
    state_.imageReady = 0;
    state_.pictureWindow = ui_.OpenPictureWindow();
    if (state_.pictureWindow) {
        // The picture window's own surface takes the place of the first.
        state_.surface = CreateCompatibleSurface();
        ui_.ShowPictureWindow();
    } else {
        ui_.ShowInformation(messages::NoPictureWindow);
    }
}

void Program::OnCommand(int id) {
    switch (id) {
        case IDC_VARY_FREQUENCY: state_.varyFrequencyChecked = !state_.varyFrequencyChecked; break;
        case IDC_GENERATE: GenerateMap(); break;
        case IDC_SAVE: SaveMap(); break;
        case IDC_VARY_AMPLITUDE: state_.varyAmplitudeChecked = !state_.varyAmplitudeChecked; break;
        default: break;
    }
}

void Program::GenerateMap() {
    if (Busy()) {
        return;  // one command at a time
    }
    std::string warning;
    {
        const WaitCursor wait(ui_);
        warning = MakeMap();
    }
    Finish(warning);
}

std::string Program::MakeMap() {
    const std::int32_t width = TextToInteger(ui_.GetFieldText(IDC_WIDTH));
    const std::int32_t height = TextToInteger(ui_.GetFieldText(IDC_HEIGHT));
    const bool previousMap = state_.imageReady != 0;
    if (width < 1 || height < 1) {
        return messages::NoPixel(width, height, previousMap);
    }
    if (!MapImageSizeAllowed(width, height)) {
        return messages::TooLarge(width, height, previousMap);
    }

    // What a map that is not made puts back.
    const std::int32_t previousWidth = state_.width;
    const std::int32_t previousHeight = state_.height;
    if (state_.pictureWindow) {
        ui_.KeepPicturePlacement();
    }
    Made made = Made::NoMemory;
    try {
        state_.width = width;
        state_.height = height;
        if (state_.pictureWindow) {
            ui_.ResizePictureWindow(width, height);
        }
        made = RenderNewMap(width, height);
    } catch (const std::bad_alloc&) {
        made = Made::NoMemory;
    }
    if (made != Made::Map) {
        state_.width = previousWidth;
        state_.height = previousHeight;
        if (state_.pictureWindow) {
            ui_.RestorePicturePlacement();
        }
    }
    switch (made) {
        case Made::Map:
        case Made::Cancelled: return {};
        case Made::TooLarge: return messages::TooLarge(width, height, previousMap);
        case Made::NoMemory: return messages::NotEnoughMemory(width, height, previousMap);
    }
    return {};
}

Program::Made Program::RenderNewMap(std::int32_t width, std::int32_t height) {
    noise_.persistence = static_cast<float>(TextToReal(ui_.GetFieldText(IDC_PERSISTENCE)));
    noise_.octaves = TextToInteger(ui_.GetFieldText(IDC_OCTAVES));
    noise_.frequency = static_cast<float>(TextToReal(ui_.GetFieldText(IDC_FREQUENCY)));
    noise_.amplitude = static_cast<float>(TextToReal(ui_.GetFieldText(IDC_AMPLITUDE)));
    noise_.varyFrequency = state_.varyFrequencyChecked;
    noise_.varyAmplitude = state_.varyAmplitudeChecked;

    // The new map is made on a surface of its own and takes the place of the
    // current one only when complete, so that the picture window keeps
    // showing the current map while the new one is rendered.
    const std::unique_ptr<MemorySurface> renderSurface = CreateCompatibleSurface();
    std::optional<MapImage> image = CreateMapImage(*renderSurface, width, height);
    if (!image) {
        return Made::TooLarge;
    }
    if (!services_.roomFor(WorkingRoom())) {
        return Made::NoMemory;
    }
    RenderJob job(noise_, *image);
    switch (RunJob(job, {std::string(messages::GenerateTitle), messages::Generating(width, height)})) {
        case JobEnd::Completed: break;
        case JobEnd::Stopped: return Made::Cancelled;
        case JobEnd::NoMemory: return Made::NoMemory;
    }
    if (job.Status() != RenderStatus::Complete) {
        return Made::TooLarge;  // not even one thread's working memory
    }
    if (!state_.surface) {
        state_.surface = CreateCompatibleSurface();
    }
    (void)state_.surface->Select(image->bitmap);
    state_.image = image->bitmap;
    if (state_.pictureWindow) {
        ui_.ShowPicture();
    }
    state_.imageReady = 1;
    return Made::Map;
}

void Program::SaveMap() {
    if (Busy() || !state_.imageReady) {
        return;
    }
    const std::string fileName = ui_.GetFieldText(IDC_FILENAME);
    if (fileName.empty()) {
        Finish(messages::NoFileName());
        return;
    }
    std::string warning;
    {
        const WaitCursor wait(ui_);
        const std::string shownName = ui_.ShownFileName(fileName);
        try {
            SaveJob job(fileName, state_.image, *state_.surface);
            switch (RunJob(job, {std::string(messages::SaveTitle), messages::Saving(shownName)})) {
                case JobEnd::Completed:
                    if (job.ErrorNumber() != 0) {
                        warning = messages::SaveFailed(shownName, job.ErrorNumber());
                    }
                    break;
                case JobEnd::Stopped: break;  // cancelled: the file is as it was, or whole
                case JobEnd::NoMemory: warning = messages::SaveNotEnoughMemory(shownName); break;
            }
        } catch (const std::bad_alloc&) {
            warning = messages::SaveNotEnoughMemory(shownName);
        }
    }
    Finish(warning);
}

Program::JobEnd Program::RunJob(BackgroundJob& job, const ProgressText& progress) {
    bool failed = false;
    std::jthread thread;
    const bool started = services_.startThread(thread, [this, &job, &failed] {
        try {
            job.Run();
        } catch (...) {
            failed = true;  // out of memory inside the job
        }
        job.MarkFinished();
        ui_.Wake();
    });
    if (!started) {
        return JobEnd::NoMemory;
    }
    job_ = &job;
    // However this is left, the job is stopped if need be and waited for
    // before it goes.
    struct Joined {
        Program& program;
        BackgroundJob& job;
        std::jthread& thread;
        ~Joined() {
            if (!job.Finished()) {
                job.Stop();
            }
            if (thread.joinable()) {
                thread.join();
            }
            program.job_ = nullptr;
        }
    } joined{*this, job, thread};
    const bool toolkitKept = ui_.WaitFor(job, progress);
    if (thread.joinable()) {
        thread.join();
    }
    if (!toolkitKept || failed) {
        return JobEnd::NoMemory;
    }
    // A stop asked for wins over a job that completed meanwhile: a Cancel
    // taken while the progress window was still open is honoured.
    return job.StopAsked() ? JobEnd::Stopped : JobEnd::Completed;
}

void Program::Finish(const std::string& warning) {
    if (closeRequested_) {
        closeRequested_ = false;
        ui_.CloseForm();  // the command has stopped: the close that came during it goes ahead
        return;
    }
    if (!warning.empty()) {
        // A failure for want of file descriptors must not leave the window
        // system without the few it needs to draw the warning.
        descriptors_.Release();
        ui_.ShowWarning(warning);
        descriptors_.Take();
    }
}

bool Program::RequestClose() {
    if (Busy()) {
        closeRequested_ = true;
        job_->Stop();
        return false;
    }
    if (state_.pictureWindow) {
        ui_.ClosePictureWindow();
        state_.pictureWindow = false;
    }
    state_.image.reset();
    state_.surface.reset();
    return true;
}

}  // namespace velmora
