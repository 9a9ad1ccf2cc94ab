#pragma once
// The one synchronous web request: GET a small text body.
#include <atomic>
#include <cstddef>
#include <string>

namespace qev {

// Most body bytes HttpGetText keeps; the transfer stops there.
inline constexpr std::size_t HttpTextLimit = 4 * 1024 * 1024;
// A dead host, or one that accepts and then says nothing, must not hold the calling
// thread for long. What ends a slow request is HttpDeadlineMs alone: the whole request,
// connecting and redirects included, ends 20 s after it began however the server
// trickles, and then fails ("").
inline constexpr long HttpDeadlineMs = 20000;
// libcurl's own connect limit, and its stall limit (less than one byte a second over that
// many seconds). Both are longer than the deadline, so neither ever ends a request first.
// The Windows build does not use them: it sets WinINet's connect, send and receive limits
// to the deadline and closes the request's handle when the deadline passes.
inline constexpr long HttpConnectTimeoutSeconds = 30;
inline constexpr long HttpStallSeconds = 60;
inline constexpr long HttpMaxRedirects = 10;

// A proxy's "407 Proxy Authentication Required": the client's own requests take it for a
// failure (one log line, this text after what failed), never for a body to read.
inline constexpr int ProxyAuthStatus = 407;
inline constexpr const char* ProxyAuthRefusal =
    "refused by the proxy: it asks for a password (407)";

// Where the certificates of https hosts are checked against. Empty: the system's store.
struct HttpTrust {
    std::string caFile; // a PEM bundle trusted instead of the system's store (tests)
};

// GETs host + path + query and returns the body as UTF-8 (host may start with "https://" or
// "http://", StripHttpScheme; without one it is http): cut at the first zero
// byte, invalid sequences replaced by U+FFFD, at most HttpTextLimit bytes. Path and query
// are joined as they are; only what cannot travel in a request line is escaped
// (EscapeRequestTarget), so the server reads the values given. host may carry ":port",
// default 80 (443 over https). An http request follows redirects to http and https, an https
// one only to https (certificates checked), no other scheme; a refused certificate or
// redirect is one log line, and so is a proxy's 407 (which gives ""). A proxy named in
// http_proxy / https_proxy is used, with the user and password it carries, else those the player
// gave for that proxy (PlayerProxyCredentialsForRequest). The status is not looked
// at (an error page is a body like any other). Any failure gives "", and so does a body cut short
// (shorter than its Content-Length, or broken off) or not complete by the deadline. Blocks the
// caller: the client calls it on a worker thread (BackgroundTextRequest). stop, when given, may be
// set from another thread: the request then ends within about a second and gives "". Diagnostics go
// to stderr only when the environment variable QEV_DEBUG_HTTP is set.
std::string HttpGetText(const std::string& query, const std::string& path, const std::string& host,
                        const HttpTrust& trust = {}, const std::atomic<bool>* stop = nullptr);

} // namespace qev
