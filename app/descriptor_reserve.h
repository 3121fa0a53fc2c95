// A few file descriptors held back for reporting: when the process has used
// up all the others (a save that fails for want of one, say), the window
// system still gets the few it needs to draw the message.
#pragma once

#include <array>

namespace velmora {

class DescriptorReserve {
public:
    // Takes the reserve.
    DescriptorReserve() noexcept { Take(); }
    ~DescriptorReserve() { Release(); }
    DescriptorReserve(const DescriptorReserve&) = delete;
    DescriptorReserve& operator=(const DescriptorReserve&) = delete;

    // Gives the reserve back to the system, for what comes next.
    void Release() noexcept;
    // Takes back as much of the reserve as the system will give.
    void Take() noexcept;

private:
    static constexpr int Size = 8;
    std::array<int, Size> held_{-1, -1, -1, -1, -1, -1, -1, -1};
};

}  // namespace velmora
