// The kernel table of one instruction set. Each kernel file includes this
// once, after defining VELMORA_LANES, VELMORA_KERNEL_TABLE (the name of its
// table), VELMORA_KERNEL_NAME and VELMORA_KERNEL_LEVEL, and setting its
// instruction set through its compile options.
//
// The kernels come in families, one file each. Most are plain loops that the
// compiler vectorizes for the instruction set at hand; the ones on lattice
// hashes are written in vector lanes (image/lattice_lanes.h), where
// single-precision arithmetic stands in, exactly, for conversions between
// float and double.

#include "image/layer_kernels.h"
#include "image/layer_kernels_coarse_blends.inl"
#include "image/layer_kernels_fine_cells.inl"
#include "image/layer_kernels_gray_levels.inl"
#include "image/layer_kernels_octaves.inl"
#include "image/layer_kernels_smoothing.inl"

namespace velmora {

extern const LayerKernels VELMORA_KERNEL_TABLE;
const LayerKernels VELMORA_KERNEL_TABLE = {
    .name = VELMORA_KERNEL_NAME,
    .level = VELMORA_KERNEL_LEVEL,
    .smoothConsecutiveColumns = SmoothConsecutiveColumns,
    .smoothListedColumns = SmoothListedColumns,
    .smoothSums = SmoothSums,
    .smoothStridedSums = SmoothStridedSums,
    .smoothSumPairs = SmoothSumPairs,
    .blendColumns = BlendColumns,
    .blendColumnSums = BlendColumnSums,
    .blendRows = BlendRows,
    .blendRowsAndAddOctaves = BlendRowsAndAddOctaves,
    .blendCells = BlendCells,
    .blendCellQuads = BlendCellQuads,
    .cellsFromQuads = VELMORA_KERNEL_LEVEL == KernelLevel::Avx512,
    .fineCells = FineCells,
    .addOctave = AddOctave,
    .addOctaves = AddOctaves,
    .repeatRun = RepeatRun,
    .writeSmallGrayLevels = WriteSmallGrayLevels,
};

}  // namespace velmora
