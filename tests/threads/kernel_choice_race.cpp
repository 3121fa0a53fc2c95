// A kernel level chosen with UseKernelLevel stays chosen when the first
// render of the process picks its kernels at the same moment. The kernels are
// picked once per process, so the race needs fresh processes: run without
// arguments, this program runs itself again for each round and fails if any
// round lost the choice.
#include <spawn.h>
#include <sys/wait.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <optional>
#include <thread>

#include "image/layer_kernels.h"
#include "image/map_image.h"
#include "image/render_map.h"
#include "noise/octave_noise.h"

using namespace velmora;

extern char** environ;

namespace {

constexpr int Rounds = 20;
constexpr int Lost = 3;            // a round's exit code when the choice was overwritten
constexpr int NothingToRace = 77;  // only one level runs here: ctest counts it as skipped

// Allocations on the thread that makes the explicit choice sleep this long
// first. The kernel levels are detected on first use, into a vector, so the
// choice is held in the middle of that detection until the first render has
// reached its own first use of the kernels. A sleep, not a busy wait: a
// thread that had spun that long would lose the processor to the render the
// moment it woke, and which of the two picks last would be left to chance.
constexpr std::chrono::milliseconds SlowAllocation{20};
thread_local bool slowAllocations = false;

void* Allocate(std::size_t size) noexcept {
    if (slowAllocations) {
        std::this_thread::sleep_for(SlowAllocation);
    }
    return std::malloc(size == 0 ? 1 : size);
}

// One round, in a fresh process: the explicit choice of the baseline and the
// first render start together. In whichever order they pick their kernels,
// the baseline must be in use afterwards.
int Round() {
    MemorySurface surface;
    std::optional<MapImage> image = CreateMapImage(surface, 5, 3);
    if (!image) {
        return 2;
    }
    std::atomic<bool> choosing{false};
    std::thread choose([&] {
        slowAllocations = true;
        choosing.store(true);
        UseKernelLevel(KernelLevel::Baseline);
    });
    while (!choosing.load()) {
    }
    RenderMap(OctaveNoise(), *image);
    choose.join();
    const LayerKernels* inUse = &Kernels();
    UseKernelLevel(KernelLevel::Baseline);
    return &Kernels() == inUse ? 0 : Lost;
}

// Runs this program with an argument, which makes it play one round; the
// round's exit code, or -1.
int RunRound() {
    char self[] = "/proc/self/exe";
    char round[] = "round";
    char* arguments[] = {self, round, nullptr};
    pid_t child = 0;
    if (posix_spawn(&child, self, nullptr, nullptr, arguments, environ) != 0) {
        return -1;
    }
    int status = 0;
    if (waitpid(child, &status, 0) != child || !WIFEXITED(status)) {
        return -1;
    }
    return WEXITSTATUS(status);
}

}  // namespace

// Every replaceable form but the aligned ones, which keep their own pairs,
// so that sanitizers see every allocation freed the way it was made.
void* operator new(std::size_t size) {
    if (void* memory = Allocate(size)) {
        return memory;
    }
    throw std::bad_alloc();
}

void* operator new[](std::size_t size) {
    return operator new(size);
}

void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return Allocate(size);
}

void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    return Allocate(size);
}

void operator delete(void* memory) noexcept {
    std::free(memory);
}

void operator delete[](void* memory) noexcept {
    std::free(memory);
}

void operator delete(void* memory, std::size_t) noexcept {
    std::free(memory);
}

void operator delete[](void* memory, std::size_t) noexcept {
    std::free(memory);
}

void operator delete(void* memory, const std::nothrow_t&) noexcept {
    std::free(memory);
}

void operator delete[](void* memory, const std::nothrow_t&) noexcept {
    std::free(memory);
}

int main(int argc, char*[]) {
    if (argc > 1) {
        return Round();
    }
    if (SupportedKernelLevels().size() < 2) {
        std::printf("only the baseline kernels run here: no choice to lose\n");
        return NothingToRace;
    }
    int lost = 0;
    for (int round = 0; round < Rounds; ++round) {
        const int result = RunRound();
        if (result != 0 && result != Lost) {
            std::printf("round %d failed to run (exit code %d)\n", round, result);
            return 1;
        }
        lost += result == Lost;
    }
    std::printf("%d of %d rounds lost the explicit kernel choice\n", lost, Rounds);
    return lost == 0 ? 0 : 1;
}
