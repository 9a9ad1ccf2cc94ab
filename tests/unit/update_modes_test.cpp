// The update hand-over modes with real processes and files, and the process/file helpers
// they stand on.
#include <gtest/gtest.h>

#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include "app/update_modes.h"
#include "platform/files.h"
#include "platform/process.h"

using namespace qev;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

class TempDir {
public:
    TempDir()
    {
        char pattern[] = "/tmp/qev-modes-XXXXXX";
        path_ = mkdtemp(pattern);
    }
    ~TempDir() { fs::remove_all(path_); }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

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

// A "program" that records its arguments, one per line, into out.
std::string RecorderScript(const std::string& out)
{
    return "#!/bin/sh\nfor a in \"$@\"; do echo \"$a\"; done > '" + out + ".part' && mv '" + out +
           ".part' '" + out + "'\n";
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
    TempDir dir;
    Write(dir / "pkg", "new");
    Write(dir / "prog", "old", 0755);
    RunUpdateMode({"-u", "-p1", dir / "pkg"});
    RunUpdateMode({"-u", "-p1", dir / "pkg", dir / "prog", "extra"});
    RunUpdateMode({"-x", "-p1", dir / "pkg", dir / "prog"});
    RunUpdateMode({"-r", "-p1", dir / "pkg"});
    EXPECT_EQ(Read(dir / "pkg"), "new");
    EXPECT_EQ(Read(dir / "prog"), "old");
}

TEST(UpdateModes, ReplaceWaitsForThePreviousProcessThenInstallsAndStarts)
{
    TempDir dir;
    const std::string out = dir / "started";
    Write(dir / "pkg", RecorderScript(out), 0600);
    Write(dir / "prog", "old program", 0755);

    const int previous = StartProcess(" 0.4", "/bin/sleep");
    ASSERT_GT(previous, 0);
    const auto start = Clock::now();
    RunUpdateMode({"-u", "-p" + std::to_string(previous), dir / "pkg", dir / "prog"});
    EXPECT_GE(MillisSince(start), 300);
    EXPECT_LT(MillisSince(start), 5000);
    const int status = Reap(previous);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the previous process was killed";

    // The program file is the package, whole, and keeps its executable mode.
    EXPECT_EQ(Read(dir / "prog"), Read(dir / "pkg"));
    struct stat st {};
    ASSERT_EQ(stat((dir / "prog").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0755u);
    for (const auto& entry : fs::directory_iterator(dir.path()))
        EXPECT_EQ(entry.path().string().find(".tmp"), std::string::npos) << entry.path();

    // It was started with " -r -p<our pid> "<our program>" "<package>"".
    ASSERT_TRUE(WaitForFile(out, 5000));
    EXPECT_EQ(Read(out), "-r\n-p" + std::to_string(getpid()) + "\n" + GetProgramPath() + "\n" +
                             (dir / "pkg") + "\n");
}

TEST(UpdateModes, PreviousProcessRunningTheProgramIsKilledAfterTheWait)
{
    TempDir dir;
    // The program file, also reached through a link: the same file either way.
    fs::copy_file("/bin/sleep", dir / "prog");
    fs::create_symlink(dir / "prog", dir / "link");
    for (const std::string& named : {dir / "prog", dir / "link"}) {
        const int previous = StartProcess(" 30", dir / "prog");
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
    TempDir dir;
    fs::copy_file("/bin/sleep", dir / "prog");
    const int previous = StartProcess(" 30", dir / "prog");
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
    TempDir dir;
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
        const int running = StartProcess(c.line, c.app);
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
    TempDir dir;
    // A process that has ended, to stand for a copy killed mid-way.
    const int gone = StartProcess(" 0", "/bin/true");
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
    const int running = StartProcess(" 5", "/bin/sleep");
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

TEST(UpdateModes, ReplaceWithoutPidStillCopiesAndStarts)
{
    TempDir dir;
    const std::string out = dir / "started";
    Write(dir / "pkg", RecorderScript(out), 0700);
    Write(dir / "prog", "old", 0755);
    const auto start = Clock::now();
    RunUpdateMode({"-u", "-pnothing", dir / "pkg", dir / "prog"}, 5000);
    EXPECT_LT(MillisSince(start), 1000);
    EXPECT_EQ(Read(dir / "prog"), Read(dir / "pkg"));
    EXPECT_TRUE(WaitForFile(out, 5000));
}

TEST(UpdateModes, CleanupDeletesTheCopyBeforeThePackage)
{
    TempDir dir;
    Write(dir / "updatecopy", "copy");
    Write(dir / "package", "pkg");
    Write(dir / "keep", "keep");
    const int fd = inotify_init1(IN_NONBLOCK);
    ASSERT_GE(fd, 0);
    ASSERT_GE(inotify_add_watch(fd, dir.path().c_str(), IN_DELETE), 0);

    RunUpdateMode({"-r", "-p0", dir / "updatecopy", dir / "package"});

    std::vector<std::string> deleted;
    alignas(inotify_event) char buffer[4096];
    const ssize_t n = read(fd, buffer, sizeof buffer);
    for (ssize_t at = 0; at < n;) {
        const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
        deleted.emplace_back(event->name);
        at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
    }
    close(fd);
    EXPECT_EQ(deleted, (std::vector<std::string>{"updatecopy", "package"}));
    EXPECT_TRUE(FileExists(dir / "keep"));
}

TEST(Files, CopyFileOverIsAtomicAndKeepsTheTargetMode)
{
    TempDir dir;
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

TEST(Files, TempFolderIsPrivate)
{
    TempDir dir;
    const char* old = std::getenv("TMPDIR");
    const std::string saved = old ? old : "";
    setenv("TMPDIR", dir.path().c_str(), 1);
    const std::string folder = GetTempFolder();
    EXPECT_EQ(folder, dir / ("qev-" + std::to_string(getuid()) + "/"));
    struct stat st {};
    ASSERT_EQ(lstat(folder.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);

    // A link planted where the folder should be is refused.
    fs::remove_all(folder);
    fs::create_directory(dir / "elsewhere");
    fs::create_directory_symlink(dir / "elsewhere", dir / ("qev-" + std::to_string(getuid())));
    EXPECT_EQ(GetTempFolder(), "");
    if (old)
        setenv("TMPDIR", saved.c_str(), 1);
    else
        unsetenv("TMPDIR");
}
