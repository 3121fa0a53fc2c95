// Reading numbers from form text, the same under every user locale: "." is
// the decimal separator even where the user's locale says ",".
//
// Both readers take the text as a C string, up to its first NUL byte, skip
// leading white space (space, tab, newline, vertical tab, form feed, carriage
// return), take an optional sign and then the longest prefix that forms a
// number; the rest is ignored. Text with no number reads as 0. Nothing else
// is checked.
#pragma once

#include <cstdint>
#include <string>

namespace velmora {

// A decimal integer, as the C library's strtol reads it in the "C" locale,
// saturated to the 32-bit range instead of overflowing.
[[nodiscard]] std::int32_t TextToInteger(const std::string& text) noexcept;

// A real number, as the GNU C library's strtod reads it in the "C" locale:
// decimal with an optional exponent, hexadecimal (0x1.8p3), "inf",
// "infinity" and "nan" in any case, "nan(123)" with its payload. Out of
// range gives +-HUGE_VAL or a value at or near 0, as strtod does. Rounded
// correctly, to the nearest double.
[[nodiscard]] double TextToReal(const std::string& text) noexcept;

// The same reading, made by the program itself over std::from_chars, which
// is correctly rounded and ignores every locale, rather than by the C
// library. TextToReal is this where the C library reads otherwise: the
// Windows C runtime reads no hexadecimal, "inf" or "nan".
[[nodiscard]] double ScanReal(const std::string& text) noexcept;

}  // namespace velmora
