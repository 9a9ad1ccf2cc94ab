#include "platform/update_folder.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <thread>
#include <vector>

#include "platform/process.h"

extern char** environ;

namespace qev {
namespace {

// Run folders are "run-" and six characters that mkdtemp picks.
constexpr std::string_view RunPrefix = "run-";
constexpr std::size_t RunSuffixLength = 6;
// A folder that has no lock yet may be one that another run has only just made: left
// alone for this long.
constexpr int YoungFolderSeconds = 60;
constexpr int LockPollMs = 20;

bool IsRunFolderName(std::string_view name)
{
    if (name.size() != RunPrefix.size() + RunSuffixLength || name.substr(0, 4) != RunPrefix)
        return false;
    for (const char c : name.substr(RunPrefix.size()))
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')))
            return false;
    return true;
}

bool IsPlainName(std::string_view name)
{
    if (name.empty() || name == "." || name == ".." || name.size() > NAME_MAX) return false;
    return name.find_first_of(std::string_view("/\0", 2)) == std::string_view::npos;
}

// Out of other users' reach: ours or the administrator's, and writable by no one else
// unless the sticky bit keeps others from renaming what is not theirs.
bool IsPrivateEnough(const struct stat& st, bool mustBeOurs)
{
    const uid_t me = geteuid();
    if (st.st_uid != me && (mustBeOurs || st.st_uid != 0)) return false;
    if ((st.st_mode & (S_IWGRP | S_IWOTH)) && !(st.st_mode & S_ISVTX)) return false;
    return true;
}

// Checks every folder from path up to the root; false names the first one that fails.
bool FoldersAboveArePrivate(const std::string& path, std::string& whyNot)
{
    std::string folder = path;
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    for (;;) {
        const auto slash = folder.rfind('/');
        if (slash == std::string::npos) return true;
        folder = slash == 0 ? "/" : folder.substr(0, slash);
        struct stat st {};
        if (stat(folder.c_str(), &st) != 0 || !IsPrivateEnough(st, false)) {
            whyNot = folder + " can be written by another user";
            return false;
        }
        if (folder == "/") return true;
    }
}

// mkdir -p for the folders of the root, 0700 where this makes them.
bool MakeFolders(const std::string& path)
{
    for (std::size_t at = 1; at <= path.size(); ++at) {
        if (at != path.size() && path[at] != '/') continue;
        const std::string part = path.substr(0, at);
        if (mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return false;
    }
    return true;
}

bool LockNow(int fd)
{
    int r;
    do {
        r = flock(fd, LOCK_EX | LOCK_NB);
    } while (r != 0 && errno == EINTR);
    return r == 0;
}

// Removes every regular file or link inside the folder open as fd; false when anything
// stayed.
bool EmptyFolder(int fd)
{
    const int listing = dup(fd);
    if (listing < 0) return false;
    DIR* dir = fdopendir(listing);
    if (!dir) {
        close(listing);
        return false;
    }
    rewinddir(dir);
    bool ok = true;
    std::vector<std::string> names;
    while (const dirent* entry = readdir(dir)) {
        const std::string_view name = entry->d_name;
        if (name != "." && name != "..") names.emplace_back(name);
    }
    closedir(dir);
    for (const std::string& name : names)
        if (unlinkat(fd, name.c_str(), 0) != 0 && errno != ENOENT) ok = false;
    return ok;
}

} // namespace

struct UpdateFolder::Handles {
    int folder = -1; // O_DIRECTORY; also the lock, when locked
    int parent = -1; // the root folder, so the folder itself can be removed by name
    std::string name;
    ~Handles()
    {
        if (folder >= 0) close(folder);
        if (parent >= 0) close(parent);
    }
};

void OpenFile::Close()
{
    if (handle_ >= 0) close(static_cast<int>(handle_));
    handle_ = -1;
}

int OpenFile::WriteAt(std::int64_t offset, const void* bytes, std::size_t length)
{
    if (handle_ < 0) return EBADF;
    const char* from = static_cast<const char*>(bytes);
    for (std::size_t done = 0; done < length;) {
        const ssize_t n = pwrite(static_cast<int>(handle_), from + done, length - done,
                                 static_cast<off_t>(offset + static_cast<std::int64_t>(done)));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return n < 0 ? errno : EIO;
        done += static_cast<std::size_t>(n);
    }
    return 0;
}

std::int64_t OpenFile::ReadAt(std::int64_t offset, void* bytes, std::size_t length) const
{
    if (handle_ < 0) return -1;
    for (;;) {
        const ssize_t n =
            pread(static_cast<int>(handle_), bytes, length, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR) continue;
        return n;
    }
}

bool OpenFile::Truncate()
{
    return handle_ >= 0 && ftruncate(static_cast<int>(handle_), 0) == 0;
}

std::int64_t OpenFile::Size() const
{
    struct stat st {};
    if (handle_ < 0 || fstat(static_cast<int>(handle_), &st) != 0) return -1;
    return st.st_size;
}

std::string UpdateFolderRoot()
{
    // A relative XDG value is invalid by the base-directory rules and is ignored.
    std::string cache;
    if (const char* xdg = std::getenv("XDG_CACHE_HOME"); xdg && xdg[0] == '/')
        cache = xdg;
    else if (const char* home = std::getenv("HOME"); home && home[0] == '/')
        cache = std::string(home) + "/.cache";
    else
        return {};
    while (cache.size() > 1 && cache.back() == '/') cache.pop_back();
    return cache + "/qev/update/";
}

UpdateFolder::UpdateFolder(std::string path, std::unique_ptr<Handles> handles)
    : path_(std::move(path)), handles_(std::move(handles))
{
}

UpdateFolder::~UpdateFolder() = default;

std::unique_ptr<UpdateFolder> UpdateFolder::CreateForRun(std::string& whyNot)
{
    const std::string root = UpdateFolderRoot();
    if (root.empty()) {
        whyNot = "no cache folder (neither XDG_CACHE_HOME nor HOME is set)";
        return nullptr;
    }
    if (!MakeFolders(root.substr(0, root.size() - 1))) {
        whyNot = "cannot make " + root + ": " + std::strerror(errno);
        return nullptr;
    }
    auto handles = std::make_unique<Handles>();
    handles->parent = open(root.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    struct stat rootStat {};
    if (handles->parent < 0 || fstat(handles->parent, &rootStat) != 0) {
        whyNot = "cannot open " + root + ": " + std::strerror(errno);
        return nullptr;
    }
    // update/ is the client's alone: tightened when it was made looser by someone else's
    // umask, refused when it belongs to someone else.
    if (rootStat.st_uid != geteuid()) {
        whyNot = root + " belongs to another user";
        return nullptr;
    }
    if ((rootStat.st_mode & 077) != 0 && fchmod(handles->parent, 0700) != 0) {
        whyNot = "cannot make " + root + " private: " + std::strerror(errno);
        return nullptr;
    }
    if (!FoldersAboveArePrivate(root, whyNot)) return nullptr;

    std::string pattern = root + std::string(RunPrefix) + std::string(RunSuffixLength, 'X');
    if (!mkdtemp(pattern.data())) {
        whyNot = "cannot make a folder in " + root + ": " + std::strerror(errno);
        return nullptr;
    }
    handles->name = pattern.substr(root.size());
    handles->folder = openat(handles->parent, handles->name.c_str(),
                             O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    struct stat st {};
    if (handles->folder < 0 || fstat(handles->folder, &st) != 0 || !S_ISDIR(st.st_mode) ||
        st.st_uid != geteuid() || (st.st_mode & 077) != 0 || !LockNow(handles->folder)) {
        whyNot = "the new folder " + pattern + " is not this user's alone";
        if (handles->folder >= 0) unlinkat(handles->parent, handles->name.c_str(), AT_REMOVEDIR);
        return nullptr;
    }
    return std::unique_ptr<UpdateFolder>(new UpdateFolder(pattern + "/", std::move(handles)));
}

std::unique_ptr<UpdateFolder> UpdateFolder::OpenRunFolder(const std::string& path, int waitMs)
{
    const std::string root = UpdateFolderRoot();
    std::string folder = path;
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    const auto slash = folder.rfind('/');
    if (root.empty() || slash == std::string::npos || folder.substr(0, slash + 1) != root ||
        !IsRunFolderName(folder.substr(slash + 1)))
        return nullptr;
    auto handles = std::make_unique<Handles>();
    handles->name = folder.substr(slash + 1);
    handles->parent = open(root.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (handles->parent < 0) return nullptr;
    handles->folder = openat(handles->parent, handles->name.c_str(),
                             O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    struct stat st {};
    if (handles->folder < 0 || fstat(handles->folder, &st) != 0 || st.st_uid != geteuid())
        return nullptr;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
    while (!LockNow(handles->folder)) {
        if (std::chrono::steady_clock::now() >= deadline) return nullptr;
        std::this_thread::sleep_for(std::chrono::milliseconds(LockPollMs));
    }
    return std::unique_ptr<UpdateFolder>(new UpdateFolder(folder + "/", std::move(handles)));
}

std::unique_ptr<UpdateFolder> UpdateFolder::OpenPlain(const std::string& path)
{
    auto handles = std::make_unique<Handles>();
    handles->folder = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (handles->folder < 0) return nullptr;
    std::string shown = path;
    if (shown.empty() || shown.back() != '/') shown += '/';
    return std::unique_ptr<UpdateFolder>(new UpdateFolder(shown, std::move(handles)));
}

OpenFile UpdateFolder::CreateFile(const std::string& name)
{
    if (!IsPlainName(name)) return {};
    const int folder = handles_->folder;
    if (unlinkat(folder, name.c_str(), 0) != 0 && errno != ENOENT) return {};
    const int fd =
        openat(folder, name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) return {};
    OpenFile file(fd);
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != geteuid() || st.st_nlink != 1)
        return {};
    return file;
}

bool UpdateFolder::RemoveFile(const std::string& name)
{
    return IsPlainName(name) && unlinkat(handles_->folder, name.c_str(), 0) == 0;
}

bool UpdateFolder::RemoveAll()
{
    bool ok = EmptyFolder(handles_->folder);
    if (handles_->parent >= 0)
        ok = unlinkat(handles_->parent, handles_->name.c_str(), AT_REMOVEDIR) == 0 && ok;
    return ok;
}

int RemoveAbandonedUpdateFolders()
{
    const std::string root = UpdateFolderRoot();
    if (root.empty()) return 0;
    const int parent = open(root.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (parent < 0) return 0;
    std::vector<std::string> names;
    if (const int listing = dup(parent); listing >= 0) {
        if (DIR* dir = fdopendir(listing)) {
            while (const dirent* entry = readdir(dir))
                if (IsRunFolderName(entry->d_name)) names.emplace_back(entry->d_name);
            closedir(dir);
        } else {
            close(listing);
        }
    }
    int removed = 0;
    const auto now = std::chrono::system_clock::now();
    for (const std::string& name : names) {
        const int fd =
            openat(parent, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0) continue;
        struct stat st {};
        const bool ours = fstat(fd, &st) == 0 && st.st_uid == geteuid();
        // mkdtemp and the lock are two steps: a folder made a moment ago may be another
        // run's, about to be locked.
        const auto made = std::chrono::system_clock::from_time_t(st.st_mtime);
        const bool young = now - made < std::chrono::seconds(YoungFolderSeconds);
        if (ours && !young && LockNow(fd) && EmptyFolder(fd) &&
            unlinkat(parent, name.c_str(), AT_REMOVEDIR) == 0)
            ++removed;
        close(fd);
    }
    close(parent);
    return removed;
}

std::optional<SealedProgram> SealedProgram::Seal(const OpenFile& from, std::int64_t size,
                                                 const std::string& name, UpdateFolder&,
                                                 std::string& whyNot)
{
    SealedProgram sealed;
    const std::string label = "qev-update-" + name.substr(0, 200);
    const int fd = memfd_create(label.c_str(), MFD_CLOEXEC | MFD_ALLOW_SEALING);
    if (fd < 0) {
        whyNot = std::string("no sealed memory file: ") + std::strerror(errno);
        return std::nullopt;
    }
    sealed.image_ = OpenFile(fd);
    sealed.name_ = "/memfd:" + label;
    std::vector<char> buffer(1 << 20);
    for (std::int64_t at = 0; at < size;) {
        const std::size_t want =
            static_cast<std::size_t>(std::min<std::int64_t>(size - at, buffer.size()));
        const std::int64_t n = from.ReadAt(at, buffer.data(), want);
        if (n <= 0) {
            whyNot = "the package could not be read";
            return std::nullopt;
        }
        if (sealed.image_.WriteAt(at, buffer.data(), static_cast<std::size_t>(n)) != 0) {
            whyNot = std::string("the sealed copy could not be written: ") + std::strerror(errno);
            return std::nullopt;
        }
        at += n;
    }
    if (fchmod(fd, 0500) != 0 ||
        fcntl(fd, F_ADD_SEALS, F_SEAL_WRITE | F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_SEAL) != 0) {
        whyNot = std::string("the copy could not be sealed: ") + std::strerror(errno);
        return std::nullopt;
    }
    // A program cannot be started while any descriptor may write to it: keep a
    // read-only one to the same sealed file instead.
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    const int readOnly = open(self.c_str(), O_RDONLY | O_CLOEXEC);
    if (readOnly < 0) {
        whyNot = std::string("the sealed copy could not be reopened: ") + std::strerror(errno);
        return std::nullopt;
    }
    sealed.image_ = OpenFile(readOnly);
    sealed.size_ = size;
    return sealed;
}

int SealedProgram::Start(std::string_view commandLine) const
{
    // Everything the child needs is made before the fork: between fork and exec only
    // calls that are safe in a copy of a many-threaded process may run.
    constexpr std::size_t MaxCommandLine = 16384 - 1;
    std::vector<std::string> args = SplitCommandLine(commandLine.substr(0, MaxCommandLine));
    args[0] = "qev-update";
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    int report[2];
    if (pipe2(report, O_CLOEXEC) != 0) return -1;
    const int image = static_cast<int>(image_.Handle());
    const pid_t pid = fork();
    if (pid == 0) {
        fexecve(image, argv.data(), environ);
        const int error = errno;
        (void)!write(report[1], &error, sizeof error);
        _exit(127);
    }
    close(report[1]);
    if (pid < 0) {
        close(report[0]);
        return -1;
    }
    // The pipe closes without a word when the exec took place.
    int error = 0;
    ssize_t n;
    do {
        n = read(report[0], &error, sizeof error);
    } while (n < 0 && errno == EINTR);
    close(report[0]);
    if (n > 0) {
        waitpid(pid, nullptr, 0);
        return -1;
    }
    return static_cast<int>(pid);
}

bool ReadOwnProgram(std::string& bytes)
{
    const int fd = open("/proc/self/exe", O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    OpenFile file(fd);
    bytes.clear();
    std::vector<char> buffer(1 << 20);
    for (;;) {
        const std::int64_t n =
            file.ReadAt(static_cast<std::int64_t>(bytes.size()), buffer.data(), buffer.size());
        if (n < 0) return false;
        if (n == 0) return true;
        bytes.append(buffer.data(), static_cast<std::size_t>(n));
    }
}

} // namespace qev
