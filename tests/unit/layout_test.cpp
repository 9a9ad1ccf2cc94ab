// Layout document reading and lookups.
#include <gtest/gtest.h>

#include <string>

#include "core/base/resources.h"
#include "core/layout/layout.h"

using namespace qev;

namespace {

LayoutDocument Load(const std::string& xml, int* result = nullptr)
{
    LayoutDocument doc;
    const int r = LoadLayout(doc, xml);
    if (result) *result = r;
    return doc;
}

std::string Games(const std::string& inner)
{
    return "<?xml version=\"1.0\"?><config><games>" + inner + "</games></config>";
}

} // namespace

TEST(LayoutLoad, GameRules)
{
    // A game without a name adds nothing and its caption is not read.
    auto doc = Load(Games("<game><login><caption R=\"1\"/></login></game>"));
    EXPECT_TRUE(doc.games.empty());
    EXPECT_EQ(doc.captionColour, 0xFFFFFFFFu);

    // Duplicate names: the first wins, the second's caption still overwrites the colour.
    doc = Load(
        Games("<game name=\"g\" resource=\"one\"><login><caption R=\"1\"/></login></game>"
              "<game name=\"g\" resource=\"two\"><remind><caption G=\"300\"/></remind></game>"));
    ASSERT_EQ(doc.games.size(), 1u);
    EXPECT_EQ(doc.games.at("g").resourceFolder, "one");
    EXPECT_EQ(doc.captionColour, 0xFF002C00u); // low 8 bits of 300, other components 0

    // Caption reading order is login, gamemain, remind whatever the document order.
    doc = Load(
        Games("<game name=\"g\"><remind><caption B=\"3\"/></remind>"
              "<gamemain><caption B=\"2\"/></gamemain><login><caption B=\"1\"/></login></game>"));
    EXPECT_EQ(doc.captionColour, 0xFF000003u);

    // Any element child of <games> is a game; comments and text are skipped.
    doc = Load(Games("<!-- c -->text<title name=\"t\"/>"));
    ASSERT_EQ(doc.games.size(), 1u);
    EXPECT_EQ(doc.games.begin()->first, "t");
}

TEST(LayoutLoad, DocumentShapes)
{
    int r = -1;
    auto doc = Load("<root><games><game name=\"x\"/></games></root>", &r);
    EXPECT_EQ(r, 1);
    EXPECT_TRUE(doc.games.empty());

    doc = Load("<config/>", &r);
    EXPECT_EQ(r, 1);
    EXPECT_TRUE(doc.games.empty());

    doc = Load("<config><games><game name=\"x\"></games></config>", &r);
    EXPECT_EQ(r, 0);
    EXPECT_TRUE(doc.games.empty());

    doc = Load("", &r);
    EXPECT_EQ(r, 0);
}

TEST(LayoutLoad, WindowContents)
{
    auto doc = Load(Games(R"(<game name="g">
      <update><item host="h" path="/p/"/><item host="h2" path="/q" file=""/><other file="z"/></update>
      <images><item id="7" file="a.png"/><item/></images>
      <login w="10" h="-5">
        <sprite><item image="1001" layer="2" x="3" y="4"/><!-- <item image="9"/> --></sprite>
        <sprite><item image="2000"/></sprite>
        <button><item x="10" y="20" h="5" normal="1" hover="2" pressed="3" action="-1" flag="2"/>
                <item x="10" w="5"/></button>
        <webs>
          <item x="1" y="2" w="3" h="4" l="2" t="2" r="-6" b="32" flag="1" function="login">
            <![CDATA[http://host/a?b=1&c=<x>]]>
          </item>
          <item function="c"><!-- note --><![CDATA[http://ignored]]></item>
          <item function="e"></item>
          <item function="t">plain text</item>
        </webs>
      </login></game>)"));
    const GameEntry& g = doc.games.at("g");
    ASSERT_EQ(g.updateSources.size(), 2u);
    EXPECT_EQ(g.updateSources[0].file, "update.xml"); // missing "file" takes the default
    EXPECT_EQ(g.updateSources[1].file, "");           // present but empty stays empty
    EXPECT_EQ(g.updateSources[1].path, "/q");
    ASSERT_EQ(g.images.size(), 2u);
    EXPECT_EQ(g.images[0].id, 7);
    EXPECT_EQ(g.images[1].id, 0);

    const WindowLayout& w = g.login;
    EXPECT_EQ(w.width, 10);
    EXPECT_EQ(w.height, -5);
    ASSERT_EQ(w.sprites.size(), 1u); // only the first <sprite>
    EXPECT_EQ(w.sprites[0].image, 1001);
    EXPECT_EQ(w.sprites[0].layer, 2);
    EXPECT_EQ(w.sprites[0].x, 3);
    EXPECT_EQ(w.sprites[0].y, 4);

    ASSERT_EQ(w.buttons.size(), 2u);
    const ButtonItem& b = w.buttons[0];
    EXPECT_EQ(b.left, 10);
    EXPECT_EQ(b.right, 10); // missing w
    EXPECT_EQ(b.top, 20);
    EXPECT_EQ(b.bottom, 25);
    EXPECT_EQ(b.action, -1);
    EXPECT_EQ(b.flag, 2);
    EXPECT_EQ(w.buttons[1].right, 15);
    EXPECT_EQ(w.buttons[1].hover, 0);

    ASSERT_EQ(w.webPanes.size(), 4u);
    const WebPane& p = w.webPanes[0];
    EXPECT_EQ(p.url, "http://host/a?b=1&c=<x>"); // CDATA verbatim, no surrounding blanks
    EXPECT_EQ(p.right, 4);
    EXPECT_EQ(p.bottom, 6);
    EXPECT_EQ(p.r, -6);
    EXPECT_EQ(p.flag, 1);
    EXPECT_EQ(w.webPanes[1].url, ""); // a comment before the CDATA
    EXPECT_EQ(w.webPanes[2].url, "");
    EXPECT_EQ(w.webPanes[3].url, "plain text");

    // A missing window element is an empty layout.
    EXPECT_EQ(g.gamemain.width, 0);
    EXPECT_TRUE(g.gamemain.webPanes.empty() && g.gamemain.buttons.empty() &&
                g.gamemain.sprites.empty());
}

TEST(LayoutLoad, IntegerAttributesReadLikeAtoi)
{
    const struct {
        const char* text;
        int value;
    } cases[] = {{"42", 42},
                 {"  -7x", -7},
                 {"+3", 3},
                 {"abc", 0},
                 {"", 0},
                 {"12.9", 12},
                 {"-", 0},
                 {"99999999999", 2147483647},
                 {"-99999999999", -2147483647 - 1},
                 {"\t\n5", 5}};
    for (const auto& c : cases) EXPECT_EQ(ParseIntLikeAtoi(c.text), c.value) << c.text;
}

TEST(LayoutLookup, SelectAndFind)
{
    LayoutState s;
    LoadLayout(s.layout, Games(R"(<game name="b"/><game name="a">
        <login><webs><item function="login">L</item></webs></login>
        <gamemain><webs><item function="game">G1</item><item function="game">G2</item>
                         <item function="logout">O</item></webs></gamemain>
        <remind><webs><item function="remind">R</item></webs></remind></game>)"));
    EXPECT_EQ(s.GetCurrentGame(), nullptr);
    EXPECT_EQ(s.FindGamePane("game"), nullptr);

    s.SelectGame("missing");
    EXPECT_EQ(s.currentGameName, "");
    // The start-up choice: the first name in map order.
    s.SelectGame(s.layout.games.begin()->first);
    EXPECT_EQ(s.currentGameName, "a");
    ASSERT_NE(s.GetCurrentGame(), nullptr);

    ASSERT_NE(s.FindGamePane("game"), nullptr);
    EXPECT_EQ(s.FindGamePane("game")->url, "G1"); // the earlier of two
    EXPECT_EQ(s.FindGamePane("Game"), nullptr);   // case matters
    EXPECT_EQ(s.FindGamePane(""), nullptr);
    EXPECT_EQ(s.FindWebPane("login", "login")->url, "L");
    EXPECT_EQ(s.FindWebPane("gamemain", "logout")->url, "O");
    EXPECT_EQ(s.FindWebPane("remind", "remind"), nullptr); // only login and gamemain
    EXPECT_EQ(s.FindWebPane("Login", "login"), nullptr);
}

TEST(LayoutLookup, GamesOrderedByUtf16Units)
{
    // U+FF21 (one unit 0xFF21) sorts after U+1F600 (surrogates 0xD83D...) in UTF-16,
    // although its UTF-8 bytes sort first.
    LayoutState s;
    LoadLayout(s.layout, Games("<game name=\"\xEF\xBC\xA1\"/><game name=\"\xF0\x9F\x98\x80\"/>"
                               "<game name=\"Z\"/><game name=\"a\"/>"));
    std::vector<std::string> names;
    for (const auto& [name, game] : s.layout.games) names.push_back(name);
    const std::vector<std::string> expected = {"Z", "a", "\xF0\x9F\x98\x80", "\xEF\xBC\xA1"};
    EXPECT_EQ(names, expected);
}

TEST(BuiltInLayout, ReadsBackFieldByField)
{
    const auto text = FindResource("XML", LayoutResourceId);
    ASSERT_TRUE(text.has_value());
    EXPECT_EQ(text->substr(0, 3), "\xEF\xBB\xBF");
    EXPECT_NE(text->find("encoding=\"utf-8\""), std::string_view::npos);
    EXPECT_NE(text->find("\r\n"), std::string_view::npos);
    EXPECT_EQ(text->find('\n'), text->find("\r\n") + 1); // every line ends CR LF
    EXPECT_FALSE(FindResource("XML", 1001).has_value());

    LayoutState s;
    ASSERT_EQ(LoadLayout(s.layout, *text), 1);
    ASSERT_EQ(s.layout.games.size(), 1u);
    s.SelectGame(s.layout.games.begin()->first);
    const GameEntry& g = *s.GetCurrentGame();
    EXPECT_EQ(g.name, "Velmora");
    EXPECT_EQ(g.resourceFolder, "resource\\");
    EXPECT_EQ(s.layout.captionColour, 0xFFE0DEB6u);
    EXPECT_TRUE(g.images.empty());

    ASSERT_EQ(g.updateSources.size(), 2u);
    EXPECT_EQ(g.updateSources[0].host, QEV_STATIC_HOST);
    EXPECT_EQ(g.updateSources[0].path, "/micro_client/mm/qev_new/");
    EXPECT_EQ(g.updateSources[0].file, "update.xml");
    EXPECT_EQ(g.updateSources[1].path, "/micro_client/mm/qev_new");
    EXPECT_EQ(g.updateSources[1].file, "update2.xml");

    const std::string portal = "http://" + std::string(QEV_PORTAL_HOST);
    // login
    EXPECT_EQ(g.login.width, 663);
    EXPECT_EQ(g.login.height, 391);
    ASSERT_EQ(g.login.sprites.size(), 1u); // the commented-out sprite has no effect
    EXPECT_EQ(g.login.sprites[0].image, 1001);
    ASSERT_EQ(g.login.webPanes.size(), 1u);
    const WebPane& login = g.login.webPanes[0];
    EXPECT_EQ(std::tie(login.left, login.top, login.right, login.bottom),
              std::make_tuple(20, 50, 645, 369));
    EXPECT_EQ(std::tie(login.l, login.t, login.r, login.b, login.flag),
              std::make_tuple(2, 2, 32, 32, 1));
    EXPECT_EQ(login.function, "login");
    EXPECT_EQ(login.url, portal + "/micro2");

    struct B {
        int x, y, w, h, normal, hover, pressed, action, flag;
    };
    const auto checkButtons = [](const std::vector<ButtonItem>& got, const std::vector<B>& want) {
        ASSERT_EQ(got.size(), want.size());
        for (std::size_t i = 0; i < want.size(); ++i) {
            const B& e = want[i];
            const ButtonItem& b = got[i];
            EXPECT_EQ(std::tie(b.left, b.top, b.right, b.bottom),
                      std::make_tuple(e.x, e.y, e.x + e.w, e.y + e.h))
                << "button " << i;
            EXPECT_EQ(std::tie(b.normal, b.hover, b.pressed, b.action, b.flag),
                      std::tie(e.normal, e.hover, e.pressed, e.action, e.flag))
                << "button " << i;
        }
    };
    checkButtons(g.login.buttons, {{575, 14, 32, 32, 1020, 1022, 1020, 1001, 0},
                                   {615, 15, 32, 32, 1010, 1012, 1010, 1002, 0}});
    // remind
    EXPECT_EQ(g.remind.width, 283);
    EXPECT_EQ(g.remind.height, 93);
    ASSERT_EQ(g.remind.sprites.size(), 1u);
    EXPECT_EQ(g.remind.sprites[0].image, 1013);
    ASSERT_EQ(g.remind.webPanes.size(), 1u);
    EXPECT_EQ(g.remind.webPanes[0].url, portal + "/micro2/TaskTips?tid=1011");
    EXPECT_EQ(g.remind.webPanes[0].right, 102);
    checkButtons(g.remind.buttons, {{244, 0, 32, 32, 1010, 1010, 1010, 1005, 0},
                                    {1, 18, 30, 58, 1063, 1063, 1063, 1006, 0},
                                    {1, 18, 30, 58, 1064, 1064, 1064, 1007, 0},
                                    {140, 20, 89, 19, 1065, 1065, 1065, 0, 0},
                                    {120, 20, 106, 19, 1066, 1066, 1066, -1, 0}});
    // gamemain
    EXPECT_EQ(g.gamemain.width, 1024);
    EXPECT_EQ(g.gamemain.height, 728);
    EXPECT_TRUE(g.gamemain.sprites.empty());
    const std::pair<const char*, std::string> panes[] = {
        {"game", "http://" + std::string(QEV_GAME_HOST) + "/"},
        {"homepage", "http://" + std::string(QEV_GAME_HOST) + "/"},
        {"bbs", "http://" + std::string(QEV_FORUM_HOST) + "/"},
        {"logout", portal + "/micro2/Logout"}};
    const int flags[] = {1, 0, 0, 1};
    ASSERT_EQ(g.gamemain.webPanes.size(), 4u);
    for (int i = 0; i < 4; ++i) {
        const WebPane& p = g.gamemain.webPanes[i];
        EXPECT_EQ(p.function, panes[i].first);
        EXPECT_EQ(p.url, panes[i].second);
        EXPECT_EQ(p.flag, flags[i]);
        EXPECT_EQ(std::tie(p.left, p.top, p.right, p.bottom, p.l, p.t, p.r, p.b),
                  std::make_tuple(0, 0, 1024, 700, 2, 2, -6, -6));
    }
    checkButtons(g.gamemain.buttons, {{64, 5, 20, 20, 1040, 1042, 1041, 1001, 2},
                                      {24, 5, 20, 20, 1030, 1032, 1031, 1002, 2},
                                      {44, 5, 20, 20, 1053, 1055, 1054, 1003, 2},
                                      {84, 5, 20, 20, 1060, 1062, 1061, 107, 2},
                                      {4, 7, 88, 17, 1120, 1120, 1120, 101, 0}});
    const WebPane* game = s.FindGamePane("game");
    ASSERT_NE(game, nullptr);
    EXPECT_EQ(game->right - game->left, 1024);
    EXPECT_EQ(game->bottom - game->top, 700);
}
