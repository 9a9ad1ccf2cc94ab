#include "platform/process.h"

#include <windows.h>

#include <vector>

#include "platform/win32/wide.h"

namespace qev {
namespace {

// A command line holds at most 16,384 characters; longer lines are cut.
constexpr std::size_t CommandLineChars = 16384;
// OpenProcess rights: SYNCHRONIZE (to wait) | PROCESS_TERMINATE (to end it).
constexpr DWORD WatchRights = 0x100001;

HANDLE AsHandle(std::intptr_t value)
{
    return reinterpret_cast<HANDLE>(value);
}

} // namespace

int StartProcess(std::string_view commandLine, const std::string& appPath)
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
                        &info))
        return -1;
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
    const HANDLE process = OpenProcess(WatchRights, FALSE, static_cast<DWORD>(pid));
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

ProcessWatch::~ProcessWatch()
{
    if (pid_ > 0) CloseHandle(AsHandle(handle_));
}

} // namespace qev
