#include "image/page_memory.h"

#include "image/system_types.h"

namespace velmora {

void PageMemoryRelease::operator()(void* memory) const noexcept {
    if (memory != nullptr) {
        ::VirtualFree(memory, 0, MEM_RELEASE);
    }
}

PageMemory AllocatePages(std::size_t bytes) noexcept {
    if (bytes == 0) {
        return PageMemory(nullptr, PageMemoryRelease{});
    }
    // Committed pages are zero-filled and aligned to the allocation
    // granularity (64 KiB). Large pages need a privilege that a desktop
    // program does not have, so ordinary pages serve.
    void* memory = ::VirtualAlloc(nullptr, bytes, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
    return PageMemory(static_cast<std::byte*>(memory), PageMemoryRelease{bytes});
}

}  // namespace velmora
