// RenderMap: plans the render, shares its work units out to the threads and
// gives each thread its working memory.
#include <atomic>
#include <mutex>
#include <vector>

#include "image/map_image.h"
#include "image/octave_layers.h"
#include "image/page_memory.h"
#include "image/render_plan.h"
#include "image/tile_renderer.h"
#include "image/worker_pool.h"
#include "noise/octave_noise.h"

namespace {

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

// The per-pixel definition over one block, for when no working memory can be
// had at all.
bool RenderBlockPerPixel(const OctaveNoise& noise, const PixelBlock& block, MapImage& image,
                         RenderControl* control) {
    const std::size_t stride = image.Stride();
    std::uint8_t* pixels = image.Pixels().data();
    for (std::int32_t y = block.y0; y < block.y0 + block.height; ++y) {
        if (control != nullptr && control->stop.load(std::memory_order_relaxed)) {
            return false;
        }
        for (std::int32_t x = block.x0; x < block.x0 + block.width; ++x) {
            const std::uint8_t gray = GrayLevel(noise.Sample(static_cast<float>(x), static_cast<float>(y)));
            std::uint8_t* pixel = pixels + static_cast<std::size_t>(y) * stride + 3 * static_cast<std::size_t>(x);
            pixel[0] = gray;
            pixel[1] = gray;
            pixel[2] = gray;
        }
    }
    return true;
}

RenderStatus Render(const OctaveNoise& noise, MapImage& image, RenderControl* control, unsigned threads) {
    const std::int32_t width = image.Width();
    const std::int32_t height = image.Height();
    const std::int32_t layers = LayerCount(noise);
    const RenderPlan plan = PlanRender(width, height, std::max(layers, 1), threads);
    const std::uint64_t total = std::uint64_t(width) * std::uint64_t(height) * std::uint64_t(std::max(layers, 1));
    if (control != nullptr) {
        control->done.store(0, std::memory_order_relaxed);
        control->total.store(total, std::memory_order_relaxed);
    }

    std::atomic<std::int64_t> nextUnit{0};
    std::atomic<bool> stopped{false};
    const auto renderUnits = [&](unsigned slot) {
        PageMemory memory = Workspaces().Take();
        // A thread without working memory leaves the units to the others;
        // the calling thread, if it has none either, falls back to the
        // definition so that the map is still made.
        if (!memory && slot != 0) {
            return;
        }
        for (;;) {
            const std::int64_t unit = nextUnit.fetch_add(1, std::memory_order_relaxed);
            if (unit >= plan.Units() || stopped.load(std::memory_order_relaxed)) {
                break;
            }
            const PixelBlock block = plan.Unit(unit, width, height);
            const bool done = memory ? RenderUnit(noise, plan.tiles, memory.get(), block, image, control)
                                     : RenderBlockPerPixel(noise, block, image, control);
            if (!done) {
                stopped.store(true, std::memory_order_relaxed);
            }
        }
        if (memory) {
            Workspaces().Give(std::move(memory));
        }
    };
    RunOnThreads(plan.threads, renderUnits);

    if (stopped.load() || (control != nullptr && control->stop.load(std::memory_order_relaxed))) {
        return RenderStatus::Stopped;
    }
    if (control != nullptr) {
        control->done.store(total, std::memory_order_relaxed);
    }
    return RenderStatus::Complete;
}

}  // namespace

void RenderMap(const OctaveNoise& noise, MapImage& image) {
    (void)Render(noise, image, nullptr, 0);
}

RenderStatus RenderMap(const OctaveNoise& noise, MapImage& image, RenderControl& control) {
    return Render(noise, image, &control, control.threads);
}
