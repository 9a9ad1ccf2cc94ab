// Whether the program file can be replaced decides whether the client updates itself, so the
// answer is checked as the user who would run it: an ordinary user, not this test's root.
#include "core/platform/files.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "sandbox.h"

namespace qev {
namespace {

namespace fs = std::filesystem;

// An unprivileged account present on every Debian system.
constexpr uid_t NobodyUid = 65534;
constexpr gid_t NogroupGid = 65534;

// Runs check as an ordinary user: in a child that drops to nobody when this process is
// root, else right here. The result is the child's exit code.
bool AsOrdinaryUser(const std::function<bool()>& check)
{
    if (geteuid() != 0) return check();
    const pid_t child = fork();
    if (child == 0) {
        if (setgid(NogroupGid) != 0 || setuid(NobodyUid) != 0) _exit(2);
        _exit(check() ? 1 : 0);
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 1;
}

class ReplaceCheck : public ::testing::Test {
protected:
    void SetUp() override { chmod(root_.c_str(), 0755); }
    // A folder with a program file in it; owned by owner (when root can set it), mode bits.
    std::string Program(const std::string& name, mode_t dirMode, uid_t owner)
    {
        const std::string dir = root_ + "/" + name;
        fs::create_directory(dir);
        const std::string file = dir + "/qev";
        std::ofstream(file) << "program";
        chmod(file.c_str(), 0755);
        if (geteuid() == 0) {
            EXPECT_EQ(chown(dir.c_str(), owner, owner == 0 ? 0 : NogroupGid), 0);
            EXPECT_EQ(chown(file.c_str(), owner, owner == 0 ? 0 : NogroupGid), 0);
        }
        chmod(dir.c_str(), dirMode);
        return file;
    }
    const test::Sandbox sandbox_;
    const std::string root_ = sandbox_.path();
};

TEST_F(ReplaceCheck, OwnFolderYesSystemFolderNo)
{
    const uid_t user = geteuid() == 0 ? NobodyUid : geteuid();
    const std::string mine = Program("home-install", 0755, user);
    EXPECT_TRUE(AsOrdinaryUser([&] { return CanReplaceFile(mine); }));
    if (geteuid() != 0) GTEST_SKIP() << "a folder of another owner needs root to make";
    const std::string system = Program("system-install", 0755, 0);
    EXPECT_FALSE(AsOrdinaryUser([&] { return CanReplaceFile(system); }));
    // A shared sticky folder: writable, but the file is someone else's.
    const std::string shared = Program("shared", 01777, 0);
    EXPECT_FALSE(AsOrdinaryUser([&] { return CanReplaceFile(shared); }));
    // Root may replace anything on a writable file system; the probe leaves nothing behind.
    EXPECT_TRUE(CanReplaceFile(system));
    EXPECT_EQ(
        std::distance(fs::directory_iterator(root_ + "/system-install"), fs::directory_iterator()),
        1);
}

TEST_F(ReplaceCheck, MissingOrUnwritablePlacesAreNotReplaceable)
{
    EXPECT_FALSE(CanReplaceFile(root_ + "/no-such-folder/qev"));
    EXPECT_FALSE(CanReplaceFile(root_ + "/missing-program"));
    EXPECT_FALSE(CanReplaceFile("/proc/version")); // no one creates files there
}

} // namespace
} // namespace qev
