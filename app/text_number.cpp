#include "app/text_number.h"

#include <locale.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <optional>
#include <string_view>
#include <system_error>

namespace velmora {

namespace {

// White space as the "C" locale has it.
bool IsCSpace(char c) noexcept {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

bool IsDigit(char c) noexcept {
    return c >= '0' && c <= '9';
}

int HexValue(char c) noexcept {
    if (IsDigit(c)) {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

char Lower(char c) noexcept {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// Whether text starts with word, in any case; word is lower case.
bool StartsWithWord(std::string_view text, std::string_view word) noexcept {
    if (text.size() < word.size()) {
        return false;
    }
    return std::equal(word.begin(), word.end(), text.begin(), [](char w, char t) { return w == Lower(t); });
}

// A NaN's payload as the GNU C library reads it from "nan(chars)": chars
// read as an unsigned number in base 0 (0x for hexadecimal, a leading 0 for
// octal), saturating; nothing when they are not wholly such a number.
bool NanPayload(std::string_view chars, std::uint64_t& payload) noexcept {
    int base = 10;
    std::size_t at = 0;
    if (chars.size() > 2 && chars[0] == '0' && Lower(chars[1]) == 'x' && HexValue(chars[2]) >= 0) {
        base = 16;
        at = 2;
    } else if (!chars.empty() && chars[0] == '0') {
        base = 8;
    }
    if (at == chars.size()) {
        return false;
    }
    payload = 0;
    bool saturated = false;
    for (; at < chars.size(); ++at) {
        const int digit = HexValue(chars[at]);
        if (digit < 0 || digit >= base) {
            return false;
        }
        const auto value = static_cast<std::uint64_t>(digit);
        if (payload > (std::numeric_limits<std::uint64_t>::max() - value) / static_cast<std::uint64_t>(base)) {
            saturated = true;
        }
        payload = payload * static_cast<std::uint64_t>(base) + value;
    }
    if (saturated) {
        payload = std::numeric_limits<std::uint64_t>::max();
    }
    return true;
}

// A quiet NaN with the low 51 bits of payload in its mantissa, as the GNU C
// library makes it.
double QuietNan(std::uint64_t payload) noexcept {
    constexpr std::uint64_t QuietNanBits = 0x7FF8000000000000u;
    constexpr std::uint64_t PayloadBits = (std::uint64_t{1} << 51) - 1;
    const std::uint64_t bits = QuietNanBits | (payload & PayloadBits);
    double value = 0;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

// For a number that std::from_chars found out of range: whether it is too
// large for a double rather than too small. number is as NumberLength finds
// it. A number out of range lies hundreds of orders of magnitude from 1, so
// its order is counted coarsely: the digits before the point from the first
// that is not 0, or the zeros after the point before the first that is not,
// in digits (decimal) or bits (hexadecimal), plus the exponent.
bool Overflows(std::string_view number, bool hex) noexcept {
    const std::size_t mark = std::min(number.size(), number.find_first_of(hex ? "pP" : "eE"));
    const std::string_view significand = number.substr(0, mark);
    const std::size_t point = std::min(significand.size(), significand.find('.'));
    const std::size_t first = significand.find_first_not_of("0.");
    std::int64_t order = 0;
    if (first != std::string_view::npos) {
        order = first < point ? static_cast<std::int64_t>(point - first)
                              : -static_cast<std::int64_t>(first - point - 1);
    }
    if (hex) {
        order *= 4;
    }
    std::int64_t exponent = 0;
    if (mark < number.size()) {
        std::size_t at = mark + 1;
        const bool negative = number[at] == '-';
        if (number[at] == '-' || number[at] == '+') {
            ++at;
        }
        for (; at < number.size(); ++at) {
            exponent = std::min<std::int64_t>(exponent * 10 + (number[at] - '0'), std::int64_t{1} << 40);
        }
        exponent = negative ? -exponent : exponent;
    }
    return order + exponent > 0;
}

// The length of the unsigned number at the start of text: digits (hexadecimal
// ones when hex) with at most one point among them, then an exponent (after
// "e", or "p" when hex) if one with at least one digit follows; 0 when there
// are no digits.
std::size_t NumberLength(std::string_view text, bool hex) noexcept {
    const auto isDigit = [hex](char c) { return hex ? HexValue(c) >= 0 : IsDigit(c); };
    std::size_t at = 0;
    bool digits = false;
    for (; at < text.size() && isDigit(text[at]); ++at) {
        digits = true;
    }
    if (at < text.size() && text[at] == '.') {
        for (++at; at < text.size() && isDigit(text[at]); ++at) {
            digits = true;
        }
    }
    if (!digits) {
        return 0;
    }
    if (at < text.size() && Lower(text[at]) == (hex ? 'p' : 'e')) {
        std::size_t exponent = at + 1;
        if (exponent < text.size() && (text[exponent] == '+' || text[exponent] == '-')) {
            ++exponent;
        }
        if (exponent < text.size() && IsDigit(text[exponent])) {
            for (at = exponent; at < text.size() && IsDigit(text[at]); ++at) {
            }
        }
    }
    return at;
}

// The unsigned number at the start of text, hexadecimal without its "0x" when
// hex; nothing when text starts with none. The program finds where the number
// ends and std::from_chars only converts it: GCC 12's reads "0x1p+-1" as
// 0x1p-1, where strtod stops before the "p".
std::optional<double> ReadMagnitude(std::string_view text, bool hex) noexcept {
    const std::string_view number = text.substr(0, NumberLength(text, hex));
    if (number.empty()) {
        return std::nullopt;
    }
    double value = 0;
    const std::from_chars_result read = std::from_chars(number.data(), number.data() + number.size(), value,
                                                        hex ? std::chars_format::hex : std::chars_format::general);
    if (read.ec == std::errc::result_out_of_range) {
        return Overflows(number, hex) ? std::numeric_limits<double>::infinity() : 0.0;
    }
    if (read.ec != std::errc()) {
        return std::nullopt;
    }
    return value;
}

#ifndef _WIN32
// The "C" locale, made once and kept for the life of the process; the real
// conversion takes it explicitly and so ignores the process locale.
locale_t CLocale() noexcept {
    static const locale_t locale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    return locale;
}
#endif

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
    return ScanReal(text);
#else
    return strtod_l(text.c_str(), nullptr, CLocale());
#endif
}

double ScanReal(const std::string& text) noexcept {
    std::string_view rest(text.c_str());  // up to the first NUL, as a C string
    while (!rest.empty() && IsCSpace(rest.front())) {
        rest.remove_prefix(1);
    }
    const bool negative = !rest.empty() && rest.front() == '-';
    if (!rest.empty() && (rest.front() == '-' || rest.front() == '+')) {
        rest.remove_prefix(1);
    }
    // Text without a number reads as +0, whatever sign it starts with.
    std::optional<double> magnitude;
    if (StartsWithWord(rest, "inf")) {
        magnitude = std::numeric_limits<double>::infinity();
    } else if (StartsWithWord(rest, "nan")) {
        std::uint64_t payload = 0;
        const std::string_view inside = rest.substr(std::min<std::size_t>(4, rest.size()));
        const std::size_t end = inside.find_first_not_of(
            "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz_");
        const bool enclosed = rest.size() > 3 && rest[3] == '(' && end != std::string_view::npos && inside[end] == ')';
        if (!enclosed || !NanPayload(inside.substr(0, end), payload)) {
            payload = 0;
        }
        magnitude = QuietNan(payload);
    } else if (rest.size() > 2 && rest[0] == '0' && Lower(rest[1]) == 'x' && NumberLength(rest.substr(2), true) > 0) {
        magnitude = ReadMagnitude(rest.substr(2), true);
    } else {
        magnitude = ReadMagnitude(rest, false);
    }
    if (!magnitude) {
        return 0.0;
    }
    return negative ? -*magnitude : *magnitude;
}

}  // namespace velmora
