#include "image/page_memory.h"

#include <sys/mman.h>

#include <cstdint>

namespace velmora {

namespace {

constexpr std::size_t HugePage = std::size_t{2} << 20;

}  // namespace

void PageMemoryRelease::operator()(void* memory) const noexcept {
    if (memory != nullptr) {
        ::munmap(memory, bytes);
    }
}

PageMemory AllocatePages(std::size_t bytes) noexcept {
    if (bytes == 0 || bytes > SIZE_MAX - 2 * HugePage) {
        return PageMemory(nullptr, PageMemoryRelease{});
    }
    if (bytes < HugePage) {
        // Anonymous mappings are zero-filled and page-aligned.
        void* memory = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (memory == MAP_FAILED) {
            return PageMemory(nullptr, PageMemoryRelease{});
        }
        return PageMemory(static_cast<std::byte*>(memory), PageMemoryRelease{bytes});
    }
    // Map a huge page more than needed, then give back what lies outside the
    // aligned block.
    const std::size_t size = (bytes + HugePage - 1) / HugePage * HugePage;
    void* mapping = ::mmap(nullptr, size + HugePage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapping == MAP_FAILED) {
        return PageMemory(nullptr, PageMemoryRelease{});
    }
    const auto start = reinterpret_cast<std::uintptr_t>(mapping);
    const std::uintptr_t aligned = (start + HugePage - 1) / HugePage * HugePage;
    if (aligned > start) {
        ::munmap(mapping, aligned - start);
    }
    const std::uintptr_t end = start + size + HugePage;
    if (end > aligned + size) {
        ::munmap(reinterpret_cast<void*>(aligned + size), end - (aligned + size));
    }
#ifdef MADV_HUGEPAGE
    // Only advice: where the kernel has no huge pages the call fails and
    // ordinary pages serve.
    (void)::madvise(reinterpret_cast<void*>(aligned), size, MADV_HUGEPAGE);
#endif
    return PageMemory(reinterpret_cast<std::byte*>(aligned), PageMemoryRelease{size});
}

}  // namespace velmora
