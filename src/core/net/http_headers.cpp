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

LengthInfo ParseLength(std::string_view raw)
{
    LengthInfo info;
    static constexpr std::string_view lengthName = "Content-Length:";
    static constexpr std::string_view rangeName = "Content-Range:";
    if (const auto at = raw.find(lengthName); at != std::string_view::npos) {
        const auto start = at + lengthName.size();
        if (const auto end = raw.find("\r\n", start); end != std::string_view::npos) {
            info.length = ToInt64(TrimSpace(raw.substr(start, end - start)));
            return info;
        }
    }
    const auto at = raw.find(rangeName);
    if (at == std::string_view::npos) return info;
    std::string_view value = raw.substr(at + rangeName.size());
    value = value.substr(0, value.find("\r\n"));
    if (const auto bytes = value.find("bytes"); bytes != std::string_view::npos)
        value = value.substr(bytes + 5);
    value = TrimSpace(value);
    const auto slash = value.find('/');
    if (slash == std::string_view::npos) return info;
    info.length = ToInt64(value.substr(slash + 1));
    info.fromContentRange = true;
    return info;
}

std::int64_t ParseLengthHeaders(std::string_view rawHeaders)
{
    return ParseLength(rawHeaders).length;
}

std::int64_t ParseContentRangeStart(std::string_view rawHeaders)
{
    static constexpr std::string_view name = "\r\ncontent-range:";
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
    for (std::size_t at = 0; at + name.size() <= rawHeaders.size(); ++at) {
        bool same = true;
        for (std::size_t i = 0; i < name.size() && same; ++i)
            same = lower(rawHeaders[at + i]) == name[i];
        if (!same) continue;
        std::string_view value = rawHeaders.substr(at + name.size());
        value = TrimSpace(value.substr(0, value.find("\r\n")));
        if (value.substr(0, 5) != "bytes") return -1;
        value = TrimSpace(value.substr(5));
        if (value.empty() || value[0] < '0' || value[0] > '9') return -1;
        return ToInt64(value);
    }
    return -1;
}

} // namespace qev
