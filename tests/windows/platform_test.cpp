// The Windows platform functions with real Windows programs, files and the settings reader,
// run under Wine. This program also plays the other programs of the hand-over: given
// "-u"/"-r" it runs that mode, "--sleep MS" waits, "--record FILE ARGS..." writes its
// arguments, one per line, into FILE.
#include <gtest/gtest.h>

#include <cctype>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "base/log.h"
#include "app/settings.h"
#include "app/update_modes.h"
#include "fake_http_server.h"
#include "net/http_get.h"
#include "platform/files.h"
#include "platform/process.h"

using namespace qev;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

// Wine starts a program in a fraction of a second, but a loaded CI machine can take far
// longer; waits end as soon as their condition holds.
constexpr int ProcessWaitMs = 30000;
constexpr int HandOverWaitMs = 10000;

std::string Read(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

void Write(const std::string& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary) << bytes;
}

template <class Condition> bool WaitFor(Condition condition, int ms)
{
    for (auto end = Clock::now() + std::chrono::milliseconds(ms); Clock::now() < end;) {
        if (condition()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return condition();
}

class PlatformTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir_ = GetTempFolder();
        ASSERT_FALSE(dir_.empty());
        dir_ += "platform-test-" + std::to_string(CurrentProcessId()) + "/";
        fs::create_directories(dir_);
    }
    void TearDown() override
    {
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
    }
    std::string Path(const std::string& name) const { return dir_ + name; }
    std::string dir_;
};

TEST_F(PlatformTest, PathsUseForwardSlashesAndTheTempFolderIsOurs)
{
    const std::string program = GetProgramPath();
    EXPECT_EQ(program.find('\\'), std::string::npos) << program;
    EXPECT_TRUE(FileExists(program));
    const std::string temp = GetTempFolder();
    ASSERT_FALSE(temp.empty());
    EXPECT_EQ(temp.back(), '/');
    EXPECT_EQ(temp.substr(temp.size() - 5), "/qev/");
    EXPECT_TRUE(fs::is_directory(temp));
    EXPECT_EQ(LogFilePath(), "C:/log/qev.log");
}

TEST_F(PlatformTest, StartedProgramGetsTheCommandLineAsSplit)
{
    const std::string out = Path("args.txt");
    const std::string line =
        " --record \"" + out + "\" plain \"two words\" \"q\\\"uote\" back\\\\slash";
    const int pid = StartProcess(line, GetProgramPath());
    ASSERT_GT(pid, 0);
    ASSERT_TRUE(WaitFor([&] { return FileExists(out); }, ProcessWaitMs));
    std::vector<std::string> expected = SplitCommandLine(line);
    expected.erase(expected.begin(), expected.begin() + 3); // slot, --record, FILE
    std::string joined;
    for (const auto& a : expected) joined += a + "\n";
    EXPECT_EQ(Read(out), joined);
    EXPECT_EQ(StartProcess(" x", Path("missing.exe")), -1);
}

TEST_F(PlatformTest, WatchWaitsForAndEndsAnotherProcess)
{
    ProcessWatch self;
    EXPECT_FALSE(self.Open(CurrentProcessId()));
    ProcessWatch none;
    EXPECT_FALSE(none.Open(0));

    const int pid = StartProcess(" --sleep 60000", GetProgramPath());
    ASSERT_GT(pid, 0);
    ProcessWatch watch;
    ASSERT_TRUE(watch.Open(pid));
    EXPECT_FALSE(watch.Wait(200));
    watch.Kill();
    EXPECT_TRUE(watch.Wait(ProcessWaitMs));
}

TEST_F(PlatformTest, CopyOverReplacesWholeAndLeavesNoSibling)
{
    const std::string from = Path("new.bin"), to = Path("old.bin");
    Write(from, std::string(300000, 'n'));
    Write(to, "old");
    ASSERT_TRUE(CopyFileOver(from, to));
    EXPECT_EQ(Read(to), std::string(300000, 'n'));
    EXPECT_FALSE(CopyFileOver(Path("missing.bin"), to));
    EXPECT_EQ(Read(to), std::string(300000, 'n'));
    std::size_t files = 0;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator(dir_)) ++files;
    EXPECT_EQ(files, 2u);
    EXPECT_TRUE(CanReplaceFile(to));
    EXPECT_TRUE(DeleteFile(to));
    EXPECT_FALSE(DeleteFile(to));
    EXPECT_FALSE(CanReplaceFile(to));
}

// The hand-over only ends a process that runs the program file being replaced.
TEST_F(PlatformTest, WatchTellsWhichProgramFileAProcessRuns)
{
    const std::string copy = Path("prog.exe");
    ASSERT_TRUE(CopyFileOver(GetProgramPath(), copy));
    const int pid = StartProcess(" --sleep 60000", copy);
    ASSERT_GT(pid, 0);
    ProcessWatch watch;
    ASSERT_TRUE(watch.Open(pid));
    EXPECT_TRUE(watch.RunsProgramFile(copy));
    std::string upper = copy; // the same file, spelt as Windows allows
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    EXPECT_TRUE(watch.RunsProgramFile(upper));
    EXPECT_TRUE(watch.RunsProgramFile(dir_ + "./sub/../prog.exe"));
    EXPECT_FALSE(watch.RunsProgramFile(GetProgramPath())); // same bytes, another file
    EXPECT_FALSE(watch.RunsProgramFile(Path("missing.exe")));
    EXPECT_FALSE(watch.RunsProgramFile(""));
    watch.Kill();
    EXPECT_TRUE(watch.Wait(ProcessWaitMs));
    EXPECT_FALSE(watch.RunsProgramFile(copy)); // ended
    ProcessWatch unopened;
    EXPECT_FALSE(unopened.RunsProgramFile(copy));
}

TEST_F(PlatformTest, StaleCopiesOfTheProgramAreRemovedAndNothingElse)
{
    // A process that has ended, to stand for a copy killed mid-way, and one still running.
    const int gone = StartProcess(" --sleep 0", GetProgramPath());
    ASSERT_GT(gone, 0);
    {
        ProcessWatch watch;
        if (watch.Open(gone)) {
            ASSERT_TRUE(watch.Wait(ProcessWaitMs));
        }
    }
    const int running = StartProcess(" --sleep 60000", GetProgramPath());
    ASSERT_GT(running, 0);
    const std::string g = std::to_string(gone);
    Write(Path("prog.exe"), "program");
    Write(Path("prog.exe.qev-" + g + "-123.tmp"), "half");
    Write(Path("PROG.EXE.qev-" + g + "-9.tmp"), "half"); // names ignore case here
    const std::string alive = std::to_string(running), self = std::to_string(CurrentProcessId());
    const std::vector<std::string> kept = {
        "prog.exe.qev-" + alive + "-5.tmp",   // its maker may be copying now
        "prog.exe.qev-" + self + "-5.tmp",    // ours
        "prog.exe.qev-" + g + ".tmp",         // not a name the copy makes
        "prog.exe.qev-" + g + "-12.tmpx",     //
        "prog.exe.qev-x" + g + "-12.tmp",     //
        "other.exe.qev-" + g + "-12.tmp",     // another file's
        "prog.exe.qev-" + g + "-12.tmp.keep", //
        "progx.exe.qev-" + g + "-1.tmp",      //
    };
    for (const auto& name : kept) Write(Path(name), "keep");
    fs::create_directory(Path("prog.exe.qev-" + g + "-77.tmp")); // not a plain file

    EXPECT_EQ(RemoveStaleCopies(Path("prog.exe")), 2);
    EXPECT_EQ(Read(Path("prog.exe")), "program");
    for (const auto& name : kept) EXPECT_TRUE(FileExists(Path(name))) << name;
    EXPECT_TRUE(fs::is_directory(Path("prog.exe.qev-" + g + "-77.tmp")));
    EXPECT_EQ(RemoveStaleCopies(Path("prog.exe")), 0);
    EXPECT_EQ(RemoveStaleCopies(Path("missing/prog.exe")), 0);

    ProcessWatch watch;
    ASSERT_TRUE(watch.Open(running));
    watch.Kill();
    EXPECT_TRUE(watch.Wait(ProcessWaitMs));
}

TEST_F(PlatformTest, WritesAtOffsetsAndTruncates)
{
    const std::string path = Path("chunks.bin");
    EXPECT_EQ(WriteFileAt(path, 4, "EF", 2), 0);
    EXPECT_EQ(WriteFileAt(path, 0, "ABCD", 4), 0);
    EXPECT_EQ(Read(path), "ABCDEF");
    ASSERT_TRUE(TruncateFile(path));
    EXPECT_EQ(Read(path), "");
    EXPECT_NE(WriteFileAt(Path("no/such/folder/x"), 0, "x", 1), 0);
}

TEST_F(PlatformTest, SettingsValueThroughTheProfileReader)
{
    struct Case {
        const char* text;
        const char* value;
    };
    const Case cases[] = {
        {"[config]\r\nPM=http://www.example.com/report?x=1\r\n",
         "http://www.example.com/report?x=1"},
        {"[Config]\r\npm = spaced \r\n", "spaced"},
        {"[other]\r\nPM=no\r\n", ""},
        {"[config]\r\nPM=first\r\nPM=second\r\n", "first"},
        {"[config]\r\nPM=\"http://h/p?x=1\"\r\n", "http://h/p?x=1"},
        {"", ""},
    };
    const std::string path = Path("pm_config.ini");
    for (const Case& c : cases) {
        Write(path, c.text);
        EXPECT_EQ(ReadReportAddressValue(path), c.value) << c.text;
    }
    const std::string longValue(700, 'a');
    Write(path, "[config]\r\nPM=" + longValue + "\r\n");
    EXPECT_EQ(ReadReportAddressValue(path), std::string(ReportAddressMaxChars, 'a'));
    EXPECT_EQ(ReadReportAddressValue(Path("missing.ini")), "");
}

TEST_F(PlatformTest, LogLinesEndInCrLf)
{
    WriteLog("first", dir_.substr(0, dir_.size() - 1));
    WriteLog("second", dir_.substr(0, dir_.size() - 1));
    EXPECT_EQ(Read(Path("qev.log")), "first\r\nsecond\r\n");
}

// What WinINet puts on the request line: the values as given, a '\' as %5C (WinINet would
// turn it into '/').
TEST(WinInetText, RequestTargetCarriesEveryValue)
{
    test::FakeHttpServer server;
    const struct {
        std::string query, path, target;
    } cases[] = {
        {"?account=Mr Blank&sid=S 1", "/micro2/GetTasks",
         "/micro2/GetTasks?account=Mr%20Blank&sid=S%201"},
        {"?a=x#y&b=%41&c=d=e?f", "/p", "/p?a=x%23y&b=%41&c=d=e?f"},
        {"?n=\xc3\xa9&t=\t", "/dir/my page.php", "/dir/my%20page.php?n=%C3%A9&t=%09"},
        {"?q='\"<>{}|\\^`[]~!$*()+,;:@", "/p", "/p?q='\"<>{}|%5C^`[]~!$*()+,;:@"},
    };
    for (const auto& c : cases) {
        server.Enqueue(test::MakeReply(200, "sent"));
        const std::size_t before = server.RequestCount();
        EXPECT_EQ(HttpGetText(c.query, c.path, server.host()), "sent") << c.query;
        EXPECT_EQ(server.RequestLine(before), "GET " + c.target + " HTTP/1.1") << c.query;
    }
}

// The whole hand-over with real programs: the updater copy waits for the client to end,
// puts the package over the program file, starts it in cleanup mode, and that removes the
// updater copy and the package.
TEST_F(PlatformTest, HandOverReplacesTheProgramAndCleansUp)
{
    const std::string self = GetProgramPath();
    const std::string program = Path("client.exe"), package = Path("package.exe"),
                      updater = Path("updateclient.exe");
    Write(program, "the old program");
    ASSERT_TRUE(CopyFileOver(self, package));
    ASSERT_TRUE(CopyFileOver(self, updater));
    const int client = StartProcess(" --sleep 300", self);
    ASSERT_GT(client, 0);

    ASSERT_GT(StartProcess(FormatHandOverCommandLine("-u", client, package, program), updater), 0);
    EXPECT_TRUE(WaitFor([&] { return !FileExists(updater) && !FileExists(package); },
                        ProcessWaitMs + 2 * HandOverWaitMs));
    EXPECT_EQ(Read(program), Read(self));
}

} // namespace

int main(int argc, char** argv)
{
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "-u" || mode == "-r")
        return RunUpdateMode(std::vector<std::string>(argv + 1, argv + argc), HandOverWaitMs);
    if (mode == "--sleep" && argc > 2) {
        std::this_thread::sleep_for(std::chrono::milliseconds(std::atoi(argv[2])));
        return 0;
    }
    if (mode == "--record" && argc > 2) {
        std::string lines;
        for (int i = 3; i < argc; ++i) lines += std::string(argv[i]) + "\n";
        Write(std::string(argv[2]) + ".part", lines);
        fs::rename(std::string(argv[2]) + ".part", argv[2]);
        return 0;
    }
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
