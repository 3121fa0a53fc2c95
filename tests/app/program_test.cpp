// The program's logic driven through a recording front end: the order of
// Generate's steps, every refusal, the commit or the putting back of the
// previous map, the save flow and a close during a command, all without a
// display.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <condition_variable>
#include <mutex>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "app/app_state.h"
#include "app/background_job.h"
#include "app/front_end.h"
#include "app/messages.h"
#include "app/program.h"
#include "image/bitmap_file.h"
#include "image/map_image.h"
#include "image/render_map.h"
#include "noise/octave_noise.h"
#include "resources/dialog_template.h"
#include "resources/resource_ids.h"
#include "tests/support/test_support.h"

using namespace velmora;
namespace fs = std::filesystem;

namespace {

std::string ControlName(int id) {
    for (const ControlTemplate& control : FindDialogTemplate(IDD_MAIN)->controls) {
        if (control.id == id) {
            return control.identifier;
        }
    }
    return std::to_string(id);
}

// Holds background work back until it is opened.
class Gate {
public:
    void Open() {
        const std::lock_guard lock(mutex_);
        open_ = true;
        changed_.notify_all();
    }
    void Close() {
        const std::lock_guard lock(mutex_);
        open_ = false;
    }
    void Wait() {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return open_; });
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool open_ = true;
};

// What happens while the program waits for a job.
enum class During {
    Nothing,
    Cancel,        // the user cancels before the job has done anything
    LateCancel,    // the user cancels once the job has finished
    OutOfMemory,   // the toolkit runs out of memory and stops the job
    Close,         // the user closes the form
};

// A front end that records what the program asks of it, in order.
class Recorder : public FrontEnd {
public:
    std::map<int, std::string> fields;
    bool pictureOpens = true;
    During during = During::Nothing;
    Program* program = nullptr;
    Gate* gate = nullptr;  // opened once the action above is done
    mutable std::vector<std::string> log;

    std::string GetFieldText(int id) const override {
        log.push_back("read " + ControlName(id));
        const auto field = fields.find(id);
        return field == fields.end() ? std::string() : field->second;
    }
    void InsertFieldText(int id, std::string_view text) override {
        fields[id] += text;
        log.push_back("insert " + ControlName(id) + " " + std::string(text));
    }
    void SetWaitCursor(bool shown) override { log.push_back(shown ? "wait cursor" : "arrow cursor"); }
    void ShowWarning(std::string_view text) override { log.push_back("warning: " + std::string(text)); }
    void ShowInformation(std::string_view text) override { log.push_back("information: " + std::string(text)); }
    std::string ShownFileName(std::string_view fileName) const override { return "<" + std::string(fileName) + ">"; }
    bool WaitFor(BackgroundJob& job, const ProgressText& progress) override {
        log.push_back("wait: " + progress.title + ": " + progress.text);
        if (during == During::Cancel || during == During::OutOfMemory) {
            job.Stop();
        } else if (during == During::Close) {
            EXPECT_FALSE(program->RequestClose());
        }
        if (gate != nullptr) {
            gate->Open();
        }
        while (!job.Finished()) {
            std::this_thread::yield();
        }
        if (during == During::LateCancel) {
            job.Stop();
        }
        return during != During::OutOfMemory;
    }
    void Wake() noexcept override {}
    void CloseForm() override { log.push_back("close form"); }
    bool OpenPictureWindow() override {
        log.push_back("open picture window");
        return pictureOpens;
    }
    void ShowPictureWindow() override { log.push_back("show picture window"); }
    void KeepPicturePlacement() override { log.push_back("keep placement"); }
    void RestorePicturePlacement() override { log.push_back("restore placement"); }
    void ResizePictureWindow(std::int32_t width, std::int32_t height) override {
        log.push_back("resize " + std::to_string(width) + "x" + std::to_string(height));
    }
    void ShowPicture() override { log.push_back("show picture"); }
    void ClosePictureWindow() override { log.push_back("close picture window"); }
};

class ProgramTest : public testing::Test {
protected:
    // Starts the program on a fresh state, with services as given, and
    // forgets what start-up logged.
    void Start(JobServices services = {}) {
        program_ = std::make_unique<Program>(state_, noise_, ui_, std::move(services));
        ui_.program = program_.get();
        program_->Start();
        ui_.log.clear();
    }
    void Generate(int width, int height) {
        ui_.fields[IDC_WIDTH] = std::to_string(width);
        ui_.fields[IDC_HEIGHT] = std::to_string(height);
        program_->GenerateMap();
    }
    // The log entries that contain part, in order.
    std::vector<std::string> Logged(const std::string& part) const {
        std::vector<std::string> found;
        std::copy_if(ui_.log.begin(), ui_.log.end(), std::back_inserter(found),
                     [&](const std::string& entry) { return entry.find(part) != std::string::npos; });
        return found;
    }
    // Starts the program on a fresh state and recorder; the jobs' work waits
    // behind the gate, which the recorder opens once it has acted.
    void StartGated(JobServices services = {}) {
        state_ = AppState();
        ui_ = Recorder();
        ui_.gate = &gate_;
        services.startThread = [this, start = services.startThread](std::jthread& thread,
                                                                    std::function<void()> work) {
            return start(thread, [this, work = std::move(work)] {
                gate_.Wait();
                work();
            });
        };
        Start(std::move(services));
    }

    AppState state_;
    OctaveNoise noise_;
    Recorder ui_;
    std::unique_ptr<Program> program_;
    Gate gate_;
};

TEST_F(ProgramTest, StartFillsTheFormAndOpensThePictureWindow) {
    for (const bool opens : {true, false}) {
        SCOPED_TRACE(opens);
        state_ = AppState();
        ui_ = Recorder();
        ui_.pictureOpens = opens;
        program_ = std::make_unique<Program>(state_, noise_, ui_);
        program_->Start();
        const std::vector<std::string> expected = {
            "insert IDC_WIDTH 512", "insert IDC_HEIGHT 512", "insert IDC_OCTAVES 4", "insert IDC_FREQUENCY 0.015",
            "insert IDC_PERSISTENCE 0.25", "insert IDC_AMPLITUDE 1", "open picture window",
            opens ? "show picture window" : "information: CreateDialog returned NULL"};
        EXPECT_EQ(ui_.log, expected);
        EXPECT_EQ(state_.pictureWindow, opens);
        EXPECT_NE(state_.surface, nullptr);
        EXPECT_EQ(state_.imageReady, 0);
    }
}

TEST_F(ProgramTest, GenerateTakesItsStepsInOrderAndMakesTheDefinedMap) {
    Start();
    program_->OnCommand(IDC_VARY_AMPLITUDE);
    program_->OnCommand(1);  // the OK command that Enter sends: nothing
    Generate(12, 7);
    const std::vector<std::string> expected = {
        "wait cursor", "read IDC_WIDTH", "read IDC_HEIGHT", "keep placement", "resize 12x7",
        "read IDC_PERSISTENCE", "read IDC_OCTAVES", "read IDC_FREQUENCY", "read IDC_AMPLITUDE",
        "wait: Generate: Generating a map of 12 \u00d7 7 pixels\u2026", "show picture", "arrow cursor"};
    EXPECT_EQ(ui_.log, expected);
    EXPECT_EQ(state_.imageReady, 1);
    EXPECT_EQ(state_.width, 12);
    EXPECT_EQ(state_.surface->Selected(), state_.image);
    OctaveNoise reference;
    reference.varyAmplitude = 1;
    EXPECT_EQ(noise_.varyAmplitude, 1);
    const std::unique_ptr<MemorySurface> surface = CreateCompatibleSurface();
    std::optional<MapImage> image = CreateMapImage(*surface, 12, 7);
    RenderMapPerPixel(reference, *image);
    EXPECT_TRUE(std::ranges::equal(image->Pixels(), state_.image->Pixels()));
}

// Sizes that cannot make a map are refused before anything changes.
TEST_F(ProgramTest, SizesThatMakeNoMapAreRefusedUntouched) {
    const struct {
        const char* width;
        const char* height;
        bool mapBefore;
        std::string warning;
    } cases[] = {
        {"0", "30", false, "A map of 0 \u00d7 30 pixels has no pixel: width and height must be at least 1."},
        {"30", "-5", true, "A map of 30 \u00d7 -5 pixels has no pixel: width and height must be at least 1. "
                           "The previous map is kept."},
        {"wide", "3", true, "A map of 0 \u00d7 3 pixels has no pixel: width and height must be at least 1. "
                            "The previous map is kept."},
        {"2147483647", "1", false, "The map is too large: 2147483647 \u00d7 1 pixels cannot be created."},
        {"100000", "100000", true, "The map is too large: 100000 \u00d7 100000 pixels cannot be created. "
                                   "The previous map is kept."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.warning);
        state_ = AppState();
        ui_ = Recorder();
        Start();
        if (c.mapBefore) {
            Generate(5, 4);
        }
        const std::shared_ptr<Bitmap> previous = state_.image;
        ui_.log.clear();
        ui_.fields[IDC_WIDTH] = c.width;
        ui_.fields[IDC_HEIGHT] = c.height;
        program_->GenerateMap();
        const std::vector<std::string> expected = {"wait cursor", "read IDC_WIDTH", "read IDC_HEIGHT",
                                                   "arrow cursor", "warning: " + c.warning};
        EXPECT_EQ(ui_.log, expected);
        EXPECT_EQ(state_.image, previous);
        EXPECT_EQ(state_.width, c.mapBefore ? 5 : 0);
    }
}

// A map that is not made, for whatever reason, puts back the size and the
// picture window's placement and keeps the previous map.
TEST_F(ProgramTest, AMapNotMadePutsEverythingBack) {
    enum class Failure { Cancel, LateCancel, ToolkitMemory, NoThread, NoRoom, Close };
    const std::string noMemory = "warning: There is not enough memory to make a map of 9 \u00d7 8 pixels. "
                                 "The previous map is kept.";
    const struct {
        const char* what;
        Failure failure;
        std::string lastEntry;
    } cases[] = {
        {"cancel", Failure::Cancel, "arrow cursor"},
        {"cancel after the render finished", Failure::LateCancel, "arrow cursor"},
        {"toolkit out of memory", Failure::ToolkitMemory, noMemory},
        {"no thread", Failure::NoThread, noMemory},
        {"no room to work", Failure::NoRoom, noMemory},
        {"close", Failure::Close, "close form"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        bool failThreads = false;
        bool failRoom = false;
        JobServices services;
        services.startThread = [&failThreads](std::jthread& thread, std::function<void()> work) {
            return !failThreads && JobServices::StartThread(thread, std::move(work));
        };
        services.roomFor = [&failRoom](std::size_t) { return !failRoom; };
        StartGated(services);
        Generate(5, 4);
        const std::shared_ptr<Bitmap> previous = state_.image;
        failThreads = c.failure == Failure::NoThread;
        failRoom = c.failure == Failure::NoRoom;
        gate_.Close();
        ui_.log.clear();
        ui_.during = c.failure == Failure::Cancel          ? During::Cancel
                     : c.failure == Failure::LateCancel    ? During::LateCancel
                     : c.failure == Failure::ToolkitMemory ? During::OutOfMemory
                     : c.failure == Failure::Close         ? During::Close
                                                           : During::Nothing;
        Generate(9, 8);
        ASSERT_FALSE(ui_.log.empty());
        EXPECT_EQ(ui_.log.back(), c.lastEntry);
        EXPECT_EQ(Logged("restore placement").size(), 1u);
        EXPECT_TRUE(Logged("show picture").empty());
        EXPECT_EQ(state_.image, previous);
        EXPECT_EQ(state_.surface->Selected(), previous);
        EXPECT_EQ(state_.width, 5);
        EXPECT_EQ(state_.height, 4);
        EXPECT_EQ(state_.imageReady, 1);
        if (c.failure == Failure::Close) {
            EXPECT_TRUE(program_->RequestClose());
            EXPECT_EQ(ui_.log.back(), "close picture window");
            EXPECT_EQ(state_.image, nullptr);
            EXPECT_EQ(state_.surface, nullptr);
        }
    }
}

TEST_F(ProgramTest, SaveWritesTheShownMapAndWarnsOfEachFailure) {
    const fs::path folder = fs::path(testing::TempDir()) / "velmora-program-save";
    fs::remove_all(folder);
    fs::create_directories(folder);
    const std::string good = (folder / "map.bmp").string();
    const std::string missing = (folder / "missing" / "map.bmp").string();
    const struct {
        const char* what;
        bool mapBefore;
        std::string name;
        During during;
        std::vector<std::string> log;
        bool written;
    } cases[] = {
        {"before any map", false, good, During::Nothing, {}, false},
        {"no name", true, "", During::Nothing, {"read IDC_FILENAME", "warning: " + messages::NoFileName()}, false},
        {"saved", true, good, During::Nothing,
         {"read IDC_FILENAME", "wait cursor", "wait: Save: Saving the map to \u201c<" + good + ">\u201d\u2026",
          "arrow cursor"},
         true},
        {"cancelled", true, good, During::Cancel,
         {"read IDC_FILENAME", "wait cursor", "wait: Save: Saving the map to \u201c<" + good + ">\u201d\u2026",
          "arrow cursor"},
         false},
        {"missing folder", true, missing, During::Nothing,
         {"read IDC_FILENAME", "wait cursor", "wait: Save: Saving the map to \u201c<" + missing + ">\u201d\u2026",
          "arrow cursor",
          "warning: The map could not be saved to \u201c<" + missing + ">\u201d: No such file or directory."},
         false},
        {"a folder", true, folder.string(), During::Nothing,
         {"read IDC_FILENAME", "wait cursor",
          "wait: Save: Saving the map to \u201c<" + folder.string() + ">\u201d\u2026", "arrow cursor",
          "warning: The map could not be saved to \u201c<" + folder.string() + ">\u201d: is not a regular file."},
         false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove(good);
        StartGated();
        if (c.mapBefore) {
            Generate(6, 5);
        }
        gate_.Close();
        ui_.during = c.during;
        ui_.fields[IDC_FILENAME] = c.name;
        ui_.log.clear();
        program_->SaveMap();
        EXPECT_EQ(ui_.log, c.log);
        EXPECT_EQ(fs::exists(good), c.written);
        if (c.written) {
            EXPECT_EQ(ReadFileBytes(good).size(), 54u + 20u * 5u);
        }
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(folder)) {
            names.push_back(entry.path().filename().string());
        }
        EXPECT_EQ(names.size(), c.written ? 1u : 0u);  // no temporary left
    }
    fs::remove_all(folder);
}

}  // namespace
