#include "core/base/utf.h"

namespace qev {
namespace {

// Decodes one code point at bytes[i]; advances i. Invalid sequences yield U+FFFD and
// consume the maximal invalid subpart (at least one byte).
char32_t DecodeOne(std::string_view s, std::size_t& i)
{
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char b0 = byte(i);
    if (b0 < 0x80) {
        ++i;
        return b0;
    }
    int need = 0;
    char32_t cp = 0;
    unsigned char lo = 0x80, hi = 0xBF;
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        need = 1;
        cp = b0 & 0x1F;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        need = 2;
        cp = b0 & 0x0F;
        if (b0 == 0xE0) lo = 0xA0;
        if (b0 == 0xED) hi = 0x9F;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        need = 3;
        cp = b0 & 0x07;
        if (b0 == 0xF0) lo = 0x90;
        if (b0 == 0xF4) hi = 0x8F;
    } else {
        ++i;
        return 0xFFFD;
    }
    std::size_t k = i + 1;
    for (int n = 0; n < need; ++n, ++k) {
        if (k >= s.size()) {
            i = k;
            return 0xFFFD;
        }
        const unsigned char b = byte(k);
        if (b < lo || b > hi) {
            i = k;
            return 0xFFFD;
        }
        lo = 0x80;
        hi = 0xBF;
        cp = (cp << 6) | (b & 0x3F);
    }
    i = k;
    return cp;
}

void AppendUtf8(std::string& out, char32_t cp)
{
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

void AppendUtf16(std::u16string& out, char32_t cp)
{
    if (cp < 0x10000) {
        out += static_cast<char16_t>(cp);
    } else {
        cp -= 0x10000;
        out += static_cast<char16_t>(0xD800 + (cp >> 10));
        out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
    }
}

} // namespace

std::string SanitizeUtf8(std::string_view bytes)
{
    std::string out;
    out.reserve(bytes.size());
    for (std::size_t i = 0; i < bytes.size();) {
        const std::size_t start = i;
        const char32_t cp = DecodeOne(bytes, i);
        if (cp == 0xFFFD && !(i - start == 3 && bytes.substr(start, 3) == "\xEF\xBF\xBD"))
            AppendUtf8(out, 0xFFFD);
        else
            out.append(bytes.substr(start, i - start));
    }
    return out;
}

char32_t DecodeUtf8(std::string_view bytes, std::size_t& i)
{
    const std::size_t start = i;
    const char32_t cp = DecodeOne(bytes, i);
    return cp == 0xFFFD && bytes.substr(start, i - start) != "\xEF\xBF\xBD" ? InvalidUtf8 : cp;
}

std::u16string Utf8ToUtf16(std::string_view bytes)
{
    std::u16string out;
    out.reserve(bytes.size());
    for (std::size_t i = 0; i < bytes.size();) AppendUtf16(out, DecodeOne(bytes, i));
    return out;
}

bool Utf16Less::operator()(std::string_view a, std::string_view b) const
{
    std::size_t i = 0, j = 0;
    std::u16string ua, ub;
    while (i < a.size() && j < b.size()) {
        ua.clear();
        ub.clear();
        AppendUtf16(ua, DecodeOne(a, i));
        AppendUtf16(ub, DecodeOne(b, j));
        // Compare unit by unit; a supplementary character contributes two units.
        for (std::size_t k = 0; k < ua.size() && k < ub.size(); ++k) {
            if (ua[k] != ub[k]) return ua[k] < ub[k];
        }
        // Equal first units imply equal lengths: a decoded BMP unit is never a surrogate.
        if (ua.size() != ub.size()) return ua.size() < ub.size();
    }
    return i >= a.size() && j < b.size();
}

} // namespace qev
