// A bounded stress test of the threaded renderer, meant to run under
// ThreadSanitizer: two renders at once, each of a random map on 1, 2, 3 or
// 7 threads, many of them stopped at a random moment. Every small map that
// completes is compared byte for byte with the per-pixel definition.
//
// Usage: velmora_thread_stress [seconds [seed]]. Prints the seed and the
// counts; fails on any mismatch or any status a render should not return.
#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <optional>
#include <random>
#include <thread>
#include <vector>

#include "image/map_image.h"
#include "image/render_map.h"
#include "noise/octave_noise.h"

using namespace velmora;

namespace {

constexpr unsigned DefaultSeconds = 60;
constexpr std::uint64_t DefaultSeed = 16;
constexpr int Drivers = 2;  // renders at once
constexpr std::array<unsigned, 4> ThreadCounts{1, 2, 3, 7};

struct Counts {
    std::atomic<std::uint64_t> renders{0};
    std::atomic<std::uint64_t> completed{0};
    std::atomic<std::uint64_t> stopped{0};
    std::atomic<std::uint64_t> compared{0};
    std::atomic<std::uint64_t> mismatches{0};
    std::atomic<std::uint64_t> unexpected{0};  // Stopped without a stop, NoMemory, or progress short of its total
};

struct Job {
    OctaveNoise noise;
    std::int32_t width = 1;
    std::int32_t height = 1;
    unsigned threads = 1;
    bool small = true;                       // compared with the definition if it completes
    std::optional<std::chrono::microseconds> stopAfter;  // when to stop it, if at all
};

// A random map: mostly small ones of every kind of layer (coarse and fine
// lattice cells, long octave runs, wrapping indices), some large ones that
// are there to be stopped.
Job RandomJob(std::mt19937_64& random) {
    const auto uniform = [&random](double low, double high) {
        return std::uniform_real_distribution<double>(low, high)(random);
    };
    const auto integer = [&random](int low, int high) { return std::uniform_int_distribution<int>(low, high)(random); };
    Job job;
    job.small = integer(0, 9) != 0;
    const int side = job.small ? 96 : 1024;
    job.width = integer(job.small ? 1 : 256, side);
    job.height = integer(job.small ? 1 : 256, side);
    job.threads = ThreadCounts[static_cast<std::size_t>(integer(0, ThreadCounts.size() - 1))];

    OctaveNoise& noise = job.noise;
    const int octaveKind = integer(0, 9);
    noise.octaves = octaveKind < 7 ? integer(-1, 8) : octaveKind < 9 ? integer(9, 40) : integer(41, 200);
    if (noise.octaves > 40) {
        job.width = std::min(job.width, 24);  // the definition takes every octave of every pixel
        job.height = std::min(job.height, 24);
    }
    constexpr std::array<float, 5> SpecialFrequencies{0.0f, -0.02f, 1.0f, 3e5f, 1e9f};
    noise.frequency = integer(0, 9) == 0 ? SpecialFrequencies[static_cast<std::size_t>(integer(0, 4))]
                                         : static_cast<float>(std::pow(10.0, uniform(-3.0, 1.0)));
    noise.amplitude = static_cast<float>(uniform(-2.0, 2.0));
    noise.persistence = static_cast<float>(uniform(0.0, 1.1));
    noise.varyFrequency = integer(0, 1);
    noise.varyAmplitude = integer(0, 1);

    if (!job.small || integer(0, 2) == 0) {
        job.stopAfter = std::chrono::microseconds(integer(0, job.small ? 2'000 : 30'000));
    }
    return job;
}

// Renders job, stopped by another thread at its moment, and checks the result.
void RunJob(const Job& job, Counts& counts) {
    MemorySurface surface;
    std::optional<MapImage> image = CreateMapImage(surface, job.width, job.height);
    if (!image) {
        ++counts.unexpected;
        return;
    }
    RenderControl control;
    control.threads = job.threads;
    std::mutex mutex;
    std::condition_variable ended;
    bool finished = false;
    std::optional<std::thread> stopper;
    if (job.stopAfter) {
        stopper.emplace([&] {
            std::unique_lock<std::mutex> lock(mutex);
            if (!ended.wait_for(lock, *job.stopAfter, [&] { return finished; })) {
                control.stop = true;
            }
        });
    }
    const RenderStatus status = RenderMap(job.noise, *image, control);
    {
        const std::lock_guard<std::mutex> lock(mutex);
        finished = true;
    }
    ended.notify_all();
    if (stopper) {
        stopper->join();
    }

    ++counts.renders;
    switch (status) {
        case RenderStatus::Complete:
            ++counts.completed;
            if (control.done.load() != control.total.load()) {
                ++counts.unexpected;
            }
            break;
        case RenderStatus::Stopped:
            ++counts.stopped;
            if (!control.stop.load()) {
                ++counts.unexpected;
            }
            return;
        case RenderStatus::NoMemory: ++counts.unexpected; return;
    }
    if (!job.small) {
        return;
    }
    std::optional<MapImage> expected = CreateMapImage(surface, job.width, job.height);
    if (!expected) {
        ++counts.unexpected;
        return;
    }
    RenderMapPerPixel(job.noise, *expected);
    ++counts.compared;
    const auto want = expected->Pixels();
    const auto got = image->Pixels();
    if (!std::equal(want.begin(), want.end(), got.begin(), got.end())) {
        if (counts.mismatches++ < 10) {
            const OctaveNoise& n = job.noise;
            std::printf("mismatch: %dx%d on %u threads, octaves %d frequency %.9g amplitude %.9g persistence %.9g "
                        "switches %d%d\n",
                        job.width, job.height, job.threads, n.octaves, double(n.frequency), double(n.amplitude),
                        double(n.persistence), n.varyFrequency, n.varyAmplitude);
        }
    }
}

}  // namespace

int main(int argc, char* argv[]) {
    const unsigned seconds = argc > 1 ? static_cast<unsigned>(std::strtoul(argv[1], nullptr, 10)) : DefaultSeconds;
    const std::uint64_t seed = argc > 2 ? std::strtoull(argv[2], nullptr, 10) : DefaultSeed;
    std::printf("thread stress: seed %llu, %u s, %d renders at once\n", static_cast<unsigned long long>(seed),
                seconds, Drivers);
    std::fflush(stdout);

    Counts counts;
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    std::vector<std::thread> drivers;
    for (int driver = 0; driver < Drivers; ++driver) {
        drivers.emplace_back([&, driver] {
            std::mt19937_64 random(seed * Drivers + static_cast<std::uint64_t>(driver));
            while (std::chrono::steady_clock::now() < end) {
                RunJob(RandomJob(random), counts);
            }
        });
    }
    for (std::thread& driver : drivers) {
        driver.join();
    }

    std::printf("renders %llu, completed %llu, stopped %llu, compared %llu, mismatches %llu, unexpected %llu\n",
                static_cast<unsigned long long>(counts.renders.load()),
                static_cast<unsigned long long>(counts.completed.load()),
                static_cast<unsigned long long>(counts.stopped.load()),
                static_cast<unsigned long long>(counts.compared.load()),
                static_cast<unsigned long long>(counts.mismatches.load()),
                static_cast<unsigned long long>(counts.unexpected.load()));
    return counts.mismatches.load() == 0 && counts.unexpected.load() == 0 ? 0 : 1;
}
