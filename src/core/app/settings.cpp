#include "app/settings.h"

#include <ini.h>
#include <strings.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/adapters.h"
#include "platform/files.h"

namespace qev {
namespace {

// The ini reader's line buffer is small (200 bytes), far less than the 511 characters of
// an address. Lines that would not fit reach it with their value swapped for a short
// token; the handler swaps the real value back.
constexpr char LongValueMark = '\x01';

struct PmLookup {
    std::string value;
    bool found = false;
    std::vector<std::string> longValues;
    std::string text;
    std::size_t pos = 0;
};

std::string TrimBlanks(std::string_view s)
{
    const auto b = s.find_first_not_of(" \t\r\n");
    if (b == std::string_view::npos) return {};
    return std::string(s.substr(b, s.find_last_not_of(" \t\r\n") - b + 1));
}

char* ReadIniLine(char* out, int size, void* user)
{
    auto* lookup = static_cast<PmLookup*>(user);
    if (lookup->pos >= lookup->text.size() || size < 2) return nullptr;
    auto end = lookup->text.find('\n', lookup->pos);
    end = end == std::string::npos ? lookup->text.size() : end + 1;
    std::string line = lookup->text.substr(lookup->pos, end - lookup->pos);
    lookup->pos = end;
    const auto limit = static_cast<std::size_t>(size - 1);
    if (line.size() > limit / 2) {
        // Split where the reader splits: at the first '=' or ':'.
        const auto eq = line.find_first_of("=:");
        if (eq != std::string::npos && eq + 16 < limit) {
            std::string value = line.substr(eq + 1);
            // The reader's own inline-comment rule: ';' after white space starts a comment.
            for (std::size_t i = 1; i < value.size(); ++i)
                if (value[i] == ';' && (value[i - 1] == ' ' || value[i - 1] == '\t')) {
                    value.resize(i);
                    break;
                }
            lookup->longValues.push_back(TrimBlanks(value));
            line = line.substr(0, eq + 1) + LongValueMark +
                   std::to_string(lookup->longValues.size() - 1) + "\n";
        }
    }
    line = line.substr(0, limit);
    std::memcpy(out, line.c_str(), line.size() + 1);
    return out;
}

// One pair of matching quotes around a whole value is not part of it: PM="http://h/p?x".
void DropEnclosingQuotes(std::string& value)
{
    const std::size_t n = value.size();
    if (n >= 2 && (value[0] == '"' || value[0] == '\'') && value[n - 1] == value[0]) {
        value.pop_back();
        value.erase(0, 1);
    }
}

int OnIniEntry(void* user, const char* section, const char* name, const char* value)
{
    auto* lookup = static_cast<PmLookup*>(user);
    if (!lookup->found && strcasecmp(section, "config") == 0 && strcasecmp(name, "PM") == 0) {
        lookup->value = value ? value : "";
        if (!lookup->value.empty() && lookup->value[0] == LongValueMark) {
            const auto index = std::strtoul(lookup->value.c_str() + 1, nullptr, 10);
            lookup->value = index < lookup->longValues.size() ? lookup->longValues[index] : "";
        }
        DropEnclosingQuotes(lookup->value);
        lookup->found = true;
    }
    return 1; // keep going: a malformed line elsewhere must not hide the value
}

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
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) return {};
    PmLookup lookup;
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, file)) > 0;)
        lookup.text.append(buffer, n);
    std::fclose(file);
    ini_parse_stream(ReadIniLine, &lookup, OnIniEntry, &lookup);
    return CutToChars(lookup.value, ReportAddressMaxChars);
}

ReportAddress ReadLocalSettings()
{
    const std::string path = GetSettingsFilePath();
    if (path.empty()) return {};
    return SplitReportAddress(ReadReportAddressValue(path));
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
