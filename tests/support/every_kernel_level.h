// Parametrised tests over the kernel levels: a TEST_P suite whose parameter
// is a KernelLevel runs once for each level this processor runs, with the
// level's name in the test's name (for example Levels/RenderMapFast.Frequencies/avx2).
#pragma once

#include <gtest/gtest.h>

#include <ostream>

#include "image/layer_kernels.h"
#include "tests/support/test_support.h"

namespace velmora {

// How gtest shows a level: by its name.
inline void PrintTo(KernelLevel level, std::ostream* out) {
    *out << KernelLevelName(level);
}

#define VELMORA_FOR_EVERY_KERNEL_LEVEL(Suite)                                                               \
    INSTANTIATE_TEST_SUITE_P(Levels, Suite,                                                                 \
                             testing::ValuesIn(SupportedKernelLevels().begin(), SupportedKernelLevels().end()), \
                             [](const testing::TestParamInfo<KernelLevel>& info) {                          \
                                 return KernelLevelName(info.param);                                        \
                             })

}  // namespace velmora
