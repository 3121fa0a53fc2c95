#include "image/render_plan.h"

#include <algorithm>
#include <thread>

#include "image/workspace.h"

namespace velmora {

namespace {

// The map is rendered in tiles of at most this many columns by as many rows
// as the working memory allows. Every pixel of a tile holds its running sum.
constexpr std::int32_t MaxTileWidth = 4096;

// A tile this short spends too much on per-column work per pixel; narrower
// tiles are preferred until tiles reach it (or the map's height).
constexpr std::int32_t PreferredTileHeight = 16;

// Tiles hold at most this many running sums (512 KiB), unless that is
// shorter than PreferredTileHeight: every octave reads and writes them all, so
// they should stay in the processor's cache rather than stream from memory.
constexpr std::uint64_t CachedTilePixels = 256 * 1024;

// Below this many pixel-octaves a map is rendered on one thread: waking more
// would cost about as much as they save. Octaves, not layers: a long run of
// one layer costs time in proportion to its octaves until its sums settle.
constexpr std::uint64_t ParallelPixelOctaves = 96 * 1024;

// Tiles are made shorter, down to this, so that every thread gets one; down
// to a single row for maps of at least ManyOctaves octaves, whose rows each
// take long.
constexpr std::int32_t MinSharedTileHeight = 4;
constexpr std::int32_t ManyOctaves = 1024;

// Work units per thread, so that threads that finish early find more work.
constexpr std::int64_t UnitsPerThread = 4;

// The largest n in 0 ... most for which fits(n), where fits holds up to some
// n and not beyond it, and holds for 0 (else 0).
template <typename Fits>
std::uint64_t LargestFitting(std::uint64_t most, Fits&& fits) {
    std::uint64_t low = 0;
    std::uint64_t high = most;
    while (low < high) {
        const std::uint64_t middle = low + (high - low + 1) / 2;
        if (fits(middle)) {
            low = middle;
        } else {
            high = middle - 1;
        }
    }
    return low;
}

}  // namespace

TilePlan PlanTiles(std::int32_t width, std::int32_t height, std::uint64_t budget, std::int32_t layers) {
    // Three quarters of what the per-column arrays leave may go to the tile's
    // rows and running sums, and tiles are kept short enough for their sums
    // to stay in cache; half of the rest may keep column terms, the remainder
    // is table. Every size is what the Workspace itself counts.
    const auto bytes = [](std::int32_t w, std::int32_t h, std::int32_t kept, std::uint64_t entries) {
        return WorkspaceBytesUsed({w, h, kept, entries});
    };
    TilePlan plan;
    std::int32_t tileWidth = std::min(width, MaxTileWidth);
    for (;;) {
        const std::uint64_t fixed = bytes(tileWidth, 0, 0, 0);
        const std::uint64_t variable = fixed < budget ? budget - fixed : 0;
        const std::uint64_t forRows = fixed + (variable - variable / 4);
        const std::uint64_t cachedRows =
            std::max<std::uint64_t>(PreferredTileHeight, CachedTilePixels / static_cast<std::uint64_t>(tileWidth));
        const auto tileHeight = static_cast<std::int32_t>(
            LargestFitting(std::min<std::uint64_t>(height, cachedRows),
                           [&](std::uint64_t rows) { return bytes(tileWidth, static_cast<std::int32_t>(rows), 0, 0) <= forRows; }));
        if (tileHeight >= std::min(height, PreferredTileHeight) || tileWidth == 1) {
            plan.width = tileWidth;
            plan.height = std::max(tileHeight, 1);
            const std::uint64_t withRows = bytes(plan.width, plan.height, 0, 0);
            const std::uint64_t rest = withRows < budget ? budget - withRows : 0;
            // Keeping column terms pays only when a column band has more than one tile.
            const std::uint64_t keep = plan.height < height ? std::uint64_t(std::max(layers, 0)) : 0;
            plan.keptLayers = static_cast<std::int32_t>(LargestFitting(keep, [&](std::uint64_t kept) {
                return bytes(plan.width, plan.height, static_cast<std::int32_t>(kept), 0) - withRows <= rest / 2;
            }));
            const std::uint64_t withKept = bytes(plan.width, plan.height, plan.keptLayers, 0);
            std::uint64_t entries = withKept < budget ? (budget - withKept) / sizeof(double) : 0;
            // The table's own alignment may take back a few entries.
            while (entries > 0 && bytes(plan.width, plan.height, plan.keptLayers, entries) > budget) {
                entries -= std::min<std::uint64_t>(entries, 8);
            }
            plan.tableEntries = entries;
            return plan;
        }
        tileWidth = (tileWidth + 1) / 2;
    }
}

PixelBlock RenderPlan::Unit(std::int64_t index, std::int32_t width, std::int32_t height) const noexcept {
    const auto band = static_cast<std::int32_t>(index / chunks);
    const auto chunk = static_cast<std::int32_t>(index % chunks);
    // Chunks share the band's tiles as evenly as whole tiles allow.
    const std::int64_t firstTile = std::int64_t{chunk} * tilesDown / chunks;
    const std::int64_t endTile = std::int64_t{chunk + 1} * tilesDown / chunks;
    PixelBlock block;
    block.x0 = band * tiles.width;
    block.width = std::min(tiles.width, width - block.x0);
    block.y0 = static_cast<std::int32_t>(firstTile * tiles.height);
    block.height = static_cast<std::int32_t>(std::min<std::int64_t>(endTile * tiles.height, height) - block.y0);
    return block;
}

RenderPlan PlanRender(std::int32_t width, std::int32_t height, std::int32_t layers, std::int32_t octaves,
                      unsigned threads) {
    RenderPlan plan;
    plan.tiles = PlanTiles(width, height, WorkspaceBytes, layers);
    const std::uint64_t work = std::uint64_t(width) * std::uint64_t(height) * std::uint64_t(std::max(octaves, 1));
    if (threads == 0) {
        threads = std::max(1u, std::thread::hardware_concurrency());
        if (work < ParallelPixelOctaves) {
            threads = 1;
        }
    }
    if (threads > 1) {
        // Tiles short enough for every thread to get one, down to a few rows,
        // or to one where each pixel takes many octaves.
        const std::int32_t share = static_cast<std::int32_t>((std::int64_t{height} + threads - 1) / threads);
        const std::int32_t least = octaves >= ManyOctaves ? 1 : MinSharedTileHeight;
        plan.tiles.height = std::min(plan.tiles.height, std::max(share, least));
    }
    plan.bands = (width - 1) / plan.tiles.width + 1;
    plan.tilesDown = (height - 1) / plan.tiles.height + 1;
    // One unit per band for one thread, so that every tile below the first
    // reuses kept column terms; enough units for every thread otherwise.
    const std::int64_t wanted = threads == 1 ? plan.bands : UnitsPerThread * threads;
    plan.chunks = static_cast<std::int32_t>(
        std::clamp<std::int64_t>((wanted + plan.bands - 1) / plan.bands, 1, plan.tilesDown));
    plan.threads = static_cast<unsigned>(std::min<std::int64_t>(threads, plan.Units()));
    return plan;
}

}  // namespace velmora
