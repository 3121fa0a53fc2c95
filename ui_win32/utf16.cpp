#include "ui_win32/utf16.h"

#include <windows.h>

#include <climits>
#include <new>

namespace velmora {

// Both conversions take their length as an int: no text of the form comes
// near 2^31 units, so a longer one is refused as if memory had run out.

std::wstring Utf16(std::string_view text) {
    if (text.empty()) {
        return {};
    }
    if (text.size() > INT_MAX) {
        throw std::bad_alloc();
    }
    const int length = static_cast<int>(text.size());
    const int units = MultiByteToWideChar(CP_UTF8, 0, text.data(), length, nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(units), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), length, wide.data(), units);
    return wide;
}

std::string Utf8(std::wstring_view text) {
    if (text.empty()) {
        return {};
    }
    if (text.size() > INT_MAX / 3) {
        throw std::bad_alloc();
    }
    const int length = static_cast<int>(text.size());
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
    std::string narrow(static_cast<std::size_t>(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), length, narrow.data(), bytes, nullptr, nullptr);
    return narrow;
}

}  // namespace velmora
