// The size of a render's tiles and of the working memory they take: what the
// plan decides and what each thread's Workspace is carved from.
#pragma once

#include <cstdint>

namespace velmora {

// Working memory of each rendering thread, whatever the map's size.
constexpr std::uint64_t WorkspaceBytes = std::uint64_t{8} << 20;

struct TilePlan {
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::int32_t keptLayers = 0;     // layers whose column terms are kept across tiles
    std::uint64_t tableEntries = 0;  // the table of lattice hashes or smoothed values, in doubles
};

}  // namespace velmora
