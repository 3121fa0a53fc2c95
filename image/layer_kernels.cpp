#include "image/layer_kernels.h"

#include <vector>

namespace velmora {

extern const LayerKernels BaselineKernels;
#if VELMORA_X86_KERNELS
extern const LayerKernels Avx2Kernels;
extern const LayerKernels Avx512Kernels;
#endif

namespace {

const LayerKernels* KernelsOf(KernelLevel level) noexcept {
    switch (level) {
#if VELMORA_X86_KERNELS
        case KernelLevel::Avx512: return &Avx512Kernels;
        case KernelLevel::Avx2: return &Avx2Kernels;
#endif
        default: return &BaselineKernels;
    }
}

std::vector<KernelLevel> DetectLevels() {
    std::vector<KernelLevel> levels{KernelLevel::Baseline};
#if VELMORA_X86_KERNELS
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx2")) {
        levels.push_back(KernelLevel::Avx2);
        if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512dq") &&
            __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512vl")) {
            levels.push_back(KernelLevel::Avx512);
        }
    }
#endif
    return levels;
}

const std::vector<KernelLevel>& Levels() {
    static const std::vector<KernelLevel> levels = DetectLevels();
    return levels;
}

}  // namespace

const LayerKernels& Kernels() noexcept {
    // Chosen once, on first use; the processor does not change under a process.
    static const LayerKernels& best = *KernelsOf(Levels().back());
    return best;
}

const LayerKernels& KernelsFor(KernelLevel level) noexcept {
    return *KernelsOf(level);
}

std::span<const KernelLevel> SupportedKernelLevels() noexcept {
    return Levels();
}

}  // namespace velmora
