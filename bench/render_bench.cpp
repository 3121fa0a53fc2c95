// Rendering speed: the per-pixel definition against the fast renderer on the
// same maps. Each benchmark reports the time per pixel-octave; after the run the
// ratio of the two is printed for every map that both measured.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <limits>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "image/map_image.h"
#include "noise/octave_noise.h"

namespace {

using Renderer = void (*)(const OctaveNoise&, MapImage&);

void RenderBench(benchmark::State& state, Renderer render, OctaveNoise noise) {
    const auto side = static_cast<std::int32_t>(state.range(0));
    MemorySurface surface;
    std::optional<MapImage> image = CreateMapImage(surface, side, side);
    if (!image) {
        state.SkipWithError("no image");
        return;
    }
    for (auto _ : state) {
        render(noise, *image);
        benchmark::DoNotOptimize(image->Pixels().data());
        benchmark::ClobberMemory();
    }
    const double pixelOctaves = double(side) * side * noise.octaves;
    // Seconds per pixel-octave, printed with an SI prefix ("1.5n" is 1.5 ns).
    state.counters["per_pixel_octave"] = benchmark::Counter(
        pixelOctaves, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

OctaveNoise Defaults() { return OctaveNoise(); }

OctaveNoise BothSwitches() {
    OctaveNoise noise;
    noise.varyFrequency = 1;
    noise.varyAmplitude = 1;
    return noise;
}

OctaveNoise VaryFrequency8() {
    OctaveNoise noise;
    noise.varyFrequency = 1;
    noise.octaves = 8;
    return noise;
}

void BM_PerPixelDefault(benchmark::State& s) { RenderBench(s, RenderMapPerPixel, Defaults()); }
void BM_FastDefault(benchmark::State& s) { RenderBench(s, RenderMap, Defaults()); }
void BM_PerPixelBothSwitches(benchmark::State& s) { RenderBench(s, RenderMapPerPixel, BothSwitches()); }
void BM_FastBothSwitches(benchmark::State& s) { RenderBench(s, RenderMap, BothSwitches()); }
void BM_PerPixelVaryFrequency8(benchmark::State& s) { RenderBench(s, RenderMapPerPixel, VaryFrequency8()); }
void BM_FastVaryFrequency8(benchmark::State& s) { RenderBench(s, RenderMap, VaryFrequency8()); }

BENCHMARK(BM_PerPixelDefault)->Arg(512)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FastDefault)->Arg(512)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PerPixelBothSwitches)->Arg(512)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FastBothSwitches)->Arg(512)->Unit(benchmark::kMillisecond);
// The definition needs seconds per map at these sizes: one pass each.
BENCHMARK(BM_PerPixelVaryFrequency8)->Arg(2048)->Arg(4096)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FastVaryFrequency8)->Arg(2048)->Arg(4096)->Unit(benchmark::kMillisecond);

// Octaves 2147483647 at 512 x 512: settled sums stop and repeating
// contributions are jumped over, so each case finishes in well under a second
// (persistence 0.99 and 0.999 settle slowly and are reported only).
struct HugeCase {
    const char* name;
    float frequency;
    float amplitude;
    float persistence;
    int varyFrequency;
    int varyAmplitude;
};

constexpr HugeCase HugeCases[] = {
    {"SwitchesOff", 0.015f, 1.0f, 0.25f, 0, 0},
    {"VaryFrequency", 0.015f, 1.0f, 0.25f, 1, 0},
    {"VaryAmplitude", 0.015f, 1.0f, 0.25f, 0, 1},
    {"BothSwitches", 0.015f, 1.0f, 0.25f, 1, 1},
    {"Persistence1", 0.015f, 1.0f, 1.0f, 0, 1},
    {"PersistenceMinus1", 0.015f, 1.0f, -1.0f, 0, 1},
    {"Persistence0.5", 0.015f, 1.0f, 0.5f, 0, 1},
    {"Persistence2", 0.015f, 1.0f, 2.0f, 0, 1},
    {"Frequency0", 0.0f, 1.0f, 0.25f, 0, 0},
    {"Frequency1e30", 1e30f, 1.0f, 0.25f, 0, 0},
    {"FrequencyInf", std::numeric_limits<float>::infinity(), 1.0f, 0.25f, 0, 0},
    {"FrequencyNan", std::numeric_limits<float>::quiet_NaN(), 1.0f, 0.25f, 0, 0},
    {"Amplitude0", 0.015f, 0.0f, 0.25f, 0, 0},
    {"AmplitudeInf", 0.015f, std::numeric_limits<float>::infinity(), 0.25f, 0, 0},
    {"AmplitudeNan", 0.015f, std::numeric_limits<float>::quiet_NaN(), 0.25f, 0, 0},
    {"Persistence0.99", 0.015f, 1.0f, 0.99f, 0, 1},
    {"Persistence0.999", 0.015f, 1.0f, 0.999f, 0, 1},
};

void RegisterHugeOctaveBenchmarks() {
    for (const HugeCase& c : HugeCases) {
        OctaveNoise noise;
        noise.octaves = std::numeric_limits<std::int32_t>::max();
        noise.frequency = c.frequency;
        noise.amplitude = c.amplitude;
        noise.persistence = c.persistence;
        noise.varyFrequency = c.varyFrequency;
        noise.varyAmplitude = c.varyAmplitude;
        benchmark::RegisterBenchmark((std::string("BM_MostOctaves") + c.name).c_str(),
                                     [noise](benchmark::State& state) { RenderBench(state, RenderMap, noise); })
            ->Arg(512)
            ->Unit(benchmark::kMillisecond);
    }
}

// Prints the usual table and remembers each run's real time per iteration,
// so that main can pair "BM_PerPixel<Map>/<size>" with "BM_Fast<Map>/<size>".
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.run_type == Run::RT_Iteration && !run.error_occurred) {
                std::string name = run.benchmark_name();
                name = name.substr(0, name.find("/iterations:"));
                times_[name] = run.GetAdjustedRealTime();
            }
        }
    }

    void PrintRatios() const {
        for (const auto& [name, perPixel] : times_) {
            const std::string prefix = "BM_PerPixel";
            if (name.rfind(prefix, 0) != 0) {
                continue;
            }
            const auto fast = times_.find("BM_Fast" + name.substr(prefix.size()));
            if (fast != times_.end() && fast->second > 0) {
                std::printf("ratio %s: per-pixel / fast = %.1f\n", name.substr(prefix.size()).c_str(),
                            perPixel / fast->second);
            }
        }
    }

private:
    std::map<std::string, double> times_;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    RegisterHugeOctaveBenchmarks();
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.PrintRatios();
    benchmark::Shutdown();
    return 0;
}
