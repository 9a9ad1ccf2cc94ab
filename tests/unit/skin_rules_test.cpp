// Rules of the skinned windows and the login hand-over that need no window.
#include <gtest/gtest.h>

#include <climits>
#include <map>

#include "core/browser/session_info.h"
#include "core/remind/task_feed.h"
#include "core/skin/skin_rules.h"

namespace {

using qev::ButtonImages;

TEST(ButtonImage, FirstRuleThatHoldsWins)
{
    const ButtonImages all{/*normal*/ 1, /*pressed*/ 2, /*hover*/ 3, /*focus*/ 4, /*disabled*/ 5};
    const ButtonImages none{1, -1, -1, -1, -1};
    struct Case {
        const char* name;
        ButtonImages images;
        bool focused, pressed, hovered, enabled;
        int expected;
    };
    const Case cases[] = {
        {"idle", all, false, false, false, true, 1},
        {"hover", all, false, false, true, true, 3},
        {"pressed beats hover", all, false, true, true, true, 2},
        {"pressed beats focus", all, true, true, false, true, 2},
        {"hover beats focus", all, true, false, true, true, 3},
        {"focus only", all, true, false, false, true, 4},
        {"disabled beats everything", all, true, true, true, false, 5},
        {"negative pressed falls through to normal", none, false, true, true, true, 1},
        {"negative hover falls through to normal", none, false, false, true, true, 1},
        {"negative focus falls through to normal", none, true, false, false, true, 1},
        {"negative disabled falls through to normal", none, false, false, false, false, 1},
        // Pressed without an image of its own, focused: the focus image is next in line.
        {"negative pressed then focus", {1, -1, 3, 4, 5}, true, true, false, true, 4},
        // A missing "hover" attribute reads as 0: not negative, so it is chosen.
        {"hover id 0 is an image id", {1, 2, 0, 1, 1}, false, false, true, true, 0},
    };
    for (const Case& c : cases) {
        const unsigned state = qev::ButtonStateFlags(c.focused, c.pressed, c.hovered, c.enabled);
        EXPECT_EQ(qev::ChooseButtonImage(c.images, state), c.expected) << c.name;
    }
}

TEST(ButtonImage, LayoutItemSetsFocusAndDisabledToNormal)
{
    qev::ButtonItem item;
    item.normal = 1020;
    item.hover = 1022;
    item.pressed = 1021;
    const ButtonImages images = qev::ButtonImagesFromItem(item);
    EXPECT_EQ(images.normal, 1020);
    EXPECT_EQ(images.hover, 1022);
    EXPECT_EQ(images.pressed, 1021);
    EXPECT_EQ(images.focus, 1020);
    EXPECT_EQ(images.disabled, 1020);
}

TEST(ButtonCommand, ActionPlusBase)
{
    const std::map<int, int> cases = {
        {1001, 33769}, {1002, 33770}, {1004, 33772}, {1005, 33773},
        {0, 32768},    {-1, 32767},   {101, 32869},  {INT_MIN, INT_MIN + 0x8000}};
    for (auto [action, id] : cases) EXPECT_EQ(qev::ButtonCommandId(action), id) << action;
    // The top of the range wraps rather than overflowing.
    EXPECT_EQ(qev::ButtonCommandId(INT_MAX), INT_MIN + 0x7FFF);
}

TEST(Sprites, SortedByLayerWithRectanglesFromImageSizes)
{
    const std::vector<qev::SpriteItem> sprites = {
        {/*x*/ 10, /*y*/ 20, /*image*/ 1002, /*layer*/ 2},
        {0, 0, 1001, 0},
        {5, 6, 4242, 1}, // unknown image
        {7, 8, 1001, -3},
        {1, 1, 1003, 2},
    };
    const auto sizes = [](int id) -> std::optional<std::pair<int, int>> {
        if (id == 1001) return std::pair{663, 391};
        if (id == 1002) return std::pair{32, 16};
        if (id == 1003) return std::pair{0, 0}; // an undecodable image measures 0 x 0
        return std::nullopt;
    };
    const auto entries = qev::BuildSpriteEntries(sprites, sizes);
    ASSERT_EQ(entries.size(), 5u);
    const int expectedLayers[] = {-3, 0, 1, 2, 2};
    for (std::size_t i = 0; i < entries.size(); ++i) EXPECT_EQ(entries[i].layer, expectedLayers[i]);

    EXPECT_EQ(entries[0].image, 1001);
    EXPECT_EQ(entries[0].right, 7 + 663);
    EXPECT_EQ(entries[0].bottom, 8 + 391);
    // Unknown image: an empty rectangle at its position, still listed.
    EXPECT_EQ(entries[2].image, 4242);
    EXPECT_EQ(entries[2].left, 5);
    EXPECT_EQ(entries[2].right, 5);
    EXPECT_EQ(entries[2].top, 6);
    EXPECT_EQ(entries[2].bottom, 6);
    // Equal layers: both drawn, in document order.
    EXPECT_EQ(entries[3].image, 1002);
    EXPECT_EQ(entries[3].right, 42);
    EXPECT_EQ(entries[3].bottom, 36);
    EXPECT_EQ(entries[4].image, 1003);
    EXPECT_EQ(entries[4].right, 1);
}

TEST(Sprites, HugePositionsSaturateInsteadOfOverflowing)
{
    const auto entries = qev::BuildSpriteEntries({{INT_MAX, INT_MAX - 1, 1, 0}}, [](int) {
        return std::pair{100, 100};
    });
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].right, INT_MAX);
    EXPECT_EQ(entries[0].bottom, INT_MAX);
    EXPECT_TRUE(qev::BuildSpriteEntries({}, nullptr).empty());
}

TEST(BrowserControl, MarginsMoveTheControlEdges)
{
    struct Case {
        int width, height, l, t, r, b;
        qev::EdgeRect expected;
    };
    const Case cases[] = {
        {625, 319, 2, 2, 32, 32, {-2, -2, 657, 351}},
        {64, 64, 2, 2, 32, 32, {-2, -2, 96, 96}},
        {100, 100, 2, 2, -6, -6, {-2, -2, 94, 94}},
        {100, 50, 0, 0, 0, 0, {0, 0, 100, 50}},
        {10, 10, INT_MIN, 0, INT_MAX, 0, {INT_MAX, 0, INT_MAX, 10}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(qev::BrowserControlRect(c.width, c.height, c.l, c.t, c.r, c.b), c.expected)
            << c.width << "x" << c.height << " " << c.l << "," << c.t << "," << c.r << "," << c.b;
}

TEST(Session, GameTargetIgnoresCaseOnly)
{
    const std::map<std::string, bool> cases = {
        {"_game", true}, {"_GAME", true},   {"_GaMe", true},   {"_blank", false}, {"", false},
        {"game", false}, {"_game ", false}, {" _game", false}, {"_games", false}, {"_gam", false},
    };
    for (const auto& [target, expected] : cases)
        EXPECT_EQ(qev::IsGameTarget(target), expected) << target;
}

TEST(Session, TaskFeedQueryJoinsValuesUnescaped)
{
    EXPECT_EQ(qev::TaskFeedQuery({"S1", "http://g/", "d1", "abc", "bob"}),
              "?account=bob&sid=abc&domain=d1");
    EXPECT_EQ(qev::TaskFeedQuery({"", "", "", "", ""}), "?account=&sid=&domain=");
    EXPECT_EQ(qev::TaskFeedQuery({"t", "h", "a b", "x&y=1", ""}), "?account=&sid=x&y=1&domain=a b");
}

} // namespace
