#include "core/platform/process.h"

#include <cerrno>
#include <csignal>
#include <poll.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <thread>

extern char** environ;

namespace qev {

std::optional<int> StartProcess(std::string_view commandLine, const std::string& appPath,
                                PlatformError* error)
{
    // A command line holds at most 16,384 characters; longer lines are cut.
    constexpr std::size_t MaxCommandLine = 16384 - 1;
    std::vector<std::string> args = SplitCommandLine(commandLine.substr(0, MaxCommandLine));
    args[0] = appPath;
    std::vector<char*> argv;
    argv.reserve(args.size() + 1);
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    if (const int code = posix_spawn(&pid, appPath.c_str(), nullptr, nullptr, argv.data(), environ);
        code != 0) {
        Fail(error, code, "cannot start the program");
        return std::nullopt;
    }
    return static_cast<int>(pid);
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

namespace {

// path with its folder resolved, as the kernel names a running program's file.
std::string ResolvedPath(const std::string& path)
{
    const auto slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    char resolved[PATH_MAX];
    if (!realpath(folder.c_str(), resolved)) return {};
    const std::string base = resolved;
    return base == "/" ? "/" + name : base + "/" + name;
}

} // namespace

bool ProcessWatch::RunsProgramFile(const std::string& path) const
{
    if (pid_ <= 0 || path.empty()) return false;
    const std::string exe = "/proc/" + std::to_string(pid_) + "/exe";
    // stat follows the link to the running file itself, even after it was unlinked; it fails
    // for zombies, kernel threads and other users' processes.
    struct stat running {};
    if (stat(exe.c_str(), &running) != 0) return false;
    struct stat file {};
    bool same = stat(path.c_str(), &file) == 0 && running.st_dev == file.st_dev &&
                running.st_ino == file.st_ino;
    if (!same && running.st_nlink == 0) {
        // Replaced (or removed) since the process started: the kernel still names the old
        // file by where it stood, with " (deleted)" after it. Its link count of 0 tells that
        // apart from a file really named so.
        char target[PATH_MAX];
        const ssize_t n = readlink(exe.c_str(), target, sizeof target - 1);
        const std::string resolved = ResolvedPath(path);
        same = n > 0 && !resolved.empty() &&
               std::string(target, static_cast<std::size_t>(n)) == resolved + " (deleted)";
    }
    if (!same) return false;
    // The /proc entry is only this process's while it runs: an id freed and taken again
    // meanwhile would have shown another program.
    if (handle_ >= 0) {
        pollfd p{static_cast<int>(handle_), POLLIN, 0};
        return poll(&p, 1, 0) == 0;
    }
    return !IsGoneOrZombie(pid_);
}

ProcessWatch::~ProcessWatch()
{
    if (handle_ >= 0) close(static_cast<int>(handle_));
}

} // namespace qev
