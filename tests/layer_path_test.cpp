// Which way each regime of cell size goes, at the tiles the renderer plans: a
// change that sent maps down a slower way would pass every byte test, so the
// choice is pinned here.
#include "image/layer_path.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "image/render_plan.h"

using namespace velmora;

namespace {

constexpr LayerPath Shared = LayerPath::SharedRowsFromSumTable;
constexpr LayerPath Points = LayerPath::LatticePoints;
constexpr LayerPath Table = LayerPath::CellsFromSumTable;
constexpr LayerPath Hashes = LayerPath::CellsFromHashes;

struct Case {
    float frequency;
    LayerPath onMapTile;      // a 2048 x 2048 map's tile of 2048 x 128 (one layer)
    LayerPath onDefaultTile;  // the 512 x 512 default map's single tile (four octaves)
    LayerPath onWideTile;     // an 8192 x 8192 map's tile of 4096 x 64 (16 layers)
};

constexpr float Inf = std::numeric_limits<float>::infinity();

// Cells of many pixels share rows. From frequency 1 on, whole-number
// frequencies take each pixel's own lattice point while the products stay
// exact floats (1e5 is 2^5 times 3125; 3e7 x rounds and wraps); the others
// blend each pixel's cell from the table until it would hold more than about
// 6 entries per pixel, and from the hashes beyond. Keys all 0 share rows.
constexpr Case Cases[] = {
    {0.0f, Shared, Shared, Shared},       {-0.015f, Shared, Shared, Shared},
    {0.015f, Shared, Shared, Shared},     {0.25f, Shared, Shared, Shared},
    {0.99f, Shared, Shared, Shared},      {1.0f, Points, Points, Points},
    {1.3f, Table, Table, Table},          {4.0f, Points, Points, Points},
    {16.0f, Points, Points, Points},      {16.3f, Table, Table, Table},
    {-16.0f, Points, Points, Points},     {-16.3f, Table, Table, Table},
    {100.0f, Points, Points, Points},     {100.3f, Table, Hashes, Table},
    {200.5f, Hashes, Hashes, Hashes},     {1000.3f, Hashes, Hashes, Hashes},
    {1e5f, Points, Points, Points},       {100000.5f, Hashes, Hashes, Hashes},
    {3e7f, Hashes, Hashes, Hashes},       {1e30f, Shared, Shared, Shared},
    {Inf, Shared, Shared, Shared},
};

LayerPath PathOn(float frequency, std::int32_t width, std::int32_t height, std::int32_t layers) {
    const TilePlan plan = PlanTiles(width, height, WorkspaceBytes, layers);
    return ChooseLayerPath(frequency, {0, 0, plan.width, plan.height, plan.tableEntries});
}

TEST(ChooseLayerPath, EachRegimeOfCellSizeTakesItsPath) {
    for (const Case& c : Cases) {
        SCOPED_TRACE(testing::Message() << "frequency " << c.frequency);
        EXPECT_STREQ(LayerPathName(PathOn(c.frequency, 2048, 2048, 1)), LayerPathName(c.onMapTile));
        EXPECT_STREQ(LayerPathName(PathOn(c.frequency, 512, 512, 4)), LayerPathName(c.onDefaultTile));
        EXPECT_STREQ(LayerPathName(PathOn(c.frequency, 8192, 8192, 16)), LayerPathName(c.onWideTile));
    }
}

// Rows that share blends while their index sums spread too far for a table
// of smoothed values: a one-column map, many rows tall.
TEST(ChooseLayerPath, SharedRowsWithoutASumTableUseTheHashes) {
    EXPECT_EQ(PathOn(0.5f, 1, 10000, 1), LayerPath::SharedRowsFromHashTable);
    EXPECT_EQ(PathOn(0.5f, 1, 100000, 1), LayerPath::SharedRowsFromHashes);
}

TEST(ChooseLayerPath, NotANumberSharesRows) {
    EXPECT_EQ(PathOn(std::nanf(""), 2048, 2048, 1), Shared);
    EXPECT_EQ(PathOn(std::nanf(""), 37, 1, 1), Table);  // a single row has nothing to share
}

}  // namespace
