#include "core/base/url_codec.h"

namespace qev {
namespace {

bool IsAsciiAlnum(unsigned char c)
{
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

bool IsSpaceByte(unsigned char c)
{
    return c == ' ' || (c >= '\t' && c <= '\r');
}

int HexValue(unsigned char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// "%XX" with upper-case hex digits: how every encoder here writes a byte it does not keep.
void AppendEscaped(std::string& out, unsigned char c)
{
    static constexpr char digits[] = "0123456789ABCDEF";
    out += '%';
    out += digits[c >> 4];
    out += digits[c & 0xF];
}

} // namespace

std::string UrlEncode(std::string_view bytes)
{
    std::string out;
    out.reserve(bytes.size() * 3);
    for (const char ch : bytes) {
        const auto c = static_cast<unsigned char>(ch);
        if (IsAsciiAlnum(c) || c == '-' || c == '.' || c == '_') {
            out += ch;
        } else if (IsSpaceByte(c)) {
            out += '+';
        } else {
            AppendEscaped(out, c);
        }
    }
    return out;
}

std::string EncodePathSegment(std::string_view bytes)
{
    std::string out;
    out.reserve(bytes.size() * 3);
    for (const char ch : bytes) {
        const auto c = static_cast<unsigned char>(ch);
        if (IsAsciiAlnum(c) || c == '-' || c == '.' || c == '_' || c == '~') {
            out += ch;
        } else {
            AppendEscaped(out, c);
        }
    }
    return out;
}

std::string_view StripHttpScheme(std::string_view host, bool& https)
{
    const auto startsWith = [host](std::string_view prefix) {
        if (host.size() < prefix.size()) return false;
        for (std::size_t i = 0; i < prefix.size(); ++i) {
            const char c = host[i];
            if ((c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c) != prefix[i]) return false;
        }
        return true;
    };
    https = startsWith("https://");
    if (https) return host.substr(8);
    if (startsWith("http://")) return host.substr(7);
    return host;
}

std::string UrlDecode(std::string_view bytes)
{
    std::string out;
    out.reserve(bytes.size());
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const char ch = bytes[i];
        if (ch == '%' && i + 2 < bytes.size()) {
            const int hi = HexValue(static_cast<unsigned char>(bytes[i + 1]));
            const int lo = HexValue(static_cast<unsigned char>(bytes[i + 2]));
            if (hi >= 0 && lo >= 0) {
                out += static_cast<char>(hi * 16 + lo);
                i += 2;
                continue;
            }
        }
        out += ch == '+' ? ' ' : ch;
    }
    return out;
}

std::string EscapeRequestTarget(std::string_view pathAndQuery)
{
    std::string out;
    out.reserve(pathAndQuery.size());
    for (const char ch : pathAndQuery) {
        const auto c = static_cast<unsigned char>(ch);
        if (c <= ' ' || c == '#' || c >= 0x7F) {
            AppendEscaped(out, c);
        } else {
            out += ch;
        }
    }
    return out;
}

} // namespace qev
