#include "core/layout/xml_text.h"

#include <algorithm>
#include <string>

#include "core/base/utf.h"

namespace qev {
namespace {

// An upper bound on the element nesting the XML library builds from text, whatever the
// bytes. A wrong guess here overflows the window thread's stack, so the scan trusts only
// what it can see: it keeps in step with the library's reading only where that reading is
// plain, and as soon as it cannot be sure where the library stands it stops lowering the
// count at all ("lost"), which leaves it counting every '<' that could open an element.
//
// In step means: where the library reads element content or a start tag, the scan does
// too. The library ends every construct where the scan does:
// - text: at the next '<', except that a character reference ("&#...;") is stepped over
//   to its ';' whatever lies between (or the parse stops);
// - comments at the first "-->", CDATA at the first "]]>", anything else starting "<!",
//   "<?" or '<' without a name after it at the first '>';
// - a start tag at the first '>' outside quoted values, where a quote outside a value
//   either opens one or stops the parse, and a value ends at its own quote (character
//   references included); "/>" closes the element at once;
// - an end tag "</name>" at its '>'.
// Declarations ("<?xml", any case) are read by the library with rules of their own; only
// the plain form (version, encoding or standalone = a quoted value without '<', '>', '&'
// or quotes) is followed, anything else makes the scan lost.
// Where the library gives up with an error it builds nothing more, so any count from
// there on is an upper bound too.
class NestingScan {
public:
    NestingScan(std::string_view text, int stopAbove) : text_(text), stopAbove_(stopAbove) {}

    int Run()
    {
        while (at_ < text_.size() && deepest_ <= stopAbove_) {
            if (lost_) {
                CountOpen();
            } else {
                switch (mode_) {
                case Mode::Content: Content(); break;
                case Mode::Tag: Tag(); break;
                case Mode::Value: Value(); break;
                }
            }
        }
        return deepest_;
    }

private:
    enum class Mode {
        Content, // text between tags, or the top level
        Tag,     // inside a start tag, outside a quoted value
        Value,   // inside a quoted attribute value
    };

    bool StartsWith(std::string_view prefix) const
    {
        return text_.substr(at_, prefix.size()) == prefix;
    }
    bool StartsWithNoCase(std::string_view prefix) const
    {
        if (text_.size() - at_ < prefix.size()) return false;
        for (std::size_t i = 0; i < prefix.size(); ++i) {
            char c = text_[at_ + i];
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
            if (c != prefix[i]) return false;
        }
        return true;
    }
    // Moves past the first end at or after at_ + header (to the end of the text if none).
    void SkipPast(std::size_t header, std::string_view end)
    {
        const auto found = text_.find(end, at_ + header);
        at_ = found == std::string_view::npos ? text_.size() : found + end.size();
    }
    void Open() { deepest_ = std::max(deepest_, ++depth_); }
    void Close()
    {
        if (depth_ > 0) --depth_;
    }
    // A name may start with an ASCII letter, '_' or any byte from 127 up.
    static bool StartsName(char c)
    {
        const auto u = static_cast<unsigned char>(c);
        return u >= 127 || (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || c == '_';
    }

    // Lost: every '<' that is not "</", "<?" or "<!" may open an element.
    void CountOpen()
    {
        at_ = text_.find('<', at_);
        if (at_ == std::string_view::npos) {
            at_ = text_.size();
            return;
        }
        ++at_;
        if (at_ < text_.size() && text_[at_] != '/' && text_[at_] != '?' && text_[at_] != '!')
            Open();
    }

    void Content()
    {
        const char c = text_[at_];
        if (c == '&' && StartsWith("&#")) {
            SkipPast(2, ";");
        } else if (c != '<') {
            ++at_;
        } else if (StartsWithNoCase("<?xml")) {
            Declaration();
        } else if (StartsWith("<!--")) {
            SkipPast(4, "-->");
        } else if (StartsWith("<![CDATA[")) {
            SkipPast(9, "]]>");
        } else if (StartsWith("</")) {
            Close();
            SkipPast(2, ">");
        } else if (at_ + 1 < text_.size() && StartsName(text_[at_ + 1])) {
            Open();
            at_ += 2;
            slash_ = false;
            mode_ = Mode::Tag;
        } else {
            SkipPast(1, ">"); // "<!", "<?" and anything else the library keeps unparsed
        }
    }

    void Tag()
    {
        const char c = text_[at_++];
        if (c == '"' || c == '\'') {
            quote_ = c;
            mode_ = Mode::Value;
        } else if (c == '>') {
            if (slash_) Close();
            mode_ = Mode::Content;
        }
        slash_ = c == '/';
    }

    void Value()
    {
        if (text_[at_] == quote_) {
            ++at_;
            slash_ = false;
            mode_ = Mode::Tag;
        } else if (StartsWith("&#")) {
            SkipPast(2, ";");
        } else {
            ++at_;
        }
    }

    // From "<?xml": the plain form is stepped over to its '>', anything else makes the scan
    // lost.
    void Declaration()
    {
        std::size_t at = at_ + 5;
        const auto space = [&] {
            const std::size_t from = at;
            while (at < text_.size() && (text_[at] == ' ' || text_[at] == '\t' ||
                                         text_[at] == '\n' || text_[at] == '\r'))
                ++at;
            return at > from;
        };
        for (;;) {
            const bool spaced = space();
            if (text_.substr(at, 1) == ">" || text_.substr(at, 2) == "?>") {
                at_ = text_.find('>', at) + 1;
                return;
            }
            std::size_t name = 0;
            for (const std::string_view keyword : {"version=", "encoding=", "standalone="})
                if (text_.substr(at, keyword.size()) == keyword) name = keyword.size();
            if (!spaced || name == 0 || at + name >= text_.size()) break;
            at += name;
            const char quote = text_[at];
            if (quote != '"' && quote != '\'') break;
            const auto end = text_.find_first_of(std::string{quote} + "<>&\"'", at + 1);
            if (end == std::string_view::npos || text_[end] != quote) break;
            at = end + 1;
        }
        lost_ = true;
        at_ += 1;
    }

    std::string_view text_;
    int stopAbove_;
    std::size_t at_ = 0;
    Mode mode_ = Mode::Content;
    char quote_ = '"';
    bool slash_ = false; // the last byte of a start tag was a '/' outside a value
    bool lost_ = false;
    int depth_ = 0;
    int deepest_ = 0;
};

} // namespace

int XmlNestingDepth(std::string_view text, int stopAbove)
{
    return NestingScan(text, stopAbove).Run();
}

namespace {

// The depth is measured on the clean copy the library gets, where no multi-byte character
// hides a quote or a '<'.
XmlRefusal CheckCleanCopy(std::string_view original, std::string_view copy)
{
    if (original.size() > MaxXmlBytes) return XmlRefusal::TooLarge;
    if (XmlNestingDepth(copy, MaxXmlDepth) > MaxXmlDepth) return XmlRefusal::TooDeep;
    return XmlRefusal::None;
}

} // namespace

XmlRefusal CheckXmlBounds(std::string_view text)
{
    if (text.size() > MaxXmlBytes) return XmlRefusal::TooLarge;
    return CheckCleanCopy(text, SanitizeUtf8(text));
}

std::string XmlRefusalText(std::string_view what, XmlRefusal refusal)
{
    std::string line(what);
    switch (refusal) {
    case XmlRefusal::None: return line + " accepted";
    case XmlRefusal::TooLarge:
        return line + " refused: larger than " + std::to_string(MaxXmlBytes) + " bytes";
    case XmlRefusal::TooDeep:
        return line + " refused: nested deeper than " + std::to_string(MaxXmlDepth) + " levels";
    }
    return line;
}

XmlRefusal ParseXmlText(TiXmlDocument& xml, std::string_view text)
{
    if (text.size() > MaxXmlBytes) return XmlRefusal::TooLarge;
    constexpr std::size_t Spare = 8; // longer than any step the library takes at once
    std::string copy = SanitizeUtf8(text);
    if (const XmlRefusal refusal = CheckCleanCopy(text, copy); refusal != XmlRefusal::None)
        return refusal;
    copy.append(Spare, '\0');
    xml.Parse(copy.c_str(), nullptr, TIXML_DEFAULT_ENCODING);
    return XmlRefusal::None;
}

} // namespace qev
