#include "core/layout/update_manifest.h"

#include <cstdio>

#include "core/base/log.h"
#include "core/layout/xml_text.h"

namespace qev {
namespace {

std::string TextAttr(const TiXmlElement* e, const char* name)
{
    const char* v = e->Attribute(name);
    return v ? SanitizeUtf8(v) : std::string();
}

} // namespace

int ReadUpdateManifest(LayoutDocument& doc, const std::string& path)
{
    // Read the bytes ourselves: the XML reader then only ever sees a complete buffer, and
    // a directory or unreadable path is simply a failure.
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) return 0;
    // One byte past the bound is enough to know a file is too large.
    std::string bytes;
    char buffer[65536];
    for (std::size_t n;
         bytes.size() <= MaxXmlBytes && (n = std::fread(buffer, 1, sizeof buffer, file)) > 0;)
        bytes.append(buffer, n);
    const bool readError = std::ferror(file) != 0;
    std::fclose(file);
    if (readError) return 0;
    return ReadUpdateManifestText(doc, bytes);
}

int ReadUpdateManifestText(LayoutDocument& doc, std::string_view bytes, bool* hasGame)
{
    if (hasGame) *hasGame = false;
    TiXmlDocument xml;
    if (const XmlRefusal refusal = ParseXmlText(xml, bytes); refusal != XmlRefusal::None) {
        WriteLog(XmlRefusalText("update manifest", refusal));
        return 0;
    }
    if (xml.Error()) return 0;

    const TiXmlElement* config = xml.FirstChildElement("config");
    if (!config) return 1;
    const TiXmlElement* game = config->FirstChildElement("game");
    if (!game) return 1;
    if (hasGame) *hasGame = true;
    // Stored as 32-bit values; "-1" stands for 4294967295.
    if (const char* major = game->Attribute("major"))
        doc.major = static_cast<std::uint32_t>(ParseIntLikeAtoi(major));
    if (const char* minor = game->Attribute("minor"))
        doc.minor = static_cast<std::uint32_t>(ParseIntLikeAtoi(minor));
    for (const TiXmlElement* item = game->FirstChildElement("item"); item;
         item = item->NextSiblingElement("item")) {
        doc.manifestItems.push_back(
            {TextAttr(item, "host"), TextAttr(item, "path"), TextAttr(item, "file")});
    }
    return 1;
}

bool IsVersionCurrent(std::uint32_t fileVersionMS, std::uint32_t fileVersionLS, std::uint32_t major,
                      std::uint32_t minor)
{
    if (fileVersionMS < major) return false;
    return !(fileVersionMS == major && fileVersionLS < minor);
}

} // namespace qev
