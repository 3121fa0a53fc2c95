// The kernels built for AVX2, without FMA (fused operations would change the bits).
#define VELMORA_LANES 8
#define VELMORA_KERNEL_TABLE Avx2Kernels
#define VELMORA_KERNEL_NAME "avx2"
#define VELMORA_KERNEL_LEVEL KernelLevel::Avx2
#include "image/layer_kernels.inl"
