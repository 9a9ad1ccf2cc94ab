#pragma once
// The client's own folders under the user's cache and data folders, reached one name at a
// time and checked on what was actually opened, never on a path as written: a name that
// another user can swap for a link between a check and a use cannot lead the client into
// a folder of theirs.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/platform/platform_error.h"

namespace qev {

class PrivateFolder {
public:
    // Opens base (an absolute path; made 0700 where missing, and a link of the user's own
    // there is followed: the user may keep a cache elsewhere), then each of parts in turn
    // inside the one before, never through a link, making a missing one 0700 and taking the
    // group's and others' bits off one of ours. Then every folder from the last one up to
    // the root of the file system, as reached from it, must belong to this user or the
    // administrator and be writable by nobody else unless sticky; parts must be this user's
    // own. On any failure: nullptr, and error says why in a few words (code 0 when a check
    // refused what a call gave). Windows: the folders are made and opened by path, a link
    // refused, and held open so they cannot be renamed.
    static std::unique_ptr<PrivateFolder> Open(const std::string& base,
                                               const std::vector<std::string>& parts,
                                               PlatformError* error = nullptr);
    ~PrivateFolder();
    PrivateFolder(const PrivateFolder&) = delete;
    PrivateFolder& operator=(const PrivateFolder&) = delete;

    // The last folder, open as a directory (close-on-exec); -1 on Windows.
    int Descriptor() const { return fd_; }
    // base and parts joined by '/', without a separator at the end.
    const std::string& Path() const { return path_; }

private:
    PrivateFolder() = default;
    std::string path_;
    int fd_ = -1;
    std::vector<std::intptr_t> held_; // Windows: a handle on each folder opened
};

// The user's cache folder, absolute and without a separator at the end: Linux
// $XDG_CACHE_HOME when absolute, else $HOME/.cache; Windows %LOCALAPPDATA%. "" when unknown.
std::string CacheHome();
// The user's data folder, likewise: Linux $XDG_DATA_HOME, else $HOME/.local/share; Windows
// %APPDATA%.
std::string DataHome();

} // namespace qev
