#include "app/background_job.h"

#include <new>
#include <system_error>

#include "image/page_memory.h"

namespace velmora {

namespace {

double Share(std::uint64_t done, std::uint64_t total) noexcept {
    return total > 0 ? static_cast<double>(done) / static_cast<double>(total) : 0.0;
}

}  // namespace

double RenderJob::Progress() const noexcept {
    return Share(control_.done.load(), control_.total.load());
}

void SaveJob::Run() {
    (void)SaveBitmapFile(fileName_, bitmap_.get(), &surface_, errorNumber_, &control_);
}

double SaveJob::Progress() const noexcept {
    return Share(control_.written.load(), control_.total.load());
}

bool JobServices::StartThread(std::jthread& thread, std::function<void()> work) noexcept {
    try {
        thread = std::jthread(std::move(work));
        return true;
    } catch (const std::system_error&) {
        return false;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

bool JobServices::RoomFor(std::size_t bytes) noexcept {
    // Asked of the system as a block of pages, given back at once: under an
    // address-space limit that is what fails first.
    return AllocatePages(bytes) != nullptr;
}

}  // namespace velmora
