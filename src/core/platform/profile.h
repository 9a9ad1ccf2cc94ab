#pragma once
// Reading one value from an ini-style settings file.
#include <cstddef>
#include <string>

namespace qev {

// The value of key in [section] of the file at path (first match, names without regard to
// case, blanks around the value dropped), UTF-8; "" when absent or unreadable. At least
// maxChars characters are kept; the caller cuts to its own limit.
std::string ReadProfileString(const std::string& path, const char* section, const char* key,
                              std::size_t maxChars);

} // namespace qev
