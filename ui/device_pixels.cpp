#include "ui/device_pixels.h"

#include <QWidget>

#include <algorithm>
#include <cmath>

namespace velmora {

int DeviceLength(int logical, qreal ratio) noexcept {
    return qRound(logical * ratio);
}

int LogicalLengthCovering(std::int64_t devicePixels, qreal ratio) noexcept {
    const double estimate = std::ceil(static_cast<double>(devicePixels) / ratio);
    int logical = static_cast<int>(std::clamp<double>(estimate, 0, QWIDGETSIZE_MAX));
    // The estimate can be one off either way where ratio * logical falls on
    // a half or the division rounds: settle on the smallest length that holds.
    while (logical < QWIDGETSIZE_MAX && DeviceLength(logical, ratio) < devicePixels) {
        ++logical;
    }
    while (logical > 0 && DeviceLength(logical - 1, ratio) >= devicePixels) {
        --logical;
    }
    return logical;
}

int BaseLengthOnGrid(int deviceLength, qreal ratio) noexcept {
    const int step = DeviceLength(1, ratio);
    if (step <= 1) {
        return 0;
    }
    // Base lengths 1, 2, ... give device lengths of every residue modulo
    // the step within a few tries at any ratio above 1.
    for (int base = 1; base <= 8 * step; ++base) {
        const int device = DeviceLength(base, ratio);
        if (device > deviceLength) {
            break;
        }
        if ((deviceLength - device) % step == 0) {
            return base;
        }
    }
    return 0;
}

QRect DevicePixels(const QRect& logical, qreal ratio) noexcept {
    const auto left = static_cast<int>(std::floor(logical.left() * ratio));
    const auto top = static_cast<int>(std::floor(logical.top() * ratio));
    const auto right = static_cast<int>(std::ceil((logical.left() + logical.width()) * ratio));
    const auto bottom = static_cast<int>(std::ceil((logical.top() + logical.height()) * ratio));
    return {left, top, right - left, bottom - top};
}

}  // namespace velmora
