#include "core/platform/proxy_env.h"

#include <cstdlib>
#include <mutex>
#include <vector>

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

struct ProxyParts {
    std::string_view userInfo, host;
    bool hasUser = false;
};

ProxyParts SplitProxy(std::string_view value)
{
    if (const auto scheme = value.find("://"); scheme != std::string_view::npos)
        value.remove_prefix(scheme + 3);
    value = value.substr(0, value.find('/'));
    ProxyParts out;
    // The last '@': a password may hold one unescaped.
    if (const auto at = value.rfind('@'); at != std::string_view::npos) {
        out.hasUser = at > 0;
        out.userInfo = value.substr(0, at);
        value.remove_prefix(at + 1);
    }
    if (!value.empty() && value.front() == '[') {
        out.host = value.substr(1, value.find(']') - 1);
    } else {
        out.host = value.substr(0, value.find(':'));
    }
    return out;
}

// The proxy value libcurl takes from the environment for a request of this scheme (it reads
// http_proxy in lower case only); null for none.
const char* CurlProxyValue(bool https)
{
    for (const char* name : {https ? "https_proxy" : "http_proxy", https ? "HTTPS_PROXY" : "",
                             "all_proxy", "ALL_PROXY"}) {
        const char* value = *name ? std::getenv(name) : nullptr;
        if (value && *value) return value;
    }
    return nullptr;
}

std::mutex playerMutex;
std::vector<ProxyCredentials> playerCredentials; // guarded by playerMutex

} // namespace

std::optional<ProxyCredentials> ParseProxyCredentials(std::string_view value)
{
    const ProxyParts parts = SplitProxy(value);
    if (!parts.hasUser) return std::nullopt;
    const auto colon = parts.userInfo.find(':');
    ProxyCredentials out;
    out.host = std::string(parts.host);
    out.user = PercentDecode(parts.userInfo.substr(0, colon));
    if (colon != std::string_view::npos)
        out.password = PercentDecode(parts.userInfo.substr(colon + 1));
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

void SetPlayerProxyCredentials(const ProxyCredentials& credentials)
{
    const std::lock_guard lock(playerMutex);
    for (ProxyCredentials& known : playerCredentials) {
        if (SameLetters(known.host, credentials.host)) {
            known = credentials;
            return;
        }
    }
    playerCredentials.push_back(credentials);
}

std::optional<ProxyCredentials> PlayerProxyCredentialsForRequest(bool https)
{
    std::string_view host;
    // An http request may be redirected to https and so meet the https proxy too.
    for (const bool scheme : {https, true}) {
        const char* value = CurlProxyValue(scheme);
        if (!value) continue;
        const ProxyParts parts = SplitProxy(value);
        if (parts.hasUser) return std::nullopt;
        if (!host.empty() && !SameLetters(host, parts.host)) return std::nullopt;
        host = parts.host;
    }
    if (host.empty()) return std::nullopt;
    const std::lock_guard lock(playerMutex);
    for (const ProxyCredentials& known : playerCredentials)
        if (SameLetters(known.host, host)) return known;
    return std::nullopt;
}

} // namespace qev
