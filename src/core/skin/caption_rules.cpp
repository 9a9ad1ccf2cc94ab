#include "core/skin/caption_rules.h"

#include <algorithm>
#include <cstdint>
#include <limits>

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

} // namespace

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
        const auto first = gameTitle.find_first_not_of(' ');
        if (first == std::string_view::npos) return "Game";
        const auto last = gameTitle.find_last_not_of(' ');
        return std::string(gameTitle.substr(first, last - first + 1));
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
        if (!look.text.empty())
            steps.push_back(
                FrameDrawStep{FrameDrawStep::Text, 0, static_cast<double>(r.left) + size->first,
                              static_cast<double>(r.top) + CaptionTextDrop, CaptionTextWidth,
                              static_cast<double>(size->second), look.text});
    }
    return steps;
}

} // namespace qev
