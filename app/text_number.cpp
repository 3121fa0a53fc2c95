#include "app/text_number.h"

#include <locale.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <limits>

namespace velmora {

namespace {

#ifdef _WIN32
using CLocaleHandle = _locale_t;
#else
using CLocaleHandle = locale_t;
#endif

// The "C" locale, made once and kept for the life of the process; the real
// conversion takes it explicitly and so ignores the process locale.
CLocaleHandle CLocale() noexcept {
#ifdef _WIN32
    static const CLocaleHandle locale = _create_locale(LC_ALL, "C");
#else
    static const CLocaleHandle locale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
#endif
    return locale;
}

// White space as the "C" locale has it.
bool IsCSpace(char c) noexcept {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

}  // namespace

std::int32_t TextToInteger(const std::string& text) noexcept {
    constexpr std::int64_t Lowest = std::numeric_limits<std::int32_t>::min();
    constexpr std::int64_t Highest = std::numeric_limits<std::int32_t>::max();
    const char* c = text.c_str();
    while (IsCSpace(*c)) {
        ++c;
    }
    const bool negative = *c == '-';
    if (*c == '-' || *c == '+') {
        ++c;
    }
    // Digits accumulate in magnitude, held just past the 32-bit range once
    // they reach it, so no count of digits overflows.
    std::int64_t magnitude = 0;
    for (; *c >= '0' && *c <= '9'; ++c) {
        magnitude = std::min<std::int64_t>(magnitude * 10 + (*c - '0'), Highest + 1);
    }
    const std::int64_t value = negative ? -magnitude : magnitude;
    return static_cast<std::int32_t>(value < Lowest ? Lowest : value > Highest ? Highest : value);
}

double TextToReal(const std::string& text) noexcept {
#ifdef _WIN32
    return _strtod_l(text.c_str(), nullptr, CLocale());
#else
    return strtod_l(text.c_str(), nullptr, CLocale());
#endif
}

}  // namespace velmora
