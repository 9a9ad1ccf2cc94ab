#pragma once
// Files and well-known folders.
#include <cstddef>
#include <cstdint>
#include <string>

#include "core/platform/platform_error.h"

namespace qev {

// Full path of the running program file.
std::string GetProgramPath();

// Copies from over to, overwriting. The bytes go to a sibling temporary file first,
// which then takes to's place in one rename, so to is never half written. to keeps its
// mode bits (from's when to did not exist). False on any failure (to unchanged).
bool CopyFileOver(const std::string& from, const std::string& to);

// Removes the temporary siblings that CopyFileOver left beside to when its process was
// killed mid-copy: only names CopyFileOver makes for to, only regular files of this user,
// and only when the process that made them has ended. Returns how many were removed.
int RemoveStaleCopies(const std::string& to);

// True when this process could put a new file in path's place the way CopyFileOver does:
// a sibling can be made in path's folder and renamed over path. False for a program that
// belongs to the system (installed by the package manager) when run by an ordinary user.
bool CanReplaceFile(const std::string& path);

// Removes a file; false when it could not be removed.
bool DeleteFile(const std::string& path);

// True when path names an existing file (of any kind).
bool FileExists(const std::string& path);

// Writes length bytes at offset into path, creating it (owner-only) when missing and never
// following a link. False on failure (error: the system's error number and the step).
bool WriteFileAt(const std::string& path, std::int64_t offset, const char* bytes,
                 std::size_t length, PlatformError* error = nullptr);

// Creates path empty, or empties it, never following a link; false on failure.
bool TruncateFile(const std::string& path);

// Lets the owner (only) run the file at path; true where files carry no such bits.
bool MakeOwnerExecutable(const std::string& path);

// The folder of the client's log, without a trailing separator; "" when unknown.
// Linux: $XDG_STATE_HOME/qev when that is an absolute path, else $HOME/.local/state/qev.
// Windows: C:\log.
std::string GetLogFolder();

} // namespace qev
