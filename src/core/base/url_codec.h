#pragma once
// Form-style URL encoding of byte strings, used for file names in object paths, and the
// escaping that makes a request target sendable.
#include <string>
#include <string_view>

namespace qev {

// ASCII letters, digits, '-', '.' and '_' stay; a white-space byte (space, \t, \n, \v, \f,
// \r) becomes '+'; every other byte becomes "%XX" with upper-case hex digits.
std::string UrlEncode(std::string_view bytes);

// One path segment as a request path carries it: the bytes RFC 3986 leaves unreserved
// (ASCII letters, digits, '-', '.', '_', '~') stay, every other byte becomes "%XX" (a blank
// "%20", a '+' "%2B"), so any server reads back the name it stores.
std::string EncodePathSegment(std::string_view bytes);

// A host as a layout or setting writes it, maybe with its scheme: "https://h:p" gives "h:p"
// and https true; "http://h" gives "h"; anything else (no scheme) is returned as it is,
// https false. The scheme is matched in any case.
std::string_view StripHttpScheme(std::string_view host, bool& https);

// "%" and two hex digits (either case) become that byte, '+' becomes a space, every other
// byte is copied (including a '%' that is not followed by two hex digits).
std::string UrlDecode(std::string_view bytes);

// Makes a path and query sendable as they are: a blank becomes "%20", '#' "%23", and control
// bytes (below 0x20, 0x7F) and bytes from 0x80 "%XX"; every other byte stays as given, so
// '&', '=', '%', '?' and '/' keep their meaning and a server reads the values it was sent.
std::string EscapeRequestTarget(std::string_view pathAndQuery);

} // namespace qev
