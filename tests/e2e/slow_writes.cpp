// Preloaded into the program by the hostile real-window test. Every write of
// a save's size (the window system's and the log's writes are far smaller)
// first waits VELMORA_WRITE_DELAY_MS milliseconds, so that a save lasts long
// enough to be watched, cancelled and interrupted however fast the disk is.
#include <dlfcn.h>
#include <time.h>
#include <unistd.h>

#include <cstdlib>

namespace {

constexpr size_t SaveWriteBytes = size_t{64} << 10;

using WriteFunction = ssize_t (*)(int, const void*, size_t);

long DelayMilliseconds() {
    const char* text = std::getenv("VELMORA_WRITE_DELAY_MS");
    return text != nullptr ? std::strtol(text, nullptr, 10) : 0;
}

}  // namespace

extern "C" ssize_t write(int fd, const void* buffer, size_t count) {
    static const auto realWrite = reinterpret_cast<WriteFunction>(dlsym(RTLD_NEXT, "write"));
    static const long delay = DelayMilliseconds();
    if (count >= SaveWriteBytes && delay > 0) {
        // A signal cuts the wait short; the write goes ahead as it would have.
        const timespec pause{delay / 1000, (delay % 1000) * 1'000'000};
        (void)nanosleep(&pause, nullptr);
    }
    return realWrite(fd, buffer, count);
}
