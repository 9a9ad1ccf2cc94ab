// The browser host with the web engine: real clicks on links of a page, the "_game"
// hand-over, other new windows, the control rectangle, and the login window's panes.
#include <gtest/gtest.h>

#include <QApplication>
#include <QFileDialog>
#include <QMenu>
#include <QTimer>
#include <QSignalSpy>
#include <QDeadlineTimer>
#include <QTest>
#include <QWebEnginePage>
#include <QWebEngineView>

#include <vector>

#include "core/remind/task_feed.h"
#include "gui/browser/mini_browser.h"
#include "gui/login/background_wnd.h"
#include "gui/login/login_wnd.h"
#include "gui/login/top_wnd.h"

Q_DECLARE_METATYPE(qev::SessionInfo)

#include "wait_for.h"
#include "gui_main.h"

namespace {

CWebContext* g_web = nullptr; // made in main, after the application

// Each link is a block at a known place so that a click can find it.
const char PortalPage[] = R"(<!doctype html><html><head><style>
body { margin: 0 }
a { display: block; position: absolute; left: 0; width: 300px; height: 40px; }
</style></head><body>
<a style="top: 0" target="_game" title="Server 1" href="http://game.test/play?x=1"
   domain="dom one" sid="abc&amp;123" user="bob">game</a>
<a style="top: 50px" target="_GAME" title="Server 2" href="http://game.test/two" domain="d2"
   sid="s2" user="u2">GAME</a>
<a style="top: 100px" target="_blank" href="http://elsewhere.test/page" sid="zz">blank</a>
<a style="top: 150px" target="_game" title="No sid" href="http://game.test/three" domain="d3"
   user="u3">no sid</a>
<a style="top: 200px" target="_game" title="R" href="play?x=2&amp;y=a b">relative</a>
<a style="top: 250px" target="_game" title="R" href="/root/play?z=3">root-relative</a>
<a style="top: 300px" target="_game" title="R" href="//game.test/proto">protocol-relative</a>
<a style="top: 340px; height: 20px" href="http://elsewhere.test/top">foreign</a>
<input style="position: absolute; left: 310px; top: 0; width: 80px; height: 30px" value="x">
<input type="file" style="position: absolute; left: 310px; top: 40px; width: 80px; height: 30px">
</body></html>)";

constexpr int LinkGame = 20, LinkGameUpper = 70, LinkBlank = 120, LinkNoSid = 170;
constexpr int LinkRelative = 220, LinkRootRelative = 270, LinkProtocolRelative = 320;
constexpr int LinkForeign = 350;

// A visible host with the portal page loaded and painted.
struct BrowserRig {
    QWidget window;
    CMiniBrowser* host = nullptr;
    std::vector<qev::SessionInfo> sessions;

    BrowserRig()
    {
        window.resize(400, 360);
        host = new CMiniBrowser(*g_web, PageRole::Login, &window);
        EXPECT_TRUE(host->Create(QRect(0, 0, 400, 360), &window, 5000));
        QObject::connect(host, &CMiniBrowser::sessionStarted,
                         [this](const qev::SessionInfo& s) { sessions.push_back(s); });
        window.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&window));
        QSignalSpy loaded(host->view(), &QWebEngineView::loadFinished);
        host->page()->setHtml(QString::fromUtf8(PortalPage),
                              QUrl("http://portal.test/micro2/login"));
        EXPECT_TRUE(loaded.wait(20000));
        EXPECT_TRUE(loaded.count() > 0 && loaded.at(0).at(0).toBool());
        // The page must be on screen before a click can land on it.
        EXPECT_TRUE(WaitFor([&] { return host->view()->focusProxy() != nullptr; }, 10000));
        QTest::qWait(500);
    }

    void Click(int y)
    {
        QTest::mouseClick(host->view()->focusProxy(), Qt::LeftButton, {}, QPoint(150, y));
    }
};

BrowserRig* g_rig = nullptr;
std::vector<QUrl> g_opened;

class MiniBrowser : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        g_rig = new BrowserRig;
        g_rig->host->SetExternalOpener([](const QUrl& url) { g_opened.push_back(url); });
    }
    static void TearDownTestSuite()
    {
        delete g_rig;
        g_rig = nullptr;
    }
    void SetUp() override
    {
        g_rig->sessions.clear();
        g_opened.clear();
    }
};

TEST_F(MiniBrowser, GameLinkHandsOverEveryAttributeAndOpensNoWindow)
{
    g_rig->Click(LinkGame);
    ASSERT_TRUE(WaitFor([&] { return g_rig->sessions.size() == 1u; }, 10000));
    const qev::SessionInfo& s = g_rig->sessions[0];
    EXPECT_EQ(s.title, "Server 1");
    EXPECT_EQ(s.href, "http://game.test/play?x=1");
    EXPECT_EQ(s.domain, "dom one");
    EXPECT_EQ(s.sid, "abc&123");
    EXPECT_EQ(s.user, "bob");
    QTest::qWait(300);
    EXPECT_TRUE(g_opened.empty());
    EXPECT_EQ(g_rig->host->view()->url(), QUrl("http://portal.test/micro2/login"))
        << "the portal page stays";
}

TEST_F(MiniBrowser, UpperCaseTargetIsTheGameToo)
{
    g_rig->Click(LinkGameUpper);
    ASSERT_TRUE(WaitFor([&] { return g_rig->sessions.size() == 1u; }, 10000));
    EXPECT_EQ(g_rig->sessions[0].title, "Server 2");
    EXPECT_EQ(g_rig->sessions[0].sid, "s2");
}

TEST_F(MiniBrowser, BlankTargetGoesToTheUsersBrowserAndDeliversNothing)
{
    g_rig->Click(LinkBlank);
    ASSERT_TRUE(WaitFor([&] { return g_opened.size() == 1u; }, 10000));
    EXPECT_EQ(g_opened[0], QUrl("http://elsewhere.test/page"));
    QTest::qWait(300);
    EXPECT_TRUE(g_rig->sessions.empty());
}

TEST_F(MiniBrowser, PagesCannotOpenWindowsOnTheirOwnOrLocalHandlers)
{
    // Script-opened windows (no click) and non-web schemes never reach the desktop.
    g_rig->host->page()->runJavaScript(
        "window.open('http://popup.test/'); window.open('file:///etc/passwd');");
    QTest::qWait(1000);
    EXPECT_TRUE(g_opened.empty());
    EXPECT_TRUE(g_rig->sessions.empty());
}

// The game address is absolute whatever form the link has; the page is
// http://portal.test/micro2/login.
TEST_F(MiniBrowser, GameAddressIsResolvedAgainstThePage)
{
    const struct {
        int y;
        const char* href;
    } cases[] = {
        {LinkRelative, "http://portal.test/micro2/play?x=2&y=a%20b"},
        {LinkRootRelative, "http://portal.test/root/play?z=3"},
        {LinkProtocolRelative, "http://game.test/proto"},
    };
    for (const auto& c : cases) {
        g_rig->sessions.clear();
        g_rig->Click(c.y);
        ASSERT_TRUE(WaitFor([&] { return g_rig->sessions.size() == 1u; }, 10000)) << c.href;
        EXPECT_EQ(g_rig->sessions[0].href, c.href);
        EXPECT_EQ(g_rig->sessions[0].title, "R") << "other attributes stay literal";
    }
}

// The pane's main frame keeps to the operator's sites (this context has none): a click on
// a link elsewhere opens it in the player's browser, a script's own move goes nowhere.
TEST_F(MiniBrowser, ForeignSitesOpenOutsideOnAClickAndNowhereWithout)
{
    g_rig->Click(LinkForeign); // spends the click's allowance
    ASSERT_TRUE(WaitFor([&] { return g_opened.size() == 1u; }, 10000));
    EXPECT_EQ(g_opened[0], QUrl("http://elsewhere.test/top"));
    g_rig->host->page()->runJavaScript("location.href = 'http://elsewhere.test/script'");
    const auto left = [&] {
        return g_opened.size() > 1u || g_rig->host->view()->url().host() != "portal.test";
    };
    EXPECT_FALSE(WaitFor(left, 2000)) << "the page's own move went somewhere";
}

// No browser menu (Save page, View source ...) on a link or the page; a text field gets
// its four editing commands. A login page's file field opens no chooser.
TEST_F(MiniBrowser, RightClickShowsOnlyATextFieldsEditingCommands)
{
    bool chooser = false;
    QTimer closer; // a chooser would hold the test in its own loop
    QObject::connect(&closer, &QTimer::timeout, [&chooser] {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* d = qobject_cast<QFileDialog*>(w); d && d->isVisible()) chooser = d->close();
    });
    closer.start(100);
    QTest::mouseClick(g_rig->host->view()->focusProxy(), Qt::LeftButton, {}, QPoint(350, 55));
    // Menus are deleted on close.
    const auto menus = [] { return g_rig->host->view()->findChildren<QMenu*>(); };
    for (const QPoint at : {QPoint(150, LinkGame), QPoint(350, 200), QPoint(350, 15)})
        QTest::mouseClick(g_rig->host->view()->focusProxy(), Qt::RightButton, {}, at);
    ASSERT_TRUE(WaitFor([&] { return !menus().isEmpty(); }, 10000));
    EXPECT_FALSE(chooser) << "a file chooser";
    ASSERT_EQ(menus().size(), 1);
    EXPECT_EQ(menus()[0]->actions().size(), 4);
    menus()[0]->close();
}

TEST_F(MiniBrowser, LinkWithoutSidGivesAnEmptySid)
{
    g_rig->Click(LinkNoSid);
    ASSERT_TRUE(WaitFor([&] { return g_rig->sessions.size() == 1u; }, 10000));
    EXPECT_EQ(g_rig->sessions[0].title, "No sid");
    EXPECT_EQ(g_rig->sessions[0].sid, "");
    EXPECT_EQ(g_rig->sessions[0].user, "u3");
}

TEST(MiniBrowserControl, MarginsPlaceTheViewAroundTheHost)
{
    struct Case {
        QRect host;
        int l, t, r, b;
        QRect view;
    };
    const Case cases[] = {
        {QRect(20, 50, 625, 319), 2, 2, 32, 32, QRect(QPoint(-2, -2), QPoint(656, 350))},
        {QRect(0, 0, 100, 100), 2, 2, -6, -6, QRect(QPoint(-2, -2), QPoint(93, 93))},
    };
    QWidget parent;
    for (const Case& c : cases) {
        auto* host = new CMiniBrowser(*g_web, PageRole::Login);
        host->l = c.l;
        host->t = c.t;
        host->r = c.r;
        host->b = c.b;
        ASSERT_TRUE(host->Create(c.host, &parent, 5000));
        EXPECT_EQ(host->parentWidget(), &parent);
        EXPECT_EQ(host->geometry(), c.host);
        EXPECT_EQ(host->view()->geometry(), c.view);
        EXPECT_EQ(host->controlId(), 5000);
    }
}

qev::WebPane Pane(int flag, const std::string& url)
{
    qev::WebPane pane;
    pane.left = 20;
    pane.top = 50;
    pane.right = 645;
    pane.bottom = 369;
    pane.l = pane.t = 2;
    pane.r = pane.b = 32;
    pane.flag = flag;
    pane.function = "login";
    pane.url = url;
    return pane;
}

TEST(LoginPanes, BrowsersOnlyForOddFlagsAndIdsNeverReset)
{
    qev::LayoutState layout;
    qev::GameEntry& game = layout.layout.games["Test"];
    layout.SelectGame("Test");
    game.login.width = 663;
    game.login.height = 391;
    game.login.webPanes = {Pane(1, "about:blank"), Pane(0, "about:blank"), Pane(3, "about:blank")};
    CLoginWnd login(nullptr, layout, *g_web);
    ASSERT_EQ(login.panes().size(), 3u);
    ASSERT_NE(login.panes()[0].host, nullptr);
    EXPECT_EQ(login.panes()[0].host->controlId(), 5000);
    EXPECT_EQ(login.panes()[1].host, nullptr);
    ASSERT_NE(login.panes()[2].host, nullptr);
    EXPECT_EQ(login.panes()[2].host->controlId(), 5001);
    EXPECT_EQ(login.panes()[0].host->view()->geometry(), QRect(QPoint(-2, -2), QPoint(656, 350)));

    login.BuildPanes();
    ASSERT_EQ(login.panes().size(), 3u);
    EXPECT_EQ(login.panes()[0].host->controlId(), 5002);
    EXPECT_EQ(login.panes()[2].host->controlId(), 5003);
    EXPECT_EQ(login.findChildren<CMiniBrowser*>().size(), 2) << "old hosts are gone";
    EXPECT_FALSE(login.mask().contains(QPoint(21, 51))) << "no page before the first paint";
    login.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&login));
    ASSERT_TRUE(WaitFor([&] { return login.panes()[0].host->isVisible(); }, 5000));
    EXPECT_TRUE(login.panes()[2].host->isVisible());
    EXPECT_TRUE(login.mask().contains(QPoint(21, 51)));
    EXPECT_FALSE(login.mask().contains(QPoint(5, 5)));
}

TEST(LoginPanes, ClickOnTheLoginPageCompletesTheLogin)
{
    qev::LayoutState layout;
    qev::GameEntry& game = layout.layout.games["Test"];
    layout.SelectGame("Test");
    game.login.width = 663;
    game.login.height = 391;
    const std::string page =
        "data:text/html,<body style='margin:0'><a style='display:block;width:300px;"
        "height:60px' target='_game' title='S9' href='http://game.test/9' domain='d9' "
        "sid='sid9' user='player 9'>play</a></body>";
    game.login.webPanes = {Pane(1, page)};
    // In its stack, as the application builds it: the page loads after the stack's first
    // paint, and the click passes through the button layer above the page.
    CBackgroundWnd stack(layout);
    auto* login = new CLoginWnd(&stack, layout, *g_web);
    auto* top = new CTopWnd(&stack, layout);
    login->SetConnectivityProbe([] { return true; });
    std::vector<std::string> queries; // the task-feed query of each login reported
    QObject::connect(login, &CLoginWnd::loggedIn, [&queries](const qev::SessionInfo& session) {
        queries.push_back(qev::TaskFeedQuery(session));
    });
    stack.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&stack));
    const WId shownAs = stack.winId();
    ASSERT_TRUE(WaitFor([&] { return login->panes()[0].host->isVisible(); }, 5000));
    EXPECT_TRUE(stack.inputRegion().contains(QPoint(20, 50)));
    QWebEngineView* view = login->panes()[0].host->view();
    QSignalSpy loaded(view, &QWebEngineView::loadFinished);
    ASSERT_TRUE(loaded.wait(20000));
    QTest::qWait(500);
    EXPECT_EQ(stack.childAt(20 + 50, 50 + 20), view->focusProxy()) << "no layer in the way";
    // The page appearing did not make Qt re-create the window (a window manager would
    // place the new one anew).
    EXPECT_EQ(stack.winId(), shownAs);
    EXPECT_FALSE(top->isWindow());
    // The view starts 2 px above and left of the pane.
    QTest::mouseClick(view->focusProxy(), Qt::LeftButton, {}, QPoint(50, 20));
    ASSERT_TRUE(WaitFor([&] { return queries.size() == 1u; }, 10000));
    EXPECT_EQ(queries[0], "?account=player 9&sid=sid9&domain=d9");
}

} // namespace

int qev::test::RunTests(const std::function<int()>& run)
{
    CWebContext web; // off the record
    g_web = &web;
    return run();
}
