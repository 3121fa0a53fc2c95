#include "image/bitmap_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <clocale>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "image/map_image.h"
#include "tests/support/test_support.h"

#ifndef _WIN32
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

using namespace velmora;

namespace {

namespace fs = std::filesystem;

class SaveFailure : public testing::Test {
protected:
    void SetUp() override {
        directory_ = MakeTestFolder("velmora-save-failure");
        surface_ = CreateCompatibleSurface();
        image_ = *CreateMapImage(*surface_, 7, 3);
        image_.Pixels()[0] = 42;
    }
    void TearDown() override { fs::remove_all(directory_); }

    int Save(const std::string& name) {
        int errorNumber = -1;
        const HRESULT result = SaveBitmapFile(name, image_.bitmap.get(), surface_.get(), errorNumber);
        EXPECT_EQ(result == S_OK, errorNumber == 0) << name;
        return errorNumber;
    }

    fs::path directory_;
    std::unique_ptr<MemorySurface> surface_;
    MapImage image_;
};

TEST_F(SaveFailure, SuccessReportsNoErrorAndWritesTheSameBytesAsThePlainSave) {
    const fs::path withReason = directory_ / "a.bmp";
    const fs::path plain = directory_ / "b.bmp";
    EXPECT_EQ(Save(withReason.string()), 0);
    ASSERT_EQ(SaveBitmapFile(plain.string(), image_.bitmap.get(), surface_.get()), S_OK);
    EXPECT_EQ(ReadFileBytes(withReason), ReadFileBytes(plain));
    EXPECT_EQ(ReadFileBytes(plain).size(), 54u + 24u * 3u);
}

TEST_F(SaveFailure, TellsWhyTheFileCouldNotBeWritten) {
    struct Case {
        const char* what;
        std::string name;
        int errorNumber;
    };
    std::vector<Case> cases = {
        {"empty name", "", EINVAL},
        {"name with a NUL", std::string("x\0y.bmp", 7), EINVAL},
        {"missing directory", (directory_ / "missing" / "a.bmp").string(), ENOENT},
        {"directory", directory_.string(), NotRegularFileError},
    };
#ifdef _WIN32
    cases.push_back({"device", "NUL", NotRegularFileError});
    cases.push_back({"name that is no UTF-8", (directory_ / "a").string() + "\xff.bmp", EILSEQ});
    const std::size_t kept = 0;
#else
    ASSERT_EQ(::mkfifo((directory_ / "fifo").c_str(), 0666), 0);
    fs::create_symlink("loop-b", directory_ / "loop-a");
    fs::create_symlink("loop-a", directory_ / "loop-b");
    fs::create_symlink(directory_, directory_ / "to-folder");
    cases.insert(cases.end(), {
        {"name of 256 bytes", (directory_ / std::string(256, 'n')).string(), ENAMETOOLONG},
        {"loop of links", (directory_ / "loop-a").string(), ELOOP},
        {"link to a directory", (directory_ / "to-folder").string(), NotRegularFileError},
        {"device", "/dev/null", NotRegularFileError},
        {"FIFO", (directory_ / "fifo").string(), NotRegularFileError},  // opening it would block
    });
    const std::size_t kept = 4;
#endif
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(Save(c.name), c.errorNumber);
    }
    int errorNumber = -1;
    EXPECT_EQ(SaveBitmapFile((directory_ / "a.bmp").string(), nullptr, surface_.get(), errorNumber), E_FAIL);
    EXPECT_EQ(errorNumber, EINVAL);
    std::size_t entries = 0;  // no temporary
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator(directory_)) {
        ++entries;
    }
    EXPECT_EQ(entries, kept);
}

// A file with the read-only attribute is refused and kept as it was.
TEST_F(SaveFailure, ReadOnlyAttributeIsRefusedAndKept) {
#ifndef _WIN32
    GTEST_SKIP() << "POSIX files have no read-only attribute: SaveRefusal.ReadOnlyFile is the check here";
#else
    const fs::path path = directory_ / "kept.bmp";
    std::ofstream(path) << "previous";
    fs::permissions(path, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);
    EXPECT_EQ(Save(path.string()), EACCES);
    const std::vector<std::uint8_t> kept = ReadFileBytes(path);
    EXPECT_EQ(std::string(kept.begin(), kept.end()), "previous");
    std::size_t entries = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator(directory_)) {
        ++entries;
    }
    EXPECT_EQ(entries, 1u);
    fs::permissions(path, fs::perms::owner_write, fs::perm_options::add);
#endif
}

#ifndef _WIN32

// Refusals that depend on who saves, each found before anything is written:
// the old file, its mode and the folder stay as they were. Permission bits
// do not stop root, so as root the save runs as nobody.
struct Refusal {
    const char* what;
    const char* folder;        // under the test's folder
    fs::perms folderMode;      // with the sticky bit where shared
    const char* file;          // in that folder
    fs::perms fileMode;        // when the file exists
    bool ownedBySaver;         // whether the file belongs to the user who saves
    bool fileExists;
    int errorNumber;
};

class SaveRefusal : public SaveFailure, public testing::WithParamInterface<Refusal> {
protected:
    // The error number of saving path as a user other than root: this
    // process's own user, or nobody when this process is root; nothing (and
    // the test skipped) where that cannot be had.
    std::optional<int> SaveAsUser(const fs::path& path, const passwd* nobody) {
        int report[2];
        if (::pipe(report) != 0) {
            return std::nullopt;
        }
        const pid_t child = ::fork();
        if (child == 0) {
            ::close(report[0]);
            int saveError = -1;
            if (nobody == nullptr || (::setgroups(0, nullptr) == 0 && ::setgid(nobody->pw_gid) == 0 &&
                                      ::setuid(nobody->pw_uid) == 0)) {
                (void)SaveBitmapFile(path.string(), image_.bitmap.get(), surface_.get(), saveError);
                (void)::write(report[1], &saveError, sizeof saveError);
            }
            ::_exit(0);
        }
        ::close(report[1]);
        int saveError = -1;
        const bool reported = child > 0 && ::read(report[0], &saveError, sizeof saveError) == sizeof saveError;
        ::close(report[0]);
        if (child > 0) {
            ::waitpid(child, nullptr, 0);
        }
        return reported ? std::optional<int>(saveError) : std::nullopt;
    }
};

TEST_P(SaveRefusal, SaysWhyAndKeepsTheOldFile) {
    const Refusal& c = GetParam();
    const bool root = ::geteuid() == 0;
    const passwd* nobody = root ? ::getpwnam("nobody") : nullptr;
    if (root && nobody == nullptr) {
        GTEST_SKIP() << "there is no user nobody here";
    }
    if (!root && c.fileExists && !c.ownedBySaver) {
        GTEST_SKIP() << "only root can give a file to another user";
    }
    fs::permissions(directory_, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                    fs::perms::others_read | fs::perms::others_exec);
    const fs::path folder = directory_ / c.folder;
    fs::create_directory(folder);
    const fs::path path = folder / c.file;
    if (c.fileExists) {
        std::ofstream(path) << "previous";
        fs::permissions(path, c.fileMode);
        if (root && c.ownedBySaver) {
            ASSERT_EQ(::chown(path.c_str(), nobody->pw_uid, nobody->pw_gid), 0);
        }
    }
    fs::permissions(folder, c.folderMode);
    const std::optional<int> errorNumber = SaveAsUser(path, nobody);
    fs::permissions(folder, fs::perms::owner_all);
    if (!errorNumber) {
        GTEST_SKIP() << "cannot save as another user here";
    }
    EXPECT_EQ(*errorNumber, c.errorNumber);
    std::size_t entries = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator(folder)) {
        ++entries;
    }
    EXPECT_EQ(entries, c.fileExists || c.errorNumber == 0 ? 1u : 0u);  // no temporary
    if (c.fileExists && c.errorNumber != 0) {
        const std::vector<std::uint8_t> kept = ReadFileBytes(path);
        EXPECT_EQ(std::string(kept.begin(), kept.end()), "previous");
        EXPECT_EQ(fs::status(path).permissions(), c.fileMode);
    }
}

constexpr fs::perms ReadOnly = fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read;
constexpr fs::perms Everyone = fs::perms::all;
constexpr fs::perms NoWrite = fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read |
                              fs::perms::group_exec | fs::perms::others_read | fs::perms::others_exec;
constexpr fs::perms Shared = fs::perms::all | fs::perms::sticky_bit;

const Refusal Refusals[] = {
    {"ReadOnlyFile", "open", Everyone, "kept.bmp", ReadOnly, true, true, EACCES},
    {"WritableFileInAReadOnlyFolder", "closed", NoWrite, "kept.bmp", Everyone, true, true, FolderNotWritableError},
    {"NewFileInAReadOnlyFolder", "closed", NoWrite, "new.bmp", Everyone, true, false, FolderNotWritableError},
    {"AnotherUsersFileInASharedFolder", "shared", Shared, "theirs.bmp", Everyone, false, true, OtherUsersFileError},
    {"OwnFileInASharedFolder", "shared", Shared, "mine.bmp", Everyone, true, true, 0},
};
INSTANTIATE_TEST_SUITE_P(Cases, SaveRefusal, testing::ValuesIn(Refusals),
                         [](const testing::TestParamInfo<Refusal>& info) { return info.param.what; });

#else

TEST(SaveRefusal, SaysWhyAndKeepsTheOldFile) {
    GTEST_SKIP() << "Windows has no permission bits and no sticky folders, and Wine grants every access list: "
                    "ReadOnlyAttributeIsRefusedAndKept is the check here";
}

#endif

// The system's reasons are in English whatever the locale, also where the
// program runs under a German one.
TEST(SystemErrorText, IsEnglishUnderEveryLocale) {
    const struct {
        int errorNumber;
        const char* text;
    } cases[] = {{ENOENT, "No such file or directory"}, {EACCES, "Permission denied"},
                 {ENOSPC, "No space left on device"},   {EFBIG, "File too large"},
                 {ENAMETOOLONG, "File name too long"},  {EROFS, "Read-only file system"}};
    const std::string before = std::setlocale(LC_ALL, nullptr);
    // The German locale that the test tree builds (LOCPATH), where there is one.
    const bool german = std::setlocale(LC_ALL, "de_DE.UTF-8") != nullptr;
    for (const char* locale : {"C", "de_DE.UTF-8"}) {
        SCOPED_TRACE(locale);
        if (std::setlocale(LC_ALL, locale) == nullptr) {
            continue;
        }
        for (const auto& c : cases) {
            EXPECT_EQ(SystemErrorText(c.errorNumber), c.text);
        }
    }
    std::setlocale(LC_ALL, before.c_str());
#ifdef _WIN32
    // A system error without an errno value: the system's English text,
    // without the line end and full stop that it ends with.
    const std::string sharing = SystemErrorText(WindowsErrorBase + ERROR_SHARING_VIOLATION);
    SCOPED_TRACE(sharing);
    EXPECT_FALSE(sharing.empty());
    EXPECT_FALSE(sharing.starts_with("Windows error"));
    EXPECT_EQ(sharing.find_first_of(".\r\n"), std::string::npos);
#endif
    if (!german) {
        GTEST_SKIP() << "no German locale here (LOCPATH names none): checked under C only";
    }
}

}  // namespace
