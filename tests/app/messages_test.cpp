#include "app/messages.h"

#include <gtest/gtest.h>

#include <cerrno>

#include "image/bitmap_file.h"

using namespace velmora;

namespace {

// Every error number a save gives has words of its own: the core's own
// numbers the program's, the others the system's.
TEST(Messages, EverySaveFailureSaysWhy) {
    const struct {
        int errorNumber;
        const char* reason;
    } cases[] = {
        {NotRegularFileError, "is not a regular file"},
        {FolderNotWritableError, "its folder may not be written (a map is written beside the file it replaces)"},
        {OtherUsersFileError, "the file belongs to another user, and only they may replace it in this shared folder"},
        {SaveStoppedError, "the save was stopped"},
        {ENOENT, "No such file or directory"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.errorNumber);
        EXPECT_EQ(messages::SaveFailureReason(c.errorNumber), c.reason);
        EXPECT_EQ(messages::SaveFailed("a.bmp", c.errorNumber),
                  std::string("The map could not be saved to \u201ca.bmp\u201d: ") + c.reason + ".");
    }
}

}  // namespace
