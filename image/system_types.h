// The platform's types that the core's interfaces speak in. On Windows they
// are the system's own (HRESULT, and S_OK, E_FAIL and BI_RGB, which its
// headers define as macros); elsewhere stand-ins with the same values.
#pragma once

#if defined(_WIN32)

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

namespace velmora {
using ::HRESULT;
}  // namespace velmora

#else

#include <cstdint>

namespace velmora {

using HRESULT = std::int32_t;
constexpr HRESULT S_OK = 0;
constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005u);
constexpr std::uint32_t BI_RGB = 0;

}  // namespace velmora

#endif
