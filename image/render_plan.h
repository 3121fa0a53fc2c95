// How a render is split up: into tiles that fit one thread's working memory,
// tiles into work units for the threads, and how many threads to use. The
// plan decides sizes only and never touches pixels; every split gives the
// same bytes.
#pragma once

#include <cstdint>

#include "image/tile_plan.h"

namespace velmora {

// Tile width and height, the number of layers whose column terms are kept and
// the size of the table whose arrays (as the tile renderer's Workspace counts
// them) fit budget bytes, for a width x height map of the given number of
// layers.
[[nodiscard]] TilePlan PlanTiles(std::int32_t width, std::int32_t height, std::uint64_t budget, std::int32_t layers);

// A block of the map: columns x0 ... x0 + width - 1, rows y0 ... y0 + height - 1.
struct PixelBlock {
    std::int32_t x0 = 0;
    std::int32_t y0 = 0;
    std::int32_t width = 0;
    std::int32_t height = 0;
};

// The whole split of one render. Work units are column bands of one tile's
// width cut into runs of whole tiles, so that a unit's tiles below its first
// reuse the column terms kept from it.
struct RenderPlan {
    TilePlan tiles;
    unsigned threads = 1;
    std::int32_t bands = 0;       // column bands, one tile wide
    std::int32_t tilesDown = 0;   // tiles in a column band
    std::int32_t chunks = 0;      // work units per column band

    [[nodiscard]] std::int64_t Units() const noexcept { return std::int64_t{bands} * chunks; }
    // The pixels of unit index (0 ... Units() - 1), bands left to right and
    // in each band bottom to top.
    [[nodiscard]] PixelBlock Unit(std::int64_t index, std::int32_t width, std::int32_t height) const noexcept;
};

// The plan for a width x height map of the given number of layers and
// octaves (all at least 1) on at most threads threads. threads 0 means one per
// hardware thread, except for a map of too few pixel-octaves to be worth
// sharing out, which gets one; a count given explicitly is used as far as the
// map has rows for it.
[[nodiscard]] RenderPlan PlanRender(std::int32_t width, std::int32_t height, std::int32_t layers,
                                    std::int32_t octaves, unsigned threads);

}  // namespace velmora
