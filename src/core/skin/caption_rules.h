#pragma once
// Window-free rules of the main frame's own caption: where a caption button sits, which
// button a point hits, which image (and text) a button shows, how tall the caption pieces
// are drawn, and the whole list of drawing steps for one paint of the frame's borders and
// caption. The window only carries the steps out and feeds in the cursor and its state.
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "core/layout/layout.h"
#include "core/platform/os_version.h"
#include "core/skin/skin_rules.h"

namespace qev {

// The frame's own borders: the caption strip sits above the client area, on top of the
// top border; sides and bottom are one border wide.
inline constexpr int FrameBorder = 4;
inline constexpr int CaptionStrip = 26;
inline constexpr int FrameTopMargin = CaptionStrip + FrameBorder; // 30
// Smallest size the user can give the frame.
inline constexpr int FrameMinWidth = 1000;
inline constexpr int FrameMinHeight = 700;

// Image ids of the frame's pieces.
enum FrameImage : int {
    CaptionLeftImage = 10001,
    CaptionMiddleImage = 10002, // repeated to the right
    CaptionRightImage = 10003,
    SideBorderImage = 10004,   // repeated downwards on both sides
    BottomBorderImage = 10005, // repeated rightwards
};

// The action codes a caption button may carry (the message WM_CAPTION_ACTION's payload).
enum CaptionAction : int {
    ActionNone = 0,
    ActionGameTab = 101,       // OpenPane("game")
    ActionHomeTab = 102,       // OpenPane("homepage")
    ActionForumTab = 103,      // OpenPane("bbs")
    ActionRefresh = 104,       // as command 32772
    ActionServerList = 105,    // as command 32776
    ActionSwitchAccount = 106, // as command 32775
    ActionMenu = 107,          // popup menu 222
    ActionMinimize = 1001,
    ActionClose = 1002,
    ActionMaximize = 1003, // maximise, or restore when maximised
};
// The private message a caption click posts to the frame itself.
inline constexpr int WM_CAPTION_ACTION = 0x8003;
// True for the codes above (except ActionNone); any other code does nothing.
bool IsCaptionAction(int code);

// Commands of the caption menu (menu 222).
enum FrameCommand : int {
    CommandRefresh = 32772,
    CommandSwitchAccount = 32775,
    CommandServerList = 32776,
};
inline constexpr int CaptionMenuId = 222;
// The popup menu opens this far right of and below the cursor, right edge at that x.
inline constexpr int CaptionMenuOffsetX = 10;
inline constexpr int CaptionMenuOffsetY = 16;

// Flag of a button whose x counts from the window's right edge to its left edge.
inline constexpr int PlaceFromRightEdge = 2;

// The button's rectangle in a window windowWidth wide: with flag 2 it moves right by
// (windowWidth - 2 * left), any other flag leaves it. Sums saturate at the 32-bit range.
EdgeRect PlaceCaptionButton(const ButtonItem& item, int windowWidth);

// Index of the first button (document order) whose placed rectangle contains (x, y),
// right and bottom edges excluded; -1 when none does.
int HitTestCaption(const std::vector<ButtonItem>& buttons, int windowWidth, int x, int y);
// The action of that button, ActionNone when none is hit.
int CaptionActionAt(const std::vector<ButtonItem>& buttons, int windowWidth, int x, int y);

// One old release of one system draws the caption pieces taller than they are.
inline constexpr unsigned PlatformNt = 2;
inline constexpr double TallCaptionPieceHeight = 32.5;
// Height the caption pieces are drawn at: 32.5 on platform 2 version 6.1, else their own.
double CaptionPieceHeight(const OsVersion& os, int pieceHeight);

// What a caption button looks like at one paint.
struct CaptionLook {
    int image = 0;
    std::string text; // drawn after the image when not empty
    bool operator==(const CaptionLook&) const = default;
};
// Titles of the pages the caption tabs open (the documents are named after them).
inline constexpr char GameTabTitle[] = "game";
inline constexpr char HomeTabTitle[] = "homepage";
inline constexpr char ForumTabTitle[] = "bbs";
// Hover or pressed by the cursor; then, for actions below 1000, the selected tab by the
// active document's title ("bbs" -> 103, "homepage" -> 102, anything else -> 101, which also
// gets " " + gameTitle as its text); then, for 1003 while maximised, the image id minus 3.
CaptionLook ChooseCaptionLook(const ButtonItem& item, bool cursorInside, bool primaryDown,
                              bool maximised, std::string_view activeTitle,
                              std::string_view gameTitle);

// What a screen reader calls a caption button: the window buttons as the desktop names
// them ("Minimize", "Close", "Maximize", or "Restore" while maximised; "Menu"), the game tab
// by the text it draws (the game title, "Game" without one), the other tabs and commands by
// their page or menu item. Empty for a code without an action.
std::string CaptionButtonName(int action, bool maximised, std::string_view gameTitle);

// A page-given title as the caption draws it: one line (CR LF, CR, LF, NEL, U+2028, U+2029
// and tabs each become one blank), without the other controls (C0, DEL, C1) and bidi
// controls (U+061C, U+200E, U+200F, U+202A..U+202E, U+2066..U+2069), which would break the
// caption or turn the text around over the buttons. Bytes that are not UTF-8 become U+FFFD.
std::string CaptionTitleText(std::string_view title);

// How wide a text draws, in pixels (the window's font metrics).
using TextWidth = std::function<double(std::string_view)>;
// text when width says it fits in room; otherwise its longest start of whole characters
// followed by "\u2026" that fits; empty when not even "\u2026" fits.
std::string ElideToWidth(std::string_view text, double room, const TextWidth& width);

// Blank left between a caption text and the next button to its right.
inline constexpr int CaptionTextGap = 4;

// Everything one paint of the frame needs to know.
struct FramePaintInput {
    int width = 0, height = 0;
    // Buttons of the current game's <gamemain> layout; null when there is no current game.
    const std::vector<ButtonItem>* buttons = nullptr;
    int cursorX = -1, cursorY = -1; // window coordinates
    bool primaryDown = false;
    bool maximised = false;
    std::string activeTitle, gameTitle;
    OsVersion os;
    // Measures caption texts; without it the texts are not elided.
    TextWidth textWidth;
};

// One drawing step: an image at (x, y) drawn w x h (its natural size except the caption
// pieces on the tall-caption system), or a text in the box (x, y, w, h), aligned left and
// bottom, not clipped.
struct FrameDrawStep {
    enum Kind { Image, Text } kind = Image;
    int image = 0;
    double x = 0, y = 0, w = 0, h = 0;
    std::string text;
};
// Text box of a caption button: this wide, starting right of the button's image.
inline constexpr int CaptionTextWidth = 500;
// Drawing steps of the borders and, with a current game, the caption pieces and buttons,
// in painting order. Images the lookup does not know are left out (and so is the text of
// a button whose image is missing). A button's text is CaptionTitleText of it, elided to
// its room: the text box, up to CaptionTextGap before the first other button to its right
// on the same rows, and inside the frame's right border.
std::vector<FrameDrawStep> PlanFramePaint(const FramePaintInput& input,
                                          const ImageSizeLookup& imageSize);

} // namespace qev
