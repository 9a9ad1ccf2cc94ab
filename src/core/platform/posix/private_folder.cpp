#include "core/platform/private_folder.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "core/base/log.h"
#include "core/platform/posix/unique_fd.h"

namespace qev {
namespace {

// No real tree is this deep; a loop of ".." that never ends is not a tree.
constexpr int MaxDepth = 4096;

using posix::UniqueFd;

bool IsPlainName(std::string_view name)
{
    return !name.empty() && name != "." && name != ".." && name.size() <= NAME_MAX &&
           name.find_first_of(std::string_view("/\0", 2)) == std::string_view::npos;
}

// Out of other users' reach: this user's or the administrator's (a folder of a third user
// is refused whatever its mode: its owner can change that at any time), and writable by
// no one else unless the sticky bit keeps others from renaming what is not theirs.
bool IsOutOfOthersReach(const struct stat& st)
{
    if (st.st_uid != geteuid() && st.st_uid != 0) return false;
    return !(st.st_mode & (S_IWGRP | S_IWOTH)) || (st.st_mode & S_ISVTX);
}

// The path the system gives the folder open as fd, for a log line (control bytes as
// \xNN: the names above may be anyone's); fallback when none.
std::string NameOf(int fd, const std::string& fallback)
{
    char buffer[PATH_MAX];
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    const ssize_t n = readlink(self.c_str(), buffer, sizeof buffer);
    if (n <= 0 || n >= static_cast<ssize_t>(sizeof buffer)) return fallback;
    return EscapeForLog(std::string_view(buffer, static_cast<std::size_t>(n)), {}, true);
}

// mkdir -p, 0700 where this makes a folder: the base folders of the user's own home, which
// the base-directory rules say are made that way when missing.
void MakeBase(const std::string& base)
{
    for (std::size_t at = 1; at <= base.size(); ++at) {
        if (at != base.size() && base[at] != '/') continue;
        mkdir(base.substr(0, at).c_str(), 0700);
    }
}

int OpenBase(const std::string& base)
{
    const int flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
    int fd = open(base.c_str(), flags);
    if (fd < 0 && errno == ENOENT) {
        MakeBase(base);
        fd = open(base.c_str(), flags);
    }
    return fd;
}

// Opens name inside the folder at, without following a link; made 0700 when missing.
int OpenPart(int at, const std::string& name)
{
    const int flags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
    int fd = openat(at, name.c_str(), flags);
    if (fd < 0 && errno == ENOENT) {
        if (mkdirat(at, name.c_str(), 0700) != 0 && errno != EEXIST) return -1;
        fd = openat(at, name.c_str(), flags);
    }
    return fd;
}

// Checks fd's folder and every folder above it, each reached through ".." from the one
// below: what the names above lead to now does not matter, only what holds this folder.
bool AllAboveOutOfReach(int fd, const std::string& path, PlatformError* error)
{
    UniqueFd at(dup(fd));
    if (at.get() < 0) {
        const int code = errno;
        return Fail(error, code,
                    "cannot check the folders above " + path + ": " + std::strerror(code));
    }
    for (int depth = 0; depth < MaxDepth; ++depth) {
        struct stat here {};
        if (fstat(at.get(), &here) != 0) break;
        if (!IsOutOfOthersReach(here))
            return Fail(error, 0,
                        NameOf(at.get(), "a folder above " + path) +
                            (here.st_uid != geteuid() && here.st_uid != 0
                                 ? " belongs to another user"
                                 : " can be written by another user"));
        UniqueFd up(openat(at.get(), "..", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        struct stat above {};
        if (up.get() < 0 || fstat(up.get(), &above) != 0) break;
        // The root of the file system is its own parent.
        if (above.st_dev == here.st_dev && above.st_ino == here.st_ino) return true;
        at.reset(up.release());
    }
    return Fail(error, 0, "cannot check the folders above " + path);
}

} // namespace

PrivateFolder::~PrivateFolder()
{
    if (fd_ >= 0) close(fd_);
}

std::unique_ptr<PrivateFolder> PrivateFolder::Open(const std::string& base,
                                                   const std::vector<std::string>& parts,
                                                   PlatformError* error)
{
    std::string path = base;
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    if (path.empty() || path[0] != '/') {
        Fail(error, 0, "no absolute base folder");
        return nullptr;
    }
    UniqueFd at(OpenBase(path));
    if (at.get() < 0) {
        const int code = errno;
        Fail(error, code, "cannot open " + path + ": " + std::strerror(code));
        return nullptr;
    }
    // The user's own link is followed; one that another user placed there would let them
    // pick which of the user's folders the client fills.
    if (struct stat link{}; lstat(path.c_str(), &link) == 0 && S_ISLNK(link.st_mode) &&
                            link.st_uid != geteuid() && link.st_uid != 0) {
        Fail(error, 0, path + " is another user's link");
        return nullptr;
    }
    for (const std::string& part : parts) {
        if (!IsPlainName(part)) {
            Fail(error, 0, "not a folder name: " + part);
            return nullptr;
        }
        path += (path == "/" ? "" : "/") + part;
        UniqueFd next(OpenPart(at.get(), part));
        if (next.get() < 0) {
            const int code = errno;
            Fail(error, code,
                 code == ELOOP || code == ENOTDIR
                     ? path + " is a link or not a folder"
                     : "cannot open " + path + ": " + std::strerror(code));
            return nullptr;
        }
        struct stat st {};
        if (fstat(next.get(), &st) != 0 || st.st_uid != geteuid()) {
            Fail(error, 0, path + " belongs to another user");
            return nullptr;
        }
        // Ours but looser than it should be (another program's umask): tightened through
        // the descriptor, which cannot lead anywhere else.
        if ((st.st_mode & 077) != 0 && fchmod(next.get(), st.st_mode & 0700) != 0) {
            const int code = errno;
            Fail(error, code, "cannot make " + path + " private: " + std::strerror(code));
            return nullptr;
        }
        at.reset(next.release());
    }
    if (!AllAboveOutOfReach(at.get(), path, error)) return nullptr;
    std::unique_ptr<PrivateFolder> folder(new PrivateFolder);
    folder->path_ = std::move(path);
    folder->fd_ = at.release();
    return folder;
}

namespace {

// A relative XDG value is invalid by the base-directory rules and is ignored.
std::string HomeFolder(const char* variable, const char* underHome)
{
    std::string folder;
    if (const char* xdg = std::getenv(variable); xdg && xdg[0] == '/')
        folder = xdg;
    else if (const char* home = std::getenv("HOME"); home && home[0] == '/')
        folder = std::string(home) + underHome;
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    return folder;
}

} // namespace

std::string CacheHome()
{
    return HomeFolder("XDG_CACHE_HOME", "/.cache");
}

std::string DataHome()
{
    return HomeFolder("XDG_DATA_HOME", "/.local/share");
}

} // namespace qev
