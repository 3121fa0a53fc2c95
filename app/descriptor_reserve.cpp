#include "app/descriptor_reserve.h"

#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>
#endif

namespace velmora {

void DescriptorReserve::Release() noexcept {
    for (int& fd : held_) {
#ifndef _WIN32
        if (fd >= 0) {
            ::close(fd);
        }
#endif
        fd = -1;
    }
}

void DescriptorReserve::Take() noexcept {
#ifndef _WIN32
    for (int& fd : held_) {
        if (fd < 0) {
            fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
        }
    }
#endif
}

}  // namespace velmora
