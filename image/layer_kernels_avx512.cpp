// The kernels built for AVX-512 F, DQ, BW and VL, without FMA (fused operations would
// change the bits).
#define VELMORA_LANES 16
#define VELMORA_KERNEL_TABLE Avx512Kernels
#define VELMORA_KERNEL_NAME "avx512"
#define VELMORA_KERNEL_LEVEL KernelLevel::Avx512
#include "image/layer_kernels.inl"
