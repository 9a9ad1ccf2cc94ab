#include "layout/xml_text.h"

#include <string>

#include "app/utf.h"

namespace qev {

void ParseXmlText(TiXmlDocument& xml, std::string_view text)
{
    constexpr std::size_t Spare = 8; // longer than any step the library takes at once
    std::string copy = SanitizeUtf8(text);
    copy.append(Spare, '\0');
    xml.Parse(copy.c_str(), nullptr, TIXML_DEFAULT_ENCODING);
}

} // namespace qev
