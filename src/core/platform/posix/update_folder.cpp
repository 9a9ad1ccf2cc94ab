#include "core/platform/update_folder.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/random.h>
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

#include "core/platform/posix/unique_fd.h"
#include "core/platform/private_folder.h"
#include "core/platform/process.h"

extern char** environ;

namespace qev {
namespace {

using posix::UniqueFd;

// Run folders are "run-" and six random letters or digits.
constexpr std::string_view RunPrefix = "run-";
constexpr std::size_t RunSuffixLength = 6;
constexpr std::string_view RunLetters =
    "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
// A name is tried again when another folder already has it.
constexpr int RunNameTries = 100;
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

// The update root, reached through the checked walk: every step below goes through the
// descriptor it gives, so what the names lead to later does not matter.
std::unique_ptr<PrivateFolder> OpenRoot(PlatformError* error)
{
    const std::string cache = CacheHome();
    if (cache.empty()) {
        Fail(error, 0, "no cache folder (neither XDG_CACHE_HOME nor HOME is set)");
        return nullptr;
    }
    return PrivateFolder::Open(cache, {"qev", "update"}, error);
}

// "run-" and RunSuffixLength random characters; "" when the system gives no randomness.
std::string RandomRunName()
{
    std::string name(RunPrefix);
    unsigned char bytes[32];
    // 248 = 4 * 62: every character equally likely.
    constexpr unsigned Even = 4 * RunLetters.size();
    while (name.size() < RunPrefix.size() + RunSuffixLength) {
        if (getrandom(bytes, sizeof bytes, 0) != static_cast<ssize_t>(sizeof bytes)) return {};
        for (const unsigned char b : bytes)
            if (b < Even && name.size() < RunPrefix.size() + RunSuffixLength)
                name += RunLetters[b % RunLetters.size()];
    }
    return name;
}

int Duplicate(int fd)
{
    return fcntl(fd, F_DUPFD_CLOEXEC, 0);
}

// Whether the folder open as fd is this user's alone: a folder, of this user, mode 0700
// or tighter. errno says why when fstat failed, and is 0 when a check refused it.
bool IsOwnPrivateFolder(int fd)
{
    struct stat st {};
    if (fstat(fd, &st) != 0) return false;
    errno = 0;
    return S_ISDIR(st.st_mode) && st.st_uid == geteuid() && (st.st_mode & 077) == 0;
}

bool LockNow(int fd)
{
    int r;
    do {
        r = flock(fd, LOCK_EX | LOCK_NB);
    } while (r != 0 && errno == EINTR);
    return r == 0;
}

// The names in the folder open as fd (without "." and ".."); false when it cannot be read.
bool ListFolder(int fd, std::vector<std::string>& names)
{
    UniqueFd listing(Duplicate(fd));
    DIR* dir = listing ? fdopendir(listing.get()) : nullptr;
    if (!dir) return false;
    listing.release(); // the listing closes it
    rewinddir(dir);
    while (const dirent* entry = readdir(dir)) {
        const std::string_view name = entry->d_name;
        if (name != "." && name != "..") names.emplace_back(name);
    }
    closedir(dir);
    return true;
}

// Whether the folder open as fd holds nothing but what a run leaves: regular files of this
// user with one name each. Anything else (a link, a folder, a file with a second name
// somewhere) is not a run's, and the folder with it is left alone.
bool HoldsOnlyOwnFiles(int fd)
{
    std::vector<std::string> names;
    if (!ListFolder(fd, names)) return false;
    for (const std::string& name : names) {
        struct stat st {};
        if (fstatat(fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode) ||
            st.st_uid != geteuid() || st.st_nlink != 1)
            return false;
    }
    return true;
}

// Removes every entry but folders inside the folder open as fd (a link goes, never what it
// leads to); false when anything stayed.
bool EmptyFolder(int fd)
{
    std::vector<std::string> names;
    bool ok = ListFolder(fd, names);
    for (const std::string& name : names)
        if (unlinkat(fd, name.c_str(), 0) != 0 && errno != ENOENT) ok = false;
    return ok;
}

} // namespace

struct UpdateFolder::Handles {
    UniqueFd folder; // O_DIRECTORY; also the lock, when locked
    UniqueFd parent; // the root folder, so the folder itself can be removed by name
    std::string name;
};

void OpenFile::Close()
{
    if (handle_ >= 0) close(static_cast<int>(handle_));
    handle_ = -1;
}

bool OpenFile::WriteAt(std::int64_t offset, const void* bytes, std::size_t length,
                       PlatformError* error)
{
    if (handle_ < 0) return Fail(error, EBADF, "the file is not open");
    const char* from = static_cast<const char*>(bytes);
    for (std::size_t done = 0; done < length;) {
        const ssize_t n = pwrite(static_cast<int>(handle_), from + done, length - done,
                                 static_cast<off_t>(offset + static_cast<std::int64_t>(done)));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return Fail(error, n < 0 ? errno : EIO, "cannot write the file");
        done += static_cast<std::size_t>(n);
    }
    return true;
}

std::int64_t OpenFile::ReadAt(std::int64_t offset, void* bytes, std::size_t length) const
{
    if (handle_ < 0) {
        errno = EBADF;
        return -1;
    }
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
    const std::string cache = CacheHome();
    return cache.empty() ? std::string() : cache + "/qev/update/";
}

UpdateFolder::UpdateFolder(std::string path, std::unique_ptr<Handles> handles)
    : path_(std::move(path)), handles_(std::move(handles))
{
}

UpdateFolder::~UpdateFolder() = default;

std::unique_ptr<UpdateFolder> UpdateFolder::CreateForRun(PlatformError* error)
{
    const auto root = OpenRoot(error);
    if (!root) return nullptr;
    auto handles = std::make_unique<Handles>();
    handles->parent.reset(Duplicate(root->Descriptor()));
    if (!handles->parent) {
        const int code = errno;
        Fail(error, code,
             std::string("cannot keep the update folder open: ") + std::strerror(code));
        return nullptr;
    }
    for (int attempt = 0; attempt < RunNameTries; ++attempt) {
        const std::string name = RandomRunName();
        if (name.empty()) {
            Fail(error, errno, "no random name for a run folder");
            return nullptr;
        }
        if (mkdirat(handles->parent.get(), name.c_str(), 0700) != 0) {
            const int code = errno;
            if (code == EEXIST) continue;
            Fail(error, code,
                 "cannot make a folder in " + root->Path() + ": " + std::strerror(code));
            return nullptr;
        }
        const std::string path = root->Path() + "/" + name + "/";
        handles->name = name;
        handles->folder.reset(openat(handles->parent.get(), name.c_str(),
                                     O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        // The clean-up of another run leaves a folder this young alone, lock or not.
        if (!handles->folder || !IsOwnPrivateFolder(handles->folder.get()) ||
            !LockNow(handles->folder.get())) {
            const int code = errno;
            Fail(error, code, "the new folder " + path + " is not this user's alone");
            unlinkat(handles->parent.get(), name.c_str(), AT_REMOVEDIR);
            return nullptr;
        }
        return std::unique_ptr<UpdateFolder>(new UpdateFolder(path, std::move(handles)));
    }
    Fail(error, EEXIST, "no free name for a run folder in " + root->Path());
    return nullptr;
}

std::unique_ptr<UpdateFolder> UpdateFolder::OpenRunFolder(const std::string& path, int waitMs)
{
    std::string folder = path;
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    const auto slash = folder.rfind('/');
    if (slash == std::string::npos || !IsRunFolderName(folder.substr(slash + 1))) return nullptr;
    // Only a folder directly under the root the walk checked: the path comes from a
    // command line anyone could have written.
    const auto root = OpenRoot(nullptr);
    if (!root || folder.substr(0, slash) != root->Path()) return nullptr;
    auto handles = std::make_unique<Handles>();
    handles->name = folder.substr(slash + 1);
    handles->parent.reset(Duplicate(root->Descriptor()));
    if (!handles->parent) return nullptr;
    handles->folder.reset(openat(handles->parent.get(), handles->name.c_str(),
                                 O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    struct stat st {};
    if (!handles->folder || fstat(handles->folder.get(), &st) != 0 || st.st_uid != geteuid() ||
        (st.st_mode & 077) != 0)
        return nullptr;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
    while (!LockNow(handles->folder.get())) {
        if (std::chrono::steady_clock::now() >= deadline) return nullptr;
        std::this_thread::sleep_for(std::chrono::milliseconds(LockPollMs));
    }
    const std::string opened = root->Path() + "/" + handles->name + "/";
    return std::unique_ptr<UpdateFolder>(new UpdateFolder(opened, std::move(handles)));
}

std::unique_ptr<UpdateFolder> UpdateFolder::OpenPlain(const std::string& path)
{
    auto handles = std::make_unique<Handles>();
    handles->folder.reset(open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!handles->folder) return nullptr;
    std::string shown = path;
    if (shown.empty() || shown.back() != '/') shown += '/';
    return std::unique_ptr<UpdateFolder>(new UpdateFolder(shown, std::move(handles)));
}

std::unique_ptr<UpdateFolder> UpdateFolder::OpenPartial(bool create, PlatformError* error)
{
    const auto root = OpenRoot(error);
    if (!root) return nullptr;
    auto handles = std::make_unique<Handles>();
    handles->name = "partial";
    if (create && mkdirat(root->Descriptor(), "partial", 0700) != 0 && errno != EEXIST) {
        const int code = errno;
        Fail(error, code, std::string("cannot make the partial folder: ") + std::strerror(code));
        return nullptr;
    }
    handles->folder.reset(
        openat(root->Descriptor(), "partial", O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!handles->folder || !IsOwnPrivateFolder(handles->folder.get()) ||
        !LockNow(handles->folder.get())) {
        const int code = errno;
        Fail(error, code, "the partial folder is not this user's alone, or another copy holds it");
        return nullptr;
    }
    const std::string path = root->Path() + "/partial/";
    return std::unique_ptr<UpdateFolder>(new UpdateFolder(path, std::move(handles)));
}

OpenFile UpdateFolder::OpenExisting(const std::string& name)
{
    if (!IsPlainName(name)) return {};
    OpenFile file(openat(handles_->folder.get(), name.c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC));
    struct stat st {};
    if (!file.IsOpen() || fstat(static_cast<int>(file.Handle()), &st) != 0 ||
        !S_ISREG(st.st_mode) || st.st_uid != geteuid() || st.st_nlink != 1)
        return {};
    return file;
}

bool UpdateFolder::MoveInto(const std::string& name, UpdateFolder& to, const std::string& newName)
{
    return IsPlainName(name) && IsPlainName(newName) &&
           renameat(handles_->folder.get(), name.c_str(), to.handles_->folder.get(),
                    newName.c_str()) == 0;
}

OpenFile UpdateFolder::CreateFile(const std::string& name)
{
    if (!IsPlainName(name)) return {};
    const int folder = handles_->folder.get();
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
    return IsPlainName(name) && unlinkat(handles_->folder.get(), name.c_str(), 0) == 0;
}

bool UpdateFolder::RemoveAll()
{
    bool ok = EmptyFolder(handles_->folder.get());
    if (handles_->parent)
        ok = unlinkat(handles_->parent.get(), handles_->name.c_str(), AT_REMOVEDIR) == 0 && ok;
    return ok;
}

int UpdateFolder::RemoveAbandonedRunFolders(std::string& left)
{
    left.clear();
    const int parent = handles_->parent.get();
    if (parent < 0) return 0;
    std::vector<std::string> names;
    if (!ListFolder(parent, names)) {
        left = "the update folder " + path_ + ".. could not be listed";
        return 0;
    }
    // What stays, by reason, for the one log line.
    struct {
        int other = 0, foreign = 0, young = 0, locked = 0, odd = 0;
    } kept;
    int removed = 0;
    const auto now = std::chrono::system_clock::now();
    for (const std::string& name : names) {
        if (name == handles_->name) continue;
        const UniqueFd folder(
            IsRunFolderName(name)
                ? openat(parent, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC)
                : -1);
        const int fd = folder.get();
        struct stat st {};
        if (!folder || fstat(fd, &st) != 0) {
            ++kept.other;
        } else if (st.st_uid != geteuid()) {
            ++kept.foreign;
        } else if (now - std::chrono::system_clock::from_time_t(st.st_mtime) <
                   std::chrono::seconds(YoungFolderSeconds)) {
            // Made and locked are two steps: a folder made a moment ago may be another
            // run's, about to be locked.
            ++kept.young;
        } else if (!LockNow(fd)) {
            ++kept.locked; // a run that still lives
        } else if (!HoldsOnlyOwnFiles(fd) || !EmptyFolder(fd) ||
                   unlinkat(parent, name.c_str(), AT_REMOVEDIR) != 0) {
            ++kept.odd;
        } else {
            ++removed;
        }
    }
    const std::pair<int, const char*> reasons[] = {
        {kept.other, "not run folders"},
        {kept.foreign, "of another user"},
        {kept.young, "made less than a minute ago"},
        {kept.locked, "in use"},
        {kept.odd, "holding more than plain files of this user"},
    };
    // A young or held folder is another run's, living: worth a line only beside something
    // that no run of this user leaves.
    if (kept.other + kept.foreign + kept.odd == 0) return removed;
    for (const auto& [count, reason] : reasons)
        if (count > 0) left += (left.empty() ? "" : ", ") + std::to_string(count) + " " + reason;
    left = "left in " + UpdateFolderRoot() + ": " + left;
    return removed;
}

std::optional<SealedProgram> SealedProgram::Seal(const OpenFile& from, std::int64_t size,
                                                 const std::string& name, UpdateFolder&,
                                                 PlatformError* error)
{
    // A step that failed in a system call: its number, and the words with its text.
    const auto failed = [error](const char* what) {
        const int code = errno;
        Fail(error, code, what + std::string(std::strerror(code)));
        return std::nullopt;
    };
    SealedProgram sealed;
    const std::string label = "qev-update-" + name.substr(0, 200);
    const int fd = memfd_create(label.c_str(), MFD_CLOEXEC | MFD_ALLOW_SEALING);
    if (fd < 0) return failed("no sealed memory file: ");
    sealed.image_ = OpenFile(fd);
    sealed.name_ = "/memfd:" + label;
    std::vector<char> buffer(1 << 20);
    for (std::int64_t at = 0; at < size;) {
        const std::size_t want =
            static_cast<std::size_t>(std::min(size - at, static_cast<std::int64_t>(buffer.size())));
        const std::int64_t n = from.ReadAt(at, buffer.data(), want);
        if (n <= 0) {
            // Ended early, the size was wrong: no system call failed.
            Fail(error, n < 0 ? errno : 0, "the package could not be read");
            return std::nullopt;
        }
        if (PlatformError written;
            !sealed.image_.WriteAt(at, buffer.data(), static_cast<std::size_t>(n), &written)) {
            Fail(error, written.code,
                 std::string("the sealed copy could not be written: ") +
                     std::strerror(written.code));
            return std::nullopt;
        }
        at += n;
    }
    if (fchmod(fd, 0500) != 0 ||
        fcntl(fd, F_ADD_SEALS, F_SEAL_WRITE | F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_SEAL) != 0)
        return failed("the copy could not be sealed: ");
    // A program cannot be started while any descriptor may write to it: keep a
    // read-only one to the same sealed file instead.
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    const int readOnly = open(self.c_str(), O_RDONLY | O_CLOEXEC);
    if (readOnly < 0) return failed("the sealed copy could not be reopened: ");
    sealed.image_ = OpenFile(readOnly);
    sealed.size_ = size;
    return sealed;
}

std::optional<int> SealedProgram::Start(std::string_view commandLine, PlatformError* error) const
{
    const auto failed = [error](int code) {
        Fail(error, code, "the sealed copy could not be started");
        return std::nullopt;
    };
    // Everything the child needs is made before the fork: between fork and exec only
    // calls that are safe in a copy of a many-threaded process may run.
    constexpr std::size_t MaxCommandLine = 16384 - 1;
    std::vector<std::string> args = SplitCommandLine(commandLine.substr(0, MaxCommandLine));
    args[0] = "qev-update";
    std::vector<char*> argv;
    argv.reserve(args.size() + 1);
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) return failed(errno);
    const UniqueFd reportIn(ends[0]);
    UniqueFd reportOut(ends[1]);
    const int image = static_cast<int>(image_.Handle());
    const pid_t pid = fork();
    if (pid == 0) {
        fexecve(image, argv.data(), environ);
        const int code = errno;
        (void)!write(reportOut.get(), &code, sizeof code);
        _exit(127);
    }
    const int forkError = errno;
    reportOut.reset();
    if (pid < 0) return failed(forkError);
    // The pipe closes without a word when the exec took place; otherwise it carries the
    // exec's error number.
    int code = 0;
    ssize_t n;
    do {
        n = read(reportIn.get(), &code, sizeof code);
    } while (n < 0 && errno == EINTR);
    if (n > 0) {
        waitpid(pid, nullptr, 0);
        return failed(n == static_cast<ssize_t>(sizeof code) ? code : EIO);
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
