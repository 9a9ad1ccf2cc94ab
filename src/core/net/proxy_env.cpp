#include "core/net/proxy_env.h"

#include <cstdlib>

namespace qev {
namespace {

int Hex(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Only "%XX": a '+' in a user or password is a plus sign.
std::string PercentDecode(std::string_view s)
{
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '%' && i + 2 < s.size() && Hex(s[i + 1]) >= 0 && Hex(s[i + 2]) >= 0) {
            out += static_cast<char>(Hex(s[i + 1]) * 16 + Hex(s[i + 2]));
            i += 2;
        } else {
            out += s[i];
        }
    }
    return out;
}

bool SameLetters(std::string_view a, std::string_view b)
{
    if (a.size() != b.size()) return false;
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
    for (std::size_t i = 0; i < a.size(); ++i)
        if (lower(a[i]) != lower(b[i])) return false;
    return true;
}

} // namespace

std::optional<ProxyCredentials> ParseProxyCredentials(std::string_view value)
{
    if (const auto scheme = value.find("://"); scheme != std::string_view::npos)
        value.remove_prefix(scheme + 3);
    value = value.substr(0, value.find('/'));
    // The last '@': a password may hold one unescaped.
    const auto at = value.rfind('@');
    if (at == std::string_view::npos || at == 0) return std::nullopt;
    const std::string_view userInfo = value.substr(0, at);
    std::string_view host = value.substr(at + 1);
    if (!host.empty() && host.front() == '[') {
        host = host.substr(1, host.find(']') - 1);
    } else {
        host = host.substr(0, host.find(':'));
    }
    const auto colon = userInfo.find(':');
    ProxyCredentials out;
    out.host = std::string(host);
    out.user = PercentDecode(userInfo.substr(0, colon));
    if (colon != std::string_view::npos) out.password = PercentDecode(userInfo.substr(colon + 1));
    if (out.host.empty() || out.user.empty()) return std::nullopt;
    return out;
}

std::optional<ProxyCredentials> ProxyCredentialsFor(std::string_view proxyHost)
{
    for (const char* name : {"https_proxy", "HTTPS_PROXY", "http_proxy", "HTTP_PROXY"}) {
        const char* value = std::getenv(name);
        if (!value) continue;
        auto credentials = ParseProxyCredentials(value);
        if (credentials && SameLetters(credentials->host, proxyHost)) return credentials;
    }
    return std::nullopt;
}

} // namespace qev
