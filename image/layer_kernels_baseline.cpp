// The kernels built for the processor baseline (on x86-64: SSE2).
#define VELMORA_LANES 4
#define VELMORA_KERNEL_TABLE BaselineKernels
#define VELMORA_KERNEL_NAME "baseline"
#define VELMORA_KERNEL_LEVEL KernelLevel::Baseline
#include "image/layer_kernels.inl"
