// Lengths in device pixels and in the logical pixels Qt sizes windows in.
// The window system turns a logical length L into round(L * ratio) device
// pixels, halves away from zero, for sizes as for positions.
#pragma once

#include <QRect>

#include <cstdint>

namespace velmora {

// The device pixels of a logical length at ratio.
[[nodiscard]] int DeviceLength(int logical, qreal ratio) noexcept;

// The smallest logical length whose DeviceLength holds at least
// devicePixels (>= 0), capped at QWIDGETSIZE_MAX.
[[nodiscard]] int LogicalLengthCovering(std::int64_t devicePixels, qreal ratio) noexcept;

// Under a scale factor Qt asks the window manager to size the window in
// steps of DeviceLength(1) device pixels from a base length. Returns the
// smallest logical base length whose device length lies on the step grid
// through deviceLength and does not exceed it, so that a window manager
// keeping to the steps leaves deviceLength as it is. 0 where steps are
// single pixels or no such base exists.
[[nodiscard]] int BaseLengthOnGrid(int deviceLength, qreal ratio) noexcept;

// The device pixels that a logical rectangle touches, rounded outward.
[[nodiscard]] QRect DevicePixels(const QRect& logical, qreal ratio) noexcept;

}  // namespace velmora
