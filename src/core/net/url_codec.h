#pragma once
// Form-style URL encoding of byte strings, used for file names in object paths.
#include <string>
#include <string_view>

namespace qev {

// ASCII letters, digits, '-', '.' and '_' stay; a white-space byte (space, \t, \n, \v, \f,
// \r) becomes '+'; every other byte becomes "%XX" with upper-case hex digits.
std::string UrlEncode(std::string_view bytes);

// "%" and two hex digits (either case) become that byte, '+' becomes a space, every other
// byte is copied (including a '%' that is not followed by two hex digits).
std::string UrlDecode(std::string_view bytes);

} // namespace qev
