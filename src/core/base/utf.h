#pragma once
// UTF-8 / UTF-16 helpers. Core text is UTF-8; invalid input becomes U+FFFD, never a failure.
#include <string>
#include <string_view>

namespace qev {

// Replaces every invalid UTF-8 sequence with U+FFFD (one per maximal invalid subpart).
std::string SanitizeUtf8(std::string_view bytes);

// What DecodeUtf8 gives for bytes that are not UTF-8.
inline constexpr char32_t InvalidUtf8 = 0xFFFFFFFF;

// The code point at bytes[i], moving i past it. An invalid sequence gives InvalidUtf8 and
// moves i past its maximal invalid subpart (at least one byte).
char32_t DecodeUtf8(std::string_view bytes, std::size_t& i);

// UTF-16 code units of a UTF-8 text (invalid sequences become U+FFFD).
std::u16string Utf8ToUtf16(std::string_view bytes);

// Orders UTF-8 strings by their UTF-16 code units, as an ordinal wide-string compare would.
struct Utf16Less {
    using is_transparent = void;
    bool operator()(std::string_view a, std::string_view b) const;
};

} // namespace qev
