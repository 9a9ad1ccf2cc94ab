// The main frame on a real X server (no window manager), driven by real mouse events:
// caption clicks and their questions, moving and maximising, Switch Account, Return to
// Server List and Refresh against a scripted portal and game host.
#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QMenu>
#include <QProcess>
#include <QScreen>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTest>
#include <QWebEnginePage>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "core/base/message.h"
#include "core/base/resources.h"
#include "core/base/strings.h"
#include "fake_http_server.h"
#include "gui/app/korvel2_app.h"
#include "gui/browser/mini_browser.h"
#include "gui/game/game_view.h"
#include "gui/game/main_frame.h"
#include "gui/login/background_wnd.h"
#include "gui/login/login_wnd.h"
#include "gui/login/top_wnd.h"
#include "gui/skin/image_manager.h"

#include "wait_for.h"

namespace {

// Real pointer input through the X server's test extension.
void Xdotool(const QStringList& args)
{
    ASSERT_EQ(QProcess::execute(QStringLiteral("xdotool"), args), 0) << "xdotool failed";
}

QString N(int v)
{
    return QString::number(v);
}

struct Question {
    std::string text, caption, frameTitle;
    int type = 0;
};

// The scripted portal and game host, the application on the built-in layout pointed at it,
// and the answers to the questions.
struct Rig {
    qev::test::FakeHttpServer server;
    CKorvel2App app;
    std::vector<Question> questions;
    int answer = qev::IdCancel;

    Rig()
    {
        server.SetHandler([](const qev::test::FakeRequest& request) {
            qev::test::FakeReply reply = qev::test::MakeReply(200);
            reply.headers = {"Content-Type: text/html"};
            reply.body = "<!doctype html><html><head><title>" + request.target +
                         "</title></head><body style='background:#234'>page</body></html>";
            return reply;
        });
        std::string layout(*qev::FindResource("XML", qev::LayoutResourceId));
        for (const char* host : {QEV_PORTAL_HOST, QEV_GAME_HOST, QEV_FORUM_HOST}) {
            for (auto at = layout.find(host); at != std::string::npos; at = layout.find(host))
                layout.replace(at, std::string(host).size(), server.host());
        }
        app.SetTaskFeedFetcher([](const std::string&) { return std::string(); });
        EXPECT_TRUE(app.InitInstance(layout));
        if (app.loginWindow()) app.loginWindow()->SetConnectivityProbe([] { return true; });
        qev::SetMessageHandler(
            [this](const std::string& text, const std::string& caption, int type) {
                questions.push_back(
                    {text, caption, app.mainFrame()->windowTitle().toStdString(), type});
                return answer;
            });
    }
    ~Rig()
    {
        qev::SetMessageHandler({});
        app.ExitInstance();
    }

    CMainFrame* frame() const { return app.mainFrame(); }
    QString GameUrl() const { return QString::fromStdString("http://" + server.host() + "/play"); }

    // Login completed: the frame shows maximised with the game page.
    void ShowGame()
    {
        app.ShowGameWindow(GameUrl(), "Realm One");
        ASSERT_TRUE(QTest::qWaitForWindowExposed(frame()));
    }

    // Global position of a point in frame coordinates.
    QPoint At(int x, int y) const { return frame()->geometry().topLeft() + QPoint(x, y); }
    void Press(QPoint p) { Xdotool({"mousemove", N(p.x()), N(p.y()), "mousedown", "1"}); }
    void Release(QPoint p) { Xdotool({"mousemove", N(p.x()), N(p.y()), "mouseup", "1"}); }
    void Click(QPoint p) { Xdotool({"mousemove", N(p.x()), N(p.y()), "click", "1"}); }
    // The close button's centre (flag 2, x 24, 20 wide: right edge - 14).
    QPoint Close() const { return At(frame()->width() - 14, 15); }
    QPoint Minimise() const { return At(frame()->width() - 54, 15); }
    QPoint Menu() const { return At(frame()->width() - 74, 15); }

    int Requests(const std::string& target) const
    {
        int n = 0;
        for (const auto& r : server.Requests())
            if (r.target == target) ++n;
        return n;
    }

    // Opens the caption menu with a click and clicks its item. The menu runs its own loop,
    // so the item is clicked from inside it, as soon as it shows.
    void ChooseMenuItem(const QString& text)
    {
        bool clicked = false;
        auto connection =
            QObject::connect(frame(), &CMainFrame::captionMenuShown, [&](QMenu* menu) {
                for (QAction* a : menu->actions())
                    if (a->text() == text) {
                        Click(menu->mapToGlobal(menu->actionGeometry(a).center()));
                        clicked = true;
                    }
            });
        Click(Menu());
        EXPECT_TRUE(WaitFor([&] { return clicked; }, 5000)) << text.toStdString();
        QObject::disconnect(connection);
    }
};

Rig* g_rig = nullptr;

class MainFrame : public ::testing::Test {
protected:
    static void SetUpTestSuite() { g_rig = new Rig; }
    static void TearDownTestSuite()
    {
        delete g_rig;
        g_rig = nullptr;
    }
    void SetUp() override
    {
        Rig& rig = *g_rig;
        rig.questions.clear();
        rig.answer = qev::IdCancel;
        if (!rig.frame()->isVisible()) rig.ShowGame();
        if (!rig.frame()->IsMaximised()) rig.frame()->ShowMaximised();
        Xdotool({"mousemove", "5", "900"}); // off the caption
    }
};

// The frame's pixels of a 20 x 20 caption button at (x, 5), against image id over the
// caption piece beneath.
bool ShowsImage(CMainFrame* frame, int x, int id)
{
    const QImage* image = CImageManager::GetInstance().FindImage(id);
    if (!image) return false;
    const QImage shot =
        frame->grab(QRect(x, 5, 20, 20)).toImage().convertToFormat(QImage::Format_ARGB32);
    // Where the button image is opaque, the frame shows it.
    int worst = 0;
    for (int y = 0; y < 20; ++y)
        for (int xx = 0; xx < 20; ++xx) {
            const QColor want = image->pixelColor(xx, y);
            if (want.alpha() < 255) continue;
            const QColor got = shot.pixelColor(xx, y);
            worst = std::max({worst, std::abs(want.red() - got.red()),
                              std::abs(want.green() - got.green()),
                              std::abs(want.blue() - got.blue())});
        }
    return worst <= 8;
}

TEST_F(MainFrame, MaximisedToTheAvailableAreaWithItsCaptionAndIcon)
{
    CMainFrame* frame = g_rig->frame();
    EXPECT_EQ(frame->geometry(), frame->screen()->availableGeometry());
    EXPECT_EQ(frame->windowTitle(), "QEV");
    EXPECT_EQ(frame->minimumSize(), QSize(1000, 700));
    // The pages fill the client area inside the borders and the caption.
    const QWidget* view = frame->activeView();
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(view->mapTo(frame, QPoint(0, 0)), QPoint(4, 30));
    EXPECT_EQ(view->width(), frame->width() - 8);
    // Maximised: the restore set of the maximise button; close and minimise plain.
    const int w = frame->width();
    EXPECT_TRUE(ShowsImage(frame, w - 44, 1050));
    EXPECT_TRUE(ShowsImage(frame, w - 24, 1030));
    EXPECT_TRUE(ShowsImage(frame, w - 64, 1040));
    // Hover feedback: the cursor over close repaints it with its hover image.
    Xdotool({"mousemove", N(g_rig->Close().x()), N(g_rig->Close().y())});
    EXPECT_TRUE(WaitFor([&] { return ShowsImage(frame, w - 24, 1032); }, 5000));
    Xdotool({"mousemove", "5", "900"});
    EXPECT_TRUE(WaitFor([&] { return ShowsImage(frame, w - 24, 1030); }, 5000));
}

TEST_F(MainFrame, CloseAsksAndCancelKeepsTheFrameUnderTheQuestionTitle)
{
    Rig& rig = *g_rig;
    rig.Press(rig.Close());
    rig.Release(rig.Close());
    ASSERT_TRUE(WaitFor([&] { return !rig.questions.empty(); }, 5000));
    ASSERT_EQ(rig.questions.size(), 1u);
    EXPECT_EQ(rig.questions[0].text, "Are you sure you want to quit the micro-client?");
    EXPECT_EQ(rig.questions[0].caption, "Velmora Client");
    EXPECT_EQ(rig.questions[0].frameTitle, "Velmora Client") << "title set before asking";
    EXPECT_EQ(rig.questions[0].type, 0x21);
    EXPECT_EQ(rig.frame()->pressedAction(), 1002);
    QTest::qWait(100);
    EXPECT_TRUE(rig.frame()->isVisible());
    EXPECT_EQ(rig.frame()->windowTitle(), "Velmora Client");
}

TEST_F(MainFrame, PressOnOneButtonAndReleaseOnAnotherDoesNothing)
{
    Rig& rig = *g_rig;
    rig.Press(rig.Minimise());
    rig.Release(rig.Close());
    EXPECT_TRUE(WaitFor([&] { return rig.frame()->pressedAction() == 1001; }, 5000));
    EXPECT_FALSE(
        WaitFor([&] { return !rig.questions.empty() || !rig.frame()->isVisible(); }, 1000));
    EXPECT_FALSE(rig.frame()->isMinimized());
}

TEST_F(MainFrame, DoubleClickRestoresAndMaximisesAndABorderDragMovesTheFrame)
{
    Rig& rig = *g_rig;
    CMainFrame* frame = rig.frame();
    const QRect maximised = frame->geometry();
    // Double click on the caption's empty middle: restored to the size it had before.
    Xdotool({"mousemove", N(rig.At(500, 12).x()), N(rig.At(500, 12).y()), "click", "--repeat", "2",
             "--delay", "80", "1"});
    ASSERT_TRUE(WaitFor([&] { return !frame->IsMaximised(); }, 5000));
    EXPECT_EQ(frame->size(), QSize(1024, 700));
    // Dragging the left border moves the frame and never resizes it.
    const QPoint before = frame->pos();
    const QPoint grip = rig.At(2, 300);
    rig.Press(grip);
    Xdotool({"mousemove", N(grip.x() + 20), N(grip.y() + 10)});
    Xdotool({"mousemove", N(grip.x() + 60), N(grip.y() + 40)});
    rig.Release(grip + QPoint(60, 40));
    EXPECT_TRUE(WaitFor([&] { return frame->pos() == before + QPoint(60, 40); }, 5000))
        << frame->pos().x() << "," << frame->pos().y();
    EXPECT_EQ(frame->size(), QSize(1024, 700));
    // Dragging the bottom border: moves again.
    const QPoint bottom = rig.At(500, 698);
    const QPoint moved = frame->pos();
    rig.Press(bottom);
    Xdotool({"mousemove", N(bottom.x() - 30), N(bottom.y() - 20)});
    rig.Release(bottom - QPoint(30, 20));
    EXPECT_TRUE(WaitFor([&] { return frame->pos() == moved - QPoint(30, 20); }, 5000));
    EXPECT_TRUE(rig.questions.empty());
    // Double click again: maximised.
    Xdotool({"mousemove", N(rig.At(500, 12).x()), N(rig.At(500, 12).y()), "click", "--repeat", "2",
             "--delay", "80", "1"});
    ASSERT_TRUE(WaitFor([&] { return frame->IsMaximised(); }, 5000));
    EXPECT_EQ(frame->geometry(), maximised);
}

TEST_F(MainFrame, SwitchAccountShowsTheLogoutPageThenTheLoginStackASecondLater)
{
    Rig& rig = *g_rig;
    rig.answer = qev::IdOk;
    const int logoutsBefore = rig.Requests("/micro2/Logout");
    rig.ChooseMenuItem("Switch Account");
    ASSERT_TRUE(WaitFor([&] { return !rig.questions.empty(); }, 5000));
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(rig.questions[0].text,
              "Do you wish to return to the interface where you can switch account?");
    EXPECT_EQ(rig.questions[0].type, 0x21);
    EXPECT_TRUE(rig.frame()->drawingFrozen());
    EXPECT_TRUE(WaitFor([&] { return rig.Requests("/micro2/Logout") > logoutsBefore; }, 5000));
    ASSERT_TRUE(WaitFor([&] { return rig.app.loginBackground()->isVisible(); }, 5000));
    const qint64 elapsed = clock.elapsed();
    EXPECT_GE(elapsed, 800);
    EXPECT_LE(elapsed, 3000);
    EXPECT_FALSE(rig.frame()->isVisible());
    EXPECT_FALSE(rig.frame()->drawingFrozen());
    EXPECT_TRUE(rig.app.loginWindow()->isVisible());
}

TEST_F(MainFrame, ReturnToServerListAsksThenShowsTheLoginStackAtOnce)
{
    Rig& rig = *g_rig;
    // A login pane taken off the operator's sites returns to its layout address.
    CMiniBrowser* pane = rig.app.loginWindow()->panes()[0].host;
    const auto discarded = [&] {
        return pane->page()->lifecycleState() == QWebEnginePage::LifecycleState::Discarded;
    };
    ASSERT_TRUE(WaitFor(discarded, 5000)) << "the game's start discards the hidden login page";
    pane->page()->setLifecycleState(QWebEnginePage::LifecycleState::Active);
    pane->Navigate("about:blank");
    ASSERT_TRUE(WaitFor([&] { return pane->page()->url().scheme() == "about"; }, 5000));
    rig.app.loginWindow()->DiscardPanes();
    const int logins = rig.Requests("/micro2");
    rig.answer = qev::IdOk;
    rig.ChooseMenuItem("Return to Server List");
    ASSERT_TRUE(WaitFor([&] { return !rig.questions.empty(); }, 5000));
    EXPECT_EQ(rig.questions[0].text,
              "Do you wish to return to the interface where you can switch servers?");
    ASSERT_TRUE(WaitFor([&] { return !rig.frame()->isVisible(); }, 2000));
    EXPECT_TRUE(rig.app.loginBackground()->isVisible());
    EXPECT_TRUE(WaitFor([&] { return rig.Requests("/micro2") > logins; }, 10000));
    EXPECT_TRUE(WaitFor([&] { return pane->page()->url().path() == "/micro2"; }, 10000));
}

TEST_F(MainFrame, RefreshLoadsTheGamePageAgainWithTheMark)
{
    Rig& rig = *g_rig;
    CKorvel2View* view = rig.frame()->activeView();
    QSignalSpy marked(view, &CKorvel2View::pageMarked);
    rig.ShowGame();
    ASSERT_TRUE(WaitFor([&] { return marked.count() > 0; }, 20000));
    const int before = rig.Requests("/play");
    rig.ChooseMenuItem("Refresh");
    ASSERT_TRUE(WaitFor([&] { return rig.Requests("/play") > before; }, 10000));
    const auto requests = rig.server.Requests();
    std::string cookie;
    for (const auto& r : requests)
        if (r.target == "/play") cookie = r.Header("Cookie");
    EXPECT_EQ(cookie, "korvel=1");
    EXPECT_TRUE(rig.questions.empty());
}

// Shares of the status bar's pixels near the frame's dark ground and near the caption
// colour (the text's antialiased edges are neither).
std::pair<double, double> StatusBarColours(CMainFrame* frame)
{
    const QImage shot = frame->statusBar()->grab().toImage().convertToFormat(QImage::Format_RGB32);
    const QImage side =
        CImageManager::GetInstance().FindImage(10004)->convertToFormat(QImage::Format_RGB32);
    const QRgb ground = side.pixel(side.width() - 1, 0), caption = qRgb(224, 222, 182);
    auto near = [](QRgb a, QRgb b) {
        return std::max({std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)),
                         std::abs(qBlue(a) - qBlue(b))}) <= 24;
    };
    int onGround = 0, onCaption = 0;
    for (int y = 0; y < shot.height(); ++y)
        for (int x = 0; x < shot.width(); ++x) {
            onGround += near(shot.pixel(x, y), ground);
            onCaption += near(shot.pixel(x, y), caption);
        }
    const double all = double(shot.width()) * shot.height();
    return {onGround / all, onCaption / all};
}

TEST_F(MainFrame, StatusBarFollowsTheLockKeysInTheFrameColours)
{
    CMainFrame* frame = g_rig->frame();
    const bool capsBefore = !frame->LockIndicatorText(0).isEmpty();
    Xdotool({"key", "Caps_Lock"});
    EXPECT_TRUE(WaitFor([&] { return frame->LockIndicatorText(0).isEmpty() == capsBefore; }, 5000));
    EXPECT_EQ(frame->LockIndicatorText(0), capsBefore ? "" : "CAP");
    // Dark like the frame around it; the indicator and a message in the caption colour.
    frame->statusBar()->showMessage("http://example.test/a/long/enough/address");
    const auto [ground, text] = StatusBarColours(frame);
    EXPECT_GE(ground, 0.9) << "the frame's dark ground";
    EXPECT_GE(text, 0.002) << "text in the caption colour";
    frame->statusBar()->clearMessage();
    Xdotool({"key", "Caps_Lock"});
    EXPECT_TRUE(WaitFor([&] { return frame->LockIndicatorText(0).isEmpty() != capsBefore; }, 5000));
}

TEST_F(MainFrame, UnknownActionsDoNothingAndTheLoginCloseAsksTheQuitQuestion)
{
    Rig& rig = *g_rig;
    const QRect geometry = rig.frame()->geometry();
    for (int code : {0, 100, 108, 1000, 1004, -1}) rig.frame()->OnCaptionAction(code);
    QApplication::processEvents();
    EXPECT_TRUE(rig.questions.empty());
    EXPECT_EQ(rig.frame()->geometry(), geometry);
    EXPECT_TRUE(rig.frame()->isVisible());
    // Back at the login stack, its close command reaches the same question.
    rig.app.ReturnToLogin();
    rig.app.loginWindow()->OnCommand(CTopWnd::CloseCommand);
    ASSERT_TRUE(WaitFor([&] { return !rig.questions.empty(); }, 5000));
    EXPECT_EQ(rig.questions[0].text, "Are you sure you want to quit the micro-client?");
    rig.app.loginBackground()->RequestClose(); // what the window system's close does
    ASSERT_TRUE(WaitFor([&] { return rig.questions.size() == 2; }, 5000));
    EXPECT_TRUE(rig.app.loginBackground()->isVisible()) << "Cancel keeps the client";
}

// F11 (a real key) fills the screen with the pages alone; Esc gives the maximised frame
// back with its caption and status bar, and so does F11 from a restored frame.
TEST_F(MainFrame, F11AndEscToggleFullScreenAndRestoreTheFrame)
{
    Rig& rig = *g_rig;
    CMainFrame* frame = rig.frame();
    const QRect screen = frame->screen()->geometry();
    const QRect maximised = frame->geometry();
    for (const char* leave : {"Escape", "F11"}) {
        Xdotool({"mousemove", "600", "500", "key", "F11"});
        ASSERT_TRUE(WaitFor([&] { return frame->IsFullScreen(); }, 5000)) << leave;
        EXPECT_TRUE(WaitFor([&] { return frame->geometry() == screen; }, 5000));
        EXPECT_TRUE(WaitFor(
            [&] { return frame->activeView()->geometry() == QRect(QPoint(0, 0), screen.size()); },
            5000));
        EXPECT_FALSE(frame->statusBar()->isVisible());
        Xdotool({"mousemove", "600", "500", "key", leave});
        ASSERT_TRUE(WaitFor([&] { return !frame->IsFullScreen(); }, 5000)) << leave;
        EXPECT_TRUE(WaitFor([&] { return frame->geometry() == maximised; }, 5000)) << leave;
        EXPECT_TRUE(frame->IsMaximised());
        EXPECT_TRUE(frame->statusBar()->isVisible());
    }
}

// A game address that is not http or https, or not the operator's, never opens the game; a feed
// that arrives after its login ended is dropped; a login's own feed starts the schedule when it
// comes, while the window thread goes on.
TEST_F(MainFrame, LoginsTakeOnlyWebAddressesAndTheirOwnFeed)
{
    Rig& rig = *g_rig;
    // A feed that takes this long; the window thread must go on meanwhile.
    constexpr int FeedMs = 2000;
    std::atomic<int> fetches{0};
    rig.app.SetTaskFeedFetcher([&](const std::string&) {
        ++fetches;
        std::this_thread::sleep_for(std::chrono::milliseconds(FeedMs));
        return std::string();
    });
    rig.app.ReturnToLogin();
    CKorvel2View* view = rig.frame()->activeView();
    for (const char* href : {"file:///etc/passwd", "javascript:alert(1)", "data:text/html,x",
                             "velmora://play", " http://127.0.0.1/", "http://ad.test/play"}) {
        rig.app.OnLoggedIn({"Realm", href, "d", "s", "u"});
        QApplication::processEvents();
        EXPECT_FALSE(rig.frame()->isVisible()) << href;
    }
    EXPECT_EQ(fetches, 0);

    const qev::SessionInfo session{"Realm One", rig.GameUrl().toStdString(), "d", "s", "u"};
    QElapsedTimer clock;
    clock.start();
    rig.app.OnLoggedIn(session);
    EXPECT_LT(clock.elapsed(), FeedMs / 2) << "the feed is not waited for";
    EXPECT_TRUE(rig.frame()->isVisible());
    rig.app.ReturnToLogin();
    EXPECT_LT(clock.elapsed(), FeedMs / 2) << "nor waited for when dropped";
    ASSERT_TRUE(WaitFor([&] { return fetches == 1; }, FeedMs));
    QTest::qWait(FeedMs + 500); // past the fetch's end
    EXPECT_FALSE(view->scheduleRunning()) << "the feed of an ended login is dropped";

    rig.app.OnLoggedIn(session);
    EXPECT_TRUE(WaitFor([&] { return view->scheduleRunning(); }, 2 * FeedMs + 1000));
    EXPECT_EQ(fetches, 2);
    rig.app.SetTaskFeedFetcher([](const std::string&) { return std::string(); });
}

} // namespace
