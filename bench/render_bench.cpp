// Rendering speed: the per-pixel definition against the fast renderer on the
// same maps. Each benchmark reports the time per pixel-octave; after the run the
// ratio of the two is printed for every map that both measured.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
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
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.PrintRatios();
    benchmark::Shutdown();
    return 0;
}
