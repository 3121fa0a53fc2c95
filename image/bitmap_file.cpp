#include "image/bitmap_file.h"

#include <fcntl.h>
#include <locale.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>
#include <ctime>
#include <memory>
#include <new>
#include <string>

namespace velmora {

namespace {

constexpr std::uint32_t FileHeaderSize = 14;
constexpr std::uint32_t InfoHeaderSize = 40;
constexpr std::uint64_t LargestFileSize = 0xFFFFFFFFu;
// Pixel rows are fetched and written in pieces of at most this size, so a
// save never needs a second copy of a large image, nor of a wide row.
constexpr std::size_t ChunkBytes = std::size_t{1} << 20;

class ByteWriter {
public:
    explicit ByteWriter(std::span<std::uint8_t> out) : out_(out) {}
    void U16(std::uint32_t v) { Put(v, 2); }
    void U32(std::uint32_t v) { Put(v, 4); }

private:
    void Put(std::uint32_t v, int bytes) {
        for (int i = 0; i < bytes; ++i) {
            out_[at_++] = static_cast<std::uint8_t>(v >> (8 * i));
        }
    }
    std::span<std::uint8_t> out_;
    std::size_t at_ = 0;
};

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

// A new, empty file in folder under a short name of fixed length, so that a
// target of any length the file system takes leaves room for it. Created
// exclusively, so that nothing else is overwritten, and with the mode the
// system gives any new file (0666 less the umask). Returns the name, or an
// empty one with fd -1 and errno telling why.
std::string CreateTemporaryIn(int folder, int& fd) {
    static std::atomic<std::uint64_t> counter{0};
    constexpr std::string_view Letters = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    for (int attempt = 0; attempt < 100; ++attempt) {
        timespec now {};
        ::clock_gettime(CLOCK_REALTIME, &now);
        // splitmix64 over the time, the process and a count: unlikely to meet
        // another save's name, and O_EXCL settles any meeting anyway.
        std::uint64_t bits = static_cast<std::uint64_t>(now.tv_nsec) ^
                             static_cast<std::uint64_t>(now.tv_sec) << 30 ^
                             static_cast<std::uint64_t>(::getpid()) << 40 ^
                             counter.fetch_add(0x9E3779B97F4A7C15u);
        bits = (bits ^ bits >> 30) * 0xBF58476D1CE4E5B9u;
        bits = (bits ^ bits >> 27) * 0x94D049BB133111EBu;
        bits ^= bits >> 31;
        std::string name = ".velmora-";
        for (int i = 0; i < 6; ++i, bits /= Letters.size()) {
            name += Letters[bits % Letters.size()];
        }
        fd = ::openat(folder, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            return name;
        }
        if (errno != EEXIST) {
            break;
        }
    }
    fd = -1;
    return {};
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

private:
    int fd_;
};

}  // namespace

std::uint16_t SettleDepth(std::uint16_t planes, std::uint16_t bitsPerPixel) noexcept {
    const auto product = static_cast<std::uint16_t>(planes * bitsPerPixel);
    if (product == 1) return 1;
    if (product <= 4) return 4;
    if (product <= 8) return 8;
    if (product <= 16) return 16;
    if (product <= 24) return 24;
    return 32;
}

std::optional<BitmapFileLayout> LayOutBitmapFile(const BitmapDescription& description) noexcept {
    if (description.width < 1 || description.height < 1) {
        return std::nullopt;
    }
    BitmapFileLayout layout;
    layout.depth = SettleDepth(description.planes, description.bitsPerPixel);
    layout.colours = layout.depth < 24 ? std::uint32_t{1} << layout.depth : 0;
    // Width < 2^31 and depth <= 32: every term below stays far inside 64 bits.
    const std::uint64_t stride = *RowStride(description.width, layout.depth);
    const std::uint64_t imageSize = stride * static_cast<std::uint64_t>(description.height);
    const std::uint64_t pixelOffset = FileHeaderSize + InfoHeaderSize + 4ull * layout.colours;
    if (imageSize > LargestFileSize - pixelOffset) {
        return std::nullopt;
    }
    layout.imageSize = static_cast<std::uint32_t>(imageSize);
    layout.pixelOffset = static_cast<std::uint32_t>(pixelOffset);
    layout.fileSize = static_cast<std::uint32_t>(pixelOffset + imageSize);
    return layout;
}

bool WriteBitmapFile(const Bitmap& bitmap, const MemorySurface& surface, const ByteSink& sink) {
    const std::optional<BitmapDescription> description = DescribeBitmap(&bitmap);
    if (!description) {
        return false;
    }
    const std::optional<BitmapFileLayout> layout = LayOutBitmapFile(*description);
    if (!layout) {
        return false;
    }

    BitmapInfoHeader info;
    info.width = description->width;
    info.height = description->height;
    info.planes = description->planes;
    info.bitCount = description->bitsPerPixel;
    info.compression = BI_RGB;
    info.sizeImage = layout->imageSize;
    info.clrUsed = layout->colours;

    const std::size_t stride = layout->imageSize / static_cast<std::uint32_t>(description->height);
    const auto height = static_cast<std::uint32_t>(description->height);
    // Whole rows go in one piece while they fit a chunk; a wider row is
    // fetched a chunk at a time, so the buffer never exceeds ChunkBytes.
    const bool wholeRows = stride <= ChunkBytes;
    const std::uint32_t rowsPerChunk =
        wholeRows ? static_cast<std::uint32_t>(std::clamp<std::size_t>(ChunkBytes / stride, 1, height)) : 1;
    const std::size_t chunkBytes = wholeRows ? stride * rowsPerChunk : ChunkBytes;

    std::unique_ptr<RgbQuad[]> colourTable(new (std::nothrow) RgbQuad[layout->colours]());
    std::unique_ptr<std::uint8_t[]> buffer(new (std::nothrow) std::uint8_t[chunkBytes]);
    if (!colourTable || !buffer) {
        return false;
    }
    const std::span<RgbQuad> table(colourTable.get(), layout->colours);
    const std::span<std::uint8_t> chunk(buffer.get(), chunkBytes);

    // The next piece of pixel rows into chunk; its size in bytes, 0 on failure.
    std::uint32_t row = 0;
    std::size_t rowByte = 0;  // where in row a wide row goes on
    const auto fetchNext = [&]() -> std::size_t {
        if (wholeRows) {
            const std::uint32_t rows =
                FetchBitmapRows(surface, bitmap, row, std::min(rowsPerChunk, height - row), chunk, info, table);
            row += rows;
            return stride * rows;
        }
        const std::size_t bytes = FetchBitmapRowPart(surface, bitmap, row, rowByte,
                                                     chunk.first(std::min(chunkBytes, stride - rowByte)), info, table);
        rowByte += bytes;
        if (rowByte == stride) {
            rowByte = 0;
            ++row;
        }
        return bytes;
    };

    // The first fetch also fills the colour table, which precedes the rows.
    std::size_t fetched = fetchNext();
    if (fetched == 0) {
        return false;
    }

    std::array<std::uint8_t, FileHeaderSize + InfoHeaderSize> headers{};
    ByteWriter out(headers);
    out.U16(0x4D42);  // "BM"
    out.U32(layout->fileSize);
    out.U16(0);
    out.U16(0);
    out.U32(layout->pixelOffset);
    out.U32(InfoHeaderSize);
    out.U32(static_cast<std::uint32_t>(info.width));
    out.U32(static_cast<std::uint32_t>(info.height));
    out.U16(info.planes);
    out.U16(info.bitCount);
    out.U32(info.compression);
    out.U32(info.sizeImage);
    out.U32(0);
    out.U32(0);
    out.U32(info.clrUsed);
    out.U32(0);

    std::unique_ptr<std::uint8_t[]> tableBytes(new (std::nothrow) std::uint8_t[4 * table.size() + 1]);
    if (!tableBytes) {
        return false;
    }
    for (std::size_t i = 0; i < table.size(); ++i) {
        tableBytes[4 * i + 0] = table[i].blue;
        tableBytes[4 * i + 1] = table[i].green;
        tableBytes[4 * i + 2] = table[i].red;
        tableBytes[4 * i + 3] = table[i].reserved;
    }
    if (!sink(headers) || !sink({tableBytes.get(), 4 * table.size()})) {
        return false;
    }

    while (true) {
        if (!sink(chunk.first(fetched))) {
            return false;
        }
        if (row == height) {
            return true;
        }
        fetched = fetchNext();
        if (fetched == 0) {
            return false;
        }
    }
}

HRESULT SaveBitmapFile(std::string_view fileName, const Bitmap* bitmap, const MemorySurface* surface) {
    int ignored = 0;
    return SaveBitmapFile(fileName, bitmap, surface, ignored);
}

HRESULT SaveBitmapFile(std::string_view fileName, const Bitmap* bitmap, const MemorySurface* surface,
                       int& errorNumber) {
    return SaveBitmapFile(fileName, bitmap, surface, errorNumber, nullptr);
}

HRESULT SaveBitmapFile(std::string_view fileName, const Bitmap* bitmap, const MemorySurface* surface,
                       int& errorNumber, SaveControl* control) {
    errorNumber = EINVAL;
    if (fileName.empty() || fileName.find('\0') != std::string_view::npos || bitmap == nullptr ||
        surface == nullptr) {
        return E_FAIL;
    }
    const std::optional<BitmapDescription> description = DescribeBitmap(bitmap);
    if (!description || !LayOutBitmapFile(*description)) {
        errorNumber = EFBIG;
        return E_FAIL;
    }
    std::string target;
    std::optional<struct stat> existing;
    if (const int failure = ResolveTarget(std::string(fileName), target, existing); failure != 0) {
        errorNumber = failure;
        return E_FAIL;
    }
    // The checks, the temporary and the rename all go through one handle on
    // the target's folder: each names a file in it by its short name alone,
    // however long the folder's own name is.
    const std::string folderName = FolderOf(target);
    const FileDescriptor folder(
        ::open(folderName.empty() ? "." : folderName.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (folder.Get() < 0) {
        errorNumber = errno;
        return E_FAIL;
    }
    const std::string name = NameIn(target);
    if (existing) {
        // Never opened: a device or a FIFO could block or take the bytes.
        if (!S_ISREG(existing->st_mode)) {
            errorNumber = NotRegularFileError;
            return E_FAIL;
        }
        // A file the user may not write is not replaced behind their back.
        if (::faccessat(folder.Get(), name.c_str(), W_OK, AT_EACCESS) != 0) {
            errorNumber = errno;
            return E_FAIL;
        }
    }

    int fd = -1;
    const std::string temporary = CreateTemporaryIn(folder.Get(), fd);
    if (fd < 0) {
        errorNumber = errno;
        return E_FAIL;
    }
    int failure = 0;
    bool ok = true;
    if (existing && !TakeOverOwnerAndMode(fd, *existing)) {
        ok = false;
        failure = errno;
    }
    // The bitmap was described above, so a write that fails without an
    // error from the file ran out of memory.
    if (control != nullptr) {
        control->total = LayOutBitmapFile(*description)->fileSize;
    }
    ok = ok && WriteBitmapFile(*bitmap, *surface, [fd, &failure, control](std::span<const std::uint8_t> bytes) {
        if (control != nullptr && control->stop.load(std::memory_order_relaxed)) {
            failure = SaveStoppedError;
            return false;
        }
        errno = 0;
        if (WriteAll(fd, bytes)) {
            if (control != nullptr) {
                control->written.fetch_add(bytes.size(), std::memory_order_relaxed);
            }
            return true;
        }
        failure = errno != 0 ? errno : EIO;  // a write of 0 bytes sets no errno
        return false;
    });
    if (!ok && failure == 0) {
        failure = ENOMEM;
    }
    if (ok && ::fsync(fd) != 0) {
        ok = false;
        failure = errno;
    }
    if (::close(fd) != 0 && ok) {
        ok = false;
        failure = errno;
    }
    if (ok && control != nullptr && control->stop.load()) {
        ok = false;
        failure = SaveStoppedError;
    }
    if (ok && ::renameat(folder.Get(), temporary.c_str(), folder.Get(), name.c_str()) != 0) {
        ok = false;
        failure = errno;
    }
    if (!ok) {
        ::unlinkat(folder.Get(), temporary.c_str(), 0);
        errorNumber = failure;
        return E_FAIL;
    }
    errorNumber = 0;
    return S_OK;
}

std::string SystemErrorText(int errorNumber) {
    static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    return strerror_l(errorNumber, cLocale);
}

}  // namespace velmora
