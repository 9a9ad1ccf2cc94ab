#pragma once
// The client's log: one plain-text file, one line per call, no prefix of any kind.
// Lives at $XDG_STATE_HOME/qev/qev.log (default ~/.local/state/qev/qev.log).
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace qev {

// File-error categories reported when the log cannot be opened (the number shown in
// the failure message).
enum FileErrorCause : int {
    FileErrorNone = 0,
    FileErrorGeneric = 1,
    FileErrorNotFound = 2,
    FileErrorBadPath = 3,
    FileErrorTooManyOpen = 4,
    FileErrorAccessDenied = 5,
    FileErrorHardIo = 10,
    FileErrorSharingViolation = 11,
    FileErrorDiskFull = 13,
};

// A log past this size is moved aside to "qev.log.1" (replacing the one before) before the
// next line is written, so the log never takes more than about twice this much space.
inline constexpr std::uintmax_t MaxLogBytes = std::uintmax_t{1024} * 1024;

// Maps an errno value to its file-error category: ENOENT -> not found; ENOTDIR,
// ENAMETOOLONG, ELOOP, EINVAL -> bad path; EACCES, EPERM, EROFS, EISDIR -> access
// denied; ETXTBSY, EBUSY, EAGAIN -> sharing violation; EMFILE, ENFILE -> too many open
// files; ENOSPC, EDQUOT -> disk full; EIO -> hard I/O; 0 -> none; anything else ->
// generic.
int FileErrorCauseFromErrno(int error);

// Where the log's folder comes from, handed in by each program at start-up (the client's
// is the platform's GetLogFolder: $XDG_STATE_HOME/qev, else $HOME/.local/state/qev). It is
// asked on every write, so a folder that changes meanwhile is followed. Until one is
// handed in there is no log folder.
void SetLogFolderSource(std::function<std::string()> source);

// The folder of the log file, without a trailing '/'; empty when unknown.
std::string LogFolderPath();

// LogFolderPath() + "/qev.log" (empty when the folder is unknown).
std::string LogFilePath();

// text as it may stand in a log line, whoever wrote it: control bytes, DEL and the characters
// in alsoEscaped as \xNN, and so is every byte from 0x80 unless keepHighBytes (for UTF-8 names
// the system gave); cut to at most maxBytes without splitting an escape.
std::string EscapeForLog(std::string_view text, std::string_view alsoEscaped,
                         bool keepHighBytes = false, std::size_t maxBytes = std::string_view::npos);

// Appends text and a line break to the log, opening and closing the file on every call.
// The folder (and its parents) is created when missing; a log of MaxLogBytes or more is
// rotated first. Failures are shown through
// ShowMessage and otherwise ignored.
void WriteLog(std::string_view text);

// The same, with the log file "qev.log" in folder instead of the usual place.
void WriteLog(std::string_view text, const std::string& folder);

} // namespace qev
