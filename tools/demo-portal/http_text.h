#pragma once
// Small text codecs for the demo portal's pages, feeds and logs.
#include <string>
#include <string_view>

namespace qev::portal {

// Safe inside HTML text and inside double- or single-quoted attribute values.
std::string HtmlEscape(std::string_view text);

// Percent-encodes everything but unreserved characters, for a query value inside a link.
std::string QueryValueEncode(std::string_view bytes);

// Decodes the path of a request as the client encodes file names: "+" is a blank and
// "%XX" a byte; a "%" without two hex digits stays as it is.
std::string DecodeRequestPath(std::string_view rawPath);

// A JSON string literal (quotes included) with "/" written as "\/", as the live feed does.
std::string JsonString(std::string_view text);

// The host name (without port) of a Host header, or `fallback` when the header is empty or
// holds anything but a plain name, IPv4 or bracketed IPv6 address: the name goes into links.
std::string HostNameFromHeader(std::string_view hostHeader, std::string_view fallback);

// The value of cookie `name` in a Cookie request header; empty when absent.
std::string CookieValue(std::string_view cookieHeader, std::string_view name);

// Whether an If-None-Match header names `etag` ("*" names any); entity tags compare weakly,
// as the header asks.
bool IfNoneMatchHits(std::string_view header, std::string_view etag);

// One log-safe line: control and non-ASCII bytes become \xHH, long text is cut.
std::string LogSafe(std::string_view text);

} // namespace qev::portal
