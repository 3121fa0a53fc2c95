// Large blocks of zero-filled memory straight from the system, in huge pages
// where the kernel offers them. One source per system: page_memory_posix.cpp
// and page_memory_win32.cpp.
#pragma once

#include <cstddef>
#include <memory>

namespace velmora {

// Frees a block made by AllocatePages.
struct PageMemoryRelease {
    std::size_t bytes = 0;
    void operator()(void* memory) const noexcept;
};

using PageMemory = std::unique_ptr<std::byte[], PageMemoryRelease>;

// bytes (at least 1) of zero-filled memory, aligned to at least 4 KiB (64 KiB
// on Windows). On Linux a block of 2 MiB or more is aligned to 2 MiB and
// advised to the kernel as worth backing with huge pages: a first touch of
// fresh memory then faults once per 2 MiB instead of once per 4 KiB. Where
// huge pages are not offered, or for small blocks, the memory comes in
// ordinary pages. Null when the memory cannot be had.
[[nodiscard]] PageMemory AllocatePages(std::size_t bytes) noexcept;

}  // namespace velmora
