// The main frame's caption rules: button placement, hit-testing, image choice, caption
// height and the drawing steps of one paint.
#include <gtest/gtest.h>

#include <climits>
#include <map>

#include "core/base/utf.h"
#include "core/skin/caption_rules.h"

namespace {

using qev::ButtonItem;
using qev::EdgeRect;
using qev::FrameDrawStep;

ButtonItem Button(int x, int y, int w, int h, int normal, int hover, int pressed, int action,
                  int flag)
{
    return ButtonItem{x, y, x + w, y + h, normal, hover, pressed, action, flag};
}

// The built-in <gamemain> buttons, in document order.
const std::vector<ButtonItem> DefaultButtons = {
    Button(64, 5, 20, 20, 1040, 1042, 1041, 1001, 2),
    Button(24, 5, 20, 20, 1030, 1032, 1031, 1002, 2),
    Button(44, 5, 20, 20, 1053, 1055, 1054, 1003, 2),
    Button(84, 5, 20, 20, 1060, 1062, 1061, 107, 2),
    Button(4, 7, 88, 17, 1120, 1120, 1120, 101, 0),
};

// Sizes of the built-in pieces (the images the layouts assume).
qev::ImageSizeLookup BuiltInSizes(std::map<int, std::pair<int, int>> sizes = {
                                      {10001, {94, 30}}, {10002, {400, 30}}, {10003, {94, 30}},
                                      {10004, {4, 120}}, {10005, {104, 4}},  {1030, {20, 20}},
                                      {1031, {20, 20}},  {1032, {20, 20}},   {1040, {20, 20}},
                                      {1041, {20, 20}},  {1042, {20, 20}},   {1050, {20, 20}},
                                      {1051, {20, 20}},  {1052, {20, 20}},   {1053, {20, 20}},
                                      {1054, {20, 20}},  {1055, {20, 20}},   {1060, {20, 20}},
                                      {1061, {20, 20}},  {1062, {20, 20}},   {1120, {143, 16}},
                                  })
{
    return [sizes](int id) -> std::optional<std::pair<int, int>> {
        const auto it = sizes.find(id);
        if (it == sizes.end()) return std::nullopt;
        return it->second;
    };
}

TEST(CaptionPlacement, FlagTwoCountsFromTheRightEdge)
{
    struct Case {
        const char* name;
        ButtonItem item;
        int width;
        EdgeRect expected;
    };
    const Case cases[] = {
        {"x 24 on 1000", Button(24, 5, 20, 20, 0, 0, 0, 1002, 2), 1000, {976, 5, 996, 25}},
        {"close on 1920", DefaultButtons[1], 1920, {1896, 5, 1916, 25}},
        {"menu on 1024", DefaultButtons[3], 1024, {940, 5, 960, 25}},
        {"flag 0 stays", DefaultButtons[4], 1920, {4, 7, 92, 24}},
        {"flag 1 stays", Button(24, 5, 20, 20, 0, 0, 0, 1002, 1), 1000, {24, 5, 44, 25}},
        {"flag 3 stays", Button(24, 5, 20, 20, 0, 0, 0, 1002, 3), 1000, {24, 5, 44, 25}},
        {"y never moves", Button(24, 300, 20, 20, 0, 0, 0, 1, 2), 500, {476, 300, 496, 320}},
        {"huge x saturates",
         Button(INT_MIN + 10, 0, 20, 20, 0, 0, 0, 1, 2),
         INT_MAX,
         {INT_MAX, 0, INT_MAX, 20}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(qev::PlaceCaptionButton(c.item, c.width), c.expected) << c.name;
}

TEST(CaptionHitTest, FirstPlacedRectangleContainingThePointWins)
{
    // Two overlapping buttons: the first in document order takes the overlap.
    const std::vector<ButtonItem> overlapping = {
        Button(10, 0, 30, 20, 0, 0, 0, 7, 0),
        Button(20, 0, 30, 20, 0, 0, 0, 8, 0),
    };
    struct Case {
        const char* name;
        const std::vector<ButtonItem>* buttons;
        int width, x, y, index, action;
    };
    const Case cases[] = {
        {"close", &DefaultButtons, 1000, 980, 10, 1, 1002},
        {"minimise", &DefaultButtons, 1000, 936, 5, 0, 1001},
        {"maximise", &DefaultButtons, 1000, 956, 24, 2, 1003},
        {"menu", &DefaultButtons, 1000, 916, 6, 3, 107},
        {"game tab", &DefaultButtons, 1000, 4, 7, 4, 101},
        {"right edge excluded", &DefaultButtons, 1000, 996, 10, -1, 0},
        {"bottom edge excluded", &DefaultButtons, 1000, 980, 25, -1, 0},
        {"caption elsewhere", &DefaultButtons, 1000, 500, 10, -1, 0},
        {"border", &DefaultButtons, 1000, 2, 400, -1, 0},
        {"overlap goes to the first", &overlapping, 100, 25, 5, 0, 7},
        {"past the first", &overlapping, 100, 45, 5, 1, 8},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(qev::HitTestCaption(*c.buttons, c.width, c.x, c.y), c.index) << c.name;
        EXPECT_EQ(qev::CaptionActionAt(*c.buttons, c.width, c.x, c.y), c.action) << c.name;
    }
}

TEST(CaptionLook, HoverPressedSelectedTabAndMaximised)
{
    const ButtonItem& minimise = DefaultButtons[0];
    const ButtonItem& maximise = DefaultButtons[2];
    const ButtonItem tab = Button(4, 7, 88, 17, 1120, 1121, 1122, 101, 0);
    const ButtonItem home = Button(100, 7, 88, 17, 1130, 1131, 1132, 102, 0);
    const ButtonItem forum = Button(200, 7, 88, 17, 1140, 1141, 1142, 103, 0);
    struct Case {
        const char* name;
        ButtonItem item;
        bool inside, down, maximised;
        const char* active;
        const char* gameTitle;
        qev::CaptionLook expected;
    };
    const Case cases[] = {
        {"normal", minimise, false, false, false, "game", "S1", {1040, ""}},
        {"hover", minimise, true, false, false, "game", "S1", {1042, ""}},
        {"pressed", minimise, true, true, false, "game", "S1", {1041, ""}},
        {"button down elsewhere", minimise, false, true, false, "game", "S1", {1040, ""}},
        {"maximised normal", maximise, false, false, true, "", "", {1050, ""}},
        {"maximised hover", maximise, true, false, true, "", "", {1052, ""}},
        {"maximised pressed", maximise, true, true, true, "", "", {1051, ""}},
        {"restored", maximise, true, true, false, "", "", {1054, ""}},
        {"minus 3 only for 1003", minimise, false, false, true, "", "", {1040, ""}},
        {"game page: tab pressed with title",
         tab,
         false,
         false,
         false,
         "game",
         "Realm",
         {1122, " Realm"}},
        {"empty title still a blank", tab, false, false, false, "game", "", {1122, " "}},
        {"no document counts as game", tab, true, false, false, "", "R", {1122, " R"}},
        {"home page: game tab plain", tab, true, false, false, "homepage", "R", {1121, ""}},
        {"home page: home tab", home, false, false, false, "homepage", "R", {1132, ""}},
        {"home tab on the game page", home, true, false, false, "game", "R", {1131, ""}},
        {"forum page: forum tab", forum, false, false, false, "bbs", "R", {1142, ""}},
        {"forum page: game tab", tab, false, false, false, "bbs", "R", {1120, ""}},
        {"titles are case-sensitive", home, false, false, false, "HOMEPAGE", "R", {1130, ""}},
        {"window buttons ignore the tab rule",
         DefaultButtons[1],
         false,
         false,
         false,
         "game",
         "R",
         {1030, ""}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(
            qev::ChooseCaptionLook(c.item, c.inside, c.down, c.maximised, c.active, c.gameTitle),
            c.expected)
            << c.name;
}

TEST(CaptionHeight, TallOnlyOnPlatformTwoVersionSixOne)
{
    struct Case {
        qev::OsVersion os;
        double expected;
    };
    const Case cases[] = {
        {{2, 6, 1}, 32.5}, {{2, 6, 0}, 30}, {{2, 6, 2}, 30}, {{2, 10, 0}, 30},
        {{2, 5, 1}, 30},   {{1, 6, 1}, 30}, {{0, 6, 1}, 30},
    };
    for (const Case& c : cases)
        EXPECT_EQ(qev::CaptionPieceHeight(c.os, 30), c.expected)
            << c.os.platform << " " << c.os.major << "." << c.os.minor;
}

TEST(CaptionHeight, ThisSystemReportsItsOwnPlatform)
{
    const qev::OsVersion os = qev::CurrentOsVersion();
#ifdef _WIN32
    // The NT platform with a real version (Wine reports whichever it imitates).
    EXPECT_EQ(os.platform, 2u);
    EXPECT_GE(os.major, 5u);
#else
    // Never the other system's platform, so its version rule cannot match here.
    EXPECT_EQ(os.platform, 0u);
    EXPECT_EQ(qev::CaptionPieceHeight(os, 30), 30);
#endif
}

TEST(CaptionActions, OnlyTheListedCodesAct)
{
    for (int code : {101, 102, 103, 104, 105, 106, 107, 1001, 1002, 1003})
        EXPECT_TRUE(qev::IsCaptionAction(code)) << code;
    for (int code : {0, -1, 100, 108, 1000, 1004, 1005, 32772, INT_MIN, INT_MAX})
        EXPECT_FALSE(qev::IsCaptionAction(code)) << code;
}

TEST(CaptionNames, WindowButtonsFollowTheStateAndTheGameTabItsTitle)
{
    struct Case {
        int action;
        bool maximised;
        const char* title;
        const char* name;
    };
    const Case cases[] = {
        {1001, false, "", "Minimize"}, {1002, true, "", "Close"},
        {1003, false, "", "Maximize"}, {1003, true, "", "Restore"},
        {107, false, "", "Menu"},      {101, false, "  Realm 7 ", "Realm 7"},
        {101, false, "   ", "Game"},   {102, false, "Realm 7", "Homepage"},
        {103, false, "", "Forum"},     {104, false, "", "Refresh"},
        {0, false, "Realm 7", ""},     {1004, false, "", ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(qev::CaptionButtonName(c.action, c.maximised, c.title), c.name) << c.action;
}

// Steps of one kind and image, for counting.
std::vector<FrameDrawStep> StepsOf(const std::vector<FrameDrawStep>& steps, int image)
{
    std::vector<FrameDrawStep> out;
    for (const auto& s : steps)
        if (s.kind == FrameDrawStep::Image && s.image == image) out.push_back(s);
    return out;
}

TEST(FramePaint, BordersCaptionAndButtonsOfTheBuiltInLayout)
{
    qev::FramePaintInput in;
    in.width = 1000;
    in.height = 700;
    in.buttons = &DefaultButtons;
    in.cursorX = 980; // over close, button up
    in.cursorY = 10;
    in.activeTitle = "game";
    in.gameTitle = "Realm";
    const auto steps = qev::PlanFramePaint(in, BuiltInSizes());

    // Side tiles every 120 px from 0 while y < 700 (6 rows), both sides.
    const auto sides = StepsOf(steps, 10004);
    ASSERT_EQ(sides.size(), 12u);
    EXPECT_EQ(sides[10].y, 600);
    EXPECT_EQ(sides[11].x, 996);
    // Bottom tiles every 104 px while x < 1000 (10 tiles), on the last 4 rows.
    const auto bottom = StepsOf(steps, 10005);
    ASSERT_EQ(bottom.size(), 10u);
    EXPECT_EQ(bottom.back().x, 936);
    EXPECT_EQ(bottom.back().y, 696);
    // Left piece, middle from 94 while x < 1000, right piece at the end.
    ASSERT_EQ(StepsOf(steps, 10001).size(), 1u);
    const auto middle = StepsOf(steps, 10002);
    ASSERT_EQ(middle.size(), 3u);
    EXPECT_EQ(middle[2].x, 894);
    const auto right = StepsOf(steps, 10003);
    ASSERT_EQ(right.size(), 1u);
    EXPECT_EQ(right[0].x, 906);
    EXPECT_EQ(right[0].h, 30);
    // The right piece is drawn after the middle pieces it covers.
    const auto indexOf = [&](int image) {
        for (std::size_t i = 0; i < steps.size(); ++i)
            if (steps[i].image == image) return i;
        return steps.size();
    };
    EXPECT_GT(indexOf(10003), indexOf(10002));
    // Close shows hover; the game tab pressed, then its title after the image.
    EXPECT_EQ(StepsOf(steps, 1032).size(), 1u);
    EXPECT_EQ(StepsOf(steps, 1030).size(), 0u);
    const FrameDrawStep& last = steps.back();
    ASSERT_EQ(last.kind, FrameDrawStep::Text);
    EXPECT_EQ(last.text, " Realm");
    EXPECT_EQ(last.x, 4 + 143);
    EXPECT_EQ(last.y, 8);
    EXPECT_EQ(last.w, 500);
    EXPECT_EQ(last.h, 16);
}

TEST(FramePaint, TheTitleIsOneLineWithoutControlsAndFitsItsRoom)
{
    const struct {
        std::string title, drawn;
    } cases[] = {
        {"Realm\r\nTwo\nThree\rFour\xE2\x80\xA8"
         "Five",
         "Realm Two Three Four Five"},
        {"a\tb\x01\x7F\xC2\x85"
         "c\xC2\x9B",
         "a b c"},
        {"\xE2\x80\xAE"
         "evil\xE2\x81\xA6\xD8\x9C"
         "x\xE2\x81\xA9\xE2\x80\x8F",
         "evilx"},
        {"\xE6\x97\xA5 \xFF", "\xE6\x97\xA5 \xEF\xBF\xBD"},
    };
    for (const auto& c : cases) EXPECT_EQ(qev::CaptionTitleText(c.title), c.drawn) << c.title;

    // Ten pixels a character.
    const qev::TextWidth width = [](std::string_view text) {
        return 10.0 * static_cast<double>(qev::Utf8ToUtf16(text).size());
    };
    EXPECT_EQ(qev::ElideToWidth("abcdef", 60, width), "abcdef");
    EXPECT_EQ(qev::ElideToWidth("abcdef", 59, width), "abcd\xE2\x80\xA6");
    EXPECT_EQ(qev::ElideToWidth("\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E\xE6\x97\xA5", 35, width),
              "\xE6\x97\xA5\xE6\x9C\xAC\xE2\x80\xA6");
    EXPECT_EQ(qev::ElideToWidth("abcdef", 9, width), "");

    // A long title of many lines stops before the buttons of a frame of the least width.
    qev::FramePaintInput in;
    in.width = 1000;
    in.height = 700;
    in.buttons = &DefaultButtons;
    in.activeTitle = "game";
    in.textWidth = [](std::string_view text) { return 2.0 * static_cast<double>(text.size()); };
    for (int i = 0; i < 300; ++i) in.gameTitle += "Realm \n";
    const FrameDrawStep last = qev::PlanFramePaint(in, BuiltInSizes()).back();
    ASSERT_EQ(last.kind, FrameDrawStep::Text);
    EXPECT_EQ(last.text.find('\n'), std::string::npos);
    EXPECT_EQ(last.text.substr(last.text.size() - 3), "\xE2\x80\xA6");
    EXPECT_LE(in.textWidth(last.text), 500);
    EXPECT_GT(in.textWidth(last.text), 490);
    // A frame so narrow that the menu button (600 - 84 = 516) lies in the text box: the
    // title stops 4 px before it.
    in.width = 600;
    const FrameDrawStep narrow = qev::PlanFramePaint(in, BuiltInSizes()).back();
    EXPECT_LE(in.textWidth(narrow.text), 516 - 4 - 147);
    EXPECT_GT(in.textWidth(narrow.text), 516 - 4 - 147 - 10);
}

TEST(FramePaint, MissingPiecesAndNoGame)
{
    qev::FramePaintInput in;
    in.width = 1000;
    in.height = 700;
    in.activeTitle = "game";

    // No current game: borders only.
    const auto bordersOnly = qev::PlanFramePaint(in, BuiltInSizes());
    for (const auto& s : bordersOnly) EXPECT_TRUE(s.image == 10004 || s.image == 10005) << s.image;
    EXPECT_FALSE(bordersOnly.empty());

    // No left piece: the middle pieces start at 0. No image for the tab: no text either.
    // Tall caption system: pieces drawn 32.5 tall.
    in.buttons = &DefaultButtons;
    in.os = {2, 6, 1};
    const auto steps = qev::PlanFramePaint(in, BuiltInSizes({{10002, {400, 30}}}));
    const auto middle = StepsOf(steps, 10002);
    ASSERT_EQ(middle.size(), 3u);
    EXPECT_EQ(middle[0].x, 0);
    EXPECT_EQ(middle[0].h, 32.5);
    EXPECT_EQ(steps.size(), 3u);

    // Pieces of zero extent do not loop forever; an empty lookup draws nothing.
    EXPECT_TRUE(
        qev::PlanFramePaint(in, BuiltInSizes({{10004, {4, 0}}, {10005, {0, 4}}, {10002, {0, 30}}}))
            .empty());
    EXPECT_TRUE(qev::PlanFramePaint(in, nullptr).empty());
}

} // namespace
