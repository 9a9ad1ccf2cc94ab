#pragma once
// Telling whether the program file still holds the running image. Another copy of the
// client may install a new build while this one runs: the path the system gives for the
// running image then names a removed file ("<path> (deleted)") or a new one, and handing
// that path on would install over, or beside, a program that is no longer this one.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace qev {

// A file as the system knows it, whatever its name.
struct FileIdentity {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    bool operator==(const FileIdentity&) const = default;
};

// The program's path from what the link to the running image reads (linkText), the file
// that text names now (named; nothing when it cannot be looked at) and the running image
// itself (running). "" unless the text names a path, not a removed file, and that path
// is still the running image.
std::string ProgramPathFromLink(std::string_view linkText, const std::optional<FileIdentity>& named,
                                const std::optional<FileIdentity>& running);

} // namespace qev
