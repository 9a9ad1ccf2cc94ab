#pragma once
// The self-update's files. Each run of the client downloads into a private folder of its
// own, made fresh, locked while the run lasts, and reached only through the handle it was
// opened with; each download is written through the one file handle it was created with;
// and what is started at the end is a sealed image of verified bytes that no process can
// change, never a file looked up again by its name.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "core/platform/platform_error.h"

namespace qev {

// A file this process opened. Reads and writes go by position through this one handle;
// the file's name is never used again. Moves, never copies; closes on destruction.
class OpenFile {
public:
    OpenFile() = default;
    explicit OpenFile(std::intptr_t handle) : handle_(handle) {}
    OpenFile(OpenFile&& other) noexcept : handle_(other.handle_) { other.handle_ = -1; }
    OpenFile& operator=(OpenFile&& other) noexcept
    {
        if (this != &other) {
            Close();
            handle_ = other.handle_;
            other.handle_ = -1;
        }
        return *this;
    }
    OpenFile(const OpenFile&) = delete;
    OpenFile& operator=(const OpenFile&) = delete;
    ~OpenFile() { Close(); }

    bool IsOpen() const { return handle_ != -1; }
    // Writes length bytes at offset; false on failure (error: the system's error number).
    bool WriteAt(std::int64_t offset, const void* bytes, std::size_t length,
                 PlatformError* error = nullptr);
    // Reads up to length bytes at offset: how many were read (0 at the end), -1 on error
    // (on Linux errno says why: EBADF when not open).
    std::int64_t ReadAt(std::int64_t offset, void* bytes, std::size_t length) const;
    // Empties the file; false on failure.
    bool Truncate();
    // The file's size, -1 when it cannot be had.
    std::int64_t Size() const;
    void Close();
    // The system's handle (a descriptor on Linux, a HANDLE on Windows), -1 when closed.
    std::intptr_t Handle() const { return handle_; }

private:
    std::intptr_t handle_ = -1;
};

// A folder opened once; every later file operation goes through that handle.
class UpdateFolder {
public:
    // Makes a new folder for this run under UpdateFolderRoot() (mode 0700, a random name),
    // checks it and takes its lock, held until this object goes. The root is reached
    // through PrivateFolder's checked walk: no link on the way, and the root and every
    // folder above it out of other users' reach. On any failure: nullptr, and error says
    // why in a few words.
    static std::unique_ptr<UpdateFolder> CreateForRun(PlatformError* error = nullptr);
    // The hand-over steps: opens the run folder at path (which must be a run folder of
    // this user, directly under UpdateFolderRoot(), reached through the same checked walk)
    // and takes its lock, waiting up to
    // waitMs for the run that holds it to end. nullptr when it is not such a folder, or
    // the lock stays held.
    static std::unique_ptr<UpdateFolder> OpenRunFolder(const std::string& path, int waitMs);
    // Any existing folder, opened without following a link and without a lock (the
    // command-line download tool writes into the folder it is given).
    static std::unique_ptr<UpdateFolder> OpenPlain(const std::string& path);
    // The folder that keeps at most one unfinished package between runs: "partial" under
    // UpdateFolderRoot(), made (0700) when missing, reached through the same checked walk,
    // this user's alone, and locked while this object lives, so that a second copy of the
    // client keeps nothing. Made only when create is true. nullptr on any failure (error
    // says why; Windows keeps none).
    static std::unique_ptr<UpdateFolder> OpenPartial(bool create, PlatformError* error = nullptr);

    ~UpdateFolder(); // lets the lock go; the folder stays
    UpdateFolder(const UpdateFolder&) = delete;
    UpdateFolder& operator=(const UpdateFolder&) = delete;

    // The folder's path, ending with the separator.
    const std::string& Path() const { return path_; }
    // Makes a new file name in the folder: an entry of that name is removed first, then
    // the file is created exclusively (never following a link), for this user only, and
    // checked to be a regular file of this user with one link. Not open on any failure.
    OpenFile CreateFile(const std::string& name);
    // Opens the existing file name for reading and writing, never following a link; only
    // a regular file of this user with one link. Not open otherwise.
    OpenFile OpenExisting(const std::string& name);
    // Moves the file name into folder to as newName, over an entry of that name; false
    // when it could not (the file stays).
    bool MoveInto(const std::string& name, UpdateFolder& to, const std::string& newName);
    // Removes the file name from the folder; false when it could not.
    bool RemoveFile(const std::string& name);
    // Removes every file in the folder, then the folder; false when something stayed.
    bool RemoveAll();
    // The start-up clean-up, beside a run folder just made: removes the run folders in the
    // same root that runs which ended left behind, with the files in them, and nothing
    // else. Only a folder named "run-" and six characters, of this user, older than a
    // minute, whose lock nobody holds, holding only regular files of this user with one
    // name each, goes. Returns how many went; left says what stayed, for one log line
    // ("" when only folders of runs still living stayed, or nothing).
    int RemoveAbandonedRunFolders(std::string& left);

    struct Handles;

private:
    UpdateFolder(std::string path, std::unique_ptr<Handles> handles);
    std::string path_;
    std::unique_ptr<Handles> handles_;
};

// Where run folders live, ending with the separator: Linux $XDG_CACHE_HOME/qev/update/
// (else $HOME/.cache/qev/update/); Windows %LOCALAPPDATA%\qev\update\ (made, private,
// when missing). "" when unknown.
std::string UpdateFolderRoot();

// A program image that no process can change any more: Linux, a sealed memory file;
// Windows, a file in the run folder held open with writing denied to everyone. Made from
// the bytes of an open file, read through its handle.
class SealedProgram {
public:
    // Copies size bytes of from (from its start) into a new sealed image. On failure:
    // nothing, and error says why in a few words. name becomes part of the image's name
    // (Windows: the file "update" + name in folder).
    static std::optional<SealedProgram> Seal(const OpenFile& from, std::int64_t size,
                                             const std::string& name, UpdateFolder& folder,
                                             PlatformError* error = nullptr);
    // The sealed bytes, for checking them once more just before they are started.
    const OpenFile& Image() const { return image_; }
    std::int64_t Size() const { return size_; }
    // Starts the image with the arguments of commandLine after its program-name slot (as
    // StartProcess). The process id; nothing when it could not start (error: the system's
    // error number, on Linux the one the exec itself failed with).
    std::optional<int> Start(std::string_view commandLine, PlatformError* error = nullptr) const;
    // Where the image can be named (the copy's path on Windows; a description on Linux).
    const std::string& Name() const { return name_; }

private:
    SealedProgram() = default;
    OpenFile image_;
    std::int64_t size_ = 0;
    std::string name_;
};

// Reads the whole program file this process runs from, through the running image itself
// (Linux /proc/self/exe: for an image started from a sealed memory file, those very
// bytes). False when it cannot be read.
bool ReadOwnProgram(std::string& bytes);

// Puts bytes in to's place the way CopyFileOver does: a sibling is written first and
// renamed over to, so to is never half written; to keeps its mode bits (0700 when it did
// not exist). False on any failure (to unchanged).
bool WriteFileOver(std::string_view bytes, const std::string& to);

} // namespace qev
