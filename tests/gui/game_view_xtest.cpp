// The game view with the web engine: every loaded page is marked with the cookie
// "korvel=1" exactly once, script errors stay quiet, and a window the game page opens
// becomes a browser window of the client that shares the session.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QSignalSpy>
#include <QTimer>
#include <QWebEngineProfile>

#include <string>
#include <utility>

#include "fake_http_server.h"
#include "gui/game/game_view.h"

#include "wait_for.h"
#include "gui_main.h"

namespace {

CWebContext* g_web = nullptr; // made in main, after the application

// Records every write to document.cookie from the page's own world, where the client's
// marking runs, then throws a script error that must stay quiet.
const char InstrumentedPage[] = R"HTML(<!doctype html><html><head><title>Marked</title><script>
window.writes = [];
var real = Object.getOwnPropertyDescriptor(Document.prototype, 'cookie');
Object.defineProperty(document, 'cookie', {
  get: function () { return real.get.call(document); },
  set: function (v) { window.writes.push(v); real.set.call(document, v); }
});
</script></head><body>page<script>undefinedFunction();</script></body></html>)HTML";

const char OpenerPage[] = R"HTML(<!doctype html><html><head><title>Opener</title></head><body>
<button id="b" style="position:absolute;left:0;top:0;width:400px;height:300px"
 onclick="window.open('/c/popup.html', 'pop', 'width=300,height=200')">open</button>
</body></html>)HTML";

const char PopupPage[] = R"HTML(<!doctype html><html><head><title>Game pop-up</title></head>
<body>popup</body></html>)HTML";

// Alerts, then reloads itself, six times per address (the count kept in the tab's session
// storage), then says it is done.
const char ReloadLoopPage[] = R"HTML(<!doctype html><html><head><title>loop</title></head><body>
<script>var n = +(sessionStorage[location.search] || 0);
if (n < 6) { sessionStorage[location.search] = n + 1; alert('n ' + n); location.reload(); }
else document.title = 'done';</script></body></html>)HTML";

struct Served {
    qev::test::FakeHttpServer server;
    Served()
    {
        server.SetHandler([](const qev::test::FakeRequest& request) {
            qev::test::FakeReply reply = qev::test::MakeReply(200);
            reply.headers = {"Content-Type: text/html"};
            if (request.target.rfind("/b/", 0) == 0)
                reply.headers.push_back("Set-Cookie: korvel=1; Path=/b");
            if (request.target.rfind("/c/opener", 0) == 0)
                reply.body = OpenerPage;
            else if (request.target.rfind("/c/popup", 0) == 0)
                reply.body = PopupPage;
            else if (request.target.rfind("/d/loop", 0) == 0)
                reply.body = ReloadLoopPage;
            else
                reply.body = InstrumentedPage;
            return reply;
        });
    }
    QString Url(const char* path) const
    {
        return QString::fromStdString("http://" + server.host() + path);
    }
};

// Loads url into view and waits for its marking; written as the marking reported it.
bool LoadAndMark(CKorvel2View& view, const QString& url, bool* written)
{
    QSignalSpy marked(&view, &CKorvel2View::pageMarked);
    view.Navigate(url);
    if (!WaitFor([&] { return marked.count() > 0; }, 20000)) return false;
    *written = marked.takeFirst().at(1).toBool();
    return true;
}

QString RunScript(CKorvel2View& view, const char* script)
{
    QString result;
    bool done = false;
    view.page()->runJavaScript(QString::fromLatin1(script), [&](const QVariant& v) {
        result = v.toString();
        done = true;
    });
    WaitFor([&] { return done; }, 10000);
    return result;
}

TEST(PageMarking, WrittenExactlyOnceAndNeverOverAnExistingMark)
{
    Served served;
    CKorvel2View view(*g_web);
    view.resize(400, 300);
    view.show();

    struct Case {
        const char* path;
        bool written;
        const char* writes; // what the page saw written, as JSON
    };
    const Case cases[] = {
        // No cookie at all: exactly "korvel=1", no attributes.
        {"/a/first.html", true, R"(["korvel=1"])"},
        // The mark set before (same path) is kept: nothing written again.
        {"/a/again.html", false, "[]"},
        // The server sent it: not written.
        {"/b/served.html", false, "[]"},
    };
    for (const Case& c : cases) {
        bool written = false;
        ASSERT_TRUE(LoadAndMark(view, served.Url(c.path), &written)) << c.path;
        EXPECT_EQ(written, c.written) << c.path;
        EXPECT_EQ(RunScript(view, "JSON.stringify(window.writes)"), c.writes) << c.path;
        EXPECT_NE(RunScript(view, "document.cookie").indexOf("korvel=1"), -1) << c.path;
    }
    // The mark reaches the server with the next request of that path.
    const auto cookieOf = [&](const std::string& target) {
        for (const auto& r : served.server.Requests())
            if (r.target == target) return r.Header("Cookie");
        return std::string("(no request)");
    };
    EXPECT_EQ(cookieOf("/a/first.html"), "");
    EXPECT_EQ(cookieOf("/a/again.html"), "korvel=1");

    // A page off the operator's sites is not told it runs inside the client: the view's main
    // frame never goes there, and a page it shows instead (a stopped one) gets no mark.
    CKorvel2View blank(*g_web);
    bool written = true;
    ASSERT_TRUE(LoadAndMark(blank, QStringLiteral("about:blank"), &written));
    EXPECT_FALSE(written);
}

TEST(GamePopup, AWindowThePageOpensIsAClientWindowWithTheSession)
{
    Served served;
    CKorvel2View view(*g_web);
    view.resize(400, 300);
    view.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
    bool written = false;
    ASSERT_TRUE(LoadAndMark(view, served.Url("/c/opener.html"), &written));
    ASSERT_TRUE(WaitFor([&] { return view.focusProxy() != nullptr; }, 10000));
    QTest::qWait(300); // the page's first frame must be on screen before a click lands

    const auto popups = [] {
        QList<CGamePopup*> found;
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* p = qobject_cast<CGamePopup*>(w)) found.push_back(p);
        return found;
    };
    // A user's click opens the window (pop-up blockers let only those through).
    QTest::mouseClick(view.focusProxy(), Qt::LeftButton, {}, QPoint(100, 100));
    ASSERT_TRUE(WaitFor([&] { return popups().size() == 1; }, 10000));
    CGamePopup* popup = popups().front();
    EXPECT_TRUE(popup->isWindow());
    EXPECT_EQ(popup->page()->profile(), view.page()->profile()) << "the session is shared";
    EXPECT_TRUE(WaitFor([&] { return popup->windowTitle() == "Game pop-up"; }, 10000))
        << popup->windowTitle().toStdString();
    // Its request carried the game page's cookie.
    EXPECT_TRUE(WaitFor(
        [&] {
            for (const auto& r : served.server.Requests())
                if (r.target == "/c/popup.html") return r.Header("Cookie") == "korvel=1";
            return false;
        },
        10000));
    EXPECT_EQ(popup->siteBarText(), "") << "on the operator's site";
    // Elsewhere (a payment provider, say) the client's own bar names the site.
    std::string elsewhere = served.Url("/c/popup.html").toStdString();
    elsewhere.replace(elsewhere.find("127.0.0.1"), 9, "localhost");
    popup->page()->load(QUrl(QString::fromStdString(elsewhere)));
    EXPECT_TRUE(WaitFor([&] { return popup->siteBarText().contains("localhost"); }, 10000));
    EXPECT_TRUE(popup->siteBarText().contains("not secure")) << popup->siteBarText().toStdString();
    popup->close(); // deletes itself
    EXPECT_TRUE(WaitFor([&] { return popups().isEmpty(); }, 5000));
}

// The dialog gate is the page's: a page that reloads itself between alerts is quiet after
// two, and stays quiet when the player ticked "no more"; the client's own load (Refresh, a
// sign-in) starts it afresh.
TEST(ScriptDialogs, QuietStaysQuietAcrossThePagesOwnReloads)
{
    Served served;
    CKorvel2View view(*g_web);
    view.show();
    int shown = 0;
    bool tick = false; // tick "no more" in the next dialog
    QTimer answer;     // the player, answering every dialog of the page
    QObject::connect(&answer, &QTimer::timeout, [&] {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* dialog = qobject_cast<QDialog*>(w); dialog && dialog->isVisible()) {
                ++shown;
                if (tick) dialog->findChild<QCheckBox*>()->setChecked(std::exchange(tick, false));
                dialog->accept();
            }
    });
    answer.start(50);
    // Per address: whether the player ticks "no more" in its first dialog, and how many of
    // its six dialogs show.
    const std::pair<bool, int> rows[] = {{false, 2}, {false, 2}, {true, 1}, {false, 2}};
    for (int i = 0; i < 4; ++i) {
        const std::string path = "/d/loop?" + std::to_string(i);
        shown = 0;
        tick = rows[i].first;
        view.Navigate(served.Url(path.c_str()));
        const auto done = [&] { // six loads that alerted, a seventh that did not
            int loads = 0;
            for (const auto& r : served.server.Requests()) loads += r.target == path;
            return loads == 7 && view.page()->title() == "done";
        };
        ASSERT_TRUE(WaitFor(done, 30000)) << path;
        EXPECT_EQ(shown, rows[i].second) << path;
    }
}

} // namespace

int qev::test::RunTests(const std::function<int()>& run)
{
    CWebContext web({"127.0.0.1"}); // off the record; the fake servers are the operator's
    g_web = &web;
    return run();
}
