// The update hand-over modes with real processes and files, and the process/file helpers
// they stand on.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include "core/app/update_modes.h"
#include "core/platform/files.h"
#include "core/platform/process.h"
#include "core/platform/update_folder.h"
#include "sandbox.h"

using namespace qev;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

void Write(const std::string& path, const std::string& text, mode_t mode = 0644)
{
    std::ofstream(path, std::ios::binary) << text;
    chmod(path.c_str(), mode);
}

std::string Read(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

bool WaitForFile(const std::string& path, int ms)
{
    for (auto end = Clock::now() + std::chrono::milliseconds(ms); Clock::now() < end;) {
        if (!Read(path).empty()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

int Reap(int pid)
{
    int status = 0;
    waitpid(pid, &status, 0);
    return status;
}

long long MillisSince(Clock::time_point start)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

} // namespace

// Started as the clean-up step by the tests above (a copy of this program took the
// program file's place): records its arguments instead of running the tests.
int main(int argc, char** argv)
{
    if (const char* record = std::getenv("QEV_TEST_RECORD"); record && argc > 1) {
        std::ofstream(std::string(record) + ".part") << [&] {
            std::string text;
            for (int i = 1; i < argc; ++i) text += std::string(argv[i]) + "\n";
            return text;
        }();
        std::rename((std::string(record) + ".part").c_str(), record);
        return 0;
    }
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

TEST(CommandLine, SplitsLikeTheWindowsStartupCode)
{
    const struct {
        const char* line;
        std::vector<std::string> args;
    } cases[] = {
        {" -u -p12 \"/a b/c\" \"/d\"", {"", "-u", "-p12", "/a b/c", "/d"}},
        {"prog a\tb", {"prog", "a", "b"}},
        {"\"C:\\My Prog\\x.exe\" arg", {"C:\\My Prog\\x.exe", "arg"}},
        {" a\\\\\\\"b", {"", "a\\\"b"}},    // 2n+1 backslashes: n and a literal quote
        {" \"a\\\\\" b", {"", "a\\", "b"}}, // 2n backslashes before a quote: n, quote closes
        {" a\\b\\\\c", {"", "a\\b\\\\c"}},  // backslashes not before a quote stay
        {" \"\" x", {"", "", "x"}},         // an empty quoted argument
        {" a\"b c\"d", {"", "ab cd"}},      // quotes group inside a word
        {"", {""}},
    };
    for (const auto& c : cases) EXPECT_EQ(SplitCommandLine(c.line), c.args) << c.line;
}

TEST(CommandLine, HandOverLineRoundTrips)
{
    const std::string odd = "/tmp/we\"ird\\ dir\\";
    const std::string line = FormatHandOverCommandLine("-r", 42, "/tmp/a b/pkg", odd);
    EXPECT_EQ(line.substr(0, 24), " -r -p42 \"/tmp/a b/pkg\" ");
    EXPECT_EQ(FormatHandOverCommandLine("-u", 7, "/p", "/q"), " -u -p7 \"/p\" \"/q\"");
    const std::vector<std::string> expected = {"", "-r", "-p42", "/tmp/a b/pkg", odd};
    EXPECT_EQ(SplitCommandLine(line), expected);
}

TEST(UpdateModes, PidArgument)
{
    EXPECT_EQ(ParsePidArgument("-p1234"), 1234);
    EXPECT_EQ(ParsePidArgument("-p12x"), 12);
    EXPECT_EQ(ParsePidArgument("-p"), 0);
    EXPECT_EQ(ParsePidArgument("-q12"), 0);
    EXPECT_EQ(ParsePidArgument("p12"), 0);
    EXPECT_EQ(ParsePidArgument("-p" + std::string(100, '0') + "77"), 0); // bounded copy
}

TEST(UpdateModes, WrongArgumentCountsTouchNothing)
{
    const test::Sandbox dir;
    Write(dir / "pkg", "new");
    Write(dir / "prog", "old", 0755);
    RunUpdateMode({"-u", "-p1", dir / "pkg"});
    RunUpdateMode({"-u", "-p1", dir / "pkg", dir / "prog", "extra"});
    RunUpdateMode({"-x", "-p1", dir / "pkg", dir / "prog"});
    RunUpdateMode({"-r", "-p1", dir / "pkg"});
    EXPECT_EQ(Read(dir / "pkg"), "new");
    EXPECT_EQ(Read(dir / "prog"), "old");
}

// The update step installs its own running program (here, this test program), never the
// file named on its command line, then starts the installed program for the clean-up step.
TEST(UpdateModes, ReplaceWaitsThenInstallsItsOwnProgramAndStarts)
{
    const test::Sandbox dir;
    const std::string out = dir / "started";
    setenv("QEV_TEST_RECORD", out.c_str(), 1);
    Write(dir / "pkg", "a file someone rewrote after the check", 0600);
    Write(dir / "prog", "old program", 0755);

    const int previous = StartProcess(" 0.4", "/bin/sleep").value_or(-1);
    ASSERT_GT(previous, 0);
    const auto start = Clock::now();
    RunUpdateMode({"-u", "-p" + std::to_string(previous), dir / "pkg", dir / "prog"});
    EXPECT_GE(MillisSince(start), 300);
    EXPECT_LT(MillisSince(start), 8000);
    const int status = Reap(previous);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the previous process was killed";

    // The program file is this program, whole, and keeps its executable mode.
    EXPECT_TRUE(Read(dir / "prog") == Read(GetProgramPath()));
    struct stat st {};
    ASSERT_EQ(stat((dir / "prog").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0755u);
    for (const auto& entry : fs::directory_iterator(dir.path()))
        EXPECT_EQ(entry.path().string().find(".tmp"), std::string::npos) << entry.path();

    // It was started with " -r -p<our pid> "<our program>" "<package>"".
    ASSERT_TRUE(WaitForFile(out, 5000));
    unsetenv("QEV_TEST_RECORD");
    EXPECT_EQ(Read(out), "-r\n-p" + std::to_string(getpid()) + "\n" + GetProgramPath() + "\n" +
                             (dir / "pkg") + "\n");
}

TEST(UpdateModes, PreviousProcessRunningTheProgramIsKilledAfterTheWait)
{
    const test::Sandbox dir;
    // The program file, also reached through a link: the same file either way.
    fs::copy_file("/bin/sleep", dir / "prog");
    fs::create_symlink(dir / "prog", dir / "link");
    for (const std::string& named : {dir / "prog", dir / "link"}) {
        const int previous = StartProcess(" 30", dir / "prog").value_or(-1);
        ASSERT_GT(previous, 0);
        const auto start = Clock::now();
        WaitForPreviousProcess("-p" + std::to_string(previous), named, 300);
        EXPECT_GE(MillisSince(start), 250);
        EXPECT_LT(MillisSince(start), 3000);
        const int status = Reap(previous);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << named;
    }
}

TEST(UpdateModes, ProgramReplacedUnderTheRunningProcessIsStillItsProgram)
{
    const test::Sandbox dir;
    fs::copy_file("/bin/sleep", dir / "prog");
    const int previous = StartProcess(" 30", dir / "prog").value_or(-1);
    ASSERT_GT(previous, 0);
    // Replaced as an update replaces it: the running file is now "... (deleted)".
    fs::copy_file("/bin/sleep", dir / "next");
    fs::rename(dir / "next", dir / "prog");
    WaitForPreviousProcess("-p" + std::to_string(previous), dir / "prog", 200);
    const int status = Reap(previous);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
}

// The id on the command line may name any process: one running another program is waited
// for and left running, even one that shrugs off a polite request to end.
TEST(UpdateModes, ProcessRunningAnotherProgramIsNeverKilled)
{
    const test::Sandbox dir;
    fs::copy_file("/bin/sleep", dir / "prog");
    const std::string other = dir / "prog (deleted)"; // a name that mimics a replaced file
    fs::copy_file("/bin/sleep", other);
    const struct {
        const char* name;
        std::string line, app;
    } cases[] = {
        {"another program ignoring SIGTERM", " -c \"trap '' TERM; exec sleep 30\"", "/bin/sh"},
        {"a copy of the same bytes elsewhere", " 30", "/bin/sleep"},
        {"a file named like a replaced program", " 30", other},
    };
    for (const auto& c : cases) {
        const int running = StartProcess(c.line, c.app).value_or(-1);
        ASSERT_GT(running, 0);
        std::this_thread::sleep_for(std::chrono::milliseconds(50)); // let sh exec sleep
        const auto start = Clock::now();
        WaitForPreviousProcess("-p" + std::to_string(running), dir / "prog", 150);
        EXPECT_GE(MillisSince(start), 250) << c.name; // waited for, both times
        int status = 0;
        EXPECT_EQ(waitpid(running, &status, WNOHANG), 0) << c.name << ": it was ended";
        kill(running, SIGKILL);
        Reap(running);
    }
}

TEST(Files, StaleCopiesOfTheProgramAreRemovedAndNothingElse)
{
    const test::Sandbox dir;
    // A process that has ended, to stand for a copy killed mid-way.
    const int gone = StartProcess(" 0", "/bin/true").value_or(-1);
    ASSERT_GT(gone, 0);
    Reap(gone);
    const std::string g = std::to_string(gone);
    const std::string alive = std::to_string(getppid());
    Write(dir / "prog", "program", 0755);
    Write(dir / ("prog.qev-" + g + "-123.tmp"), "half");
    Write(dir / ("prog.qev-" + g + "-9.tmp"), "half");
    const std::vector<std::string> kept = {
        "prog.qev-" + alive + "-5.tmp",   // its maker still runs: may be copying now
        "prog.qev-" + g + ".tmp",         // not a name the copy makes
        "prog.qev-" + g + "-12.tmpx",     //
        "prog.qev-x" + g + "-12.tmp",     //
        "other.qev-" + g + "-12.tmp",     // another file's
        "prox.qev-" + g + "-12.tmp",      // another file's, of the same name length
        "prog.qev-" + g + "-12.tmp.keep", //
        "progx.qev-" + g + "-1.tmp",      //
    };
    for (const auto& name : kept) Write(dir / name, "keep");
    fs::create_directory(dir / ("prog.qev-" + g + "-77.tmp")); // not a regular file

    EXPECT_EQ(RemoveStaleCopies(dir / "prog"), 2);
    EXPECT_EQ(Read(dir / "prog"), "program");
    for (const auto& name : kept) EXPECT_TRUE(FileExists(dir / name)) << name;
    EXPECT_TRUE(fs::is_directory(dir / ("prog.qev-" + g + "-77.tmp")));
    EXPECT_EQ(RemoveStaleCopies(dir / "prog"), 0);
}

TEST(UpdateModes, UnusableIdsAreNotWaitedFor)
{
    const int running = StartProcess(" 5", "/bin/sleep").value_or(-1);
    ASSERT_GT(running, 0);
    for (const std::string& arg :
         std::vector<std::string>{"-p", "x" + std::to_string(running), "-p0", "-p-1",
                                  "-p" + std::to_string(getpid()), "-p999999999"}) {
        const auto start = Clock::now();
        WaitForPreviousProcess(arg, "/bin/sleep", 2000);
        EXPECT_LT(MillisSince(start), 500) << arg;
    }
    kill(running, SIGKILL);
    Reap(running);
}

// The clean-up step removes the run folder the package lies in, and only a run folder of
// this user under the update root: its arguments come from a command line anyone could write.
TEST(UpdateModes, CleanupRemovesOnlyARunFolder)
{
    const test::Sandbox dir;
    setenv("XDG_CACHE_HOME", (dir / "cache").c_str(), 1);
    std::string run;
    {
        PlatformError why;
        auto folder = UpdateFolder::CreateForRun(&why);
        ASSERT_TRUE(folder) << why.text;
        run = folder->Path();
        ASSERT_TRUE(folder->CreateFile("package").IsOpen());
    }
    Write(dir / "package", "keep");
    Write(dir / "keep", "keep");
    RunUpdateMode({"-r", "-p0", dir.path(), dir / "package"});
    RunUpdateMode({"-r", "-p0", dir / "cache/qev/update", dir / "cache/qev/update/package"});
    EXPECT_TRUE(FileExists(dir / "package"));
    EXPECT_TRUE(FileExists(dir / "keep"));
    EXPECT_TRUE(FileExists(run + "package"));

    RunUpdateMode({"-r", "-p0", run, run + "package"});
    EXPECT_FALSE(fs::exists(run));
    EXPECT_TRUE(fs::exists(dir / "cache/qev/update"));
    unsetenv("XDG_CACHE_HOME");
}

TEST(Files, CopyFileOverIsAtomicAndKeepsTheTargetMode)
{
    const test::Sandbox dir;
    Write(dir / "src", std::string(200000, 'x'), 0600);
    Write(dir / "dst", "short", 0751);
    EXPECT_TRUE(CopyFileOver(dir / "src", dir / "dst"));
    EXPECT_EQ(Read(dir / "dst"), std::string(200000, 'x'));
    struct stat st {};
    stat((dir / "dst").c_str(), &st);
    EXPECT_EQ(st.st_mode & 0777, 0751u);

    // A new target takes the source's mode; a failed copy leaves the target untouched.
    EXPECT_TRUE(CopyFileOver(dir / "src", dir / "fresh"));
    stat((dir / "fresh").c_str(), &st);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_FALSE(CopyFileOver(dir / "missing", dir / "dst"));
    EXPECT_FALSE(CopyFileOver(dir / "src", dir / "nodir/dst"));
    EXPECT_EQ(Read(dir / "dst").size(), 200000u);
}
