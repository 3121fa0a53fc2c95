#include "image/tile_renderer.h"

#include <algorithm>
#include <cassert>
#include <cstddef>
#include <cstdint>

#include "image/layer_job.h"
#include "image/layer_kernels.h"
#include "image/layer_path.h"
#include "image/map_image.h"
#include "image/octave_layers.h"
#include "image/workspace.h"
#include "noise/octave_noise.h"

namespace velmora {

// A tile is rendered layer by layer: for each layer, the terms of its columns
// and rows, then ChooseLayerPath picks how the rest is computed and that
// path adds the layer's octaves to the tile's running sums; at the end the
// sums become gray levels.

namespace {

// Renders one tile of one work unit.
class TileRenderer {
public:
    // firstInUnit: no tile of these columns was rendered before in this work
    // unit, so kept column terms must be computed rather than reused.
    TileRenderer(const OctaveNoise& noise, const LayerKernels& kernels, Workspace& work, const TileGeometry& tile,
                 bool firstInUnit, RenderControl* control)
        : noise_(noise), kernels_(kernels), work_(work), tile_(tile), firstInUnit_(firstInUnit), control_(control) {}

    // Renders the tile; false when asked to stop before it was done.
    [[nodiscard]] bool Render(MapImage& image) {
        const std::size_t pixels = static_cast<std::size_t>(tile_.width) * tile_.height;
        if (noise_.octaves <= 0) {
            std::fill_n(work_.sums, pixels, 0.0f);
        }
        float amplitude = noise_.amplitude;
        std::int32_t layer = 0;
        bool going = true;
        bool settled = false;
        ForEachLayer(noise_, [&](float frequency, std::int32_t first, std::int32_t runLength) {
            if (going && !settled) {
                going = AddLayer(frequency, amplitude, runLength, layer++);
                // No finite sum left: the remaining layers cannot change a gray level.
                settled = NoneFinite(work_.sums, pixels);
            }
            if (first + runLength < noise_.octaves) {
                amplitude = NextAmplitude(noise_, amplitude);
            }
        });
        if (going) {
            WriteGrayLevels(image);
        }
        return going;
    }

private:
    // The column terms of the layer-th layer at frequency: kept ones as the
    // first tile of the unit computed them, others computed now.
    const ColumnTerms& ColumnsOf(float frequency, std::int32_t layer) {
        const bool keep = layer < work_.plan.keptLayers;
        ColumnTerms& columns = keep ? work_.kept[layer] : work_.columns;
        if (!keep || firstInUnit_) {
            ComputeColumnTerms(frequency, columns);
        }
        return columns;
    }

    void ComputeColumnTerms(float frequency, ColumnTerms& columns) const {
        columns.shape = ComputeAxisTerms(frequency, tile_.x0, tile_.width, columns.axis);
        const IndexRange& keys = columns.shape.keys;
        // Wrapped to 32 bits where the keys span more; then no sum table is used.
        for (std::int32_t x = 0; x < tile_.width; ++x) {
            const std::int32_t index0 = LatticeIndex(columns.axis.key0[x]);
            const std::int32_t index1 = LatticeIndex(columns.axis.key1[x]);
            columns.index0[x] = static_cast<std::uint32_t>(index0);
            columns.index1[x] = static_cast<std::uint32_t>(index1);
            columns.sum0[x] = static_cast<std::int32_t>(index0 - keys.low);
            columns.sum1[x] = static_cast<std::int32_t>(index1 - keys.low);
        }
    }

    // Adds runLength octaves of the layer at frequency, the layer-th of the
    // render, to every sum; amplitude is the one before the first of them.
    // False when asked to stop.
    bool AddLayer(float frequency, float amplitude, std::int32_t runLength, std::int32_t layer) {
        const ColumnTerms& columns = ColumnsOf(frequency, layer);
        const AxisShape rows = ComputeAxisTerms(frequency, tile_.y0, tile_.height, work_.rows);
        const LayerJob job{noise_, kernels_, work_, tile_, columns, amplitude, runLength, layer == 0, control_};
        const LayerPath path = ChooseLayerPath(frequency, tile_, columns.shape, rows);
        // No default: a path added to LayerPath must be handled here to compile.
        switch (path) {
            case LayerPath::SharedRowsFromSumTable: return AddSharedRowsFromSumTable(job);
            case LayerPath::SharedRowsFromHashTable: return AddSharedRowsFromHashTable(job);
            case LayerPath::SharedRowsFromHashes: return AddSharedRowsFromHashes(job);
            case LayerPath::LatticePoints: return AddLatticePoints(job);
            case LayerPath::CellsFromSumTable: return AddCellsFromSumTable(job);
            case LayerPath::CellsFromHashes: return AddCellsFromHashes(job);
        }
        assert(false && "a LayerPath without its function");
        return false;
    }

    void WriteGrayLevels(MapImage& image) {
        const std::size_t stride = image.Stride();
        std::uint8_t* pixels = image.Pixels().data();
        for (std::int32_t row = 0; row < tile_.height; ++row) {
            const float* sums = work_.sums + static_cast<std::size_t>(row) * tile_.width;
            std::uint8_t* out =
                pixels + static_cast<std::size_t>(tile_.y0 + row) * stride + 3 * static_cast<std::size_t>(tile_.x0);
            if (!kernels_.writeSmallGrayLevels(sums, out, tile_.width)) {
                for (std::int32_t x = 0; x < tile_.width; ++x) {
                    const std::uint8_t gray = GrayLevel(sums[x]);
                    out[3 * x] = gray;
                    out[3 * x + 1] = gray;
                    out[3 * x + 2] = gray;
                }
            }
        }
    }

    const OctaveNoise& noise_;
    const LayerKernels& kernels_;
    Workspace& work_;
    TileGeometry tile_;
    bool firstInUnit_;
    RenderControl* control_;
};

}  // namespace

bool RenderUnit(const OctaveNoise& noise, const LayerKernels& kernels, const TilePlan& plan, std::byte* memory,
                const PixelBlock& unit, MapImage& image, RenderControl* control) {
    Workspace work(plan, memory);
    for (std::int32_t y0 = unit.y0; y0 < unit.y0 + unit.height; y0 += plan.height) {
        const TileGeometry tile{unit.x0, y0, unit.width, std::min(plan.height, unit.y0 + unit.height - y0),
                                plan.tableEntries};
        TileRenderer renderer(noise, kernels, work, tile, y0 == unit.y0, control);
        if (!renderer.Render(image)) {
            return false;
        }
    }
    return true;
}

}  // namespace velmora
