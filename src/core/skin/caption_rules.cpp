#include "core/skin/caption_rules.h"

#include <algorithm>
#include <cstdint>
#include <limits>

#include "core/base/utf.h"

namespace qev {
namespace {

int Saturate(std::int64_t value)
{
    return static_cast<int>(std::clamp<std::int64_t>(value, std::numeric_limits<int>::min(),
                                                     std::numeric_limits<int>::max()));
}

// The one old release whose caption pieces are drawn taller.
constexpr unsigned TallCaptionMajor = 6, TallCaptionMinor = 1;
// Images of the maximise button while maximised are three ids below the restored ones.
constexpr int MaximisedImageOffset = 3;
// First action code of the window buttons; only tabs (below it) show a selection.
constexpr int FirstWindowAction = 1000;
// The caption text sits one pixel below the button's top.
constexpr int CaptionTextDrop = 1;

constexpr std::string_view Ellipsis = "\xE2\x80\xA6";

bool IsLineBreak(char32_t c)
{
    return c == '\n' || c == '\r' || c == '\t' || c == 0x85 || c == 0x2028 || c == 0x2029;
}

bool IsControlOrBidi(char32_t c)
{
    return c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0x61C || c == 0x200E || c == 0x200F ||
           (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069);
}

void AppendUtf8(std::string& out, char32_t c)
{
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// Room of the text that starts at x on the rows of box, in a frame width wide.
double TextRoom(const std::vector<ButtonItem>& buttons, const ButtonItem& own, int width,
                const EdgeRect& box, double x)
{
    double end = std::min(x + CaptionTextWidth, static_cast<double>(width) - FrameBorder);
    for (const ButtonItem& other : buttons) {
        if (&other == &own) continue;
        const EdgeRect r = PlaceCaptionButton(other, width);
        if (r.right <= x || r.top >= box.bottom || r.bottom <= box.top) continue;
        end = std::min(end, static_cast<double>(r.left) - CaptionTextGap);
    }
    return std::max(0.0, end - x);
}

} // namespace

std::string CaptionTitleText(std::string_view title)
{
    std::string out;
    out.reserve(title.size());
    for (std::size_t i = 0; i < title.size();) {
        const bool crlf = title[i] == '\r' && i + 1 < title.size() && title[i + 1] == '\n';
        const char32_t c = DecodeUtf8(title, i);
        if (crlf) ++i;
        if (c == InvalidUtf8)
            AppendUtf8(out, 0xFFFD);
        else if (IsLineBreak(c))
            out += ' ';
        else if (!IsControlOrBidi(c))
            AppendUtf8(out, c);
    }
    return out;
}

std::string ElideToWidth(std::string_view text, double room, const TextWidth& width)
{
    if (width(text) <= room) return std::string(text);
    if (width(Ellipsis) > room) return {};
    // Where each character starts; the widths of the starts grow with their length.
    std::vector<std::size_t> starts;
    for (std::size_t i = 0; i < text.size();) {
        starts.push_back(i);
        DecodeUtf8(text, i);
    }
    const auto cut = [&](std::size_t characters) {
        return std::string(
                   text.substr(0, characters < starts.size() ? starts[characters] : text.size())) +
               std::string(Ellipsis);
    };
    std::size_t fits = 0, tooLong = starts.size();
    while (tooLong - fits > 1) {
        const std::size_t middle = fits + (tooLong - fits) / 2;
        if (width(cut(middle)) <= room)
            fits = middle;
        else
            tooLong = middle;
    }
    return cut(fits);
}

bool IsCaptionAction(int code)
{
    switch (code) {
    case ActionGameTab:
    case ActionHomeTab:
    case ActionForumTab:
    case ActionRefresh:
    case ActionServerList:
    case ActionSwitchAccount:
    case ActionMenu:
    case ActionMinimize:
    case ActionClose:
    case ActionMaximize: return true;
    default: return false;
    }
}

EdgeRect PlaceCaptionButton(const ButtonItem& item, int windowWidth)
{
    EdgeRect rect{item.left, item.top, item.right, item.bottom};
    if (item.flag == PlaceFromRightEdge) {
        const std::int64_t shift =
            static_cast<std::int64_t>(windowWidth) - 2 * static_cast<std::int64_t>(item.left);
        rect.left = Saturate(item.left + shift);
        rect.right = Saturate(item.right + shift);
    }
    return rect;
}

int HitTestCaption(const std::vector<ButtonItem>& buttons, int windowWidth, int x, int y)
{
    for (std::size_t i = 0; i < buttons.size(); ++i) {
        const EdgeRect r = PlaceCaptionButton(buttons[i], windowWidth);
        if (x >= r.left && x < r.right && y >= r.top && y < r.bottom) return static_cast<int>(i);
    }
    return -1;
}

int CaptionActionAt(const std::vector<ButtonItem>& buttons, int windowWidth, int x, int y)
{
    const int hit = HitTestCaption(buttons, windowWidth, x, y);
    return hit < 0 ? ActionNone : buttons[static_cast<std::size_t>(hit)].action;
}

double CaptionPieceHeight(const OsVersion& os, int pieceHeight)
{
    if (os.platform == PlatformNt && os.major == TallCaptionMajor && os.minor == TallCaptionMinor)
        return TallCaptionPieceHeight;
    return pieceHeight;
}

CaptionLook ChooseCaptionLook(const ButtonItem& item, bool cursorInside, bool primaryDown,
                              bool maximised, std::string_view activeTitle,
                              std::string_view gameTitle)
{
    CaptionLook look;
    look.image = cursorInside ? (primaryDown ? item.pressed : item.hover) : item.normal;
    if (item.action < FirstWindowAction) {
        if (activeTitle == ForumTabTitle) {
            if (item.action == ActionForumTab) look.image = item.pressed;
        } else if (activeTitle == HomeTabTitle) {
            if (item.action == ActionHomeTab) look.image = item.pressed;
        } else if (item.action == ActionGameTab) {
            look.image = item.pressed;
            look.text = " " + std::string(gameTitle);
        }
    }
    if (item.action == ActionMaximize && maximised) look.image -= MaximisedImageOffset;
    return look;
}

std::string CaptionButtonName(int action, bool maximised, std::string_view gameTitle)
{
    switch (action) {
    case ActionGameTab: {
        const std::string title = CaptionTitleText(gameTitle);
        const auto first = title.find_first_not_of(' ');
        if (first == std::string::npos) return "Game";
        const auto last = title.find_last_not_of(' ');
        return title.substr(first, last - first + 1);
    }
    case ActionHomeTab: return "Homepage";
    case ActionForumTab: return "Forum";
    case ActionRefresh: return "Refresh";
    case ActionServerList: return "Return to Server List";
    case ActionSwitchAccount: return "Switch Account";
    case ActionMenu: return "Menu";
    case ActionMinimize: return "Minimize";
    case ActionClose: return "Close";
    case ActionMaximize: return maximised ? "Restore" : "Maximize";
    default: return {};
    }
}

std::vector<FrameDrawStep> PlanFramePaint(const FramePaintInput& in,
                                          const ImageSizeLookup& imageSize)
{
    std::vector<FrameDrawStep> steps;
    const auto sizeOf = [&](int id) { return imageSize ? imageSize(id) : std::nullopt; };
    const auto image = [&steps](int id, double x, double y, double w, double h) {
        steps.push_back(FrameDrawStep{FrameDrawStep::Image, id, x, y, w, h, {}});
    };

    // Borders, each tile at its natural size. A tile without extent would never advance.
    if (const auto side = sizeOf(SideBorderImage); side && side->second > 0) {
        for (int y = 0; y < in.height; y += side->second) {
            image(SideBorderImage, 0, y, side->first, side->second);
            image(SideBorderImage, in.width - side->first, y, side->first, side->second);
        }
    }
    if (const auto bottom = sizeOf(BottomBorderImage); bottom && bottom->first > 0) {
        for (int x = 0; x < in.width; x += bottom->first)
            image(BottomBorderImage, x, in.height - bottom->second, bottom->first, bottom->second);
    }
    if (!in.buttons) return steps;

    // Caption pieces, each whole at its natural width, at the caption height.
    int x = 0;
    if (const auto left = sizeOf(CaptionLeftImage)) {
        image(CaptionLeftImage, 0, 0, left->first, CaptionPieceHeight(in.os, left->second));
        x = left->first;
    }
    if (const auto middle = sizeOf(CaptionMiddleImage); middle && middle->first > 0) {
        for (; x < in.width; x += middle->first)
            image(CaptionMiddleImage, x, 0, middle->first,
                  CaptionPieceHeight(in.os, middle->second));
    }
    if (const auto right = sizeOf(CaptionRightImage))
        image(CaptionRightImage, in.width - right->first, 0, right->first,
              CaptionPieceHeight(in.os, right->second));

    // Buttons in document order, each with its caption text after its image.
    for (const ButtonItem& item : *in.buttons) {
        const EdgeRect r = PlaceCaptionButton(item, in.width);
        const bool inside = in.cursorX >= r.left && in.cursorX < r.right && in.cursorY >= r.top &&
                            in.cursorY < r.bottom;
        const CaptionLook look = ChooseCaptionLook(item, inside, in.primaryDown, in.maximised,
                                                   in.activeTitle, in.gameTitle);
        const auto size = sizeOf(look.image);
        if (!size) continue;
        image(look.image, r.left, r.top, size->first, size->second);
        if (look.text.empty()) continue;
        const double textX = static_cast<double>(r.left) + size->first;
        std::string text = CaptionTitleText(look.text);
        if (in.textWidth)
            text =
                ElideToWidth(text, TextRoom(*in.buttons, item, in.width, r, textX), in.textWidth);
        steps.push_back(FrameDrawStep{FrameDrawStep::Text, 0, textX,
                                      static_cast<double>(r.top) + CaptionTextDrop,
                                      CaptionTextWidth, static_cast<double>(size->second), text});
    }
    return steps;
}

} // namespace qev
