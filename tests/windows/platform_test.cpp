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

#include "core/app/settings.h"
#include "core/app/update_modes.h"
#include "core/base/log.h"
#include "core/platform/files.h"
#include "core/platform/http_get.h"
#include "core/platform/process.h"
#include "core/platform/update_folder.h"
#include "core/platform/win32/wide.h"
#include "fake_http_server.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <winioctl.h>
// windows.h maps these to their W forms, and has an OpenFile of its own: the tests mean
// qev's.
#undef CreateFile
#undef DeleteFile

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
        dir_ = win32::CorePath(fs::temp_directory_path().wstring());
        ASSERT_FALSE(dir_.empty());
        if (dir_.back() != '/') dir_ += '/';
        dir_ += "qev-platform-test-" + std::to_string(CurrentProcessId()) + "/";
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

TEST_F(PlatformTest, PathsUseForwardSlashes)
{
    const std::string program = GetProgramPath();
    EXPECT_EQ(program.find('\\'), std::string::npos) << program;
    EXPECT_TRUE(FileExists(program));
    EXPECT_EQ(LogFilePath(), "C:/log/qev.log");
}

TEST_F(PlatformTest, StartedProgramGetsTheCommandLineAsSplit)
{
    const std::string out = Path("args.txt");
    const std::string line =
        " --record \"" + out + "\" plain \"two words\" \"q\\\"uote\" back\\\\slash";
    const int pid = StartProcess(line, GetProgramPath()).value_or(-1);
    ASSERT_GT(pid, 0);
    ASSERT_TRUE(WaitFor([&] { return FileExists(out); }, ProcessWaitMs));
    std::vector<std::string> expected = SplitCommandLine(line);
    expected.erase(expected.begin(), expected.begin() + 3); // slot, --record, FILE
    std::string joined;
    for (const auto& a : expected) joined += a + "\n";
    EXPECT_EQ(Read(out), joined);
    EXPECT_FALSE(StartProcess(" x", Path("missing.exe")));
}

TEST_F(PlatformTest, WatchWaitsForAndEndsAnotherProcess)
{
    ProcessWatch self;
    EXPECT_FALSE(self.Open(CurrentProcessId()));
    ProcessWatch none;
    EXPECT_FALSE(none.Open(0));

    const int pid = StartProcess(" --sleep 60000", GetProgramPath()).value_or(-1);
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
    const int pid = StartProcess(" --sleep 60000", copy).value_or(-1);
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
    const int gone = StartProcess(" --sleep 0", GetProgramPath()).value_or(-1);
    ASSERT_GT(gone, 0);
    {
        ProcessWatch watch;
        if (watch.Open(gone)) {
            ASSERT_TRUE(watch.Wait(ProcessWaitMs));
        }
    }
    const int running = StartProcess(" --sleep 60000", GetProgramPath()).value_or(-1);
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
    EXPECT_TRUE(WriteFileAt(path, 4, "EF", 2));
    EXPECT_TRUE(WriteFileAt(path, 0, "ABCD", 4));
    EXPECT_EQ(Read(path), "ABCDEF");
    ASSERT_TRUE(TruncateFile(path));
    EXPECT_EQ(Read(path), "");
    EXPECT_FALSE(WriteFileAt(Path("no/such/folder/x"), 0, "x", 1));
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

// The whole hand-over with real programs, as the client makes it: a sealed copy of the
// verified package, in the run folder, waits for the client to end, installs its own
// image over the program file, starts it in cleanup mode, and that removes the run folder.
TEST_F(PlatformTest, HandOverReplacesTheProgramAndCleansUp)
{
    fs::create_directories(Path("local"));
    SetEnvironmentVariableW(L"LOCALAPPDATA", win32::WidePath(Path("local")).c_str());
    const std::string self = GetProgramPath();
    const std::string program = Path("client.exe");
    Write(program, "the old program");
    std::string run, package;
    {
        PlatformError why;
        auto folder = UpdateFolder::CreateForRun(&why);
        ASSERT_TRUE(folder) << why.text;
        run = folder->Path();
        package = run + "package.exe";
        qev::OpenFile file = folder->CreateFile("package.exe");
        const std::string bytes = Read(self);
        ASSERT_TRUE(file.WriteAt(0, bytes.data(), bytes.size()));
        const auto sealed = SealedProgram::Seal(file, static_cast<std::int64_t>(bytes.size()),
                                                "qev.exe", *folder, &why);
        ASSERT_TRUE(sealed) << why.text;
        const int client = StartProcess(" --sleep 300", self).value_or(-1);
        ASSERT_GT(client, 0);
        ASSERT_GT(
            sealed->Start(FormatHandOverCommandLine("-u", client, package, program)).value_or(-1),
            0);
    } // the client ends: its folder's lock and the sealed copy's handle go
    EXPECT_TRUE(WaitFor([&] { return !FileExists(run) && Read(program) == Read(self); },
                        ProcessWaitMs + 2 * HandOverWaitMs + HandOverLockWaitMs));
    EXPECT_EQ(Read(program), Read(self));
    SetEnvironmentVariableW(L"LOCALAPPDATA", nullptr);
}

TEST_F(PlatformTest, WriteOverPutsTheBytesInPlaceWhole)
{
    const struct {
        std::string to;
        bool before, ok;
    } cases[] = {
        {"old.bin", true, true},         // replaced
        {"new.bin", false, true},        // made
        {"no/such/x.bin", false, false}, // nowhere to put it
    };
    const std::string bytes = std::string(100000, 'w') + std::string(1, '\0') + "end";
    for (const auto& c : cases) {
        if (c.before) Write(Path(c.to), "the old bytes");
        EXPECT_EQ(WriteFileOver(bytes, Path(c.to)), c.ok) << c.to;
        if (c.ok) {
            EXPECT_EQ(Read(Path(c.to)), bytes) << c.to;
        }
    }
    std::size_t files = 0; // no sibling left behind
    for ([[maybe_unused]] const auto& e : fs::directory_iterator(dir_)) ++files;
    EXPECT_EQ(files, 2u);
}

// Under Wine: the Linux name of a Windows path, "" elsewhere.
std::string UnixPath(const std::string& path)
{
    using UnixName = char*(CDECL*)(const wchar_t*);
    const FARPROC found =
        GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name");
    if (!found) return {};
    char* name = reinterpret_cast<UnixName>(reinterpret_cast<void (*)()>(found))(
        win32::WidePath(path).c_str());
    if (!name) return {};
    std::string out = name;
    HeapFree(GetProcessHeap(), 0, name);
    return out;
}

// Under Wine: runs a program of the Linux system (Wine starts those too) and waits until
// done() holds, since Wine neither waits for such a program nor passes its exit code on.
template <class Done>
bool RunUnix(const std::wstring& program, const std::string& arguments, Done done)
{
    std::wstring line = L"x " + win32::Widen(arguments);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (!CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &info))
        return false;
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
    return WaitFor(done, ProcessWaitMs);
}

// Plants at link a link to the folder target, as any program of this user could: a
// junction where the system makes them; under Wine, which makes none, a Linux symbolic
// link, which Wine reports as a reparse point.
bool PlantLink(const std::string& link, const std::string& target)
{
    const std::wstring at = win32::WidePath(link);
    if (CreateDirectoryW(at.c_str(), nullptr)) {
        struct {
            DWORD tag;
            WORD dataLength, reserved;
            WORD substituteOffset, substituteLength, printOffset, printLength;
            wchar_t names[1024];
        } mount{};
        const std::wstring print = win32::WidePath(target), substitute = L"\\??\\" + print;
        mount.tag = IO_REPARSE_TAG_MOUNT_POINT;
        mount.substituteLength = static_cast<WORD>(substitute.size() * sizeof(wchar_t));
        mount.printOffset = static_cast<WORD>(mount.substituteLength + sizeof(wchar_t));
        mount.printLength = static_cast<WORD>(print.size() * sizeof(wchar_t));
        std::copy(substitute.begin(), substitute.end(), mount.names);
        std::copy(print.begin(), print.end(), mount.names + substitute.size() + 1);
        mount.dataLength = static_cast<WORD>(8 + mount.printOffset + mount.printLength + 2);
        const HANDLE folder =
            CreateFileW(at.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                        FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
        DWORD unused = 0;
        const bool made = folder != INVALID_HANDLE_VALUE &&
                          DeviceIoControl(folder, FSCTL_SET_REPARSE_POINT, &mount,
                                          8 + mount.dataLength, nullptr, 0, &unused, nullptr);
        if (folder != INVALID_HANDLE_VALUE) CloseHandle(folder);
        if (made) return true;
        RemoveDirectoryW(at.c_str());
    }
    const std::string from = UnixPath(target), to = UnixPath(link);
    return !from.empty() && !to.empty() &&
           RunUnix(L"Z:\\bin\\ln", "-s \"" + from + "\" \"" + to + "\"", [&] {
               const DWORD attributes = GetFileAttributesW(at.c_str());
               return attributes != INVALID_FILE_ATTRIBUTES &&
                      (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
           });
}

bool OpenForWriting(const std::string& path, DWORD& error)
{
    const HANDLE file = CreateFileW(win32::WidePath(path).c_str(), GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    error = GetLastError();
    if (file == INVALID_HANDLE_VALUE) return false;
    CloseHandle(file);
    return true;
}

std::size_t Entries(const std::string& folder)
{
    std::size_t n = 0;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator(folder)) ++n;
    return n;
}

// The self-update's run folders, under a %LOCALAPPDATA% of the test's own.
class UpdateFolderTest : public PlatformTest {
protected:
    void SetUp() override
    {
        PlatformTest::SetUp();
        // Deep enough that a 200-byte name in a run folder passes MAX_PATH.
        local_ = dir_ + "local-app-data-" + std::string(60, 'd');
        fs::create_directories(local_);
        SetEnvironmentVariableW(L"LOCALAPPDATA", win32::WidePath(local_).c_str());
    }
    void TearDown() override
    {
        SetEnvironmentVariableW(L"LOCALAPPDATA", nullptr);
        // Wine removes what a Linux link leads to, not the link: Linux removes the lot.
        const std::string unixDir = UnixPath(dir_);
        if (!unixDir.empty())
            RunUnix(L"Z:\\bin\\rm", "-rf \"" + unixDir + "\"", [&] { return !fs::exists(dir_); });
        PlatformTest::TearDown();
    }
    std::string local_;
};

TEST_F(UpdateFolderTest, RunFoldersAreLockedWhileTheirRunLastsAndCleanedUpAfter)
{
    const std::string root = UpdateFolderRoot();
    EXPECT_EQ(root, local_ + "/qev/update/");
    PlatformError why;
    auto held = UpdateFolder::CreateForRun(&why);
    auto released = UpdateFolder::CreateForRun(&why);
    auto handedOver = UpdateFolder::CreateForRun(&why);
    ASSERT_TRUE(held && released && handedOver) << why.text;
    const std::string heldPath = held->Path(), releasedPath = released->Path(),
                      handedPath = handedOver->Path();
    for (const std::string& path : {heldPath, releasedPath, handedPath}) {
        ASSERT_EQ(path.size(), root.size() + 17) << path;
        EXPECT_EQ(path.substr(0, root.size() + 4), root + "run-") << path;
        for (const char c : path.substr(root.size() + 4, 12)) EXPECT_TRUE(std::islower(c)) << path;
        EXPECT_TRUE(fs::is_directory(path));
    }
    EXPECT_NE(heldPath, releasedPath);

    // The hand-over waits for the run that holds the folder, and gets it once that ends.
    const auto start = Clock::now();
    EXPECT_FALSE(UpdateFolder::OpenRunFolder(heldPath, 300));
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(250));
    std::thread ends([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        handedOver.reset();
    });
    auto taken = UpdateFolder::OpenRunFolder(handedPath, HandOverWaitMs);
    ends.join();
    ASSERT_TRUE(taken);
    EXPECT_EQ(taken->Path(), handedPath);
    EXPECT_TRUE(taken->CreateFile("kept").IsOpen());

    // Only run folders directly under the root, never through a link.
    const std::string outside = Path("run-abcdefghijkl/"), target = Path("target/");
    fs::create_directories(outside);
    fs::create_directories(target);
    Write(target + "precious", "mine");
    fs::create_directories(root + "keep");
    ASSERT_TRUE(PlantLink(root + "run-linkedfolder", target));
    const std::string refused[] = {
        outside,
        root,
        root + "keep/",
        root + "run-linkedfolder/",
        root + "run-missingnames/",
        root + "run-ABCDEFGHIJKL/",
        root + "keep/../../update/run-abc/",
        "",
        "run-abcdefghijkl",
    };
    for (const auto& path : refused) EXPECT_FALSE(UpdateFolder::OpenRunFolder(path, 0)) << path;
    EXPECT_FALSE(UpdateFolder::OpenPlain(root + "run-linkedfolder"));
    EXPECT_FALSE(UpdateFolder::OpenPlain(Path("missing")));
    EXPECT_TRUE(UpdateFolder::OpenPlain(outside));

    // Clean-up takes the folder nobody holds, with its files, and nothing else.
    ASSERT_TRUE(released->CreateFile("left.bin").IsOpen());
    released.reset();
    std::string left;
    EXPECT_EQ(held->RemoveAbandonedRunFolders(left), 1);
    EXPECT_FALSE(fs::exists(releasedPath));
    for (const std::string& path : {heldPath, handedPath, root + "keep", outside})
        EXPECT_TRUE(fs::is_directory(path)) << path;
    EXPECT_EQ(Read(target + "precious"), "mine");
    EXPECT_TRUE(taken->RemoveAll());
    EXPECT_FALSE(fs::exists(handedPath));
    EXPECT_TRUE(held->RemoveAll());
    EXPECT_FALSE(fs::exists(heldPath));

    // A link in place of the root itself leaves no root at all.
    const std::string linkedBase = Path("linked-base");
    fs::create_directories(linkedBase + "/qev");
    ASSERT_TRUE(PlantLink(linkedBase + "/qev/update", target));
    SetEnvironmentVariableW(L"LOCALAPPDATA", win32::WidePath(linkedBase).c_str());
    EXPECT_EQ(UpdateFolderRoot(), "");
    EXPECT_FALSE(UpdateFolder::CreateForRun(&why));
    EXPECT_FALSE(why.text.empty());
    EXPECT_EQ(Entries(target), 1u);
}

TEST_F(UpdateFolderTest, FilesAreMadeNewThroughTheFolderAndWrittenThroughTheirHandle)
{
    PlatformError why;
    auto folder = UpdateFolder::CreateForRun(&why);
    ASSERT_TRUE(folder) << why.text;
    const std::string dir = folder->Path();

    qev::OpenFile file = folder->CreateFile("package.exe");
    ASSERT_TRUE(file.IsOpen());
    EXPECT_TRUE(file.WriteAt(4, "EF", 2));
    EXPECT_TRUE(file.WriteAt(0, "ABCD", 4));
    char read[8] = {};
    EXPECT_EQ(file.ReadAt(1, read, sizeof read), 5);
    EXPECT_EQ(std::string(read, 5), "BCDEF");
    EXPECT_EQ(file.ReadAt(6, read, sizeof read), 0);
    EXPECT_EQ(file.Size(), 6);
    EXPECT_FALSE(file.WriteAt(-1, "x", 1));
    DWORD error = 0; // nobody else writes a download meanwhile
    EXPECT_FALSE(OpenForWriting(dir + "package.exe", error));
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    ASSERT_TRUE(file.Truncate());
    EXPECT_EQ(file.Size(), 0);

    // A new name replaces what stood there; moving a file over another closes that one.
    Write(dir + "manifest.xml", "the old manifest");
    qev::OpenFile other = folder->CreateFile("manifest.xml");
    ASSERT_TRUE(other.IsOpen());
    EXPECT_EQ(other.Size(), 0);
    other = std::move(file);
    EXPECT_FALSE(file.IsOpen());
    EXPECT_TRUE(OpenForWriting(dir + "manifest.xml", error));
    EXPECT_FALSE(OpenForWriting(dir + "package.exe", error));
    other.Close();
    EXPECT_EQ(other.ReadAt(0, read, 1), -1);
    EXPECT_FALSE(other.WriteAt(0, "x", 1));
    EXPECT_EQ(other.Size(), -1);

    // A 200-byte name fits however long the folder's path.
    const std::string longName(200, 'n');
    ASSERT_GT(dir.size() + longName.size(), static_cast<std::size_t>(MAX_PATH));
    qev::OpenFile longFile = folder->CreateFile(longName);
    ASSERT_TRUE(longFile.IsOpen());
    EXPECT_TRUE(longFile.WriteAt(0, "long", 4));
    EXPECT_EQ(longFile.Size(), 4);
    longFile.Close();

    // Names that are not one plain part of this folder, and links planted in it, are
    // refused and leave what they lead to alone.
    const std::string target = Path("target/");
    fs::create_directories(target);
    Write(target + "precious", "mine");
    ASSERT_TRUE(PlantLink(dir + "linked", target));
    const std::string refused[] = {
        "",        ".",     "..",          "../escape", "a/b",
        "a\\b",    "c:x",   "name:stream", "tab\tname", "new\nline",
        "del\x7f", "wild*", "\xff\xfe",    "\xc3",      "linked",
    };
    for (const auto& name : refused) {
        EXPECT_FALSE(folder->CreateFile(name).IsOpen()) << name;
        EXPECT_FALSE(folder->RemoveFile(name)) << name;
    }
    EXPECT_FALSE(folder->CreateFile(std::string("a\0b", 3)).IsOpen()); // would make "a"
    EXPECT_EQ(Read(target + "precious"), "mine");
    EXPECT_FALSE(fs::exists(Path("escape")));
    EXPECT_FALSE(fs::exists(dir + "a"));
    // A second name of a file elsewhere goes, and the new file is a file of its own.
    Write(Path("outside.txt"), "mine too");
    ASSERT_TRUE(CreateHardLinkW(win32::WidePath(dir + "hard.txt").c_str(),
                                win32::WidePath(Path("outside.txt")).c_str(), nullptr));
    qev::OpenFile fresh = folder->CreateFile("hard.txt");
    ASSERT_TRUE(fresh.IsOpen());
    EXPECT_EQ(fresh.Size(), 0);
    EXPECT_TRUE(fresh.WriteAt(0, "new", 3));
    fresh.Close();
    EXPECT_EQ(Read(Path("outside.txt")), "mine too");
    // A name that cannot be removed (another process has the file open) is not reused.
    Write(dir + "busy.txt", "theirs");
    const HANDLE busy = CreateFileW(win32::WidePath(dir + "busy.txt").c_str(), GENERIC_READ,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(busy, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(folder->CreateFile("busy.txt").IsOpen());
    CloseHandle(busy);
    EXPECT_EQ(Read(dir + "busy.txt"), "theirs");

    EXPECT_TRUE(folder->RemoveFile("manifest.xml"));
    EXPECT_FALSE(folder->RemoveFile("manifest.xml"));
    // A planted link stays, and so does its folder.
    EXPECT_FALSE(folder->RemoveAll());
    EXPECT_TRUE(fs::is_directory(dir));
    EXPECT_EQ(Read(target + "precious"), "mine");

    auto clean = UpdateFolder::CreateForRun(&why);
    ASSERT_TRUE(clean) << why.text;
    const std::string cleanDir = clean->Path();
    ASSERT_TRUE(clean->CreateFile("a").IsOpen());
    qev::OpenFile open = clean->CreateFile(longName);
    ASSERT_TRUE(open.IsOpen());
    // A file removed while open stays until it is closed, and its folder with it, locked.
    EXPECT_FALSE(clean->RemoveAll());
    EXPECT_FALSE(UpdateFolder::OpenRunFolder(cleanDir, 0));
    open.Close();
    EXPECT_TRUE(clean->RemoveAll());
    EXPECT_FALSE(fs::exists(cleanDir));
}

// The program the update starts is a sealed copy: nobody can change it between the check
// of its bytes and its start, and those very bytes run.
TEST_F(UpdateFolderTest, SealedProgramCannotBeChangedAndStartsAsItWasChecked)
{
    std::string self;
    ASSERT_TRUE(ReadOwnProgram(self));
    EXPECT_EQ(self, Read(GetProgramPath()));
    PlatformError why;
    auto folder = UpdateFolder::CreateForRun(&why);
    ASSERT_TRUE(folder) << why.text;
    qev::OpenFile download = folder->CreateFile("download.part");
    ASSERT_TRUE(download.WriteAt(0, self.data(), self.size()));
    const auto size = static_cast<std::int64_t>(self.size());

    // A source shorter than its size, or none, seals nothing and leaves nothing.
    // An early end is no failed call: it carries no system number.
    EXPECT_FALSE(SealedProgram::Seal(download, size + 1, "short.exe", *folder, &why));
    EXPECT_EQ(why.text, "the program is shorter than its size");
    EXPECT_EQ(why.code, 0);
    EXPECT_FALSE(SealedProgram::Seal(qev::OpenFile(), size, "none.exe", *folder, &why));
    EXPECT_FALSE(SealedProgram::Seal(download, size, "bad/name.exe", *folder, &why));
    EXPECT_FALSE(fs::exists(folder->Path() + "updateshort.exe"));

    // Windows starts nothing from a path of MAX_PATH characters or more: such a name is
    // refused, one just short of it works.
    const std::size_t room = MAX_PATH - 1 - folder->Path().size() - std::string("update").size();
    ASSERT_GT(room, 10u);
    const std::string name = std::string(room - 4, 'p') + ".exe";
    EXPECT_FALSE(SealedProgram::Seal(download, size, "p" + name, *folder, &why));
    EXPECT_EQ(why.code, ERROR_FILENAME_EXCED_RANGE);
    EXPECT_FALSE(fs::exists(folder->Path() + "updatep" + name));
    why = {};
    std::optional<SealedProgram> sealed = SealedProgram::Seal(download, size, name, *folder, &why);
    ASSERT_TRUE(sealed) << why.text;
    download.Close();
    EXPECT_EQ(sealed->Name(), folder->Path() + "update" + name);
    EXPECT_EQ(sealed->Size(), size);
    std::string image(self.size(), '\0');
    std::int64_t done = 0;
    for (std::int64_t got = 1; got > 0 && done < size; done += got)
        got = sealed->Image().ReadAt(done, image.data() + done, self.size() - done);
    EXPECT_EQ(done, size);
    EXPECT_TRUE(image == self);

    // Nobody can write, replace or remove it while it is held.
    DWORD error = 0;
    EXPECT_FALSE(OpenForWriting(sealed->Name(), error));
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    const std::wstring wide = L"\\\\?\\" + win32::WidePath(sealed->Name());
    EXPECT_FALSE(DeleteFileW(wide.c_str()));
    EXPECT_FALSE(MoveFileExW(wide.c_str(), (wide + L".moved").c_str(), 0));
    EXPECT_FALSE(WriteFileOver("other bytes", sealed->Name()));
    EXPECT_FALSE(folder->RemoveFile("update" + name));

    // And it runs with the command line it is given.
    const std::string out = Path("sealed-args.txt");
    const int pid = sealed->Start(" --record \"" + out + "\" one \"two words\"").value_or(-1);
    ASSERT_GT(pid, 0);
    ProcessWatch watch;
    const bool watching = watch.Open(pid);
    ASSERT_TRUE(WaitFor([&] { return FileExists(out); }, ProcessWaitMs));
    EXPECT_EQ(Read(out), "one\ntwo words\n");
    if (watching) {
        EXPECT_TRUE(watch.Wait(ProcessWaitMs));
    }

    sealed.reset();
    EXPECT_TRUE(folder->RemoveAll());
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
