#include "core/platform/program_image.h"

namespace qev {

std::string ProgramPathFromLink(std::string_view linkText, const std::optional<FileIdentity>& named,
                                const std::optional<FileIdentity>& running)
{
    // The system marks a running image whose file was removed this way; a file that is
    // really named so is refused too rather than guessed at.
    static constexpr std::string_view Removed = " (deleted)";
    if (linkText.empty() || (linkText.size() >= Removed.size() &&
                             linkText.substr(linkText.size() - Removed.size()) == Removed))
        return {};
    if (!named || !running || *named != *running) return {};
    return std::string(linkText);
}

} // namespace qev
