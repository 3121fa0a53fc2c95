#include "image/bitmap_file.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "image/map_image.h"

namespace {

namespace fs = std::filesystem;

std::vector<char> ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

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
    EXPECT_EQ(ReadAll(withReason), ReadAll(plain));
    EXPECT_EQ(ReadAll(plain).size(), 54u + 24u * 3u);
}

TEST_F(SaveFailure, TellsWhyTheFileCouldNotBeWritten) {
    const struct {
        const char* what;
        std::string name;
        int errorNumber;
    } cases[] = {
        {"empty name", "", EINVAL},
        {"name with a NUL", std::string("x\0y.bmp", 7), EINVAL},
        {"missing directory", (directory_ / "missing" / "a.bmp").string(), ENOENT},
        {"directory", directory_.string(), EISDIR},
        {"device", "/dev/null", EEXIST},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(Save(c.name), c.errorNumber);
    }
    int errorNumber = -1;
    EXPECT_EQ(SaveBitmapFile((directory_ / "a.bmp").string(), nullptr, surface_.get(), errorNumber), E_FAIL);
    EXPECT_EQ(errorNumber, EINVAL);
    EXPECT_TRUE(fs::is_empty(directory_));
}

}  // namespace
