#include "http_text.h"

namespace qev::portal {
namespace {

constexpr char HexDigits[] = "0123456789ABCDEF";
constexpr std::size_t LogTextLimit = 2000;

int HexValue(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

void AppendHexByte(std::string& out, unsigned char byte)
{
    out += HexDigits[byte >> 4];
    out += HexDigits[byte & 0x0F];
}

bool IsHostChar(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
           c == '-' || c == '_';
}

std::string_view Trimmed(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    return text;
}

std::string_view WithoutWeakPrefix(std::string_view tag)
{
    if (tag.substr(0, 2) == "W/") tag.remove_prefix(2);
    return tag;
}

} // namespace

std::string HtmlEscape(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '\'': out += "&#39;"; break;
        default: out += c;
        }
    }
    return out;
}

std::string QueryValueEncode(std::string_view bytes)
{
    std::string out;
    out.reserve(bytes.size());
    for (char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
            c == '-' || c == '.' || c == '_' || c == '~') {
            out += c;
        } else {
            out += '%';
            AppendHexByte(out, byte);
        }
    }
    return out;
}

std::string DecodeRequestPath(std::string_view rawPath)
{
    std::string out;
    out.reserve(rawPath.size());
    for (std::size_t i = 0; i < rawPath.size(); ++i) {
        const char c = rawPath[i];
        if (c == '+') {
            out += ' ';
        } else if (c == '%' && i + 2 < rawPath.size() && HexValue(rawPath[i + 1]) >= 0 &&
                   HexValue(rawPath[i + 2]) >= 0) {
            out += static_cast<char>(HexValue(rawPath[i + 1]) * 16 + HexValue(rawPath[i + 2]));
            i += 2;
        } else {
            out += c;
        }
    }
    return out;
}

std::string JsonString(std::string_view text)
{
    std::string out = "\"";
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '/': out += "\\/"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (byte < 0x20) {
                out += "\\u00";
                AppendHexByte(out, byte);
            } else {
                out += c;
            }
        }
    }
    out += '"';
    return out;
}

std::string HostNameFromHeader(std::string_view hostHeader, std::string_view fallback)
{
    std::string_view name = hostHeader;
    if (!name.empty() && name.front() == '[') {
        const auto close = name.find(']');
        if (close == std::string_view::npos) return std::string(fallback);
        const std::string_view inside = name.substr(1, close - 1);
        if (inside.empty()) return std::string(fallback);
        for (char c : inside) {
            if (HexValue(c) < 0 && c != ':' && c != '.') return std::string(fallback);
        }
        return std::string(name.substr(0, close + 1));
    }
    const auto colon = name.find(':');
    if (colon != std::string_view::npos) name = name.substr(0, colon);
    if (name.empty() || name.size() > 253) return std::string(fallback);
    for (char c : name) {
        if (!IsHostChar(c)) return std::string(fallback);
    }
    return std::string(name);
}

std::string CookieValue(std::string_view cookieHeader, std::string_view name)
{
    while (!cookieHeader.empty()) {
        const auto semicolon = cookieHeader.find(';');
        const std::string_view pair = Trimmed(cookieHeader.substr(0, semicolon));
        cookieHeader = semicolon == std::string_view::npos ? std::string_view()
                                                           : cookieHeader.substr(semicolon + 1);
        const auto equals = pair.find('=');
        if (equals == std::string_view::npos || Trimmed(pair.substr(0, equals)) != name) continue;
        std::string_view value = Trimmed(pair.substr(equals + 1));
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
            value = value.substr(1, value.size() - 2);
        }
        return std::string(value);
    }
    return {};
}

bool IfNoneMatchHits(std::string_view header, std::string_view etag)
{
    if (etag.empty()) return false;
    const std::string_view wanted = WithoutWeakPrefix(etag);
    while (!header.empty()) {
        const auto comma = header.find(',');
        const std::string_view tag = Trimmed(header.substr(0, comma));
        header = comma == std::string_view::npos ? std::string_view() : header.substr(comma + 1);
        if (tag == "*" || (!tag.empty() && WithoutWeakPrefix(tag) == wanted)) return true;
    }
    return false;
}

std::string LogSafe(std::string_view text)
{
    std::string out;
    const bool cut = text.size() > LogTextLimit;
    if (cut) text = text.substr(0, LogTextLimit);
    out.reserve(text.size());
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte >= 0x7F || c == '\\') {
            out += "\\x";
            AppendHexByte(out, byte);
        } else {
            out += c;
        }
    }
    if (cut) out += "...";
    return out;
}

} // namespace qev::portal
