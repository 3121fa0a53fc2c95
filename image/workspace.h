// One rendering thread's working memory, carved into the arrays of its tiles.
// The arrays are listed once, in Workspace; the same list counts their bytes,
// and the tile plan is sized from that count, so an array added here is
// planned for without another edit.
#pragma once

#include <cassert>
#include <cstddef>
#include <cstdint>

#include "image/axis_terms.h"
#include "image/tile_plan.h"

namespace velmora {

// Where each array starts: a cache line of its own.
constexpr std::uint64_t ArrayAlignment = 64;

// Consecutive lattice columns smoothed in one run may exceed twice the number
// of distinct keys by this much; the smoothed-value array has room for it.
constexpr std::int64_t SpanSlack = 64;

// One block of memory handed out in aligned arrays of trivial types, or, with
// no memory, only counted.
class Arena {
public:
    Arena(std::byte* memory, std::uint64_t size) : memory_(memory), size_(size) {}

    // count elements at the next aligned place; null when only counting.
    template <typename T>
    [[nodiscard]] T* Take(std::uint64_t count) noexcept {
        used_ = (used_ + ArrayAlignment - 1) & ~(ArrayAlignment - 1);
        T* array = memory_ != nullptr ? reinterpret_cast<T*>(memory_ + used_) : nullptr;
        used_ += count * sizeof(T);
        assert(memory_ == nullptr || used_ <= size_);
        return array;
    }

    // The bytes taken so far, alignment included.
    [[nodiscard]] std::uint64_t Used() const noexcept { return used_; }

private:
    std::byte* memory_;
    [[maybe_unused]] std::uint64_t size_;  // checked in debug builds
    std::uint64_t used_ = 0;
};

// The terms of one layer that depend on the tile column alone.
struct ColumnTerms {
    AxisTerms axis;
    std::uint32_t* index0;  // LatticeIndex(axis.key0) and (axis.key1), for cells computed from the hash
    std::uint32_t* index1;
    std::int32_t* sum0;     // LatticeIndex(axis.key0) - shape.keys.low: its offset in a sum table
    std::int32_t* sum1;
    AxisShape shape;        // shape.keys: the least and greatest LatticeIndex of the keys

    void Take(Arena& arena, std::uint64_t w) noexcept {
        axis = {arena.Take<float>(w), arena.Take<float>(w), arena.Take<double>(w), arena.Take<double>(w)};
        index0 = arena.Take<std::uint32_t>(w);
        index1 = arena.Take<std::uint32_t>(w);
        sum0 = arena.Take<std::int32_t>(w);
        sum1 = arena.Take<std::int32_t>(w);
    }
};

// All working arrays of one thread, carved from its working memory.
struct Workspace {
    TilePlan plan;

    // Per tile column.
    ColumnTerms columns;        // of the layer being added, unless kept below
    std::uint32_t* columnKey0;  // index into keys of columns.key0
    std::uint32_t* columnKey1;
    double* layer;              // one row of the layer being added
    float* blended[2];          // two rows of blends along x, one per lattice row key
    // Per distinct column key (at most two per column).
    float* keys;
    std::int32_t* keyMinus;     // lattice column indices, or offsets into the hash table
    std::int32_t* keyCentre;
    std::int32_t* keyPlus;
    float* smoothed;            // smoothed values of one lattice row at every key
    // Per tile row.
    AxisTerms rows;
    // Per tile pixel: the running octave sums, row after row.
    float* sums;
    // Column terms of the first plan.keptLayers layers, kept from the first
    // tile of a work unit for the tiles below it.
    ColumnTerms* kept;
    // Lattice hashes of a range of index sums, or smoothed values by index sum.
    double* table;

    // Carves the arrays from memory (WorkspaceBytes, aligned to 64), or only
    // counts their bytes (into bytesUsed) when memory is null.
    Workspace(const TilePlan& tilePlan, std::byte* memory, std::uint64_t* bytesUsed = nullptr) : plan(tilePlan) {
        Arena arena(memory, WorkspaceBytes);
        const std::uint64_t w = static_cast<std::uint64_t>(plan.width);
        const std::uint64_t h = static_cast<std::uint64_t>(plan.height);
        columns.Take(arena, w);
        columnKey0 = arena.Take<std::uint32_t>(w);
        columnKey1 = arena.Take<std::uint32_t>(w);
        layer = arena.Take<double>(w);
        blended[0] = arena.Take<float>(w);
        blended[1] = arena.Take<float>(w);
        keys = arena.Take<float>(2 * w);
        keyMinus = arena.Take<std::int32_t>(2 * w);
        keyCentre = arena.Take<std::int32_t>(2 * w);
        keyPlus = arena.Take<std::int32_t>(2 * w);
        smoothed = arena.Take<float>(4 * w + SpanSlack);
        rows = {arena.Take<float>(h), arena.Take<float>(h), arena.Take<double>(h), arena.Take<double>(h)};
        sums = arena.Take<float>(w * h);
        kept = arena.Take<ColumnTerms>(static_cast<std::uint64_t>(plan.keptLayers));
        ColumnTerms counted;  // stands in for kept layers' terms that are only counted
        for (std::int32_t i = 0; i < plan.keptLayers; ++i) {
            (kept != nullptr ? kept[i] : counted).Take(arena, w);
        }
        table = arena.Take<double>(plan.tableEntries);
        if (bytesUsed != nullptr) {
            *bytesUsed = arena.Used();
        }
    }
};

// The bytes of working memory that the tiles of plan take, alignment
// included; at most WorkspaceBytes for every plan that PlanTiles makes.
[[nodiscard]] inline std::uint64_t WorkspaceBytesUsed(const TilePlan& plan) noexcept {
    std::uint64_t used = 0;
    const Workspace counted(plan, nullptr, &used);
    return used;
}

}  // namespace velmora
