#include "image/bitmap_file.h"

#include <grp.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "image/map_image.h"
#include "tests/support/test_support.h"

using namespace velmora;

namespace {

namespace fs = std::filesystem;

class SaveFailure : public testing::Test {
protected:
    void SetUp() override {
        directory_ = fs::temp_directory_path() / ("velmora-save-failure-" + std::to_string(::getpid()));
        fs::create_directories(directory_);
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
    ASSERT_EQ(::mkfifo((directory_ / "fifo").c_str(), 0666), 0);
    fs::create_symlink("loop-b", directory_ / "loop-a");
    fs::create_symlink("loop-a", directory_ / "loop-b");
    fs::create_symlink(directory_, directory_ / "to-folder");
    const struct {
        const char* what;
        std::string name;
        int errorNumber;
    } cases[] = {
        {"empty name", "", EINVAL},
        {"name with a NUL", std::string("x\0y.bmp", 7), EINVAL},
        {"missing directory", (directory_ / "missing" / "a.bmp").string(), ENOENT},
        {"name of 256 bytes", (directory_ / std::string(256, 'n')).string(), ENAMETOOLONG},
        {"loop of links", (directory_ / "loop-a").string(), ELOOP},
        {"directory", directory_.string(), NotRegularFileError},
        {"link to a directory", (directory_ / "to-folder").string(), NotRegularFileError},
        {"device", "/dev/null", NotRegularFileError},
        {"FIFO", (directory_ / "fifo").string(), NotRegularFileError},  // opening it would block
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(Save(c.name), c.errorNumber);
    }
    int errorNumber = -1;
    EXPECT_EQ(SaveBitmapFile((directory_ / "a.bmp").string(), nullptr, surface_.get(), errorNumber), E_FAIL);
    EXPECT_EQ(errorNumber, EINVAL);
    EXPECT_EQ(std::distance(fs::directory_iterator(directory_), fs::directory_iterator()), 4);  // no temporary
    EXPECT_TRUE(fs::is_fifo(directory_ / "fifo"));
    EXPECT_EQ(SystemErrorText(ENOENT), "No such file or directory");
}

// A file the user may not write is refused even where its folder would let
// it be replaced. Root may write any file, so the save runs as nobody there.
TEST_F(SaveFailure, ReadOnlyFileIsRefusedAndKept) {
    fs::permissions(directory_, fs::perms::all);
    const fs::path path = directory_ / "kept.bmp";
    std::ofstream(path) << "previous";
    fs::permissions(path, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    int errorNumber = -1;
    if (::geteuid() != 0) {
        errorNumber = Save(path.string());
    } else {
        const passwd* nobody = ::getpwnam("nobody");
        if (nobody == nullptr) {
            GTEST_SKIP() << "there is no user nobody here";
        }
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            int status = 255;  // could not become nobody
            if (::setgroups(0, nullptr) == 0 && ::setgid(nobody->pw_gid) == 0 && ::setuid(nobody->pw_uid) == 0) {
                int saveError = 0;
                static_cast<void>(SaveBitmapFile(path.string(), image_.bitmap.get(), surface_.get(), saveError));
                status = std::min(saveError, 254);
            }
            ::_exit(status);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status));
        if (WEXITSTATUS(status) == 255) {
            GTEST_SKIP() << "cannot run as nobody here";
        }
        errorNumber = WEXITSTATUS(status);
    }
    EXPECT_EQ(errorNumber, EACCES);
    const std::vector<std::uint8_t> kept = ReadFileBytes(path);
    EXPECT_EQ(std::string(kept.begin(), kept.end()), "previous");
    EXPECT_EQ(fs::status(path).permissions(), fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    EXPECT_EQ(std::distance(fs::directory_iterator(directory_), fs::directory_iterator()), 1);
}

}  // namespace
