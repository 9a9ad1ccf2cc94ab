#include "core/platform/folder_tree.h"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string_view>

#include "core/platform/posix/unique_fd.h"
#include "core/platform/private_folder.h"

namespace qev {
namespace {

using posix::UniqueFd;

// Deeper than any tree the engine makes; a deeper one is not walked further.
constexpr int MaxDepth = 64;

bool IsPlainName(std::string_view name)
{
    return !name.empty() && name != "." && name != ".." && name.size() <= NAME_MAX &&
           name.find_first_of(std::string_view("/\0", 2)) == std::string_view::npos;
}

// The folder name inside at, itself (no link), on the file system dev; none otherwise.
UniqueFd OpenSubfolder(int at, const char* name, dev_t dev)
{
    UniqueFd fd(openat(at, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    struct stat st {};
    if (fd && (fstat(fd.get(), &st) != 0 || st.st_dev != dev)) fd.reset();
    return fd;
}

// The folder at relative inside root, or none; dev gets root's file system.
UniqueFd OpenRelative(const PrivateFolder& root, const std::string& relative, dev_t& dev)
{
    struct stat st {};
    if (root.Descriptor() < 0 || fstat(root.Descriptor(), &st) != 0) return {};
    dev = st.st_dev;
    UniqueFd fd(fcntl(root.Descriptor(), F_DUPFD_CLOEXEC, 0));
    for (std::size_t from = 0; fd && from < relative.size();) {
        std::size_t to = relative.find('/', from);
        if (to == std::string::npos) to = relative.size();
        const std::string part = relative.substr(from, to - from);
        fd = IsPlainName(part) ? OpenSubfolder(fd.get(), part.c_str(), dev) : UniqueFd();
        from = to + 1;
    }
    return fd;
}

// Calls visit(name, stat) for each entry of the folder open as fd (not "." or "..").
template <typename Visit> bool EachEntry(int fd, Visit visit)
{
    UniqueFd listing(fcntl(fd, F_DUPFD_CLOEXEC, 0));
    DIR* dir = listing ? fdopendir(listing.get()) : nullptr;
    if (!dir) return false;
    listing.release(); // the listing closes it
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
            if (const UniqueFd sub = OpenSubfolder(fd, name, dev))
                bytes += FolderBytes(sub.get(), dev, depth + 1);
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
            const UniqueFd sub =
                st.st_dev == dev && depth < MaxDepth ? OpenSubfolder(fd, name, dev) : UniqueFd();
            ok = sub && EmptyFolder(sub.get(), dev, depth + 1) &&
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
    const UniqueFd fd = OpenRelative(root, relative, dev);
    if (!fd) return false;
    return EachEntry(fd.get(), [&](const char* name, const struct stat& st) {
        TreeEntry entry{name, false, 0};
        if (S_ISREG(st.st_mode)) {
            entry.bytes = st.st_size;
        } else if (S_ISDIR(st.st_mode) && st.st_dev == dev) {
            const UniqueFd sub = OpenSubfolder(fd.get(), name, dev);
            entry.folder = static_cast<bool>(sub);
            if (entry.folder) entry.bytes = FolderBytes(sub.get(), dev, 1);
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
    const UniqueFd folder =
        OpenRelative(root, slash == std::string::npos ? "" : relative.substr(0, slash), dev);
    if (!folder || !IsPlainName(name)) return {};
    const UniqueFd file(
        openat(folder.get(), name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK));
    struct stat st {};
    if (!file || fstat(file.get(), &st) != 0 || !S_ISREG(st.st_mode)) return {};
    std::string bytes(maxBytes, '\0');
    std::size_t got = 0;
    while (got < maxBytes) {
        const ssize_t n = read(file.get(), bytes.data() + got, maxBytes - got);
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
    const UniqueFd folder =
        OpenRelative(root, slash == std::string::npos ? "" : relative.substr(0, slash), dev);
    struct stat st {};
    if (!folder || !IsPlainName(name) ||
        fstatat(folder.get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return false;
    if (!S_ISDIR(st.st_mode)) return unlinkat(folder.get(), name.c_str(), 0) == 0;
    const UniqueFd sub =
        st.st_dev == dev ? OpenSubfolder(folder.get(), name.c_str(), dev) : UniqueFd();
    return sub && EmptyFolder(sub.get(), dev, 1) &&
           unlinkat(folder.get(), name.c_str(), AT_REMOVEDIR) == 0;
}

} // namespace qev
