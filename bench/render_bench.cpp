// Rendering speed. Each benchmark reports the time per pixel-octave
// ("per_pixel_octave"). Maps whose image memory was touched before the timed
// loop are "warm"; "Generate" benchmarks time a fresh image and its render, as
// the Generate command makes them, so they include the first touch of the
// image's pages ("cold"). After the run the per-pixel definition's time is
// compared with the renderer's for every map that both measured.
//
// Benchmarks of one kernel level hand its kernels to the render; the others
// use the processor's best, as the program does.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "image/layer_kernels.h"
#include "image/map_image.h"
#include "image/render_map.h"
#include "noise/octave_noise.h"
#include "tests/support/test_support.h"

using namespace velmora;

namespace {

constexpr std::int32_t MostOctaves = std::numeric_limits<std::int32_t>::max();

struct Parameters {
    const char* name;
    NoiseParameters noise;

    [[nodiscard]] OctaveNoise Noise() const { return noise.Noise(); }
};

void CountPixelOctaves(benchmark::State& state, std::int64_t side, const OctaveNoise& noise) {
    const double pixelOctaves = double(side) * double(side) * std::max(noise.octaves, 1);
    // Seconds per pixel-octave, printed with an SI prefix ("1.5n" is 1.5 ns).
    state.counters["per_pixel_octave"] = benchmark::Counter(
        pixelOctaves, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

// Renders the same (warm) image again and again: by the per-pixel definition,
// or with a render control on the given threads (0: all) and kernels (null:
// the processor's best), or without one (all threads, no stop checks or
// progress).
void RenderWarm(benchmark::State& state, const OctaveNoise& noise, unsigned threads, bool perPixel = false,
                bool withControl = true, const LayerKernels* kernels = nullptr) {
    const auto side = static_cast<std::int32_t>(state.range(0));
    MemorySurface surface;
    std::optional<MapImage> image = CreateMapImage(surface, side, side);
    if (!image) {
        state.SkipWithError("no image");
        return;
    }
    RenderMap(noise, *image);  // touches every page
    for (auto _ : state) {
        if (perPixel) {
            RenderMapPerPixel(noise, *image);
        } else if (withControl) {
            RenderControl control;
            control.threads = threads;
            benchmark::DoNotOptimize(kernels != nullptr ? RenderMap(noise, *image, control, *kernels)
                                                        : RenderMap(noise, *image, control));
        } else {
            RenderMap(noise, *image);
        }
        benchmark::ClobberMemory();
    }
    CountPixelOctaves(state, side, noise);
}

// A fresh image and its render on every hardware thread, as Generate makes it.
void Generate(benchmark::State& state, const OctaveNoise& noise) {
    const auto side = static_cast<std::int32_t>(state.range(0));
    for (auto _ : state) {
        MemorySurface surface;
        std::optional<MapImage> image = CreateMapImage(surface, side, side);
        if (!image) {
            state.SkipWithError("no image");
            return;
        }
        RenderMap(noise, *image);
        benchmark::DoNotOptimize(image->Pixels().data());
        benchmark::ClobberMemory();
    }
    CountPixelOctaves(state, side, noise);
}

// One octave at 2048 x 2048 on one and on two threads, from lattice cells of
// 67 pixels (0.015) to cells far smaller than a pixel; per kernel level. At
// whole-number frequencies every blend's fraction is 0; at the others (the
// ones people type, such as 1.3, 4.7, 16.3 and 37.7) cells blend. Then the
// octaves of a map with Vary Frequency from 0.015: 0.015 x 2^k, never whole.
void RegisterLayerBenchmarks() {
    const auto add = [](const std::string& name, float frequency, KernelLevel level, unsigned threads) {
        const OctaveNoise noise = NoiseParameters{.octaves = 1, .frequency = frequency}.Noise();
        benchmark::RegisterBenchmark(name.c_str(), [noise, level, threads](benchmark::State& state) {
            RenderWarm(state, noise, threads, false, true, &KernelsFor(level));
        })->Arg(2048)->Unit(benchmark::kMillisecond);
    };
    for (const KernelLevel level : SupportedKernelLevels()) {
        for (const unsigned threads : {1u, 2u}) {
            const std::string prefix = KernelLevelName(level) + "/threads:" + std::to_string(threads);
            for (const float frequency : {0.015f, 1.0f, 1.3f, 4.0f, 4.3f, 4.7f, 16.0f, 16.3f, 37.7f, 100.0f, 100.3f,
                                          1000.0f, 1000.3f, 100000.0f, 100000.5f}) {
                char value[32];
                std::snprintf(value, sizeof value, "%.7g", frequency);
                add("BM_OneOctave/" + prefix + "/frequency:" + value, frequency, level, threads);
            }
            float frequency = 0.015f;
            for (int k = 0; k <= 15; ++k) {
                frequency = static_cast<float>(static_cast<double>(frequency) + frequency);
                add("BM_VaryFrequencyOctave/" + prefix + "/k:" + std::to_string(k + 1), frequency, level, threads);
            }
        }
    }
}

// The gray-level writer alone, per kernel level, on a row of sums of a
// default map's range, against a plain loop over GrayLevel.
void RegisterGrayLevelBenchmarks() {
    constexpr std::int32_t Width = 2048;
    static const std::vector<float> sums = [] {
        std::vector<float> values(Width);
        std::mt19937 random(5);
        std::uniform_real_distribution<float> sample(-1.7f, 1.7f);
        std::generate(values.begin(), values.end(), [&] { return sample(random); });
        return values;
    }();
    const auto perPixel = [](benchmark::State& state) {
        state.counters["per_pixel"] = benchmark::Counter(
            Width, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
    };
    for (const KernelLevel level : SupportedKernelLevels()) {
        benchmark::RegisterBenchmark(("BM_GrayLevels/" + KernelLevelName(level)).c_str(),
                                     [level, perPixel](benchmark::State& state) {
                                         std::vector<std::uint8_t> out(3 * Width);
                                         for (auto _ : state) {
                                             benchmark::DoNotOptimize(
                                                 KernelsFor(level).writeSmallGrayLevels(sums.data(), out.data(), Width));
                                             benchmark::ClobberMemory();
                                         }
                                         perPixel(state);
                                     })->Arg(Width);
    }
    benchmark::RegisterBenchmark("BM_GrayLevels/scalar-loop", [perPixel](benchmark::State& state) {
        std::vector<std::uint8_t> out(3 * Width);
        for (auto _ : state) {
            for (std::int32_t x = 0; x < Width; ++x) {
                const std::uint8_t gray = GrayLevel(sums[static_cast<std::size_t>(x)]);
                out[3 * static_cast<std::size_t>(x)] = gray;
                out[3 * static_cast<std::size_t>(x) + 1] = gray;
                out[3 * static_cast<std::size_t>(x) + 2] = gray;
            }
            benchmark::ClobberMemory();
        }
        perPixel(state);
    })->Arg(Width);
}

const Parameters Defaults{"Defaults", {}};
const Parameters BothSwitches{"BothSwitches", {.varyFrequency = 1, .varyAmplitude = 1}};
const Parameters VaryFrequency8{"VaryFrequency8", {.octaves = 8, .varyFrequency = 1}};
const Parameters Sixteen{"SixteenOctavesBothSwitches",
                         {.octaves = 16, .persistence = 0.5f, .varyFrequency = 1, .varyAmplitude = 1}};

void RegisterMapBenchmarks() {
    struct Map {
        const Parameters* parameters;
        std::int64_t side;
    };
    // The per-pixel definition and the renderer on one thread, warm.
    for (const Map map : {Map{&Defaults, 512}, Map{&BothSwitches, 512}, Map{&VaryFrequency8, 2048}}) {
        const OctaveNoise noise = map.parameters->Noise();
        const std::string suffix = std::string(map.parameters->name);
        auto* perPixel = benchmark::RegisterBenchmark(("BM_PerPixel" + suffix).c_str(), [noise](benchmark::State& state) {
            RenderWarm(state, noise, 1, true);
        })->Arg(map.side)->Unit(benchmark::kMillisecond);
        if (map.side > 512) {
            perPixel->Iterations(1);  // seconds per map
        }
        benchmark::RegisterBenchmark(("BM_OneThread" + suffix).c_str(), [noise](benchmark::State& state) {
            RenderWarm(state, noise, 1);
        })->Arg(map.side)->Unit(benchmark::kMillisecond);
    }
    // The default map on two threads, warm.
    benchmark::RegisterBenchmark("BM_TwoThreadsDefaults", [defaultsTwo = Defaults.Noise()](benchmark::State& state) {
        RenderWarm(state, defaultsTwo, 2);
    })->Arg(512)->Unit(benchmark::kMillisecond);
    // The default map on every hardware thread, with and without a render
    // control (its stop checks and progress counter).
    const OctaveNoise defaults = Defaults.Noise();
    benchmark::RegisterBenchmark("BM_AllThreadsDefaults/control", [defaults](benchmark::State& state) {
        RenderWarm(state, defaults, 0, false, true);
    })->Arg(512)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("BM_AllThreadsDefaults/plain", [defaults](benchmark::State& state) {
        RenderWarm(state, defaults, 0, false, false);
    })->Arg(512)->Unit(benchmark::kMillisecond);
    // Speed-up from one thread to two on a warm 4096 x 4096 map.
    const OctaveNoise varyFrequency8 = VaryFrequency8.Noise();
    for (const unsigned threads : {1u, 2u}) {
        benchmark::RegisterBenchmark(("BM_ThreadsVaryFrequency8/threads:" + std::to_string(threads)).c_str(),
                                     [varyFrequency8, threads](benchmark::State& state) {
                                         RenderWarm(state, varyFrequency8, threads);
                                     })
            ->Arg(4096)->Unit(benchmark::kMillisecond);
    }
    // The 16-octave map warm, on every hardware thread.
    benchmark::RegisterBenchmark("BM_WarmSixteenOctavesBothSwitches", [sixteen = Sixteen.Noise()](benchmark::State& state) {
        RenderWarm(state, sixteen, 0);
    })->Arg(8192)->Iterations(1)->Unit(benchmark::kMillisecond);
    // As Generate makes them: fresh image and render, every hardware thread.
    for (const Map map : {Map{&Sixteen, 8192}, Map{&Defaults, 20000}, Map{&VaryFrequency8, 4096}}) {
        const OctaveNoise noise = map.parameters->Noise();
        auto* generate = benchmark::RegisterBenchmark((std::string("BM_Generate") + map.parameters->name).c_str(),
                                                      [noise](benchmark::State& state) { Generate(state, noise); })
                             ->Arg(map.side)->Unit(benchmark::kMillisecond);
        if (map.side > 4096) {
            generate->Iterations(1);  // seconds per map
        }
    }
}

// Octaves 2147483647: settled sums stop and repeating contributions are
// jumped over. 512 x 512 warm on every thread, and two cases at 4096 x 4096
// as Generate makes them (persistence 0.99 and 0.999 settle slowly and are
// reported only).
void RegisterHugeOctaveBenchmarks() {
    constexpr float Inf = std::numeric_limits<float>::infinity();
    constexpr float NaN = std::numeric_limits<float>::quiet_NaN();
    const Parameters cases[] = {
        {"SwitchesOff", {.octaves = MostOctaves}},
        {"VaryFrequency", {.octaves = MostOctaves, .varyFrequency = 1}},
        {"VaryAmplitude", {.octaves = MostOctaves, .varyAmplitude = 1}},
        {"BothSwitches", {.octaves = MostOctaves, .varyFrequency = 1, .varyAmplitude = 1}},
        {"Persistence1", {.octaves = MostOctaves, .persistence = 1.0f, .varyAmplitude = 1}},
        {"PersistenceMinus1", {.octaves = MostOctaves, .persistence = -1.0f, .varyAmplitude = 1}},
        {"Persistence0.5", {.octaves = MostOctaves, .persistence = 0.5f, .varyAmplitude = 1}},
        {"Persistence2", {.octaves = MostOctaves, .persistence = 2.0f, .varyAmplitude = 1}},
        {"Frequency0", {.octaves = MostOctaves, .frequency = 0.0f}},
        {"Frequency1e30", {.octaves = MostOctaves, .frequency = 1e30f}},
        {"FrequencyInf", {.octaves = MostOctaves, .frequency = Inf}},
        {"FrequencyNan", {.octaves = MostOctaves, .frequency = NaN}},
        {"Amplitude0", {.octaves = MostOctaves, .amplitude = 0.0f}},
        {"AmplitudeInf", {.octaves = MostOctaves, .amplitude = Inf}},
        {"AmplitudeNan", {.octaves = MostOctaves, .amplitude = NaN}},
        {"Persistence0.99", {.octaves = MostOctaves, .persistence = 0.99f, .varyAmplitude = 1}},
        {"Persistence0.999", {.octaves = MostOctaves, .persistence = 0.999f, .varyAmplitude = 1}},
    };
    for (const Parameters& c : cases) {
        const OctaveNoise noise = c.Noise();
        benchmark::RegisterBenchmark((std::string("BM_MostOctaves") + c.name).c_str(),
                                     [noise](benchmark::State& state) { RenderWarm(state, noise, 0); })
            ->Arg(512)->Unit(benchmark::kMillisecond);
    }
    // Persistence near +-1 at 1024 x 1024: slow settling (0.99999, -0.99999)
    // and an amplitude that overflows after about 8.9 million octaves.
    const Parameters nearOne[] = {
        {"Persistence0.99999", {.octaves = MostOctaves, .persistence = 0.99999f, .varyAmplitude = 1}},
        {"PersistenceMinus0.99999", {.octaves = MostOctaves, .persistence = -0.99999f, .varyAmplitude = 1}},
        {"Persistence1.00001", {.octaves = MostOctaves, .persistence = 1.00001f, .varyAmplitude = 1}},
    };
    for (const Parameters& c : nearOne) {
        const OctaveNoise noise = c.Noise();
        benchmark::RegisterBenchmark((std::string("BM_MostOctaves") + c.name).c_str(),
                                     [noise](benchmark::State& state) { RenderWarm(state, noise, 0); })
            ->Arg(1024)->Iterations(1)->Unit(benchmark::kMillisecond);
    }
    for (const Parameters& c : {cases[0], cases[1]}) {
        const OctaveNoise noise = c.Noise();
        benchmark::RegisterBenchmark((std::string("BM_GenerateMostOctaves") + c.name).c_str(),
                                     [noise](benchmark::State& state) { Generate(state, noise); })
            ->Arg(4096)->Iterations(1)->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark((std::string("BM_WarmMostOctaves") + c.name).c_str(),
                                     [noise](benchmark::State& state) { RenderWarm(state, noise, 0); })
            ->Arg(4096)->Iterations(1)->Unit(benchmark::kMillisecond);
    }
}

// Whether a run ended without a time: Google Benchmark 1.8 replaced the
// run's error_occurred with skipped, and both versions are in use.
template <typename Run>
bool RunFailed(const Run& run) {
    if constexpr (requires { run.skipped; }) {
        return static_cast<bool>(run.skipped);
    } else {
        return run.error_occurred;
    }
}

// Prints the usual table and remembers each run's real time per iteration,
// so that main can pair "BM_PerPixel<Map>/<size>" with "BM_OneThread<Map>/<size>".
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.run_type == Run::RT_Iteration && !RunFailed(run)) {
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
            const auto fast = times_.find("BM_OneThread" + name.substr(prefix.size()));
            if (fast != times_.end() && fast->second > 0) {
                std::printf("ratio %s: per-pixel / renderer on one thread = %.1f\n",
                            name.substr(prefix.size()).c_str(), perPixel / fast->second);
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
    RegisterLayerBenchmarks();
    RegisterGrayLevelBenchmarks();
    RegisterMapBenchmarks();
    RegisterHugeOctaveBenchmarks();
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.PrintRatios();
    benchmark::Shutdown();
    return 0;
}
