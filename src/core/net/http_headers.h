#pragma once
// Reading the few response headers the download thread acts on, from the raw header block
// a stream hands over ("Name: value" lines ending with CR LF).
#include <cstdint>
#include <optional>
#include <string_view>

namespace qev {

// The value of the first header line called name in a raw header block, trimmed. Names are
// matched in any case (proxies and HTTP/2 gateways write them in lower case), and only
// as a line's name, never inside another header's value; a line ends with CR LF or LF
// alone, and one without its end is not read.
std::optional<std::string_view> FindHeader(std::string_view rawHeaders, std::string_view name);

// The total length announced by a raw header block: the Content-Length value, else the
// part after '/' of Content-Range (after "bytes"), else 0. Values are read as leading
// decimal digits.
std::int64_t ParseLengthHeaders(std::string_view rawHeaders);

// The first position of a "Content-Range: bytes a-b/c" header (name matched in any case,
// as servers write it), or -1 when there is none or it does not start with digits.
std::int64_t ParseContentRangeStart(std::string_view rawHeaders);

// The total length of the object and whether it came from Content-Range (an absolute end)
// rather than Content-Length (what remains after the asked position).
struct LengthInfo {
    std::int64_t length = 0;
    bool fromContentRange = false;
    bool known = false; // false: the body has no announced length and runs to its end
};
LengthInfo ParseLength(std::string_view rawHeaders);

} // namespace qev
