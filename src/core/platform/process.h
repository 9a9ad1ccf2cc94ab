#pragma once
// Processes: starting a program with a command line, waiting for and ending another.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/platform/platform_error.h"

namespace qev {

// Splits a command line the way the Windows start-up code does: the first element is the
// program-name slot (up to the first blank, or a quoted run; empty when the line begins
// with a blank); the rest are separated by blanks and tabs, double quotes group, 2n
// backslashes before a quote give n backslashes, 2n+1 give n and a literal quote.
std::vector<std::string> SplitCommandLine(std::string_view line);

// " -u -p<pid> "<a>" "<b>"" and its "-r" twin, the self-update's hand-over lines: the
// line starts with a blank, so the started program's name slot is empty; each path is
// quoted so that SplitCommandLine gives it back unchanged.
std::string FormatHandOverCommandLine(std::string_view mode, int pid, const std::string& a,
                                      const std::string& b);

// Starts appPath with the arguments of commandLine after its program-name slot (argv[0]
// is appPath). Does not wait. Returns the new process id; nothing when it could not start
// (error: the system's error number).
std::optional<int> StartProcess(std::string_view commandLine, const std::string& appPath,
                                PlatformError* error = nullptr);

// This process's id.
int CurrentProcessId();

// A process opened for waiting and termination.
class ProcessWatch {
public:
    // Opens pid; false when there is no such process (or pid is not a usable id).
    bool Open(int pid);
    // Waits up to timeoutMs for the process to end; true when it has ended.
    bool Wait(int timeoutMs);
    // Ends the process at once.
    void Kill();
    // True when the process is running the program file at path: that very file, or the
    // file that stood at path when the process started and has since been replaced there.
    // False when it runs anything else, has ended, or cannot be looked at.
    bool RunsProgramFile(const std::string& path) const;
    ~ProcessWatch();
    ProcessWatch() = default;
    ProcessWatch(const ProcessWatch&) = delete;
    ProcessWatch& operator=(const ProcessWatch&) = delete;

private:
    int pid_ = -1;
    // Linux: a pidfd, -1 when the id is polled instead; Windows: the process handle.
    std::intptr_t handle_ = -1;
};

} // namespace qev
