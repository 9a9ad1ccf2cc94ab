#include "core/platform/folder_tree.h"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string_view>

#include "core/platform/private_folder.h"

namespace qev {
namespace {

// Deeper than any tree the engine makes; a deeper one is not walked further.
constexpr int MaxDepth = 64;

// A descriptor, closed when this goes.
class Fd {
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd()
    {
        if (fd_ >= 0) close(fd_);
    }
    int Get() const { return fd_; }

private:
    int fd_;
};

bool IsPlainName(std::string_view name)
{
    return !name.empty() && name != "." && name != ".." && name.size() <= NAME_MAX &&
           name.find_first_of(std::string_view("/\0", 2)) == std::string_view::npos;
}

// The folder name inside at, itself (no link), on the file system dev; -1 otherwise.
int OpenSubfolder(int at, const char* name, dev_t dev)
{
    const int fd = openat(at, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    struct stat st {};
    if (fd >= 0 && (fstat(fd, &st) != 0 || st.st_dev != dev)) {
        close(fd);
        return -1;
    }
    return fd;
}

// The folder at relative inside root, or -1; dev gets root's file system.
int OpenRelative(const PrivateFolder& root, const std::string& relative, dev_t& dev)
{
    struct stat st {};
    if (root.Descriptor() < 0 || fstat(root.Descriptor(), &st) != 0) return -1;
    dev = st.st_dev;
    int fd = fcntl(root.Descriptor(), F_DUPFD_CLOEXEC, 0);
    for (std::size_t from = 0; fd >= 0 && from < relative.size();) {
        std::size_t to = relative.find('/', from);
        if (to == std::string::npos) to = relative.size();
        const std::string part = relative.substr(from, to - from);
        const int next = IsPlainName(part) ? OpenSubfolder(fd, part.c_str(), dev) : -1;
        close(fd);
        fd = next;
        from = to + 1;
    }
    return fd;
}

// Calls visit(name, stat) for each entry of the folder open as fd (not "." or "..").
template <typename Visit> bool EachEntry(int fd, Visit visit)
{
    const int listing = fcntl(fd, F_DUPFD_CLOEXEC, 0);
    DIR* dir = listing >= 0 ? fdopendir(listing) : nullptr;
    if (!dir) {
        if (listing >= 0) close(listing);
        return false;
    }
    // A duplicate shares its position with every other listing of the folder.
    rewinddir(dir);
    while (const dirent* entry = readdir(dir)) {
        const std::string_view name = entry->d_name;
        struct stat st {};
        if (name == "." || name == ".." ||
            fstatat(fd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0)
            continue;
        visit(entry->d_name, st);
    }
    closedir(dir);
    return true;
}

std::int64_t FolderBytes(int fd, dev_t dev, int depth)
{
    std::int64_t bytes = 0;
    EachEntry(fd, [&](const char* name, const struct stat& st) {
        if (S_ISREG(st.st_mode)) {
            bytes += st.st_size;
        } else if (S_ISDIR(st.st_mode) && st.st_dev == dev && depth < MaxDepth) {
            Fd sub(OpenSubfolder(fd, name, dev));
            if (sub.Get() >= 0) bytes += FolderBytes(sub.Get(), dev, depth + 1);
        }
    });
    return bytes;
}

// Empties the folder open as fd; false when anything stayed.
bool EmptyFolder(int fd, dev_t dev, int depth)
{
    bool ok = true;
    EachEntry(fd, [&](const char* name, const struct stat& st) {
        if (S_ISDIR(st.st_mode)) {
            Fd sub(st.st_dev == dev && depth < MaxDepth ? OpenSubfolder(fd, name, dev) : -1);
            ok = sub.Get() >= 0 && EmptyFolder(sub.Get(), dev, depth + 1) &&
                 unlinkat(fd, name, AT_REMOVEDIR) == 0 && ok;
        } else if (unlinkat(fd, name, 0) != 0 && errno != ENOENT) {
            ok = false;
        }
    });
    return ok;
}

} // namespace

bool ListTree(const PrivateFolder& root, const std::string& relative,
              std::vector<TreeEntry>& entries)
{
    entries.clear();
    dev_t dev{};
    Fd fd(OpenRelative(root, relative, dev));
    if (fd.Get() < 0) return false;
    return EachEntry(fd.Get(), [&](const char* name, const struct stat& st) {
        TreeEntry entry{name, false, 0};
        if (S_ISREG(st.st_mode)) {
            entry.bytes = st.st_size;
        } else if (S_ISDIR(st.st_mode) && st.st_dev == dev) {
            Fd sub(OpenSubfolder(fd.Get(), name, dev));
            entry.folder = sub.Get() >= 0;
            if (entry.folder) entry.bytes = FolderBytes(sub.Get(), dev, 1);
        }
        entries.push_back(std::move(entry));
    });
}

std::string ReadTreeFile(const PrivateFolder& root, const std::string& relative,
                         std::size_t maxBytes)
{
    const auto slash = relative.rfind('/');
    const std::string name = slash == std::string::npos ? relative : relative.substr(slash + 1);
    dev_t dev{};
    Fd folder(OpenRelative(root, slash == std::string::npos ? "" : relative.substr(0, slash), dev));
    if (folder.Get() < 0 || !IsPlainName(name)) return {};
    Fd file(openat(folder.Get(), name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK));
    struct stat st {};
    if (file.Get() < 0 || fstat(file.Get(), &st) != 0 || !S_ISREG(st.st_mode)) return {};
    std::string bytes(maxBytes, '\0');
    std::size_t got = 0;
    while (got < maxBytes) {
        const ssize_t n = read(file.Get(), bytes.data() + got, maxBytes - got);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        got += static_cast<std::size_t>(n);
    }
    bytes.resize(got);
    return bytes;
}

bool RemoveTree(const PrivateFolder& root, const std::string& relative)
{
    const auto slash = relative.rfind('/');
    const std::string name = slash == std::string::npos ? relative : relative.substr(slash + 1);
    dev_t dev{};
    Fd folder(OpenRelative(root, slash == std::string::npos ? "" : relative.substr(0, slash), dev));
    struct stat st {};
    if (folder.Get() < 0 || !IsPlainName(name) ||
        fstatat(folder.Get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return false;
    if (!S_ISDIR(st.st_mode)) return unlinkat(folder.Get(), name.c_str(), 0) == 0;
    Fd sub(st.st_dev == dev ? OpenSubfolder(folder.Get(), name.c_str(), dev) : -1);
    return sub.Get() >= 0 && EmptyFolder(sub.Get(), dev, 1) &&
           unlinkat(folder.Get(), name.c_str(), AT_REMOVEDIR) == 0;
}

} // namespace qev
