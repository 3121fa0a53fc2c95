// Which way one layer of one tile is computed. The choice depends on how big
// the layer's lattice cells are next to a pixel and on how far its index sums
// spread over the tile; it changes the speed, never a byte.
#pragma once

#include <cstdint>

namespace velmora {

struct AxisShape;

enum class LayerPath {
    // Cells of several pixels: each blend along x is computed once per column
    // and lattice row and shared by the pixel rows in it. Its smoothed values
    // come from a table by index sum x + 57 y, ...
    SharedRowsFromSumTable,
    // ... or, where that range is too large, from a table of lattice hashes,
    SharedRowsFromHashTable,
    // ... or straight from the hash.
    SharedRowsFromHashes,
    // Whole-number frequencies: every fraction is 0, so each pixel takes the
    // smoothed value at its own lattice point, and those points' index sums
    // step evenly along rows and columns. The values are tabulated at just
    // those sums, so that each pixel row reads a run of them.
    LatticePoints,
    // Cells about a pixel or smaller: nothing is shared between pixel rows;
    // the smoothed values are tabulated along the tile's range of index sums
    // and each pixel looks up its four.
    CellsFromSumTable,
    // Cells far smaller than a pixel: each pixel computes its cell from the
    // lattice hashes around it.
    CellsFromHashes,
};

// Where a tile lies in the map, and the room its working memory has for a
// table: tableEntries doubles (or twice as many floats).
struct TileGeometry {
    std::int32_t x0 = 0;
    std::int32_t y0 = 0;
    std::int32_t width = 0;   // at least 1
    std::int32_t height = 0;  // at least 1
    std::uint64_t tableEntries = 0;
};

// The path for the layer at frequency in tile: one whose tables fit the
// tile's working memory, and of those the one measured fastest for cells of
// that size. Any frequency, including zero, negative, huge, infinite and NaN.
[[nodiscard]] LayerPath ChooseLayerPath(float frequency, const TileGeometry& tile) noexcept;

// The same choice from the shapes of the tile's columns and rows at
// frequency (ShapeOfAxis), which a renderer has from computing their terms.
[[nodiscard]] LayerPath ChooseLayerPath(float frequency, const TileGeometry& tile, const AxisShape& columns,
                                        const AxisShape& rows) noexcept;

// The path's name as written above, for tests and benchmarks.
[[nodiscard]] const char* LayerPathName(LayerPath path) noexcept;

}  // namespace velmora
