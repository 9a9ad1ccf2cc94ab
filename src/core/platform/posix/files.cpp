#include "core/platform/files.h"

#include "core/platform/posix/unique_fd.h"
#include "core/platform/update_folder.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string_view>

namespace qev {

using posix::UniqueFd;

namespace {

// A copy's temporary sibling: "<to>.qev-<pid>-<random>.tmp", so a later run can tell its
// own leftovers (and whether their maker still runs) from anything else in the folder.
constexpr std::string_view CopyInfix = ".qev-";
constexpr std::string_view CopySuffix = ".tmp";

bool AllDigits(std::string_view s)
{
    if (s.empty() || s.size() > 10) return false;
    for (const char c : s)
        if (c < '0' || c > '9') return false;
    return true;
}

// The maker's id when name is a temporary sibling of a file named base; 0 otherwise.
long CopyMaker(std::string_view name, std::string_view base)
{
    if (name.size() <= base.size() + CopyInfix.size() + CopySuffix.size() ||
        name.substr(0, base.size()) != base ||
        name.substr(base.size(), CopyInfix.size()) != CopyInfix ||
        name.substr(name.size() - CopySuffix.size()) != CopySuffix)
        return 0;
    const std::string_view middle =
        name.substr(base.size() + CopyInfix.size(),
                    name.size() - base.size() - CopyInfix.size() - CopySuffix.size());
    const auto dash = middle.find('-');
    if (dash == std::string_view::npos || !AllDigits(middle.substr(0, dash)) ||
        !AllDigits(middle.substr(dash + 1)))
        return 0;
    return std::strtol(std::string(middle.substr(0, dash)).c_str(), nullptr, 10);
}

} // namespace

int RemoveStaleCopies(const std::string& to)
{
    const auto slash = to.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : to.substr(0, slash + 1);
    const std::string base = slash == std::string::npos ? to : to.substr(slash + 1);
    if (base.empty()) return 0;
    DIR* dir = opendir(folder.c_str());
    if (!dir) return 0;
    int removed = 0;
    const long self = getpid();
    while (const dirent* entry = readdir(dir)) {
        const long maker = CopyMaker(entry->d_name, base);
        if (maker <= 0 || maker > INT_MAX || maker == self) continue;
        // A maker still running may be copying right now.
        if (kill(static_cast<pid_t>(maker), 0) == 0 || errno != ESRCH) continue;
        const std::string path = folder + entry->d_name;
        struct stat st {};
        if (lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != getuid())
            continue;
        if (unlink(path.c_str()) == 0) ++removed;
    }
    closedir(dir);
    return removed;
}

bool CanReplaceFile(const std::string& path)
{
    const auto slash = path.rfind('/');
    const std::string dir = slash == std::string::npos ? "." : path.substr(0, slash + 1);
    struct stat dirStat {
    }, fileStat{};
    if (stat(dir.c_str(), &dirStat) != 0 || lstat(path.c_str(), &fileStat) != 0) return false;
    // In a sticky folder only the owner of the file or of the folder may rename over it.
    const uid_t me = geteuid();
    if ((dirStat.st_mode & S_ISVTX) && me != 0 && fileStat.st_uid != me && dirStat.st_uid != me)
        return false;
    // Trying is the only answer that holds for every case (permissions, a read-only or
    // immutable mount): make a sibling, as the copy would, and take it away again.
    std::random_device random;
    const std::string probe =
        dir + ".qev-probe-" + std::to_string(getpid()) + "-" + std::to_string(random() % 1000000);
    if (!UniqueFd(open(probe.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600))) return false;
    unlink(probe.c_str());
    return true;
}

namespace {

bool WriteAll(int fd, const char* bytes, std::size_t length)
{
    for (std::size_t done = 0; done < length;) {
        const ssize_t w = write(fd, bytes + done, length - done);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) return false;
        done += static_cast<std::size_t>(w);
    }
    return true;
}

// Writes a sibling of to through fill, then renames it over to: to is never half written.
// to keeps its mode bits, else it gets mode.
template <typename Fill> bool ReplaceFile(const std::string& to, mode_t mode, Fill fill)
{
    if (struct stat toStat{}; stat(to.c_str(), &toStat) == 0) mode = toStat.st_mode & 07777;
    std::mt19937_64 rng(std::random_device{}());
    const std::string tmp = to + std::string(CopyInfix) + std::to_string(getpid()) + "-" +
                            std::to_string(rng() % 1000000000) + std::string(CopySuffix);
    UniqueFd out(open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!out) return false;
    bool ok = fill(out.get());
    ok = ok && fchmod(out.get(), mode) == 0 && fsync(out.get()) == 0;
    // A failed close may be the write that did not happen.
    ok = (close(out.release()) == 0) && ok;
    if (ok) ok = rename(tmp.c_str(), to.c_str()) == 0;
    if (!ok) unlink(tmp.c_str());
    return ok;
}

} // namespace

bool CopyFileOver(const std::string& from, const std::string& to)
{
    const UniqueFd source(open(from.c_str(), O_RDONLY | O_CLOEXEC));
    if (!source) return false;
    const int in = source.get();
    struct stat inStat {};
    fstat(in, &inStat);
    return ReplaceFile(to, inStat.st_mode & 07777, [in](int out) {
        char buffer[1 << 16];
        for (;;) {
            const ssize_t n = read(in, buffer, sizeof buffer);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return n == 0;
            if (!WriteAll(out, buffer, static_cast<std::size_t>(n))) return false;
        }
    });
}

bool WriteFileOver(std::string_view bytes, const std::string& to)
{
    return ReplaceFile(to, 0700,
                       [bytes](int out) { return WriteAll(out, bytes.data(), bytes.size()); });
}

bool DeleteFile(const std::string& path)
{
    return unlink(path.c_str()) == 0;
}

bool FileExists(const std::string& path)
{
    struct stat st {};
    return stat(path.c_str(), &st) == 0;
}

bool WriteFileAt(const std::string& path, std::int64_t offset, const char* bytes,
                 std::size_t length, PlatformError* error)
{
    UniqueFd file(open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!file) return Fail(error, errno, "cannot open the file");
    for (std::size_t done = 0; done < length;) {
        const ssize_t n = pwrite(file.get(), bytes + done, length - done,
                                 static_cast<off_t>(offset) + static_cast<off_t>(done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return Fail(error, n < 0 ? errno : EIO, "cannot write the file");
        done += static_cast<std::size_t>(n);
    }
    // A failed close may be the write that did not happen.
    if (close(file.release()) != 0) return Fail(error, errno, "cannot write the file");
    return true;
}

bool TruncateFile(const std::string& path)
{
    return static_cast<bool>(
        UniqueFd(open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600)));
}

bool MakeOwnerExecutable(const std::string& path)
{
    return chmod(path.c_str(), 0700) == 0;
}

std::string GetLogFolder()
{
    // A relative XDG value is invalid by the base-directory rules and is ignored.
    if (const char* state = std::getenv("XDG_STATE_HOME"); state && state[0] == '/')
        return std::string(state) + "/qev";
    if (const char* home = std::getenv("HOME"); home && *home)
        return std::string(home) + "/.local/state/qev";
    return {};
}

} // namespace qev
