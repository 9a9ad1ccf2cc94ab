#include "core/app/settings.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "core/base/url_codec.h"
#include "core/platform/adapters.h"
#include "core/platform/files.h"
#include "core/platform/profile.h"

namespace qev {
namespace {

// Cuts text after max characters, counted in UTF-16 units (the unit the limit is given
// in), without splitting a UTF-8 sequence.
std::string CutToChars(const std::string& text, std::size_t max)
{
    std::size_t units = 0;
    for (std::size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        std::size_t len = 1;
        if (lead >= 0xF0)
            len = 4;
        else if (lead >= 0xE0)
            len = 3;
        else if (lead >= 0xC0)
            len = 2;
        const std::size_t need = len == 4 ? 2 : 1;
        if (units + need > max) return text.substr(0, i);
        units += need;
        i += len;
        while (i < text.size() && (static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) ++i;
    }
    return text;
}

} // namespace

ReportAddress SplitReportAddress(std::string_view value)
{
    ReportAddress out;
    if (const auto q = value.find('?'); q != std::string_view::npos) {
        out.query = std::string(value.substr(q));
        value = value.substr(0, q);
    }
    // The host starts after "://", or at the third character when there is none (the
    // position of a missing "://" counts as -1).
    const auto scheme = value.find("://");
    std::size_t start = scheme == std::string_view::npos ? 2 : scheme + 3;
    // Only a "www." right after "://" belongs to the host's prefix; one elsewhere (in the
    // path, say) must not eat the host's first characters.
    if (scheme != std::string_view::npos && value.substr(start, 4) == "www.") start += 4;
    const std::string_view rest = start < value.size() ? value.substr(start) : std::string_view();
    if (const auto slash = rest.find('/'); slash != std::string_view::npos) {
        out.host = std::string(rest.substr(0, slash));
        out.path = std::string(rest.substr(slash));
    } else {
        out.path = std::string(rest);
    }
    return out;
}

bool ReportAddressIsHttps(std::string_view value)
{
    bool https = false;
    StripHttpScheme(value, https);
    return https;
}

std::string GetSettingsFilePath()
{
    const std::string program = GetProgramPath();
    const auto slash = program.rfind('/');
    if (slash == std::string::npos) return {};
    std::string path = program.substr(0, slash + 1) + SettingsFileName;
    return FileExists(path) ? path : std::string();
}

std::string ReadReportAddressValue(const std::string& path)
{
    return CutToChars(ReadProfileString(path, "config", "PM", ReportAddressMaxChars),
                      ReportAddressMaxChars);
}

ReportAddress ReadLocalSettings()
{
    const std::string path = GetSettingsFilePath();
    if (path.empty()) return {};
    const std::string value = ReadReportAddressValue(path);
    ReportAddress address = SplitReportAddress(value);
    address.https = ReportAddressIsHttps(value);
    return address;
}

std::string FormatMachineIdentity(const std::vector<std::array<unsigned char, 6>>& adapters)
{
    std::string out;
    out.reserve(adapters.size() * 12);
    for (const auto& a : adapters) {
        char digits[13];
        std::snprintf(digits, sizeof digits, "%02X%02X%02X%02X%02X%02X", a[0], a[1], a[2], a[3],
                      a[4], a[5]);
        out += digits;
    }
    return out;
}

std::string GetMachineIdentity()
{
    return FormatMachineIdentity(GetAdapterAddresses());
}

} // namespace qev
