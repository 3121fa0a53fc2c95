#include "image/layer_path.h"

#include "image/axis_terms.h"

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

// What the choice needs of one axis of the tile.
struct AxisSummary {
    IndexRange keys;           // LatticeIndex of both keys of every coordinate
    std::int64_t keyRuns = 0;  // runs of equal keys, taking key0 and key1 in turn
    bool fractionsZero = true;  // every coordinate's fraction is 0 (or -0)
    // Whether LatticeIndex(key0) steps by the same amount from each
    // coordinate to the next, wrapping at 32 bits; step is 0 for one coordinate.
    bool evenSteps = true;
    std::uint32_t step = 0;
    // Blends along the axis that sharing them across the other axis would
    // compute: the misses of a cache of two keys, coordinate by coordinate.
    std::int64_t sharedBlends = 0;
};

AxisSummary SummariseAxis(float frequency, std::int32_t first, std::int32_t count) noexcept {
    AxisSummary axis;
    float previous0 = 0.0f;
    float previous1 = 0.0f;
    float previous = 0.0f;
    std::uint32_t firstIndex = 0;
    for (std::int32_t i = 0; i < count; ++i) {
        const AxisTerm term = AxisTermOf(frequency, first + i);
        axis.fractionsZero &= term.fraction == 0.0f;
        const auto index = static_cast<std::uint32_t>(LatticeIndex(term.key0));
        if (i == 0) {
            firstIndex = index;
        } else if (i == 1) {
            axis.step = index - firstIndex;
        } else {
            axis.evenSteps &= index == firstIndex + axis.step * static_cast<std::uint32_t>(i);
        }
        for (const float key : {term.key0, term.key1}) {
            axis.keys.Add(LatticeIndex(key));
            if (axis.keyRuns == 0 || key != previous) {
                ++axis.keyRuns;
                previous = key;
            }
        }
        if (i == 0) {
            axis.sharedBlends += 2;
        } else if (term.key0 != previous0 || term.key1 != previous1) {
            axis.sharedBlends += term.key0 == previous1 ? 1 : 2;
        }
        previous0 = term.key0;
        previous1 = term.key1;
    }
    return axis;
}

// The lattice columns or rows that the smoothed values at an axis's keys read.
IndexRange NeighbourRange(float frequency, std::int32_t first, std::int32_t count) noexcept {
    IndexRange range;
    for (std::int32_t i = 0; i < count; ++i) {
        const AxisTerm term = AxisTermOf(frequency, first + i);
        for (const float key : {term.key0, term.key1}) {
            const Neighbours n = NeighboursOf(key);
            range.Add(n.minus);
            range.Add(n.centre);
            range.Add(n.plus);
        }
    }
    return range;
}

}  // namespace

LayerPath ChooseLayerPath(float frequency, const TileGeometry& tile) noexcept {
    const AxisSummary columns = SummariseAxis(frequency, tile.x0, tile.width);
    const AxisSummary rows = SummariseAxis(frequency, tile.y0, tile.height);
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
    const std::int64_t hashEntries = SumSpan(NeighbourRange(frequency, tile.x0, tile.width),
                                             NeighbourRange(frequency, tile.y0, tile.height));
    const std::int64_t reads = 9 * columns.keyRuns * rows.keyRuns;
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
