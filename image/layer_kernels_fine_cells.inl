// Fine cells: cells about a pixel or smaller, where nothing is shared between
// pixel rows and each pixel blends its own cell: from a table of smoothed
// values by index sum, or from the lattice hashes around the cell.
#pragma once

#include <cstdint>
#include <cstring>

#include "image/lattice_lanes.h"
#include "image/layer_kernels_smoothing.inl"
#include "noise/octave_noise.h"

namespace velmora {

namespace {

using namespace lanes;

// Whether a blend's weights are those of a fraction 0: exactly 1 and 0. The
// blend is then its first value exactly, whatever the second (a finite
// smoothed value, or infinite or NaN where only a sign of zero or the kind of
// non-number could tell, and no gray level does).
VELMORA_LANE_INLINE bool IsFirstValue(double weight0, double weight1) {
    return weight0 == 1.0 && weight1 == 0.0;
}

// One row's blend along x of Lanes columns from their smoothed values: the
// float top or bottom of the cells.
VELMORA_LANE_INLINE F64 BlendAlongX(F32 first, F32 second, F64 weight0, F64 weight1) {
    return Widen(Narrow(Widen(first) * weight0 + Widen(second) * weight1));
}

// BlendCells for one kind of columns and row, a group of Lanes columns at a
// time. With columns of fraction 0 (integer frequencies) a pixel needs only
// the smoothed value at its first key, and with a row of fraction 0 only the
// one in the lower lattice row. Where every second key is the column after
// the first, as it is below 2^24, both of a row come as one pair.
template <CellColumns columns, bool rowBlends>
std::int32_t BlendCellGroups(const float* lower, const float* upper, const std::int32_t* column0,
                             const std::int32_t* column1, const double* columnWeight0, const double* columnWeight1,
                             double rowWeight0, double rowWeight1, double* __restrict layer, std::int32_t count) {
    std::int32_t x = 0;
    for (; x + Lanes <= count; x += Lanes) {
        const I32 offset0 = Load<I32>(column0 + x);
        F64 top;
        F64 bottom{};
        if constexpr (columns == CellColumns::FirstValues) {
            top = Widen(Gather(lower, offset0));
            if constexpr (rowBlends) {
                bottom = Widen(Gather(upper, offset0));
            }
        } else {
            const F64 weight0 = Load<F64>(columnWeight0 + x);
            const F64 weight1 = Load<F64>(columnWeight1 + x);
            if constexpr (columns == CellColumns::Adjacent) {
                F32 first;
                F32 second;
                GatherPairs(lower, column0 + x, first, second);
                top = BlendAlongX(first, second, weight0, weight1);
                if constexpr (rowBlends) {
                    GatherPairs(upper, column0 + x, first, second);
                    bottom = BlendAlongX(first, second, weight0, weight1);
                }
            } else {
                const I32 offset1 = Load<I32>(column1 + x);
                top = BlendAlongX(Gather(lower, offset0), Gather(lower, offset1), weight0, weight1);
                if constexpr (rowBlends) {
                    bottom = BlendAlongX(Gather(upper, offset0), Gather(upper, offset1), weight0, weight1);
                }
            }
        }
        if constexpr (rowBlends) {
            Store(layer + x, top * rowWeight0 + bottom * rowWeight1);
        } else {
            Store(layer + x, top);
        }
    }
    return x;
}

template <CellColumns columns>
std::int32_t BlendCellGroups(const float* lower, const float* upper, const std::int32_t* column0,
                             const std::int32_t* column1, const double* columnWeight0, const double* columnWeight1,
                             double rowWeight0, double rowWeight1, double* __restrict layer, std::int32_t count) {
    return IsFirstValue(rowWeight0, rowWeight1)
               ? BlendCellGroups<columns, false>(lower, upper, column0, column1, columnWeight0, columnWeight1,
                                                 rowWeight0, rowWeight1, layer, count)
               : BlendCellGroups<columns, true>(lower, upper, column0, column1, columnWeight0, columnWeight1,
                                                rowWeight0, rowWeight1, layer, count);
}

void BlendCells(const float* lower, const float* upper, const std::int32_t* column0, const std::int32_t* column1,
                const double* columnWeight0, const double* columnWeight1, CellColumns columns, double rowWeight0,
                double rowWeight1, double* __restrict layer, std::int32_t count) {
    std::int32_t x = 0;
    switch (columns) {
        case CellColumns::FirstValues:
            x = BlendCellGroups<CellColumns::FirstValues>(lower, upper, column0, column1, columnWeight0,
                                                          columnWeight1, rowWeight0, rowWeight1, layer, count);
            break;
        case CellColumns::Adjacent:
            x = BlendCellGroups<CellColumns::Adjacent>(lower, upper, column0, column1, columnWeight0, columnWeight1,
                                                       rowWeight0, rowWeight1, layer, count);
            break;
        case CellColumns::Any:
            x = BlendCellGroups<CellColumns::Any>(lower, upper, column0, column1, columnWeight0, columnWeight1,
                                                  rowWeight0, rowWeight1, layer, count);
            break;
    }
    for (; x < count; ++x) {
        const float top =
            static_cast<float>(lower[column0[x]] * columnWeight0[x] + lower[column1[x]] * columnWeight1[x]);
        const float bottom =
            static_cast<float>(upper[column0[x]] * columnWeight0[x] + upper[column1[x]] * columnWeight1[x]);
        layer[x] = top * rowWeight0 + bottom * rowWeight1;
    }
}

// BlendCells from a table of pairs (smoothed value, the one a lattice row up)
// for columns whose second key is the column after the first, in rows whose
// second key, where the row blends, is the row after the first: each
// pixel's four values are the two pairs at its offset, one quad.
template <bool rowBlends>
void BlendCellQuadGroups(const float* lower, const std::int32_t* column0, const double* columnWeight0,
                         const double* columnWeight1, double rowWeight0, double rowWeight1, double* __restrict layer,
                         std::int32_t count) {
    std::int32_t x = 0;
    for (; x + Lanes <= count; x += Lanes) {
        F32 lowerFirst;
        F32 upperFirst;
        F32 lowerSecond;
        F32 upperSecond;
        LoadQuads(lower, column0 + x, lowerFirst, upperFirst, lowerSecond, upperSecond);
        const F64 weight0 = Load<F64>(columnWeight0 + x);
        const F64 weight1 = Load<F64>(columnWeight1 + x);
        const F64 top = BlendAlongX(lowerFirst, lowerSecond, weight0, weight1);
        if constexpr (rowBlends) {
            const F64 bottom = BlendAlongX(upperFirst, upperSecond, weight0, weight1);
            Store(layer + x, top * rowWeight0 + bottom * rowWeight1);
        } else {
            Store(layer + x, top);
        }
    }
    for (; x < count; ++x) {
        const float* quad = lower + 2 * std::int64_t{column0[x]};
        const float top = static_cast<float>(quad[0] * columnWeight0[x] + quad[2] * columnWeight1[x]);
        if constexpr (rowBlends) {
            const float bottom = static_cast<float>(quad[1] * columnWeight0[x] + quad[3] * columnWeight1[x]);
            layer[x] = top * rowWeight0 + bottom * rowWeight1;
        } else {
            layer[x] = top;
        }
    }
}

void BlendCellQuads(const float* lower, const std::int32_t* column0, const double* columnWeight0,
                    const double* columnWeight1, double rowWeight0, double rowWeight1, double* __restrict layer,
                    std::int32_t count) {
    if (IsFirstValue(rowWeight0, rowWeight1)) {
        BlendCellQuadGroups<false>(lower, column0, columnWeight0, columnWeight1, rowWeight0, rowWeight1, layer, count);
    } else {
        BlendCellQuadGroups<true>(lower, column0, columnWeight0, columnWeight1, rowWeight0, rowWeight1, layer, count);
    }
}

// The layer values of Lanes pixels of one row from the lattice hashes around
// their cells. With blendColumns false every column's fraction is 0: the
// blend along x is its first value, and the column after it is not needed.
// With blendRows false the same holds for the row.
template <bool blendColumns, bool blendRows>
VELMORA_LANE_INLINE F64 FineCellLanes(U32 n, F64 columnWeight0, F64 columnWeight1, double rowWeight0,
                                       double rowWeight1) {
    // The 4 x 4 lattice points from one column and row before the cell's
    // corner to two after it: names say column then row, m for -1, c for 0,
    // p for +1 and q for +2.
    const Lattice mm = LatticeAt(n, -1, -1);
    const Lattice cm = LatticeAt(n, 0, -1);
    const Lattice pm = LatticeAt(n, 1, -1);
    const Lattice mc = LatticeAt(n, -1, 0);
    const Lattice cc = LatticeAt(n, 0, 0);
    const Lattice pc = LatticeAt(n, 1, 0);
    const Lattice mp = LatticeAt(n, -1, 1);
    const Lattice cp = LatticeAt(n, 0, 1);
    const Lattice pp = LatticeAt(n, 1, 1);
    if constexpr (blendColumns) {
        const Lattice qm = LatticeAt(n, 2, -1);
        const Lattice qc = LatticeAt(n, 2, 0);
        const Lattice qp = LatticeAt(n, 2, 1);
        if constexpr (blendRows) {
            const Lattice mq = LatticeAt(n, -1, 2);
            const Lattice cq = LatticeAt(n, 0, 2);
            const Lattice pq = LatticeAt(n, 1, 2);
            const Lattice qq = LatticeAt(n, 2, 2);
            const Lattice* const values[4][9] = {{&pp, &mp, &pm, &mm, &pc, &mc, &cp, &cm, &cc},
                                                 {&qp, &cp, &qm, &cm, &qc, &cc, &pp, &pm, &pc},
                                                 {&pq, &mq, &pc, &mc, &pp, &mp, &cq, &cc, &cp},
                                                 {&qq, &cq, &qc, &cc, &qp, &cp, &pq, &pc, &pp}};
            F32 v[4];
            SmoothedTogether<4>(values, v);
            const F64 top = Widen(Narrow(Widen(v[0]) * columnWeight0 + Widen(v[1]) * columnWeight1));
            const F64 bottom = Widen(Narrow(Widen(v[2]) * columnWeight0 + Widen(v[3]) * columnWeight1));
            return top * rowWeight0 + bottom * rowWeight1;
        } else {
            const Lattice* const values[2][9] = {{&pp, &mp, &pm, &mm, &pc, &mc, &cp, &cm, &cc},
                                                 {&qp, &cp, &qm, &cm, &qc, &cc, &pp, &pm, &pc}};
            F32 v[2];
            SmoothedTogether<2>(values, v);
            return Widen(Narrow(Widen(v[0]) * columnWeight0 + Widen(v[1]) * columnWeight1));
        }
    } else {
        if constexpr (blendRows) {
            const Lattice mq = LatticeAt(n, -1, 2);
            const Lattice cq = LatticeAt(n, 0, 2);
            const Lattice pq = LatticeAt(n, 1, 2);
            const Lattice* const values[2][9] = {{&pp, &mp, &pm, &mm, &pc, &mc, &cp, &cm, &cc},
                                                 {&pq, &mq, &pc, &mc, &pp, &mp, &cq, &cc, &cp}};
            F32 v[2];
            SmoothedTogether<2>(values, v);
            return Widen(v[0]) * rowWeight0 + Widen(v[1]) * rowWeight1;
        }
        return Widen(Smoothed(pp, mp, pm, mm, pc, mc, cp, cm, cc));
    }
}

// The layer values of Lanes pixels whose second lattice column or row is not
// the one after the first (indices beyond 2^24 wrap or round as floats):
// each of the four smoothed values from its own nine lattice values.
VELMORA_LANE_INLINE F64 ScatteredCellLanes(U32 column0, U32 column1, std::uint32_t row0, std::uint32_t row1,
                                           F64 columnWeight0, F64 columnWeight1, double rowWeight0,
                                           double rowWeight1) {
    // Beyond 2^24 an index and the next often make the same float key, and
    // then the same smoothed value.
    bool sameColumns = true;
    for (int lane = 0; lane < Lanes; ++lane) {
        sameColumns &= column1[lane] == column0[lane];
    }
    const bool sameRows = row1 == row0;
    const F64 v1 = Widen(SmoothedAround(column0 + row0));
    const F64 v2 = sameColumns ? v1 : Widen(SmoothedAround(column1 + row0));
    const F64 v3 = sameRows ? v1 : Widen(SmoothedAround(column0 + row1));
    const F64 v4 = sameRows ? v2 : sameColumns ? v3 : Widen(SmoothedAround(column1 + row1));
    const F64 top = Widen(Narrow(v1 * columnWeight0 + v2 * columnWeight1));
    const F64 bottom = Widen(Narrow(v3 * columnWeight0 + v4 * columnWeight1));
    return top * rowWeight0 + bottom * rowWeight1;
}

// The terms of one row of fine cells.
struct FineRow {
    std::uint32_t sum0;  // 57 LatticeIndex(key0) and of key1, wrapping
    std::uint32_t sum1;
    double weight0;
    double weight1;
};

// One group of Lanes columns, whose columns the layer's kind leaves open:
// each group finds what its own columns have in common.
VELMORA_LANE_INLINE F64 FineCellGroup(const std::uint32_t* columnSum0, const std::uint32_t* columnSum1,
                                       const double* columnWeight0, const double* columnWeight1,
                                       const FineRow& row) {
    const U32 column0 = Load<U32>(columnSum0);
    const U32 column1 = Load<U32>(columnSum1);
    const F64 weight0 = Load<F64>(columnWeight0);
    const F64 weight1 = Load<F64>(columnWeight1);
    const U32 n = column0 + row.sum0;
    // Columns whose blend is its first value need only their first column;
    // the others need their second to be the column after the first.
    bool columnsBlend = false;
    bool columnsAdjacent = true;
    for (int lane = 0; lane < Lanes; ++lane) {
        const bool first = IsFirstValue(weight0[lane], weight1[lane]);
        columnsBlend |= !first;
        columnsAdjacent &= first || column1[lane] == column0[lane] + 1u;
    }
    const bool rowBlends = !IsFirstValue(row.weight0, row.weight1);
    if (!columnsAdjacent || (rowBlends && row.sum1 != row.sum0 + LatticeSum(0, 1))) {
        return ScatteredCellLanes(column0, column1, row.sum0, row.sum1, weight0, weight1, row.weight0, row.weight1);
    }
    if (columnsBlend) {
        return rowBlends ? FineCellLanes<true, true>(n, weight0, weight1, row.weight0, row.weight1)
                         : FineCellLanes<true, false>(n, weight0, weight1, row.weight0, row.weight1);
    }
    return rowBlends ? FineCellLanes<false, true>(n, weight0, weight1, row.weight0, row.weight1)
                     : FineCellLanes<false, false>(n, weight0, weight1, row.weight0, row.weight1);
}

// Lanes columns at x, by the function that suits them all.
template <typename Group>
VELMORA_LANE_INLINE void ForEachFineGroup(const std::uint32_t* columnSum0, const std::uint32_t* columnSum1,
                                          const double* columnWeight0, const double* columnWeight1, double* layer,
                                          std::int32_t count, Group&& group) {
    std::int32_t x = 0;
    for (; x + Lanes <= count; x += Lanes) {
        Store(layer + x, group(columnSum0 + x, columnSum1 + x, columnWeight0 + x, columnWeight1 + x));
    }
    if (x < count) {
        // The last, partial group through full-width copies, padded with
        // columns of fraction 0 whose second column is the next.
        alignas(64) std::uint32_t sums0[Lanes] = {};
        alignas(64) std::uint32_t sums1[Lanes];
        alignas(64) double weight0[Lanes];
        alignas(64) double weight1[Lanes] = {};
        alignas(64) double out[Lanes];
        for (int lane = 0; lane < Lanes; ++lane) {
            sums1[lane] = 1;
            weight0[lane] = 1.0;
        }
        const auto rest = static_cast<std::size_t>(count - x);
        std::memcpy(sums0, columnSum0 + x, rest * sizeof(std::uint32_t));
        std::memcpy(sums1, columnSum1 + x, rest * sizeof(std::uint32_t));
        std::memcpy(weight0, columnWeight0 + x, rest * sizeof(double));
        std::memcpy(weight1, columnWeight1 + x, rest * sizeof(double));
        Store(out, group(sums0, sums1, weight0, weight1));
        std::memcpy(layer + x, out, rest * sizeof(double));
    }
}

void FineCells(const std::uint32_t* columnSum0, const std::uint32_t* columnSum1, const double* columnWeight0,
               const double* columnWeight1, CellColumns columns, std::uint32_t rowSum0, std::uint32_t rowSum1,
               double rowWeight0, double rowWeight1, double* layer, std::int32_t count) {
    const FineRow row{rowSum0, rowSum1, rowWeight0, rowWeight1};
    const bool rowBlends = !IsFirstValue(rowWeight0, rowWeight1);
    const bool rowsAdjacent = !rowBlends || rowSum1 == rowSum0 + LatticeSum(0, 1);
    // Columns that the whole layer shares go straight to their lanes, without
    // looking at each group's columns again on every row.
    const auto shared = [&]<bool blendColumns, bool blendRows>() {
        ForEachFineGroup(columnSum0, columnSum1, columnWeight0, columnWeight1, layer, count,
                         [&](const std::uint32_t* sum0, const std::uint32_t*, const double* weight0,
                             const double* weight1) {
                             return FineCellLanes<blendColumns, blendRows>(Load<U32>(sum0) + rowSum0,
                                                                           Load<F64>(weight0), Load<F64>(weight1),
                                                                           rowWeight0, rowWeight1);
                         });
    };
    if (rowsAdjacent && columns == CellColumns::FirstValues) {
        rowBlends ? shared.template operator()<false, true>() : shared.template operator()<false, false>();
    } else if (rowsAdjacent && columns == CellColumns::Adjacent) {
        rowBlends ? shared.template operator()<true, true>() : shared.template operator()<true, false>();
    } else {
        ForEachFineGroup(columnSum0, columnSum1, columnWeight0, columnWeight1, layer, count,
                         [&](const std::uint32_t* sum0, const std::uint32_t* sum1, const double* weight0,
                             const double* weight1) __attribute__((always_inline)) {
                             return FineCellGroup(sum0, sum1, weight0, weight1, row);
                         });
    }
}

}  // namespace

}  // namespace velmora
