// What a caller on another thread needs to watch a render and stop it.
#pragma once

#include <atomic>
#include <cstdint>

namespace velmora {

// Shared between a render and the thread that started it. The render only
// reads threads and stop and only writes done and total; every field may be
// read or set from any thread while the render runs.
struct RenderControl {
    // Threads that render. 0 means one per hardware thread, or one for a map
    // too small to be worth sharing out; tests and benchmarks may set a
    // count, which is used as far as the map has rows for it. Bytes do not
    // depend on it.
    unsigned threads = 0;
    // Set to true to stop the render early; it is checked every few
    // milliseconds, whatever the parameters. On a cache line of its own, so
    // that the threads' frequent looks at it stay cheap.
    alignas(64) std::atomic<bool> stop{false};
    // Progress in pixel-layers: done out of total. total is set before the
    // first unit is done and does not change afterwards; done only grows, a
    // few times a millisecond at most, and equals total when the render
    // completes.
    alignas(64) std::atomic<std::uint64_t> done{0};
    std::atomic<std::uint64_t> total{0};
};

enum class RenderStatus {
    Complete,  // every pixel holds its gray level
    Stopped,   // stop was set: the pixels are partly rendered and of no use
    NoMemory,  // the working memory could not be had: nothing was rendered
};

}  // namespace velmora
