#include "image/layer_path.h"

#include "image/axis_terms.h"

namespace velmora {

namespace {

// A table of smoothed values by index sum this long is always worth building.
constexpr std::int64_t SumTableFloor = 65536;

// Cells of several pixels: a table of smoothed values pays while it has at
// most one entry per this many pixels of the tile.
constexpr std::int64_t SharedTablePixelsPerEntry = 2;

// Cells smaller than a pixel: a table of smoothed values pays while it has at
// most this many entries per pixel of the tile. Computing a pixel's cell
// from the hashes costs about as much as 6 entries (AVX2, one and two
// threads), or 4 where every fraction is 0 and a pixel needs only one
// smoothed value of its own, from 9 hashes instead of 16.
constexpr std::int64_t CellTableEntriesPerPixel = 6;
constexpr std::int64_t FirstValueTableEntriesPerPixel = 4;

// Lattice points of whole-number frequencies: their table pays while it has
// at most this many entries per pixel, each from the 9 hashes around it.
constexpr std::int64_t PointTableEntriesPerPixel = 1;

// Rows share blends along x while they compute at most one per row; from
// there on (frequency 1), blending each pixel's cell from a table measured
// faster.
constexpr std::int64_t SharedBlendsPerRow = 1;

// What a table of lattice hashes needs of an axis: the lattice columns or
// rows that the smoothed values at its keys read, and its runs of equal keys,
// taking key0 and key1 in turn (as many as its distinct keys, unless the
// indices wrap).
struct HashReach {
    IndexRange neighbours;
    std::int64_t keyRuns = 0;
};

HashReach HashReachOf(float frequency, std::int32_t first, std::int32_t count) noexcept {
    HashReach reach;
    float previous = 0.0f;
    for (std::int32_t i = 0; i < count; ++i) {
        const AxisTerm term = AxisTermOf(frequency, first + i);
        for (const float key : {term.key0, term.key1}) {
            const Neighbours n = NeighboursOf(key);
            reach.neighbours.Add(n.minus);
            reach.neighbours.Add(n.centre);
            reach.neighbours.Add(n.plus);
            if (reach.keyRuns == 0 || key != previous) {
                ++reach.keyRuns;
                previous = key;
            }
        }
    }
    return reach;
}

}  // namespace

LayerPath ChooseLayerPath(float frequency, const TileGeometry& tile) noexcept {
    return ChooseLayerPath(frequency, tile, ShapeOfAxis(frequency, tile.x0, tile.width),
                           ShapeOfAxis(frequency, tile.y0, tile.height));
}

LayerPath ChooseLayerPath(float frequency, const TileGeometry& tile, const AxisShape& columns,
                          const AxisShape& rows) noexcept {
    const std::int64_t pixels = std::int64_t{tile.width} * tile.height;
    const auto tableEntries = static_cast<std::int64_t>(tile.tableEntries);
    // The table of smoothed values holds floats, two to each double of room.
    const std::int64_t sumEntries = SumSpan(columns.keys, rows.keys);
    const bool sumTableFits = sumEntries <= 2 * tableEntries;

    if (rows.sharedBlends > SharedBlendsPerRow * tile.height) {
        if (columns.fractionsZero && rows.fractionsZero && columns.evenSteps && rows.evenSteps &&
            (columns.step == rows.step || tile.width == 1 || tile.height == 1)) {
            const std::int64_t points = PointSpan(tile.width, tile.height);
            if (points <= 2 * tableEntries && points <= PointTableEntriesPerPixel * pixels + SumTableFloor) {
                return LayerPath::LatticePoints;
            }
        }
        const std::int64_t perPixel = columns.fractionsZero && rows.fractionsZero ? FirstValueTableEntriesPerPixel
                                                                                  : CellTableEntriesPerPixel;
        return sumTableFits && sumEntries <= perPixel * pixels + SumTableFloor ? LayerPath::CellsFromSumTable
                                                                               : LayerPath::CellsFromHashes;
    }
    if (sumTableFits && sumEntries <= pixels / SharedTablePixelsPerEntry + SumTableFloor) {
        return LayerPath::SharedRowsFromSumTable;
    }
    // A table of lattice hashes pays when it is not much larger than the
    // number of lattice values that the smoothed values would read.
    const HashReach columnReach = HashReachOf(frequency, tile.x0, tile.width);
    const HashReach rowReach = HashReachOf(frequency, tile.y0, tile.height);
    const std::int64_t hashEntries = SumSpan(columnReach.neighbours, rowReach.neighbours);
    const std::int64_t reads = 9 * columnReach.keyRuns * rowReach.keyRuns;
    if (hashEntries <= tableEntries && hashEntries <= 2 * reads + 4096) {
        return LayerPath::SharedRowsFromHashTable;
    }
    return LayerPath::SharedRowsFromHashes;
}

const char* LayerPathName(LayerPath path) noexcept {
    switch (path) {
        case LayerPath::SharedRowsFromSumTable: return "SharedRowsFromSumTable";
        case LayerPath::SharedRowsFromHashTable: return "SharedRowsFromHashTable";
        case LayerPath::SharedRowsFromHashes: return "SharedRowsFromHashes";
        case LayerPath::LatticePoints: return "LatticePoints";
        case LayerPath::CellsFromSumTable: return "CellsFromSumTable";
        case LayerPath::CellsFromHashes: return "CellsFromHashes";
    }
    return "?";
}

}  // namespace velmora
