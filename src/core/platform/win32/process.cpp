#include "core/platform/process.h"

#include <windows.h>

#include <vector>

#include "core/platform/win32/wide.h"

namespace qev {
namespace {

// A command line holds at most 16,384 characters; longer lines are cut.
constexpr std::size_t CommandLineChars = 16384;
// OpenProcess rights: SYNCHRONIZE (to wait) | PROCESS_TERMINATE (to end it).
constexpr DWORD WatchRights = 0x100001;
// ... and, where the system grants it, the right to read which program file it runs.
constexpr DWORD WatchAndQueryRights = WatchRights | PROCESS_QUERY_LIMITED_INFORMATION;
// Longest path QueryFullProcessImageNameW and GetFullPathNameW are asked for.
constexpr DWORD LongPathChars = 32768;

HANDLE AsHandle(std::intptr_t value)
{
    return reinterpret_cast<HANDLE>(value);
}

// The volume and index that name a file whatever path leads to it; false when it cannot
// be opened (no access is asked for, so a running program file opens too).
bool FileIdentity(const std::wstring& path, BY_HANDLE_FILE_INFORMATION& info)
{
    const HANDLE file =
        CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    const bool ok = GetFileInformationByHandle(file, &info) != 0;
    CloseHandle(file);
    return ok;
}

// path made absolute, "." and ".." resolved, in one case: Windows paths ignore case.
std::wstring NormalPath(const std::wstring& path)
{
    std::vector<wchar_t> buffer(LongPathChars);
    const DWORD n =
        GetFullPathNameW(path.c_str(), static_cast<DWORD>(buffer.size()), buffer.data(), nullptr);
    if (n == 0 || n >= buffer.size()) return {};
    std::wstring full(buffer.data(), n);
    CharUpperBuffW(full.data(), static_cast<DWORD>(full.size()));
    return full;
}

} // namespace

std::optional<int> StartProcess(std::string_view commandLine, const std::string& appPath,
                                PlatformError* error)
{
    std::wstring line = win32::Widen(commandLine);
    if (line.size() > CommandLineChars - 1) line.resize(CommandLineChars - 1);
    std::vector<wchar_t> buffer(line.begin(), line.end());
    buffer.push_back(L'\0');
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    // Suspended until our handles are in place, as the hand-over expects; the child gets
    // our environment and current folder, and none of our handles.
    if (!CreateProcessW(win32::WidePath(appPath).c_str(), buffer.data(), nullptr, nullptr, FALSE,
                        CREATE_SUSPENDED | CREATE_DEFAULT_ERROR_MODE, nullptr, nullptr, &startup,
                        &info)) {
        Fail(error, static_cast<int>(GetLastError()), "cannot start the program");
        return std::nullopt;
    }
    ResumeThread(info.hThread);
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
    return static_cast<int>(info.dwProcessId);
}

int CurrentProcessId()
{
    return static_cast<int>(GetCurrentProcessId());
}

bool ProcessWatch::Open(int pid)
{
    // Id 0 is the idle process; our own id would have us wait for and then end ourselves.
    if (pid <= 0 || pid == CurrentProcessId()) return false;
    HANDLE process = OpenProcess(WatchAndQueryRights, FALSE, static_cast<DWORD>(pid));
    if (!process) process = OpenProcess(WatchRights, FALSE, static_cast<DWORD>(pid));
    if (!process) return false;
    pid_ = pid;
    handle_ = reinterpret_cast<std::intptr_t>(process);
    return true;
}

bool ProcessWatch::Wait(int timeoutMs)
{
    if (pid_ <= 0) return true;
    const DWORD wait = timeoutMs < 0 ? INFINITE : static_cast<DWORD>(timeoutMs);
    return WaitForSingleObject(AsHandle(handle_), wait) == WAIT_OBJECT_0;
}

void ProcessWatch::Kill()
{
    if (pid_ > 0) TerminateProcess(AsHandle(handle_), 1);
}

bool ProcessWatch::RunsProgramFile(const std::string& path) const
{
    if (pid_ <= 0 || path.empty()) return false;
    // The handle holds this very process, so an id taken again cannot mislead; it must
    // still run.
    if (WaitForSingleObject(AsHandle(handle_), 0) != WAIT_TIMEOUT) return false;
    std::vector<wchar_t> buffer(LongPathChars);
    auto size = static_cast<DWORD>(buffer.size());
    if (!QueryFullProcessImageNameW(AsHandle(handle_), 0, buffer.data(), &size)) return false;
    const std::wstring running(buffer.data(), size);
    const std::wstring file = win32::WidePath(path);
    // The same file under any name (a link, a short name) ...
    BY_HANDLE_FILE_INFORMATION a{}, b{};
    if (FileIdentity(running, a) && FileIdentity(file, b) &&
        a.dwVolumeSerialNumber == b.dwVolumeSerialNumber && a.nFileIndexHigh == b.nFileIndexHigh &&
        a.nFileIndexLow == b.nFileIndexLow)
        return true;
    // ... or the file that stood at path when the process started: the system keeps the
    // name it was started from.
    const std::wstring runningPath = NormalPath(running);
    return !runningPath.empty() && runningPath == NormalPath(file);
}

ProcessWatch::~ProcessWatch()
{
    if (pid_ > 0) CloseHandle(AsHandle(handle_));
}

} // namespace qev
