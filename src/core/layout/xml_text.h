#pragma once
// Parsing XML text from outside with the XML library.
#include <tinyxml.h>

#include <string_view>

namespace qev {

// Parses text into xml, letting the library detect the encoding. The library steps over a
// multi-byte character by the length its lead byte announces, which on a truncated or
// invalid sequence can carry it past the end of the text; so invalid UTF-8 is replaced
// (U+FFFD, as the values get anyway) and the copy ends with spare zero bytes.
void ParseXmlText(TiXmlDocument& xml, std::string_view text);

} // namespace qev
