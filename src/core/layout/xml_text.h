#pragma once
// Parsing XML text from outside with the XML library.
#include <tinyxml.h>

#include <cstddef>
#include <string>
#include <string_view>

namespace qev {

// Bounds for XML that comes from outside. The XML library parses nested elements by
// recursion (on the user-interface thread), so a deep document can exhaust the stack and
// its time grows with the square of the depth; the real documents are a few levels deep
// and a few KiB long.
inline constexpr std::size_t MaxXmlBytes = std::size_t{1024} * 1024;
inline constexpr int MaxXmlDepth = 16;

enum class XmlRefusal {
    None,     // within the bounds
    TooLarge, // more than MaxXmlBytes
    TooDeep,  // elements nested deeper than MaxXmlDepth
};

// An upper bound on the element nesting the XML library builds from text (valid UTF-8),
// counted without recursion, whatever the bytes: where the scan cannot follow the library's
// reading it counts every '<' that may open an element and lowers the count no more. Stops
// early once above stopAbove.
int XmlNestingDepth(std::string_view text, int stopAbove = MaxXmlDepth);

// Whether text may be handed to the XML library at all (size first, then depth).
XmlRefusal CheckXmlBounds(std::string_view text);

// A line for the log saying why what (e.g. "update manifest") was refused.
std::string XmlRefusalText(std::string_view what, XmlRefusal refusal);

// Parses text into xml, letting the library detect the encoding, after CheckXmlBounds: a
// refused text is not parsed at all and its refusal is returned (xml stays empty, without
// an error of its own). The library steps over a multi-byte character by the length its
// lead byte announces, which on a truncated or invalid sequence can carry it past the end
// of the text; so invalid UTF-8 is replaced (U+FFFD, as the values get anyway) and the
// copy ends with spare zero bytes.
XmlRefusal ParseXmlText(TiXmlDocument& xml, std::string_view text);

} // namespace qev
