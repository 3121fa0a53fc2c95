// Text between the program's UTF-8 and the UTF-16 of the Win32 wide calls.
#pragma once

#include <string>
#include <string_view>

namespace velmora {

// text in UTF-16; each invalid UTF-8 sequence becomes U+FFFD.
[[nodiscard]] std::wstring Utf16(std::string_view text);

// text in UTF-8; each unpaired surrogate becomes U+FFFD.
[[nodiscard]] std::string Utf8(std::wstring_view text);

}  // namespace velmora
