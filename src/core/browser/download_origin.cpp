#include "core/browser/download_origin.h"

#include <algorithm>
#include <cctype>

#include "core/browser/scheme_rules.h"
#include "core/browser/web_rules.h"

namespace qev {
namespace {

struct HostPort {
    std::string host, port; // port empty: the scheme's own
};

// "scheme://authority" (as WebOriginOf gives it) or a bare "host[:port]", split. An origin
// always has its port (the scheme's own when none is written); a bare host may not.
HostPort Split(std::string_view origin)
{
    std::string scheme;
    if (const std::size_t sep = origin.find("://"); sep != std::string_view::npos) {
        scheme = std::string(origin.substr(0, sep));
        origin.remove_prefix(sep + 3);
    }
    // An IPv6 literal keeps its brackets; the port follows the closing one.
    const std::size_t close = origin.rfind(']');
    const std::size_t colon = origin.rfind(':');
    HostPort out;
    if (colon != std::string_view::npos && (close == std::string_view::npos || colon > close)) {
        out.host = std::string(origin.substr(0, colon));
        out.port = std::string(origin.substr(colon + 1));
    } else {
        out.host = std::string(origin);
    }
    for (char& c : out.host) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (out.port.empty() && scheme == "http") out.port = "80";
    if (out.port.empty() && scheme == "https") out.port = "443";
    return out;
}

struct ImageType {
    std::string_view mediaType, ending, otherEnding;
};
constexpr ImageType ImageTypes[] = {{"image/png", ".png", ""},
                                    {"image/jpeg", ".jpg", ".jpeg"},
                                    {"image/gif", ".gif", ""},
                                    {"image/webp", ".webp", ""}};

std::string Lower(std::string_view text)
{
    std::string out(text);
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

// The image type of a data: address ("data:<type>[;parameters],<bytes>"), or null.
const ImageType* DataImageType(std::string_view address)
{
    if (SchemeOf(address) != "data") return nullptr;
    std::string_view rest = address.substr(5);
    const std::size_t comma = rest.find(',');
    if (comma == std::string_view::npos) return nullptr;
    const std::string type = Lower(rest.substr(0, std::min(rest.find(';'), comma)));
    for (const ImageType& image : ImageTypes)
        if (type == image.mediaType) return &image;
    return nullptr;
}

bool EndsWith(const std::string& lowerName, std::string_view ending)
{
    return !ending.empty() && lowerName.size() > ending.size() &&
           lowerName.compare(lowerName.size() - ending.size(), ending.size(), ending) == 0;
}

// A host entry without a port stands for every port of the host.
bool Matches(const HostPort& origin, const HostPort& entry)
{
    return !entry.host.empty() && origin.host == entry.host &&
           (entry.port.empty() || origin.port == entry.port);
}

} // namespace

DownloadVerdict DecideDownload(std::string_view address, std::string_view pageAddress,
                               const std::vector<std::string>& knownHosts, bool inputAllowance,
                               int running)
{
    const std::string scheme = SchemeOf(address);
    // Rows in order of precedence.
    if (scheme == "data" && !DataImageType(address)) return DownloadVerdict::NotAnImage;
    if (scheme != "data") {
        const std::string origin = WebOriginOf(scheme == "blob" ? address.substr(5) : address);
        // Only web addresses (directly or inside a blob:) name an origin at all.
        if (origin.empty()) return DownloadVerdict::ForeignOrigin;
        const HostPort from = Split(origin);
        bool known = false;
        const std::string page = WebOriginOf(pageAddress);
        if (!page.empty()) known = Matches(from, Split(page));
        for (const std::string& host : knownHosts) known = known || Matches(from, Split(host));
        if (!known) return DownloadVerdict::ForeignOrigin;
    }
    if (running >= MaxRunningDownloads) return DownloadVerdict::TooMany;
    if (!inputAllowance) return DownloadVerdict::NoAllowance;
    return DownloadVerdict::Accept;
}

std::string DataImageEnding(std::string_view address)
{
    const ImageType* image = DataImageType(address);
    return image ? std::string(image->ending) : std::string();
}

std::string DataDownloadName(std::string_view suggested, std::string_view address)
{
    std::string name = SafeDownloadName(suggested);
    const ImageType* image = DataImageType(address);
    if (!image) return name;
    const std::string lower = Lower(name);
    if (EndsWith(lower, image->ending) || EndsWith(lower, image->otherEnding)) return name;
    return SafeDownloadName(name + std::string(image->ending));
}

} // namespace qev
