#include "ui/text_number.h"

#include <locale.h>

#include <cstdlib>
#include <limits>

namespace velmora {

namespace {

// The "C" locale, made once and kept for the life of the process; the
// conversions below take it explicitly and so ignore the process locale.
locale_t CLocale() noexcept {
    static const locale_t locale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    return locale;
}

}  // namespace

std::int32_t TextToInteger(const std::string& text) noexcept {
    // strtol saturates at the range of long, which holds every int32.
    static_assert(sizeof(long) >= sizeof(std::int64_t));
    const long value = strtol_l(text.c_str(), nullptr, 10, CLocale());
    constexpr long Lowest = std::numeric_limits<std::int32_t>::min();
    constexpr long Highest = std::numeric_limits<std::int32_t>::max();
    return static_cast<std::int32_t>(value < Lowest ? Lowest : value > Highest ? Highest : value);
}

double TextToReal(const std::string& text) noexcept {
    return strtod_l(text.c_str(), nullptr, CLocale());
}

}  // namespace velmora
