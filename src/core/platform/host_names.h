#pragma once
// Host names as the web compares them: their ASCII form and their registrable domain.
#include <string>
#include <string_view>

namespace qev {

// The ASCII (punycode) form of a host name written in Unicode, lowercased and with the
// full-width dots turned into dots; empty when it is no valid name or the system cannot
// convert it.
std::string HostToAscii(std::string_view utf8Host);

// The registrable domain of an ASCII, lowercase host without a trailing dot: the public
// suffix (private section included, so "a.github.io" is its own) plus one label. Empty
// when the host is itself a public suffix, or the system has no list.
std::string RegistrableDomain(std::string_view asciiHost);

} // namespace qev
