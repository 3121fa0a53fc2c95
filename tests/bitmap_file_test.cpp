#include "image/bitmap_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "image/map_image.h"
#include "noise/octave_noise.h"
#include "tests/support/test_support.h"

#ifndef _WIN32
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

using namespace velmora;

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

std::uint32_t U32(const Bytes& b, std::size_t at) {
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
}
std::uint32_t U16(const Bytes& b, std::size_t at) { return b[at] | b[at + 1] << 8; }

void WriteText(const fs::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

Bytes Encode(const Bitmap& bitmap, const MemorySurface& surface) {
    Bytes out;
    EXPECT_TRUE(WriteBitmapFile(bitmap, surface, [&out](std::span<const std::uint8_t> bytes) {
        out.insert(out.end(), bytes.begin(), bytes.end());
        return true;
    }));
    return out;
}

// Checks the two headers against the layout a bitmap of this size and
// format must give.
void ExpectHeaders(const Bytes& file, int width, int height, int bits, std::uint32_t colours) {
    const std::uint64_t stride = *RowStride(width, bits);
    const std::uint32_t offset = 54 + 4 * colours;
    ASSERT_GE(file.size(), 54u);
    EXPECT_EQ(file[0], 'B');
    EXPECT_EQ(file[1], 'M');
    EXPECT_EQ(U32(file, 2), offset + stride * height);
    EXPECT_EQ(file.size(), offset + stride * height);
    EXPECT_EQ(U32(file, 6), 0u);
    EXPECT_EQ(U32(file, 10), offset);
    EXPECT_EQ(U32(file, 14), 40u);
    EXPECT_EQ(static_cast<std::int32_t>(U32(file, 18)), width);
    EXPECT_EQ(static_cast<std::int32_t>(U32(file, 22)), height);
    EXPECT_EQ(U16(file, 26), 1u);
    EXPECT_EQ(U16(file, 28), static_cast<std::uint32_t>(bits));
    EXPECT_EQ(U32(file, 30), 0u);
    EXPECT_EQ(U32(file, 34), stride * height);
    EXPECT_EQ(U32(file, 38), 0u);
    EXPECT_EQ(U32(file, 42), 0u);
    EXPECT_EQ(U32(file, 46), colours);
    EXPECT_EQ(U32(file, 50), 0u);
}

TEST(SettleDepth, FollowsTheDepthTable) {
    const struct {
        std::uint16_t planes, bits, depth;
    } cases[] = {{1, 1, 1},   {1, 2, 4},   {1, 4, 4},   {2, 2, 4},   {1, 5, 8},   {1, 8, 8},
                 {1, 9, 16},  {1, 16, 16}, {1, 17, 24}, {1, 24, 24}, {3, 8, 24},  {1, 25, 32},
                 {1, 32, 32}, {1, 0, 4},   {2, 32768, 4}};  // the last wraps to 0 in 16 bits
    for (const auto& c : cases) {
        EXPECT_EQ(SettleDepth(c.planes, c.bits), c.depth) << c.planes << " x " << c.bits;
    }
}

TEST(LayOutBitmapFile, SizesAndLimits) {
    const auto map = LayOutBitmapFile({512, 512, 1, 24});
    ASSERT_TRUE(map);
    EXPECT_EQ(map->fileSize, 786486u);
    EXPECT_EQ(map->pixelOffset, 54u);
    EXPECT_EQ(map->imageSize, 786432u);
    EXPECT_EQ(map->colours, 0u);

    const auto sixteen = LayOutBitmapFile({3, 2, 1, 16});
    ASSERT_TRUE(sixteen);
    EXPECT_EQ(sixteen->colours, 65536u);
    EXPECT_EQ(sixteen->pixelOffset, 54u + 4 * 65536);

    EXPECT_FALSE(LayOutBitmapFile({0, 5, 1, 24}));
    EXPECT_FALSE(LayOutBitmapFile({5, -5, 1, 24}));
    EXPECT_FALSE(LayOutBitmapFile({65536, 65536, 1, 24}));  // over 4 GiB
    EXPECT_TRUE(LayOutBitmapFile({1, (0xFFFFFFFF - 54) / 4, 1, 24}));
    EXPECT_FALSE(LayOutBitmapFile({1, (0xFFFFFFFF - 54) / 4 + 1, 1, 24}));
    EXPECT_FALSE(LayOutBitmapFile({2147483647, 2147483647, 1, 32}));
}

// Saving in a fresh directory; every test checks what is left in it.
class SaveBitmapFileTest : public testing::Test {
protected:
    void SetUp() override {
        dir_ = MakeTestFolder("velmora-save");
        surface_ = CreateCompatibleSurface();
    }
    void TearDown() override {
#ifndef _WIN32
        for (const fs::path& mount : mounts_) {
            ::umount2(mount.c_str(), MNT_DETACH);
        }
#endif
        fs::remove_all(dir_);
    }

    MapImage Map(int width, int height, float frequency = 0.21f) {
        OctaveNoise noise;
        noise.frequency = frequency;
        std::optional<MapImage> image = CreateMapImage(*surface_, width, height);
        EXPECT_TRUE(image);
        RenderMap(noise, *image);
        return std::move(*image);
    }

    std::vector<std::string> Entries(const fs::path& where) const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(where)) {
            names.push_back(entry.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }

#ifndef _WIN32
    // Mounts a filesystem for a failure test; false where this process may not mount.
    bool Mount(const fs::path& target, const char* type, const char* source, unsigned long flags,
               const char* options) {
        fs::create_directories(target);
        if (::mount(source, target.c_str(), type, flags, options) != 0) {
            return false;
        }
        mounts_.push_back(target);
        return true;
    }
#endif

    fs::path dir_;
    std::unique_ptr<MemorySurface> surface_;
    std::vector<fs::path> mounts_;
};

TEST_F(SaveBitmapFileTest, MapFilesCarryHeadersAndRowsBottomUp) {
    for (const auto& [w, h] : {std::pair{512, 512}, std::pair{3, 2}, std::pair{5, 3}}) {
        SCOPED_TRACE(testing::Message() << w << "x" << h);
        const MapImage image = Map(w, h);
        const fs::path path = dir_ / ("map" + std::to_string(w));
        ASSERT_EQ(SaveBitmapFile(path.string(), image.bitmap.get(), surface_.get()), S_OK);
        const Bytes file = ReadFileBytes(path);
        ExpectHeaders(file, w, h, 24, 0);
        ASSERT_EQ(file.size(), 54 + image.Pixels().size());
        EXPECT_TRUE(std::equal(image.Pixels().begin(), image.Pixels().end(), file.begin() + 54));
    }
    EXPECT_EQ(fs::file_size(dir_ / "map512"), 786486u);
    const Bytes small = ReadFileBytes(dir_ / "map3");
    EXPECT_EQ(U32(small, 2), 78u);
    EXPECT_EQ(U32(small, 34), 24u);
    for (std::size_t row = 0; row < 2; ++row) {
        for (std::size_t pad = 9; pad < 12; ++pad) {
            EXPECT_EQ(small[54 + 12 * row + pad], 0);
        }
    }
    EXPECT_EQ(Entries(dir_), (std::vector<std::string>{"map3", "map5", "map512"}));
}

TEST_F(SaveBitmapFileTest, TallMapsAreWrittenWhole) {
    const MapImage image = Map(2, 70001, 0.01f);
    const fs::path path = dir_ / "tall.bmp";
    ASSERT_EQ(SaveBitmapFile(path.string(), image.bitmap.get(), surface_.get()), S_OK);
    const Bytes file = ReadFileBytes(path);
    ExpectHeaders(file, 2, 70001, 24, 0);
    EXPECT_TRUE(std::equal(image.Pixels().begin(), image.Pixels().end(), file.begin() + 54));
}

TEST_F(SaveBitmapFileTest, NameIsUsedUnchangedAndRelativeToTheCurrentDirectory) {
    const MapImage image = Map(3, 2);
    const fs::path before = fs::current_path();
    fs::current_path(dir_);
    const HRESULT result = SaveBitmapFile("plain name", image.bitmap.get(), surface_.get());
    fs::current_path(before);
    EXPECT_EQ(result, S_OK);
    EXPECT_EQ(Entries(dir_), std::vector<std::string>{"plain name"});
}

TEST_F(SaveBitmapFileTest, SavingAgainReplacesTheFileWithAFreshCopy) {
    const fs::path path = dir_ / "again.bmp";
    WriteText(path, std::string(2000000, 'x'));  // longer than the map: must not linger
    MapImage first = Map(31, 17, 0.5f);
    ASSERT_EQ(SaveBitmapFile(path.string(), first.bitmap.get(), surface_.get()), S_OK);
    const MapImage second = Map(31, 17, 0.05f);
    ASSERT_EQ(SaveBitmapFile(path.string(), second.bitmap.get(), surface_.get()), S_OK);
    ASSERT_EQ(SaveBitmapFile((dir_ / "fresh.bmp").string(), second.bitmap.get(), surface_.get()), S_OK);
    EXPECT_EQ(ReadFileBytes(path), ReadFileBytes(dir_ / "fresh.bmp"));
    EXPECT_EQ(Entries(dir_), (std::vector<std::string>{"again.bmp", "fresh.bmp"}));
}

TEST_F(SaveBitmapFileTest, UnusableNamesFailAndWriteNothing) {
    const MapImage image = Map(3, 2);
    fs::create_directory(dir_ / "folder");
    const std::string names[] = {
        "",
        (dir_ / "missing" / "map.bmp").string(),
        (dir_ / "folder").string(),
        (dir_ / "folder").string() + "/",
        (dir_ / "with").string() + std::string(1, '\0') + "nul",
    };
    for (const std::string& name : names) {
        EXPECT_EQ(SaveBitmapFile(name, image.bitmap.get(), surface_.get()), E_FAIL) << name;
    }
    EXPECT_EQ(SaveBitmapFile((dir_ / "x").string(), nullptr, surface_.get()), E_FAIL);
    EXPECT_EQ(SaveBitmapFile((dir_ / "x").string(), image.bitmap.get(), nullptr), E_FAIL);
    EXPECT_EQ(Entries(dir_), std::vector<std::string>{"folder"});
    EXPECT_TRUE(Entries(dir_ / "folder").empty());
}

TEST_F(SaveBitmapFileTest, DevicesAreNeverReplaced) {
    const MapImage image = Map(3, 2);
#ifdef _WIN32
    const char* device = "NUL";
#else
    const char* device = "/dev/full";
#endif
    int errorNumber = 0;
    EXPECT_EQ(SaveBitmapFile(device, image.bitmap.get(), surface_.get(), errorNumber), E_FAIL);
    EXPECT_EQ(errorNumber, NotRegularFileError);
#ifndef _WIN32
    struct stat status {};
    ASSERT_EQ(::stat(device, &status), 0);
    EXPECT_TRUE(S_ISCHR(status.st_mode));
#endif
}

// Each name saves; the map lands in the file the name leads to, and links
// stay links.
TEST_F(SaveBitmapFileTest, LinksAreWrittenThroughAndLongestNamesSave) {
    const MapImage image = Map(5, 3);
    const Bytes expected = Encode(*image.bitmap, *surface_);
    const std::string longest(255, 'n');
    fs::create_directory(dir_ / "real");
    WriteText(dir_ / "real" / "old.bmp", "previous");
    std::error_code linkError;
    fs::create_symlink("real/old.bmp", dir_ / "link", linkError);  // relative, into another folder
    if (linkError) {
        GTEST_SKIP() << "this system lets the test make no symbolic link: " << linkError.message();
    }
    fs::create_symlink(dir_ / "link", dir_ / "chain");  // absolute, to a link
    fs::create_symlink("real/new.bmp", dir_ / "dangling");
    const struct {
        const char* what;
        fs::path name, written;
    } cases[] = {
        {"255-byte name", dir_ / longest, dir_ / longest},
        {"link", dir_ / "link", dir_ / "real" / "old.bmp"},
        {"chain of links", dir_ / "chain", dir_ / "real" / "old.bmp"},
        {"dangling link", dir_ / "dangling", dir_ / "real" / "new.bmp"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
#ifdef _WIN32
        if (std::string_view(c.what) == "dangling link") {
            // Refused on Windows (ENOENT): the file a dangling link names is
            // not created through it.
            EXPECT_EQ(SaveBitmapFile(c.name.string(), image.bitmap.get(), surface_.get()), E_FAIL);
            continue;
        }
#endif
        if (fs::exists(c.written)) {
            WriteText(c.written, "previous");
        }
        ASSERT_EQ(SaveBitmapFile(c.name.string(), image.bitmap.get(), surface_.get()), S_OK);
        EXPECT_EQ(ReadFileBytes(c.written), expected);
    }
    for (const char* link : {"link", "chain", "dangling"}) {
        EXPECT_TRUE(fs::is_symlink(dir_ / link)) << link;
    }
    EXPECT_EQ(Entries(dir_), (std::vector<std::string>{"chain", "dangling", "link", longest, "real"}));
#ifdef _WIN32
    EXPECT_EQ(Entries(dir_ / "real"), std::vector<std::string>{"old.bmp"});
#else
    EXPECT_EQ(Entries(dir_ / "real"), (std::vector<std::string>{"new.bmp", "old.bmp"}));
#endif
}

// A replaced file keeps its mode, and its owner and group where the process
// may set them: root any, a user their own.
TEST_F(SaveBitmapFileTest, ReplacingKeepsModeOwnerAndGroup) {
#ifdef _WIN32
    GTEST_SKIP() << "Windows files have no POSIX mode, owner or group";
#else
    const bool root = ::geteuid() == 0;
    const uid_t owner = root ? 12345 : ::geteuid();
    const gid_t group = root ? 23456 : ::getegid();
    const MapImage image = Map(5, 3);
    const fs::path path = dir_ / "kept.bmp";
    for (const mode_t mode : {0640, 0705, 0444}) {
        SCOPED_TRACE(testing::Message() << std::oct << mode);
        if (!root && (mode & S_IWUSR) == 0) {
            continue;  // only root may replace a read-only file
        }
        WriteText(path, "previous");
        ASSERT_EQ(::chmod(path.c_str(), mode), 0);
        ASSERT_EQ(::chown(path.c_str(), owner, group), 0);
        ASSERT_EQ(SaveBitmapFile(path.string(), image.bitmap.get(), surface_.get()), S_OK);
        struct stat saved {};
        ASSERT_EQ(::stat(path.c_str(), &saved), 0);
        EXPECT_EQ(saved.st_mode & 07777, mode);
        EXPECT_EQ(saved.st_uid, owner);
        EXPECT_EQ(saved.st_gid, group);
        EXPECT_EQ(ReadFileBytes(path).size(), 54u + image.Pixels().size());
    }
#endif
}

TEST_F(SaveBitmapFileTest, FullDiskFailsAndKeepsTheOldFile) {
#ifdef _WIN32
    GTEST_SKIP() << "a test on Windows cannot mount a small file system";
#else
    const fs::path small = dir_ / "small";
    if (!Mount(small, "tmpfs", "tmpfs", 0, "size=64k")) {
        GTEST_SKIP() << "cannot mount a small tmpfs here";
    }
    const fs::path path = small / "map.bmp";
    WriteText(path, "previous");
    const MapImage image = Map(512, 512);  // 786,486 bytes do not fit in 64 KiB
    EXPECT_EQ(SaveBitmapFile(path.string(), image.bitmap.get(), surface_.get()), E_FAIL);
    EXPECT_EQ(Entries(small), std::vector<std::string>{"map.bmp"});
    const Bytes kept = ReadFileBytes(path);
    EXPECT_EQ(std::string(kept.begin(), kept.end()), "previous");
#endif
}

TEST_F(SaveBitmapFileTest, ReadOnlyDirectoryFailsAndKeepsTheOldFile) {
#ifdef _WIN32
    GTEST_SKIP() << "a folder's read-only attribute does not stop files being made in it on Windows, "
                    "and Wine grants every access list";
#else
    const fs::path locked = dir_ / "locked";
    fs::create_directory(locked);
    WriteText(locked / "map.bmp", "previous");
    if (::geteuid() == 0) {
        // Permission bits do not stop root; a read-only mount does.
        if (!Mount(locked, nullptr, locked.c_str(), MS_BIND, nullptr) ||
            ::mount(nullptr, locked.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) != 0) {
            GTEST_SKIP() << "cannot make a read-only mount here";
        }
    } else {
        fs::permissions(locked, fs::perms::owner_read | fs::perms::owner_exec);
    }
    const MapImage image = Map(3, 2);
    EXPECT_EQ(SaveBitmapFile((locked / "map.bmp").string(), image.bitmap.get(), surface_.get()), E_FAIL);
    EXPECT_EQ(SaveBitmapFile((locked / "new.bmp").string(), image.bitmap.get(), surface_.get()), E_FAIL);
    EXPECT_EQ(Entries(locked), std::vector<std::string>{"map.bmp"});
    const Bytes kept = ReadFileBytes(locked / "map.bmp");
    EXPECT_EQ(std::string(kept.begin(), kept.end()), "previous");
    if (::geteuid() != 0) {
        fs::permissions(locked, fs::perms::owner_all);
    }
#endif
}

TEST(WriteBitmapFile, StopsWhenTheSinkRefuses) {
    auto surface = CreateCompatibleSurface();
    // Two headers, then the rows: three chunks of whole rows, or two rows of
    // 1.2 MB in two pieces each.
    const struct {
        int width, height;
        std::size_t calls;
    } cases[] = {{1000, 1000, 5}, {400000, 2, 6}};
    for (const auto& c : cases) {
        std::optional<MapImage> image = CreateMapImage(*surface, c.width, c.height);
        ASSERT_TRUE(image);
        for (std::size_t allowed = 0; allowed <= c.calls; ++allowed) {
            SCOPED_TRACE(testing::Message() << c.width << "x" << c.height << ", " << allowed << " calls allowed");
            std::size_t calls = 0;
            EXPECT_EQ(WriteBitmapFile(*image->bitmap, *surface, [&](std::span<const std::uint8_t>) {
                return calls++ < allowed;
            }), allowed == c.calls);
            EXPECT_EQ(calls, std::min(allowed + 1, c.calls));
        }
    }
}

// Palette and direct-colour bitmaps of every depth: headers, the colour
// table that the fetch fills and the rows as they are in memory, for small
// rows and for rows wider than one piece of the write (2.5 MiB each).
TEST(WriteBitmapFile, EveryDepthWithItsColourTable) {
    auto surface = CreateCompatibleSurface();
    for (int bits : {1, 4, 8, 16, 24, 32}) {
        for (const auto& [width, height] : {std::pair{13, 3}, std::pair{(5 << 22) / bits + 3, 2}}) {
            SCOPED_TRACE(testing::Message() << bits << " bits, " << width << "x" << height);
            const std::vector<RgbQuad> colours{{0, 0, 0, 0}, {255, 128, 1, 0}, {3, 2, 1, 0}};
            const std::span<const RgbQuad> table = bits == 1  ? std::span(colours).first(2)
                                                   : bits <= 8 ? std::span(colours)
                                                               : std::span<const RgbQuad>();
            auto bitmap = CreateDibSection([&] {
                BitmapInfoHeader header;
                header.width = width;
                header.height = height;
                header.bitCount = static_cast<std::uint16_t>(bits);
                return header;
            }(), table);
            ASSERT_TRUE(bitmap);
            for (std::size_t i = 0; i < bitmap->Pixels().size(); ++i) {
                bitmap->Pixels()[i] = static_cast<std::uint8_t>(i * 37 + 1);
            }
            const Bytes file = Encode(*bitmap, *surface);
            const std::uint32_t entries = bits < 24 ? 1u << bits : 0;
            ExpectHeaders(file, width, height, bits, entries);
            for (std::uint32_t i = 0; i < entries; ++i) {
                const RgbQuad expected = i < table.size() ? table[i] : RgbQuad{};
                ASSERT_EQ(file[54 + 4 * i], expected.blue) << i;
                ASSERT_EQ(file[54 + 4 * i + 1], expected.green) << i;
                ASSERT_EQ(file[54 + 4 * i + 2], expected.red) << i;
                ASSERT_EQ(file[54 + 4 * i + 3], 0) << i;
            }
            const auto pixels = bitmap->Pixels();
            EXPECT_TRUE(std::equal(pixels.begin(), pixels.end(), file.begin() + 54 + 4 * entries));
        }
    }
}

// The resident memory of this process, and its peak, in bytes.
std::uint64_t StatusBytes(const std::string& key) {
    std::ifstream status("/proc/self/status");
    std::string name;
    while (status >> name) {
        if (name == key) {
            std::uint64_t kilobytes = 0;
            status >> kilobytes;
            return kilobytes * 1024;
        }
        status.ignore(1 << 20, '\n');
    }
    return 0;
}

// A row of 90 MB is written in pieces: the write needs no copy of the row.
// The pixels are touched first: some Linux kernels back even a read of
// untouched memory with pages of its own, which would count in the peak.
TEST(WriteBitmapFile, WideRowNeedsNoSecondCopy) {
#ifdef VELMORA_SANITIZED
    GTEST_SKIP() << "built with a sanitizer, whose own memory counts in the peak";
#endif
    auto surface = CreateCompatibleSurface();
    BitmapInfoHeader header;
    header.width = 30000000;
    header.height = 1;
    header.bitCount = 24;
    const std::shared_ptr<Bitmap> bitmap = CreateDibSection(header);
    ASSERT_TRUE(bitmap);
    std::ranges::fill(bitmap->Pixels(), std::uint8_t{0x5A});
    std::ofstream("/proc/self/clear_refs") << "5";  // the peak starts again from now
    const std::uint64_t before = StatusBytes("VmRSS:");
    if (before == 0 || StatusBytes("VmHWM:") > before + (1 << 20)) {
        GTEST_SKIP() << "cannot measure the peak memory here";
    }
    std::size_t largest = 0;
    std::uint64_t total = 0;
    EXPECT_TRUE(WriteBitmapFile(*bitmap, *surface, [&](std::span<const std::uint8_t> bytes) {
        largest = std::max(largest, bytes.size());
        total += bytes.size();
        return true;
    }));
    EXPECT_EQ(total, 54u + 90000000u);
    EXPECT_LE(largest, std::size_t{1} << 20);
    EXPECT_LT(StatusBytes("VmHWM:") - before, std::uint64_t{16} << 20);
}

}  // namespace
