#include "core/platform/host_names.h"

#include <algorithm>

namespace qev {

// The cross-built client has no IDN library and no suffix list: a Unicode host converts to
// nothing and no host has a known registrable domain, so only the exact operator's hosts
// (and QEV_OPERATOR_SITES) count as theirs.
std::string HostToAscii(std::string_view utf8Host)
{
    const bool ascii = std::all_of(utf8Host.begin(), utf8Host.end(),
                                   [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    return ascii ? std::string(utf8Host) : std::string();
}

std::string RegistrableDomain(std::string_view)
{
    return {};
}

} // namespace qev
