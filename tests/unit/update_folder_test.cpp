// The self-update's run folders on Linux: made through the checked walk, locked, opened
// again only under the root, cleaned up only when plainly abandoned; and the sealed copy.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>

#include "core/platform/update_folder.h"
#include "sandbox.h"

using namespace qev;
namespace fs = std::filesystem;

namespace {

constexpr uid_t OtherUser = 65534;

// A cache folder of the test's own; the root is its qev/update.
class UpdateFolderTest : public ::testing::Test {
protected:
    void SetUp() override { setenv("XDG_CACHE_HOME", (dir_ + "/cache").c_str(), 1); }
    void TearDown() override { unsetenv("XDG_CACHE_HOME"); }
    // A folder as a run leaves it, its time set secondsAgo back.
    void Leave(const std::string& path, int secondsAgo, const char* file = "package")
    {
        fs::create_directories(path);
        chmod(path.c_str(), 0700);
        if (file) std::ofstream(path + "/" + file) << "bytes";
        const timespec times[2] = {{time(nullptr) - secondsAgo, 0},
                                   {time(nullptr) - secondsAgo, 0}};
        utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW);
    }
    const test::Sandbox sandbox_;
    const std::string dir_ = sandbox_.path(), root_ = dir_ + "/cache/qev/update/";
};

// Whether some holder keeps the folder at path locked against even a shared lock.
bool LockedExclusively(const std::string& path)
{
    const int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY);
    const bool locked = fd >= 0 && flock(fd, LOCK_SH | LOCK_NB) != 0;
    if (fd >= 0) close(fd);
    return locked;
}

} // namespace

TEST_F(UpdateFolderTest, RunFolderIsNewPrivateAndLockedAndOpensAgainOnlyUnderTheRoot)
{
    PlatformError why;
    auto run = UpdateFolder::CreateForRun(&why);
    ASSERT_TRUE(run) << why.text;
    const std::string path = run->Path();
    EXPECT_TRUE(std::regex_match(path, std::regex(root_ + "run-[A-Za-z0-9]{6}/"))) << path;
    struct stat st {};
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0700u);
    EXPECT_TRUE(LockedExclusively(path));
    EXPECT_FALSE(UpdateFolder::OpenRunFolder(path, 0)); // held by this run
    run.reset();
    EXPECT_FALSE(LockedExclusively(path));

    // A run-named folder anywhere else, or reached some other way, is never a run folder.
    Leave(dir_ + "/run-abcdef", 120);
    Leave(dir_ + "/run-ABCdef", 120);
    Leave(root_ + "run-ABCdef", 120);
    fs::create_directory_symlink(dir_ + "/run-abcdef", root_ + "run-linked");
    Leave(root_ + "run-forgn1", 120);
    chown((root_ + "run-forgn1").c_str(), geteuid() == 0 ? OtherUser : geteuid(), -1);
    Leave(root_ + "run-loose1", 120);
    chmod((root_ + "run-loose1").c_str(), 0750);
    const std::string refused[] = {
        dir_ + "/run-ABCdef",
        root_ + "run-linked",
        root_ + "run-loose1",
        root_ + "run-abc",
        root_ + "run-ABCdefg",
        root_ + "../update/run-ABCdef",
        root_,
        "run-ABCdef",
        "",
    };
    for (const auto& refusedPath : refused)
        EXPECT_FALSE(UpdateFolder::OpenRunFolder(refusedPath, 0)) << refusedPath;
    if (geteuid() == 0) {
        EXPECT_FALSE(UpdateFolder::OpenRunFolder(root_ + "run-forgn1", 0));
    }
    const auto again = UpdateFolder::OpenRunFolder(path, 0);
    ASSERT_TRUE(again);
    EXPECT_TRUE(LockedExclusively(path));
    ASSERT_TRUE(UpdateFolder::OpenRunFolder(root_ + "run-ABCdef/", 0));
}

TEST_F(UpdateFolderTest, CleanUpTakesOnlyOldUnlockedRunFoldersOfPlainOwnFiles)
{
    if (geteuid() != 0) GTEST_SKIP() << "giving a folder to another user needs root";
    Leave(dir_ + "/victim/run-victim", 600); // reached only through a link
    fs::create_directories(root_);
    fs::create_directory_symlink(dir_ + "/victim/run-victim", root_ + "run-link01");
    const struct {
        const char* name;
        int secondsAgo;
        bool goes;
    } rows[] = {
        {"run-old001", 600, true},   {"run-young1", 5, false},   {"run-abc", 600, false},
        {"run-abcdefg", 600, false}, {"run-lockd1", 600, false}, {"run-forgn1", 600, false},
        {"run-linkd1", 600, false},  {"run-hardl1", 600, false}, {"run-subdr1", 600, false},
    };
    for (const auto& row : rows) Leave(root_ + row.name, 0);
    fs::create_symlink(dir_ + "/victim/run-victim/package", root_ + "run-linkd1/link");
    fs::create_hard_link(root_ + "run-hardl1/package", dir_ + "/second-name");
    fs::create_directory(root_ + "run-subdr1/inner");
    ASSERT_EQ(chown((root_ + "run-forgn1").c_str(), OtherUser, -1), 0);
    const int holder = open((root_ + "run-lockd1").c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_EQ(flock(holder, LOCK_EX | LOCK_NB), 0);
    for (const auto& row : rows) Leave(root_ + row.name, row.secondsAgo, nullptr);

    PlatformError why;
    std::string left;
    const auto run = UpdateFolder::CreateForRun(&why);
    ASSERT_TRUE(run) << why.text;
    EXPECT_EQ(run->RemoveAbandonedRunFolders(left), 1);
    for (const auto& row : rows) EXPECT_EQ(fs::exists(root_ + row.name), !row.goes) << row.name;
    EXPECT_EQ(fs::file_size(dir_ + "/victim/run-victim/package"), 5u);
    EXPECT_TRUE(fs::exists(run->Path()));
    EXPECT_NE(left.find(" in use"), std::string::npos) << left;
    close(holder);

    // With update/ itself a link, no run folder is made, so nothing is cleaned up at all.
    fs::remove_all(dir_ + "/cache");
    fs::create_directories(dir_ + "/cache/qev");
    fs::create_directory_symlink(dir_ + "/victim", dir_ + "/cache/qev/update");
    Leave(dir_ + "/victim/run-victim", 600);
    EXPECT_FALSE(UpdateFolder::CreateForRun(&why));
    EXPECT_NE(why.text.find("is a link"), std::string::npos) << why.text;
    EXPECT_EQ(fs::file_size(dir_ + "/victim/run-victim/package"), 5u);
}

TEST_F(UpdateFolderTest, SealedCopyCannotBeWrittenResizedOrUnsealed)
{
    PlatformError why;
    auto run = UpdateFolder::CreateForRun(&why);
    ASSERT_TRUE(run) << why.text;
    OpenFile package = run->CreateFile("package");
    ASSERT_TRUE(package.WriteAt(0, "#!/bin/sh\n", 10));
    const auto sealed = SealedProgram::Seal(package, 10, "package", *run, &why);
    ASSERT_TRUE(sealed) << why.text;
    const int fd = static_cast<int>(sealed->Image().Handle());
    const int want = F_SEAL_WRITE | F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_SEAL;
    EXPECT_EQ(fcntl(fd, F_GET_SEALS) & want, want);
    char bytes[16] = {};
    EXPECT_EQ(sealed->Image().ReadAt(0, bytes, sizeof bytes), 10);
    EXPECT_STREQ(bytes, "#!/bin/sh\n");
}

// A refusal says which call failed with the system's own number, and a check that did not
// hold carries none; the words stay those the log and the player are given.
TEST_F(UpdateFolderTest, RefusalsCarryTheFailingCallsNumber)
{
    PlatformError why;
    unsetenv("XDG_CACHE_HOME");
    const char* home = std::getenv("HOME");
    const std::string savedHome = home ? home : "";
    unsetenv("HOME");
    EXPECT_FALSE(UpdateFolder::CreateForRun(&why));
    EXPECT_EQ(why.code, 0);
    EXPECT_EQ(why.text, "no cache folder (neither XDG_CACHE_HOME nor HOME is set)");
    if (home) setenv("HOME", savedHome.c_str(), 1);
    setenv("XDG_CACHE_HOME", (dir_ + "/cache").c_str(), 1);

    // No partial folder yet, and none made: the open's ENOENT. A second holder: the lock's.
    why = {};
    EXPECT_FALSE(UpdateFolder::OpenPartial(false, &why));
    EXPECT_EQ(why.code, ENOENT);
    EXPECT_EQ(why.text, "the partial folder is not this user's alone, or another copy holds it");
    const auto partial = UpdateFolder::OpenPartial(true, &why);
    ASSERT_TRUE(partial) << why.text;
    why = {};
    EXPECT_FALSE(UpdateFolder::OpenPartial(true, &why));
    EXPECT_EQ(why.code, EWOULDBLOCK);
    chmod(partial->Path().c_str(), 0750);
    why = {};
    EXPECT_FALSE(UpdateFolder::OpenPartial(true, &why));
    EXPECT_EQ(why.code, 0) << "a loose folder is a check's refusal";

    // A package that ends early was read without an error; one not open was not read.
    const auto run = UpdateFolder::CreateForRun(&why);
    ASSERT_TRUE(run) << why.text;
    OpenFile package = run->CreateFile("package");
    ASSERT_TRUE(package.WriteAt(0, "not a program\n", 14));
    why = {};
    EXPECT_FALSE(SealedProgram::Seal(package, 15, "package", *run, &why));
    EXPECT_EQ(why.code, 0);
    EXPECT_EQ(why.text, "the package could not be read");
    why = {};
    EXPECT_FALSE(SealedProgram::Seal(OpenFile(), 15, "package", *run, &why));
    EXPECT_EQ(why.code, EBADF);
    EXPECT_EQ(why.text, "the package could not be read");

    // Bytes that are no program fail in the exec, after the fork: its number comes back.
    const auto sealed = SealedProgram::Seal(package, 14, "package", *run, &why);
    ASSERT_TRUE(sealed) << why.text;
    why = {};
    EXPECT_FALSE(sealed->Start(" x", &why));
    EXPECT_EQ(why.code, ENOEXEC);
    EXPECT_EQ(why.text, "the sealed copy could not be started");
    EXPECT_FALSE(sealed->Start(" x"));
}
