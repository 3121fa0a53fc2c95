// The file layer on Linux and other POSIX systems. The checks, the
// temporary and the rename all go through one handle on the target's
// folder: each names a file in it by its short name alone, however long the
// folder's own name is.
#include <fcntl.h>
#include <locale.h>
#include <sched.h>
#include <signal.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>

#include "image/save_file.h"

namespace velmora {

namespace {

// Write-back of the file starts every this many bytes, and the window
// before it is waited for: the writer keeps pace with the disk, so a stop
// is seen between pieces soon, and the final flush has at most two windows
// left to write.
constexpr std::uint64_t WriteBackWindow = std::uint64_t{16} << 20;

bool WriteAll(int fd, std::span<const std::uint8_t> bytes) {
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        if (written == 0) {
            return false;
        }
        bytes = bytes.subspan(static_cast<std::size_t>(written));
    }
    return true;
}

// The folder part of path with its last slash ("" for a bare name), and the
// name in that folder.
std::string FolderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}
std::string NameIn(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The name a save writes for path: a symbolic link, or a chain of them, is
// followed to the file it points to, which need not exist (a dangling link
// creates it). existing is set when that file exists. Returns 0, or the errno
// value that stops the save (ELOOP for a chain too long to be anything but a
// loop).
int ResolveTarget(std::string path, std::string& resolved, std::optional<struct stat>& existing) {
    constexpr int LongestLinkChain = 40;  // as many as the kernel follows in one name
    for (int links = 0;; ++links) {
        struct stat status {};
        if (::lstat(path.c_str(), &status) != 0) {
            if (errno != ENOENT) {
                return errno;
            }
            resolved = path;
            existing.reset();
            return 0;
        }
        if (!S_ISLNK(status.st_mode)) {
            resolved = path;
            existing = status;
            return 0;
        }
        if (links == LongestLinkChain) {
            return ELOOP;
        }
        std::string link(PATH_MAX, '\0');
        const ssize_t length = ::readlink(path.c_str(), link.data(), link.size());
        if (length < 0) {
            return errno;
        }
        if (static_cast<std::size_t>(length) == link.size()) {
            return ENAMETOOLONG;
        }
        link.resize(static_cast<std::size_t>(length));
        // A relative link is read from the folder that holds it.
        path = link.starts_with('/') ? link : FolderOf(path) + link;
    }
}

// Why a save may not replace or create name in folder (status: the
// folder's), as the kernel would refuse the rename, found before anything is
// written; 0 when nothing stands in the way.
int RefusalIn(int folder, const struct stat& folderStatus, const std::string& name,
              const std::optional<struct stat>& existing) {
    if (existing) {
        // Never opened: a device or a FIFO could block or take the bytes.
        if (!S_ISREG(existing->st_mode)) {
            return NotRegularFileError;
        }
        // A file the user may not write is not replaced behind their back.
        if (::faccessat(folder, name.c_str(), W_OK, AT_EACCESS) != 0) {
            return errno;
        }
    }
    // The temporary is made in the folder and renamed there.
    if (::faccessat(folder, ".", W_OK | X_OK, AT_EACCESS) != 0) {
        return errno == EACCES ? FolderNotWritableError : errno;
    }
    // In a sticky folder only the file's owner, the folder's owner or a
    // process that may override ownership (root) may replace a file.
    const uid_t user = ::geteuid();
    if (existing && (folderStatus.st_mode & S_ISVTX) != 0 && existing->st_uid != user &&
        folderStatus.st_uid != user && user != 0) {
        return OtherUsersFileError;
    }
    return 0;
}

// Gives a replacement the mode of the file it replaces, and its owner and
// group as far as the process may set them (a user may hand a file to none
// but themself, and only to a group they belong to). Returns false, errno
// telling why, when the mode cannot be set: the replacement must not be more
// open than the file was.
bool TakeOverOwnerAndMode(int fd, const struct stat& old) {
    if (::fchown(fd, old.st_uid, old.st_gid) != 0) {
        [[maybe_unused]] const bool groupKept = ::fchown(fd, static_cast<uid_t>(-1), old.st_gid) == 0;
    }
    // After fchown, which clears the set-ID bits.
    return ::fchmod(fd, old.st_mode & 07777) == 0;
}

// Owns a file descriptor and closes it when it goes.
class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    [[nodiscard]] int Get() const noexcept { return fd_; }
    // Closes now; false, errno telling why, when the close reports an error.
    bool Close() noexcept {
        const int fd = fd_;
        fd_ = -1;
        return ::close(fd) == 0;
    }

private:
    int fd_;
};

// A hidden name for a temporary: ".velmora-" and six characters, 15 bytes,
// so that a target of any length the file system takes leaves room for it.
constexpr std::size_t TemporaryNameSize = 16;  // with the terminating NUL
std::array<char, TemporaryNameSize> NewTemporaryName() {
    static std::atomic<std::uint64_t> counter{0};
    constexpr std::string_view Letters = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    timespec now {};
    ::clock_gettime(CLOCK_REALTIME, &now);
    // splitmix64 over the time, the process and a count: unlikely to meet
    // another save's name, and creating it exclusively settles any meeting.
    std::uint64_t bits = static_cast<std::uint64_t>(now.tv_nsec) ^ static_cast<std::uint64_t>(now.tv_sec) << 30 ^
                         static_cast<std::uint64_t>(::getpid()) << 40 ^ counter.fetch_add(0x9E3779B97F4A7C15u);
    bits = (bits ^ bits >> 30) * 0xBF58476D1CE4E5B9u;
    bits = (bits ^ bits >> 27) * 0x94D049BB133111EBu;
    bits ^= bits >> 31;
    std::array<char, TemporaryNameSize> name{".velmora-"};
    for (std::size_t i = 9; i < 15; ++i, bits /= Letters.size()) {
        name[i] = Letters[bits % Letters.size()];
    }
    return name;
}

// The names of temporaries in flight, for a signal handler that ends the
// program: a fixed table, so that the handler reads it without allocating
// or locking. A save makes the name known before it creates it; the
// creating step and the handler meet through two flags (the handler's
// "ending", the step's thread), so that either the handler waits for the
// step and then removes what it made, or the step sees the program ending
// and creates nothing.
enum SlotState : int { Free, Taken, Named };

struct CleanupSlot {
    std::atomic<int> state{Free};
    std::atomic<pid_t> creatingThread{0};
    int folder = -1;
    std::array<char, TemporaryNameSize> name{};
};
static_assert(std::atomic<int>::is_always_lock_free && std::atomic<pid_t>::is_always_lock_free);

constexpr int CleanupSlots = 16;
std::array<CleanupSlot, CleanupSlots> cleanupSlots;
std::atomic<bool> ending{false};

// How long the handler waits for a step on another thread to end (a link
// or a create takes microseconds; a hung file system must not keep the
// program from ending).
constexpr long LongestWaitNanoseconds = 2'000'000'000;

// Async-signal-safe: removes every temporary a save has named.
void RemoveNamedTemporaries() noexcept {
    ending.store(true);
    const pid_t self = ::gettid();
    timespec start {};
    ::clock_gettime(CLOCK_MONOTONIC, &start);
    for (CleanupSlot& slot : cleanupSlots) {
        for (pid_t creating = slot.creatingThread.load(); creating != 0 && creating != self;
             creating = slot.creatingThread.load()) {
            timespec now {};
            ::clock_gettime(CLOCK_MONOTONIC, &now);
            if ((now.tv_sec - start.tv_sec) * 1'000'000'000L + (now.tv_nsec - start.tv_nsec) > LongestWaitNanoseconds) {
                break;
            }
            ::sched_yield();
        }
        if (slot.state.load() == Named) {
            ::unlinkat(slot.folder, slot.name.data(), 0);
        }
    }
}

// A save's entry in the table, from before its temporary is named until the
// name is gone. When every slot is taken the save goes on unregistered.
class Registration {
public:
    explicit Registration(int folder) noexcept {
        for (CleanupSlot& candidate : cleanupSlots) {
            int expected = Free;
            if (candidate.state.compare_exchange_strong(expected, Taken)) {
                slot_ = &candidate;
                slot_->folder = folder;
                return;
            }
        }
    }
    ~Registration() {
        if (slot_ != nullptr) {
            slot_->state.store(Free);
        }
    }
    Registration(const Registration&) = delete;
    Registration& operator=(const Registration&) = delete;

    // Runs create, which makes name exist in the folder, so that a handler
    // that ends the program removes it. Returns create's result; false with
    // errno EINTR, creating nothing, once the program is ending.
    template <typename Create>
    bool CreateNamed(const std::array<char, TemporaryNameSize>& name, Create create) noexcept {
        if (slot_ == nullptr) {
            return create();
        }
        slot_->creatingThread.store(::gettid());
        if (ending.load()) {
            slot_->creatingThread.store(0);
            errno = EINTR;
            return false;
        }
        slot_->name = name;
        slot_->state.store(Named);
        const bool created = create();
        const int createError = errno;
        if (!created) {
            slot_->state.store(Taken);
        }
        slot_->creatingThread.store(0);
        errno = createError;
        return created;
    }
    // The name is gone (renamed or removed).
    void Forget() noexcept {
        if (slot_ != nullptr) {
            slot_->state.store(Taken);
        }
    }

private:
    CleanupSlot* slot_ = nullptr;
};

extern "C" void EndWithCleanup(int signalNumber) {
    RemoveNamedTemporaries();
    struct sigaction byDefault {};
    byDefault.sa_handler = SIG_DFL;
    ::sigemptyset(&byDefault.sa_mask);
    ::sigaction(signalNumber, &byDefault, nullptr);
    // Blocked until the handler returns; then the default action ends the
    // program (a fault that is no signal sent repeats and ends it the same).
    ::raise(signalNumber);
}

// Starts write-back every WriteBackWindow bytes and waits for the window
// before, where the system offers it; elsewhere the final flush writes all.
class WriteBack {
public:
    explicit WriteBack(int fd) noexcept : fd_(fd) {}
    void Wrote(std::uint64_t bytes) noexcept {
        written_ += bytes;
#if defined(__linux__)
        while (written_ - started_ >= WriteBackWindow) {
            // Only advice: a file system that cannot is flushed at the end.
            (void)::sync_file_range(fd_, static_cast<off_t>(started_), WriteBackWindow, SYNC_FILE_RANGE_WRITE);
            if (started_ >= WriteBackWindow) {
                (void)::sync_file_range(fd_, static_cast<off_t>(started_ - WriteBackWindow), WriteBackWindow,
                                        SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE |
                                            SYNC_FILE_RANGE_WAIT_AFTER);
            }
            started_ += WriteBackWindow;
        }
#endif
    }

private:
    [[maybe_unused]] int fd_;
    std::uint64_t written_ = 0;
    [[maybe_unused]] std::uint64_t started_ = 0;
};

// Writes content to fd and flushes it, watching control. Returns 0 or the
// error number.
int WriteAndFlush(int fd, const save_file::Content& content, save_file::Progress& progress) {
    int failure = 0;
    WriteBack writeBack(fd);
    const bool written = content([&](std::span<const std::uint8_t> bytes) {
        if (progress.StopAsked()) {
            failure = SaveStoppedError;
            return false;
        }
        errno = 0;
        if (!WriteAll(fd, bytes)) {
            failure = errno != 0 ? errno : EIO;  // a write of 0 bytes sets no errno
            return false;
        }
        progress.Wrote(bytes.size());
        writeBack.Wrote(bytes.size());
        save_file::Pause(save_file::Stage::Chunk);
        return true;
    });
    if (!written) {
        // The bitmap was described before, so a write that fails without an
        // error from the file ran out of memory.
        return failure != 0 ? failure : ENOMEM;
    }
    if (progress.StopAsked()) {
        return SaveStoppedError;
    }
    if (::fsync(fd) != 0) {
        return errno;
    }
    save_file::Pause(save_file::Stage::Flushed);
    return progress.StopAsked() ? SaveStoppedError : 0;
}

// The save through a temporary without a name (O_TMPFILE), named at the end
// by a link through /proc and renamed over the target. Nothing when the
// file system or the system cannot: then the named way is taken.
std::optional<int> SaveThroughUnnamed(int folder, const std::string& name, const std::optional<struct stat>& existing,
                                      const save_file::Content& content, save_file::Progress& progress) {
#if defined(O_TMPFILE)
    if (save_file::Hooks().namedTemporary.load()) {
        return std::nullopt;
    }
    FileDescriptor file(::openat(folder, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666));
    if (file.Get() < 0) {
        return std::nullopt;
    }
    std::array<char, 32> link{};
    std::snprintf(link.data(), link.size(), "/proc/self/fd/%d", file.Get());
    struct stat linked {};
    if (::stat(link.data(), &linked) != 0) {
        return std::nullopt;  // no /proc to link through
    }
    if (existing && !TakeOverOwnerAndMode(file.Get(), *existing)) {
        return errno;
    }
    if (const int failure = WriteAndFlush(file.Get(), content, progress); failure != 0) {
        return failure;  // the file goes with its descriptor
    }
    Registration registration(folder);
    std::array<char, TemporaryNameSize> temporary{};
    bool named = false;
    for (int attempt = 0; attempt < 100 && !named; ++attempt) {
        temporary = NewTemporaryName();
        named = registration.CreateNamed(temporary, [&] {
            return ::linkat(AT_FDCWD, link.data(), folder, temporary.data(), AT_SYMLINK_FOLLOW) == 0;
        });
        if (!named && errno != EEXIST) {
            return errno;
        }
    }
    if (!named) {
        return EEXIST;
    }
    save_file::Pause(save_file::Stage::Named);
    int failure = progress.StopAsked() ? SaveStoppedError : 0;
    if (failure == 0 && ::renameat(folder, temporary.data(), folder, name.c_str()) != 0) {
        failure = errno;
    }
    if (failure != 0) {
        ::unlinkat(folder, temporary.data(), 0);
    }
    registration.Forget();
    if (failure == 0 && !file.Close()) {
        failure = errno;  // renamed all the same: the bytes were flushed
    }
    return failure;
#else
    return std::nullopt;
#endif
}

// The save through a temporary named from the start, removed on failure.
int SaveThroughNamed(int folder, const std::string& name, const std::optional<struct stat>& existing,
                     const save_file::Content& content, save_file::Progress& progress) {
    Registration registration(folder);
    std::array<char, TemporaryNameSize> temporary{};
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        temporary = NewTemporaryName();
        // Exclusive, so that nothing else is overwritten, and with the mode
        // the system gives any new file (0666 less the umask).
        const bool created = registration.CreateNamed(temporary, [&] {
            fd = ::openat(folder, temporary.data(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
            return fd >= 0;
        });
        if (!created && errno != EEXIST) {
            return errno;
        }
    }
    if (fd < 0) {
        return EEXIST;
    }
    FileDescriptor file(fd);
    int failure = 0;
    if (existing && !TakeOverOwnerAndMode(file.Get(), *existing)) {
        failure = errno;
    }
    if (failure == 0) {
        failure = WriteAndFlush(file.Get(), content, progress);
    }
    if (!file.Close() && failure == 0) {
        failure = errno;
    }
    if (failure == 0 && ::renameat(folder, temporary.data(), folder, name.c_str()) != 0) {
        failure = errno;
    }
    if (failure != 0) {
        ::unlinkat(folder, temporary.data(), 0);
    }
    registration.Forget();
    return failure;
}

}  // namespace

namespace save_file {

int SaveFile(std::string_view fileName, const Content& content, SaveControl* control) {
    std::string target;
    std::optional<struct stat> existing;
    if (const int failure = ResolveTarget(std::string(fileName), target, existing); failure != 0) {
        return failure;
    }
    const std::string folderName = FolderOf(target);
    const FileDescriptor folder(
        ::open(folderName.empty() ? "." : folderName.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    struct stat folderStatus {};
    if (folder.Get() < 0 || ::fstat(folder.Get(), &folderStatus) != 0) {
        return errno;
    }
    const std::string name = NameIn(target);
    if (const int refusal = RefusalIn(folder.Get(), folderStatus, name, existing); refusal != 0) {
        return refusal;
    }
    Progress progress(control);
    if (progress.StopAsked()) {
        return SaveStoppedError;
    }
    if (const std::optional<int> failure = SaveThroughUnnamed(folder.Get(), name, existing, content, progress)) {
        return *failure;
    }
    return SaveThroughNamed(folder.Get(), name, existing, content, progress);
}

}  // namespace save_file

std::string SystemErrorText(int errorNumber) {
    // The "C" locale's texts are the system's own English ones.
    static const locale_t english = ::newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    if (english == static_cast<locale_t>(nullptr)) {
        return "Unknown error " + std::to_string(errorNumber);
    }
    return ::strerror_l(errorNumber, english);
}

void InstallSaveCleanup() noexcept {
    // A write past the file size limit fails with EFBIG, which the save
    // reports, rather than ending the program with SIGXFSZ.
    struct sigaction previous {};
    if (::sigaction(SIGXFSZ, nullptr, &previous) == 0 && (previous.sa_flags & SA_SIGINFO) == 0 &&
        previous.sa_handler == SIG_DFL) {
        struct sigaction ignore {};
        ignore.sa_handler = SIG_IGN;
        ::sigemptyset(&ignore.sa_mask);
        ::sigaction(SIGXFSZ, &ignore, nullptr);
    }
    struct sigaction cleanup {};
    cleanup.sa_handler = EndWithCleanup;
    ::sigemptyset(&cleanup.sa_mask);
    for (const int signalNumber :
         {SIGTERM, SIGINT, SIGHUP, SIGQUIT, SIGSEGV, SIGBUS, SIGABRT, SIGFPE, SIGILL, SIGPIPE}) {
        if (::sigaction(signalNumber, nullptr, &previous) == 0 && (previous.sa_flags & SA_SIGINFO) == 0 &&
            previous.sa_handler == SIG_DFL) {
            ::sigaction(signalNumber, &cleanup, nullptr);
        }
    }
}

}  // namespace velmora
