#include "core/platform/files.h"
#include "core/platform/program_image.h"

#include <sys/stat.h>
#include <unistd.h>

#include <climits>

namespace qev {
namespace {

std::optional<FileIdentity> IdentityAt(const char* path)
{
    struct stat st {};
    if (stat(path, &st) != 0) return std::nullopt;
    return FileIdentity{static_cast<std::uint64_t>(st.st_dev),
                        static_cast<std::uint64_t>(st.st_ino)};
}

} // namespace

std::string GetProgramPath()
{
    char buffer[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (n <= 0) return {};
    const std::string link(buffer, static_cast<std::size_t>(n));
    // stat of the link itself reaches the running image even when its file was removed.
    return ProgramPathFromLink(link, IdentityAt(link.c_str()), IdentityAt("/proc/self/exe"));
}

} // namespace qev
