// Work that runs on a thread of its own while the windows stay alive: the
// render of a new map and the save of the current one.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "image/bitmap_file.h"
#include "image/map_image.h"
#include "image/render_control.h"
#include "image/render_map.h"
#include "noise/octave_noise.h"

namespace velmora {

// How long a job runs before its progress window opens, and how often the
// window's progress is brought up to date.
constexpr std::chrono::milliseconds ProgressDelay{400};
constexpr std::chrono::milliseconds ProgressRefresh{50};

class BackgroundJob {
public:
    BackgroundJob() = default;
    BackgroundJob(const BackgroundJob&) = delete;
    BackgroundJob& operator=(const BackgroundJob&) = delete;
    virtual ~BackgroundJob() = default;

    // The work itself, on the job's own thread.
    virtual void Run() = 0;
    // Asks the work to stop soon; from any thread, also before it runs.
    virtual void Stop() noexcept = 0;
    // Whether a stop was asked for.
    [[nodiscard]] virtual bool StopAsked() const noexcept = 0;
    // How far the work has come, 0 ... 1; from any thread.
    [[nodiscard]] virtual double Progress() const noexcept = 0;

    // Whether Run has returned; from any thread.
    [[nodiscard]] bool Finished() const noexcept { return finished_.load(std::memory_order_acquire); }
    void MarkFinished() noexcept { finished_.store(true, std::memory_order_release); }

private:
    std::atomic<bool> finished_{false};
};

// Renders image from a copy of the noise parameters.
class RenderJob final : public BackgroundJob {
public:
    RenderJob(const OctaveNoise& noise, MapImage& image) : noise_(noise), image_(image) {}

    void Run() override { status_ = RenderMap(noise_, image_, control_); }
    void Stop() noexcept override { control_.stop = true; }
    [[nodiscard]] bool StopAsked() const noexcept override { return control_.stop.load(); }
    [[nodiscard]] double Progress() const noexcept override;
    // What the render gave; read once Finished.
    [[nodiscard]] RenderStatus Status() const noexcept { return status_; }

private:
    const OctaveNoise noise_;
    MapImage& image_;
    RenderControl control_;
    RenderStatus status_ = RenderStatus::Stopped;
};

// Saves a map under a file name.
class SaveJob final : public BackgroundJob {
public:
    SaveJob(std::string fileName, std::shared_ptr<const Bitmap> bitmap, const MemorySurface& surface)
        : fileName_(std::move(fileName)), bitmap_(std::move(bitmap)), surface_(surface) {}

    void Run() override;
    void Stop() noexcept override { control_.stop = true; }
    [[nodiscard]] bool StopAsked() const noexcept override { return control_.stop.load(); }
    [[nodiscard]] double Progress() const noexcept override;
    // The save's error number, 0 on success; read once Finished.
    [[nodiscard]] int ErrorNumber() const noexcept { return errorNumber_; }

private:
    const std::string fileName_;
    const std::shared_ptr<const Bitmap> bitmap_;
    const MemorySurface& surface_;
    SaveControl control_;
    int errorNumber_ = EINVAL;
};

// What the program needs of the system to run a job; tests put failures in.
struct JobServices {
    // Starts work on a new thread held in thread; false, with nothing
    // started, when no thread can be had.
    std::function<bool(std::jthread& thread, std::function<void()> work)> startThread = StartThread;
    // Whether bytes more memory can still be had, beyond what is held.
    std::function<bool(std::size_t bytes)> roomFor = RoomFor;

    static bool StartThread(std::jthread& thread, std::function<void()> work) noexcept;
    static bool RoomFor(std::size_t bytes) noexcept;
};

}  // namespace velmora
