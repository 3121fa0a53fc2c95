// The file layer under SaveBitmapFile: how a file's bytes reach the disk
// without a partial file ever standing under the target's name. One
// implementation per system, chosen when the core is built:
// save_file_posix.cpp and save_file_win32.cpp. The format's side (what the
// bytes are) stays in bitmap_file.cpp.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string_view>

#include "image/bitmap_file.h"

namespace velmora::save_file {

// Produces a file's bytes through sink, in order; false when the sink
// refused bytes or memory ran out.
using Content = std::function<bool(const ByteSink& sink)>;

// Writes content to a temporary beside fileName's target and puts it in the
// target's place, as SaveBitmapFile describes. control (may be null) is
// watched for a stop, and its written count advanced; its total is the
// caller's. Returns 0, or the error number SaveBitmapFile gives.
[[nodiscard]] int SaveFile(std::string_view fileName, const Content& content, SaveControl* control);

// What both layers do with a SaveControl.
class Progress {
public:
    explicit Progress(SaveControl* control) noexcept : control_(control) {}
    [[nodiscard]] bool StopAsked() const noexcept {
        return control_ != nullptr && control_->stop.load(std::memory_order_relaxed);
    }
    void Wrote(std::uint64_t bytes) noexcept {
        if (control_ != nullptr) {
            control_->written.fetch_add(bytes, std::memory_order_relaxed);
        }
    }

private:
    SaveControl* control_;
};

// The points at which a test may hold a save: after each piece written,
// after the flush, and once the temporary has a name it did not have from
// the start (an unnamed temporary that was just linked).
enum class Stage { Chunk, Flushed, Named };

// For tests only; in the program both stay as they start.
struct TestHooks {
    std::atomic<void (*)(Stage)> pause{nullptr};  // called at each stage
    std::atomic<bool> namedTemporary{false};      // use a named temporary even where an unnamed one could be had
};
[[nodiscard]] TestHooks& Hooks() noexcept;

inline void Pause(Stage stage) {
    if (void (*pause)(Stage) = Hooks().pause.load(std::memory_order_relaxed); pause != nullptr) {
        pause(stage);
    }
}

}  // namespace velmora::save_file
