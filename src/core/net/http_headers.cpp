#include "core/net/http_headers.h"

#include <climits>

namespace qev {
namespace {

std::string_view TrimSpace(std::string_view s)
{
    const auto isSpace = [](char c) { return c == ' ' || (c >= '\t' && c <= '\r'); };
    while (!s.empty() && isSpace(s.front())) s.remove_prefix(1);
    while (!s.empty() && isSpace(s.back())) s.remove_suffix(1);
    return s;
}

// Leading white space, optional sign, decimal digits up to the first non-digit; saturates.
std::int64_t ToInt64(std::string_view s)
{
    std::size_t i = 0;
    while (i < s.size() && (s[i] == ' ' || (s[i] >= '\t' && s[i] <= '\r'))) ++i;
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
    std::int64_t value = 0;
    for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) {
        const int digit = s[i] - '0';
        if (value > (INT64_MAX - digit) / 10) return negative ? INT64_MIN : INT64_MAX;
        value = value * 10 + digit;
    }
    return negative ? -value : value;
}

} // namespace

std::optional<std::string_view> FindHeader(std::string_view raw, std::string_view name)
{
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
    for (std::size_t start = 0; start < raw.size();) {
        const std::size_t end = raw.find('\n', start);
        if (end == std::string_view::npos) break; // a line without its end is not whole
        std::string_view line = raw.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1); // LF alone ends one too
        start = end + 1;
        if (line.size() <= name.size() || line[name.size()] != ':') continue;
        bool same = true;
        for (std::size_t i = 0; i < name.size() && same; ++i)
            same = lower(line[i]) == lower(name[i]);
        if (same) return TrimSpace(line.substr(name.size() + 1));
    }
    return std::nullopt;
}

LengthInfo ParseLength(std::string_view raw)
{
    LengthInfo info;
    if (const auto length = FindHeader(raw, "Content-Length")) {
        info.length = ToInt64(*length);
        info.known = true;
        return info;
    }
    const auto range = FindHeader(raw, "Content-Range");
    if (!range) return info;
    std::string_view value = *range;
    if (const auto bytes = value.find("bytes"); bytes != std::string_view::npos)
        value = value.substr(bytes + 5);
    value = TrimSpace(value);
    const auto slash = value.find('/');
    if (slash == std::string_view::npos) return info;
    const std::string_view total = TrimSpace(value.substr(slash + 1));
    if (total.empty() || total[0] < '0' || total[0] > '9') return info; // "*": not said
    info.length = ToInt64(total);
    info.fromContentRange = true;
    info.known = true;
    return info;
}

std::int64_t ParseLengthHeaders(std::string_view rawHeaders)
{
    return ParseLength(rawHeaders).length;
}

std::int64_t ParseContentRangeStart(std::string_view rawHeaders)
{
    const auto range = FindHeader(rawHeaders, "Content-Range");
    if (!range) return -1;
    std::string_view value = *range;
    if (value.substr(0, 5) != "bytes") return -1;
    value = TrimSpace(value.substr(5));
    if (value.empty() || value[0] < '0' || value[0] > '9') return -1;
    return ToInt64(value);
}

} // namespace qev
