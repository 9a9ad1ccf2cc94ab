#include "layout/xml_text.h"

#include <algorithm>
#include <string>

#include "base/utf.h"

namespace qev {
namespace {

// The nesting scan below follows the XML library's own reading closely enough that it never
// counts less than the library reaches: wherever the library would stop with an error the
// scan may stop too, since the library recurses no further from there.
//
// The library reads byte-order marks as white space only in UTF-8 mode: from the start
// when the text begins with one, else only after a top-level declaration that names UTF-8
// (or no encoding), else never. Which of the three applies is measured, not decided: the
// deepest of the three scans is taken.
enum class MarkAsSpace { Always, AfterDeclaration, Never };

class NestingScan {
public:
    NestingScan(std::string_view text, int stopAbove, MarkAsSpace marks)
        : text_(text), stopAbove_(stopAbove), marks_(marks),
          markIsSpace_(marks == MarkAsSpace::Always)
    {
    }

    int Run()
    {
        while ((at_ = text_.find('<', at_)) != std::string_view::npos) {
            if (StartsWithNoCase("<?xml")) {
                const bool topLevel = depth_ == 0;
                at_ += 5;
                if (!Declaration()) break;
                if (topLevel && marks_ == MarkAsSpace::AfterDeclaration) markIsSpace_ = true;
            } else if (StartsWith("<!--")) {
                SkipPast(4, "-->");
            } else if (StartsWith("<![CDATA[")) {
                SkipPast(9, "]]>");
            } else if (StartsWith("</")) {
                if (depth_ > 0) --depth_;
                SkipPast(2, ">");
            } else if (at_ + 1 < text_.size() && IsNameStart(text_[at_ + 1])) {
                ++at_;
                if (!Element()) break;
                if (deepest_ > stopAbove_) break;
            } else {
                SkipPast(1, ">"); // "<!", "<?" and anything else the library keeps unparsed
            }
        }
        return deepest_;
    }

private:
    static bool IsSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
    static bool IsAlpha(char c)
    {
        const auto u = static_cast<unsigned char>(c);
        return u >= 127 || (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z');
    }
    static bool IsNameStart(char c) { return IsAlpha(c) || c == '_'; }
    static bool IsNameChar(char c)
    {
        return IsAlpha(c) || (c >= '0' && c <= '9') || c == '_' || c == '-' || c == '.' || c == ':';
    }

    bool AtEnd() const { return at_ >= text_.size(); }
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
    // Steps over a header of that length, then past the first end after it.
    void SkipPast(std::size_t header, std::string_view end)
    {
        const auto found = text_.find(end, at_ + header);
        at_ = found == std::string_view::npos ? text_.size() : found + end.size();
    }
    // White space as the library skips it, byte-order marks included in UTF-8 mode.
    void SkipSpace()
    {
        while (!AtEnd()) {
            if (markIsSpace_ && (StartsWith("\xEF\xBB\xBF") || StartsWith("\xEF\xBF\xBE") ||
                                 StartsWith("\xEF\xBF\xBF"))) {
                at_ += 3;
            } else if (IsSpace(text_[at_])) {
                ++at_;
            } else {
                break;
            }
        }
    }
    void SkipName()
    {
        while (!AtEnd() && IsNameChar(text_[at_])) ++at_;
    }

    // name = "value", name = 'value' or name = value; false where the library gives up.
    bool Attribute()
    {
        if (AtEnd() || !IsNameStart(text_[at_])) return false;
        SkipName();
        SkipSpace();
        if (AtEnd() || text_[at_] != '=') return false;
        ++at_;
        SkipSpace();
        if (AtEnd()) return false;
        const char quote = text_[at_];
        if (quote == '"' || quote == '\'') {
            const auto close = text_.find(quote, at_ + 1);
            if (close == std::string_view::npos) return false;
            at_ = close + 1;
            return true;
        }
        for (; !AtEnd() && !IsSpace(text_[at_]) && text_[at_] != '/' && text_[at_] != '>'; ++at_)
            if (text_[at_] == '"' || text_[at_] == '\'') return false;
        return true;
    }

    // From just after "<": the name, the attributes and "/>" or ">".
    bool Element()
    {
        // The library keeps an element it gave up on, so it counts from its name on.
        deepest_ = std::max(deepest_, depth_ + 1);
        SkipName();
        for (;;) {
            SkipSpace();
            if (AtEnd()) return false;
            if (text_[at_] == '/') {
                if (at_ + 1 >= text_.size() || text_[at_ + 1] != '>') return false;
                at_ += 2;
                return true;
            }
            if (text_[at_] == '>') {
                ++at_;
                deepest_ = std::max(deepest_, ++depth_);
                return true;
            }
            if (!Attribute()) return false;
        }
    }

    // From just after "<?xml": only version, encoding and standalone are read as
    // attributes (quoted values hide '>'); anything else is stepped over up to white
    // space or '>'.
    bool Declaration()
    {
        while (!AtEnd()) {
            if (text_[at_] == '>') {
                ++at_;
                return true;
            }
            SkipSpace();
            if (StartsWithNoCase("version") || StartsWithNoCase("encoding") ||
                StartsWithNoCase("standalone")) {
                if (!Attribute()) return false;
            } else {
                while (!AtEnd() && text_[at_] != '>' && !IsSpace(text_[at_])) ++at_;
            }
        }
        return false;
    }

    std::string_view text_;
    int stopAbove_;
    MarkAsSpace marks_;
    bool markIsSpace_;
    std::size_t at_ = 0;
    int depth_ = 0;
    int deepest_ = 0;
};

} // namespace

int XmlNestingDepth(std::string_view text, int stopAbove)
{
    int deepest = 0;
    for (const MarkAsSpace marks :
         {MarkAsSpace::Always, MarkAsSpace::AfterDeclaration, MarkAsSpace::Never}) {
        deepest = std::max(deepest, NestingScan(text, stopAbove, marks).Run());
        if (deepest > stopAbove) break;
    }
    return deepest;
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
