#pragma once
// The schemes and the trust every libcurl transfer of the client has, and what one that
// failed on the server's certificate or on a redirect it may not follow says in the
// client's log: one line, with the address escaped.
#include <curl/curl.h>

#include <string>

#include "core/base/log.h"
#include "core/platform/http_get.h"
#include "core/platform/proxy_env.h"

namespace qev::posix {

// A plain http request may be redirected to https; one that starts on https stays there.
// Certificates are checked against the system's store, or caFile when one is given. The
// proxy libcurl takes from the environment gets the credentials the player gave for it.
inline void SetSchemesAndTrust(CURL* easy, bool https, const std::string& caFile)
{
    const char* schemes = https ? "https" : "http,https";
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, schemes);
    curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, schemes);
    // The head of a proxy tunnel's answer is not the server's (a 407 to it fails the
    // transfer).
    curl_easy_setopt(easy, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 2L);
    if (!caFile.empty()) curl_easy_setopt(easy, CURLOPT_CAINFO, caFile.c_str());
    if (const auto player = PlayerProxyCredentialsForRequest(https)) {
        // libcurl copies both strings.
        curl_easy_setopt(easy, CURLOPT_PROXYUSERNAME, player->user.c_str());
        curl_easy_setopt(easy, CURLOPT_PROXYPASSWORD, player->password.c_str());
    }
}

// "" unless code is a refused certificate, a redirect to a scheme the request may not use,
// or a proxy that asked for a password before it would open a tunnel.
inline std::string DescribeCurlRefusal(CURL* easy, CURLcode code)
{
    char* url = nullptr;
    curl_easy_getinfo(easy, CURLINFO_EFFECTIVE_URL, &url);
    const std::string where = EscapeForLog(url ? url : "", "\\\"", false, 200);
    long tunnel = 0;
    curl_easy_getinfo(easy, CURLINFO_HTTP_CONNECTCODE, &tunnel);
    if (code != CURLE_OK && tunnel == ProxyAuthStatus) return ProxyAuthRefusal;
    if (code == CURLE_PEER_FAILED_VERIFICATION) {
        long result = 0;
        curl_easy_getinfo(easy, CURLINFO_SSL_VERIFYRESULT, &result);
        // OpenSSL's verify results: 9 not yet valid, 10 expired, 62 and 64 a name or address
        // that does not match; libcurl's own name check, after a chain that held, leaves 0
        // or 1 (X509_V_ERR_UNSPECIFIED).
        const bool otherName = result == 0 || result == 1 || result == 62 || result == 64;
        const char* why = otherName      ? "it names another host"
                          : result == 10 ? "expired"
                          : result == 9  ? "not yet valid"
                                         : "untrusted";
        return "certificate refused (" + std::string(why) + "): " + where;
    }
    if (code == CURLE_UNSUPPORTED_PROTOCOL)
        return "redirect refused (scheme not allowed): " + where;
    return {};
}

} // namespace qev::posix
