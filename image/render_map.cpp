// RenderMap: plans the render, shares its work units out to the threads and
// gives each thread its working memory; and the per-pixel definition.
#include "image/render_map.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <mutex>
#include <vector>

#include "image/layer_kernels.h"
#include "image/map_image.h"
#include "image/octave_layers.h"
#include "image/page_memory.h"
#include "image/render_plan.h"
#include "image/tile_renderer.h"
#include "image/worker_pool.h"
#include "noise/octave_noise.h"

namespace velmora {

namespace {

void PutGray(std::uint8_t* pixel, std::uint8_t gray) noexcept {
    pixel[0] = gray;
    pixel[1] = gray;
    pixel[2] = gray;
}

// Working memory, kept from one render to the next: a first touch of fresh
// memory costs far more than a short render.
class WorkspaceCache {
public:
    // A block of WorkspaceBytes; null when the memory cannot be had.
    PageMemory Take() noexcept {
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            if (!free_.empty()) {
                PageMemory memory = std::move(free_.back());
                free_.pop_back();
                return memory;
            }
        }
        return AllocatePages(WorkspaceBytes);
    }

    void Give(PageMemory memory) noexcept {
        const std::lock_guard<std::mutex> lock(mutex_);
        if (free_.size() < Kept) {
            try {
                free_.push_back(std::move(memory));
            } catch (...) {
                // No room to keep it: it is freed here.
            }
        }
    }

private:
    static constexpr std::size_t Kept = 64;
    std::mutex mutex_;
    std::vector<PageMemory> free_;
};

WorkspaceCache& Workspaces() {
    static WorkspaceCache cache;
    return cache;
}

bool StopRequested(const RenderControl* control) noexcept {
    return control != nullptr && control->stop.load(std::memory_order_relaxed);
}

// Whether some octave's amplitude is infinite or NaN. From that octave on
// every pixel's sum is infinite or NaN (a finite sum plus an infinite or NaN
// contribution is not finite, and nothing makes it finite again), so every
// gray level is 0, whatever the pixel. Amplitudes whose magnitude stops
// growing never overflow, so the walk ends at the first that does not grow:
// at once for shrinking or constant ones, at the overflow or a fixed point
// for growing ones. False also when asked to stop.
bool SomeAmplitudeIsNotFinite(const OctaveNoise& noise, const RenderControl* control) noexcept {
    constexpr std::int32_t OctavesBetweenChecks = 1 << 20;
    float amplitude = noise.amplitude;
    float magnitude = -1.0f;
    for (std::int32_t octave = 0; octave < noise.octaves; ++octave) {
        amplitude = NextAmplitude(noise, amplitude);
        if (!std::isfinite(amplitude)) {
            return true;
        }
        if (!(std::fabs(amplitude) > magnitude)) {
            return false;
        }
        magnitude = std::fabs(amplitude);
        if (octave % OctavesBetweenChecks == OctavesBetweenChecks - 1 && StopRequested(control)) {
            return false;
        }
    }
    return false;
}

// Gray level 0 over a block of the map, as every pixel of a map whose
// amplitudes overflow has it.
void PutBlack(const PixelBlock& block, MapImage& image) noexcept {
    for (std::int32_t y = block.y0; y < block.y0 + block.height; ++y) {
        std::uint8_t* row = image.Pixels().data() + static_cast<std::size_t>(y) * image.Stride();
        std::memset(row + 3 * static_cast<std::size_t>(block.x0), 0, 3 * static_cast<std::size_t>(block.width));
    }
}

RenderStatus Render(const OctaveNoise& noise, const LayerKernels& kernels, MapImage& image, RenderControl* control,
                    unsigned threads) {
    const std::int32_t width = image.Width();
    const std::int32_t height = image.Height();
    const std::int32_t layers = LayerCount(noise);
    const RenderPlan plan = PlanRender(width, height, std::max(layers, 1), std::max(noise.octaves, 1), threads);
    const std::uint64_t total = std::uint64_t(width) * std::uint64_t(height) * std::uint64_t(std::max(layers, 1));
    if (control != nullptr) {
        control->done.store(0, std::memory_order_relaxed);
        control->total.store(total, std::memory_order_relaxed);
    }

    // The calling thread's working memory first: without it nothing starts.
    PageMemory callerMemory = Workspaces().Take();
    if (!callerMemory) {
        return RenderStatus::NoMemory;
    }
    const bool black = SomeAmplitudeIsNotFinite(noise, control);
    std::atomic<std::int64_t> nextUnit{0};
    std::atomic<bool> stopped{false};
    const auto renderUnits = [&](unsigned slot) {
        // A thread without working memory leaves the units to the others.
        PageMemory memory = slot == 0 ? std::move(callerMemory) : Workspaces().Take();
        if (!memory) {
            return;
        }
        for (;;) {
            const std::int64_t unit = nextUnit.fetch_add(1, std::memory_order_relaxed);
            if (unit >= plan.Units() || stopped.load(std::memory_order_relaxed)) {
                break;
            }
            const PixelBlock block = plan.Unit(unit, width, height);
            if (black) {
                PutBlack(block, image);
                if (control != nullptr) {
                    control->done.fetch_add(std::uint64_t(block.width) * std::uint64_t(block.height) *
                                                std::uint64_t(std::max(layers, 1)),
                                            std::memory_order_relaxed);
                }
                if (StopRequested(control)) {
                    stopped.store(true, std::memory_order_relaxed);
                }
            } else if (!RenderUnit(noise, kernels, plan.tiles, memory.get(), block, image, control)) {
                stopped.store(true, std::memory_order_relaxed);
            }
        }
        Workspaces().Give(std::move(memory));
    };
    RunOnThreads(plan.threads, renderUnits);

    if (stopped.load() || StopRequested(control)) {
        return RenderStatus::Stopped;
    }
    if (control != nullptr) {
        control->done.store(total, std::memory_order_relaxed);
    }
    return RenderStatus::Complete;
}

}  // namespace

void RenderMap(const OctaveNoise& noise, MapImage& image) {
    if (Render(noise, Kernels(), image, nullptr, 0) == RenderStatus::NoMemory) {
        RenderMapPerPixel(noise, image);
    }
}

RenderStatus RenderMap(const OctaveNoise& noise, MapImage& image, RenderControl& control) {
    return Render(noise, Kernels(), image, &control, control.threads);
}

RenderStatus RenderMap(const OctaveNoise& noise, MapImage& image, RenderControl& control,
                       const LayerKernels& kernels) {
    return Render(noise, kernels, image, &control, control.threads);
}

void RenderMapPerPixel(const OctaveNoise& noise, MapImage& image) {
    const std::int32_t width = image.Width();
    const std::int32_t height = image.Height();
    const std::size_t stride = image.Stride();
    std::uint8_t* pixels = image.Pixels().data();
    for (std::int32_t x = 0; x < width; ++x) {
        for (std::int32_t y = 0; y < height; ++y) {
            const float sample = noise.Sample(static_cast<float>(x), static_cast<float>(y));
            PutGray(pixels + static_cast<std::size_t>(y) * stride + 3 * static_cast<std::size_t>(x),
                    GrayLevel(sample));
        }
    }
}

}  // namespace velmora
