#include "core/platform/platform_error.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>

#include "core/platform/files.h"
#include "core/platform/process.h"
#include "core/platform/update_folder.h"

namespace qev {
namespace {

// A failing platform call hands back the system's own error number, not one a later call
// (a close, a clean-up) put in its place, and says which step failed.
TEST(PlatformError, FailuresCarryTheSystemsErrorNumber)
{
    const std::string missing = "/nonexistent-qev-folder/x";
    PlatformError error;
    EXPECT_FALSE(WriteFileAt(missing, 0, "x", 1, &error));
    EXPECT_EQ(error.code, ENOENT);
    EXPECT_EQ(error.text, "cannot open the file");

    error = {};
    EXPECT_FALSE(StartProcess(" x", missing, &error));
    EXPECT_EQ(error.code, ENOENT);
    EXPECT_EQ(error.text, "cannot start the program");

    error = {};
    EXPECT_FALSE(OpenFile().WriteAt(0, "x", 1, &error));
    EXPECT_EQ(error.code, EBADF);

    // Without a PlatformError the answer is the same.
    EXPECT_FALSE(WriteFileAt(missing, 0, "x", 1));
    EXPECT_FALSE(StartProcess(" x", missing));
}

} // namespace
} // namespace qev
