#include "platform/process.h"

#include <cerrno>
#include <csignal>
#include <poll.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <thread>

extern char** environ;

namespace qev {

int StartProcess(std::string_view commandLine, const std::string& appPath)
{
    // A command line holds at most 16,384 characters; longer lines are cut.
    constexpr std::size_t MaxCommandLine = 16384 - 1;
    std::vector<std::string> args = SplitCommandLine(commandLine.substr(0, MaxCommandLine));
    args[0] = appPath;
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawn(&pid, appPath.c_str(), nullptr, nullptr, argv.data(), environ) != 0) return -1;
    return pid;
}

int CurrentProcessId()
{
    return static_cast<int>(getpid());
}

namespace {

bool IsGoneOrZombie(int pid)
{
    if (kill(pid, 0) != 0 && errno == ESRCH) return true;
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text;
    std::getline(stat, text);
    const auto paren = text.rfind(')');
    return paren != std::string::npos && paren + 2 < text.size() && text[paren + 2] == 'Z';
}

} // namespace

bool ProcessWatch::Open(int pid)
{
    // Ids below 1 would address process groups or everything; our own id would have us
    // wait for and then kill ourselves.
    if (pid <= 0 || pid == CurrentProcessId()) return false;
    const long fd = syscall(SYS_pidfd_open, pid, 0);
    if (fd >= 0) {
        pid_ = pid;
        handle_ = fd;
        return true;
    }
    if (errno == ESRCH) return false;
    // No pidfd support: fall back to polling the id.
    if (kill(pid, 0) != 0 && errno == ESRCH) return false;
    pid_ = pid;
    return true;
}

bool ProcessWatch::Wait(int timeoutMs)
{
    if (pid_ <= 0) return true;
    if (handle_ >= 0) {
        pollfd p{static_cast<int>(handle_), POLLIN, 0};
        int r;
        do {
            r = poll(&p, 1, timeoutMs);
        } while (r < 0 && errno == EINTR);
        return r > 0;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (IsGoneOrZombie(pid_)) return true;
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

void ProcessWatch::Kill()
{
    if (pid_ <= 0) return;
    if (handle_ >= 0)
        syscall(SYS_pidfd_send_signal, handle_, SIGKILL, nullptr, 0);
    else
        kill(pid_, SIGKILL);
}

ProcessWatch::~ProcessWatch()
{
    if (handle_ >= 0) close(static_cast<int>(handle_));
}

} // namespace qev
