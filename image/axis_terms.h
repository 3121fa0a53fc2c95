// Everything of InterpolatedValue that depends on one coordinate alone: the
// lattice keys float(ix) and float(ix + 1) at which the smoothed values are
// taken, and the two blend weights of the fraction. Computed once per column
// and once per row of a tile, for each layer.
#pragma once

#include <algorithm>
#include <cstdint>

#include "noise/octave_noise.h"

namespace velmora {

// The terms of one coordinate of one layer.
struct AxisTerm {
    float key0;
    float key1;
    float fraction;
};

// The keys and the fraction of coordinate at frequency, as InterpolatedValue
// computes them: scaled and fraction rounded to float, the keys whole floats.
[[nodiscard]] inline AxisTerm AxisTermOf(float frequency, std::int32_t coordinate) noexcept {
    const float scaled = static_cast<float>(static_cast<double>(frequency) * static_cast<float>(coordinate));
    const std::int32_t index = LatticeIndex(scaled);
    const float fraction = static_cast<float>(static_cast<double>(scaled) - index);
    return {static_cast<float>(index), static_cast<float>(NextLatticeIndex(index)), fraction};
}

// A range of lattice indices, both ends included; empty while low > high.
struct IndexRange {
    std::int64_t low = INT64_MAX;
    std::int64_t high = INT64_MIN;

    void Add(std::int64_t index) noexcept {
        low = std::min(low, index);
        high = std::max(high, index);
    }
};

// What the choice of a layer's path needs of one axis of a tile, gathered
// while its terms are computed.
struct AxisShape {
    IndexRange keys;            // LatticeIndex of both keys of every coordinate
    bool fractionsZero = true;  // every coordinate's fraction is 0 (or -0)
    // Whether LatticeIndex(key0) steps by the same amount from each
    // coordinate to the next, wrapping at 32 bits; step is 0 for one coordinate.
    bool evenSteps = true;
    std::uint32_t step = 0;
    // Blends along the other axis that sharing them across this one would
    // compute: the misses of a cache of two keys, coordinate by coordinate.
    std::int64_t sharedBlends = 0;
};

// Builds an AxisShape from the terms of consecutive coordinates.
class AxisShapeBuilder {
public:
    void Add(const AxisTerm& term) noexcept {
        shape_.fractionsZero &= term.fraction == 0.0f;
        const std::int32_t index0 = LatticeIndex(term.key0);
        shape_.keys.Add(index0);
        shape_.keys.Add(LatticeIndex(term.key1));
        const auto index = static_cast<std::uint32_t>(index0);
        if (count_ == 0) {
            firstIndex_ = index;
            shape_.sharedBlends = 2;
        } else {
            if (count_ == 1) {
                shape_.step = index - firstIndex_;
            }
            shape_.evenSteps &= index == firstIndex_ + shape_.step * count_;
            if (term.key0 != previous_.key0 || term.key1 != previous_.key1) {
                shape_.sharedBlends += term.key0 == previous_.key1 ? 1 : 2;
            }
        }
        previous_ = term;
        ++count_;
    }

    [[nodiscard]] const AxisShape& Shape() const noexcept { return shape_; }

private:
    AxisShape shape_;
    AxisTerm previous_{};
    std::uint32_t firstIndex_ = 0;
    std::uint32_t count_ = 0;
};

// The shape of count coordinates from first, at frequency.
[[nodiscard]] inline AxisShape ShapeOfAxis(float frequency, std::int32_t first, std::int32_t count) noexcept {
    AxisShapeBuilder shape;
    for (std::int32_t i = 0; i < count; ++i) {
        shape.Add(AxisTermOf(frequency, first + i));
    }
    return shape.Shape();
}

// The terms of the coordinates first ... first + count - 1 of one layer.
struct AxisTerms {
    float* key0;
    float* key1;
    double* weight0;  // weight of the value at key0
    double* weight1;  // weight of the value at key1
};

// Fills terms for count coordinates from first, at frequency; returns their
// shape, as ShapeOfAxis gives it.
inline AxisShape ComputeAxisTerms(float frequency, std::int32_t first, std::int32_t count, const AxisTerms& terms) {
    AxisShapeBuilder shape;
    for (std::int32_t i = 0; i < count; ++i) {
        const AxisTerm term = AxisTermOf(frequency, first + i);
        shape.Add(term);
        const double u = 1.0 - static_cast<double>(term.fraction);
        terms.key0[i] = term.key0;
        terms.key1[i] = term.key1;
        terms.weight0[i] = BlendWeight(u, static_cast<float>(u));
        terms.weight1[i] = BlendWeight(term.fraction, term.fraction);
    }
    return shape.Shape();
}

// The three lattice indices that SmoothedValue reads around a key.
struct Neighbours {
    std::int32_t minus;
    std::int32_t centre;
    std::int32_t plus;
};

// The neighbours of a whole-number key: consecutive modulo 2^32.
[[nodiscard]] inline Neighbours NeighboursOf(float key) noexcept {
    return {LatticeIndex(static_cast<double>(key) - 1.0), LatticeIndex(key),
            LatticeIndex(static_cast<double>(key) + 1.0)};
}

// The entries of a table of a tile's lattice points by (x - x0) + 57 (y - y0),
// whose rows begin 57 entries apart.
[[nodiscard]] constexpr std::int64_t PointSpan(std::int32_t width, std::int32_t height) noexcept {
    return (std::int64_t{width} - 1) + std::int64_t{LatticeRowSum} * (std::int64_t{height} - 1) + 1;
}

// The entries of a table by index sum x + 57 y that covers columns and rows:
// from the sum of their lows to the sum of their highs.
[[nodiscard]] constexpr std::int64_t SumSpan(const IndexRange& columns, const IndexRange& rows) noexcept {
    return (columns.high - columns.low) + std::int64_t{LatticeRowSum} * (rows.high - rows.low) + 1;
}

}  // namespace velmora
