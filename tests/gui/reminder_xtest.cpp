// The reminder pop-up on a real X server (Xvfb, 1920 x 1080) with a real tray host
// (trayer) and real mouse events (xdotool): it appears in the corner on the schedule's
// first tick, collapses and expands, closes for good, answers its tray icon, disappears on
// every way out of the game, and works without a tray.
#include <gtest/gtest.h>

#include <QApplication>
#include <QMenu>
#include <QMessageBox>
#include <QProcess>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QWindow>

#include <ctime>
#include <string>
#include <vector>

#include "core/base/message.h"
#include "gui/app/korvel2_app.h"
#include "gui/browser/mini_browser.h"
#include "gui/game/game_view.h"
#include "gui/game/main_frame.h"
#include "gui/login/login_wnd.h"
#include "gui/remind/remind_popup.h"
#include "gui/remind/remind_windows.h"
#include "gui/skin/image_button.h"

#include "wait_for.h"
#include "gui_main.h"

namespace {

// The corner of a 1920 x 1080 screen for the built-in 283 x 93 reminder.
constexpr QPoint Corner(1637, 837);
constexpr int CollapsedX = 1890;
constexpr int TickMs = 2000;

std::vector<std::string> g_messages;

// A feed whose server clock reads today at serverClock ("HH:MM:SS") with one activity.
std::string Feed(const char* serverClock, const char* start, const char* over,
                 const char* url = R"(http:\/\/127.0.0.1:9\/micro2\/TaskTips?tid=7)")
{
    const std::time_t now = std::time(nullptr);
    std::tm today{};
    localtime_r(&now, &today);
    char date[16];
    std::strftime(date, sizeof date, "%Y-%m-%d", &today);
    return std::string("{\"server_time\":\"") + date + " " + serverClock +
           "\",\"activities\":[{\"activity_iNo\":\"7\",\"activity_start\":\"" + start +
           "\",\"activity_over\":\"" + over + "\",\"display_sUrl\":\"" + url + "\"}]}";
}

// A real pointer: move there and click with button (1 left, 3 right).
void Click(QPoint global, int button = 1)
{
    const int rc = QProcess::execute("xdotool", {"mousemove", QString::number(global.x()),
                                                 QString::number(global.y()), "click",
                                                 QString::number(button)});
    ASSERT_EQ(rc, 0) << "xdotool failed";
}

QPoint CentreOf(QWidget* widget)
{
    return widget->mapToGlobal(widget->rect().center());
}

// The tray host: trayer at the top-left edge of the screen.
class TrayHost {
public:
    bool Start()
    {
        process_.setProgram("trayer");
        process_.setArguments({"--edge", "top", "--align", "left", "--widthtype", "request",
                               "--heighttype", "pixel", "--height", "32", "--SetDockType", "false",
                               "--SetPartialStrut", "false"});
        process_.start();
        if (!process_.waitForStarted(5000)) return false;
        return WaitFor([] { return QSystemTrayIcon::isSystemTrayAvailable(); }, 10000);
    }
    // Without a window manager nothing keeps the panel above the maximised game window, as a
    // desktop's panel is: put it back on top, as a player would see it.
    void Raise()
    {
        QProcess::execute("xdotool", {"search", "--class", "trayer", "windowraise", "%@"});
    }
    bool Stop()
    {
        process_.terminate();
        if (!process_.waitForFinished(5000)) {
            process_.kill();
            process_.waitForFinished(5000);
        }
        return WaitFor([] { return !QSystemTrayIcon::isSystemTrayAvailable(); }, 10000);
    }
    ~TrayHost() { Stop(); }

private:
    QProcess process_;
};

TrayHost* g_tray = nullptr;
CKorvel2App* g_app = nullptr; // the one application object, made in main()

class Reminder : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        g_tray = new TrayHost;
        ASSERT_TRUE(g_tray->Start()) << "trayer did not provide a tray";
    }
    static void TearDownTestSuite()
    {
        delete g_tray;
        g_tray = nullptr;
    }

    void SetUp() override
    {
        g_messages.clear();
        g_app->ShowGameWindow("about:blank", "Test realm");
        view = g_app->mainFrame()->activeView();
        ASSERT_NE(view, nullptr);
        view->StopSchedule();
        popup = &view->reminder();
    }
    void TearDown() override
    {
        if (view) view->StopSchedule();
        if (popup) popup->SetDigitStripSource({});
    }

    // Starts the schedule with feed and waits for the reminder of its first tick.
    void OpenWith(const std::string& feed)
    {
        view->StartSchedule(feed);
        ASSERT_TRUE(WaitFor([&] { return popup->isOpen(); }, TickMs + 3000));
        EXPECT_EQ(view->schedule().TickCount(), 1) << "opened by the first tick";
        ASSERT_NE(popup->background(), nullptr);
        ASSERT_TRUE(QTest::qWaitForWindowExposed(popup->background()));
    }
    // Lets the schedule tick twice more.
    void TwoMoreTicks()
    {
        const auto ticks = view->schedule().TickCount();
        EXPECT_TRUE(
            WaitFor([&] { return view->schedule().TickCount() >= ticks + 2; }, 3 * TickMs + 2000));
    }
    QPoint ButtonCentre(int action)
    {
        CImageButton* button = popup->topWnd()->ButtonFor(action);
        return button ? CentreOf(button) : QPoint();
    }
    bool TrayIconShown()
    {
        QSystemTrayIcon* tray = popup->trayIcon();
        return tray && tray->isVisible() && !tray->geometry().isEmpty();
    }

    CKorvel2View* view = nullptr;
    CRemindPopup* popup = nullptr;
};

TEST_F(Reminder, AppearsInTheCornerOnTheFirstTickWithPageCountdownAndTrayIcon)
{
    OpenWith(Feed("12:00:00", "12:10", "12:40"));
    CRemindBack* back = popup->background();
    EXPECT_EQ(back->geometry(), QRect(Corner, QSize(283, 93)));
    EXPECT_TRUE(back->isVisible());
    const Qt::WindowFlags flags = back->windowFlags();
    EXPECT_EQ(flags & Qt::WindowType_Mask, Qt::Tool) << "no taskbar entry";
    EXPECT_TRUE(flags & Qt::WindowStaysOnTopHint);
    EXPECT_TRUE(flags & Qt::WindowDoesNotAcceptFocus);
    EXPECT_FALSE(back->isActiveWindow());

    // Ten minutes to the start: 10:00 or 09:59 by now.
    CRemindTopWnd* top = popup->topWnd();
    ASSERT_NE(top, nullptr);
    EXPECT_GE(top->shownValue(), 595);
    EXPECT_LE(top->shownValue(), 600);
    EXPECT_FALSE(top->running());

    // The page is the feed's address without its backslashes, in a browser pane.
    const auto& panes = back->dataWnd()->panes();
    ASSERT_EQ(panes.size(), 1u);
    EXPECT_EQ(panes[0].pane.url, "http://127.0.0.1:9/micro2/TaskTips?tid=7");
    ASSERT_NE(panes[0].host, nullptr);
    EXPECT_EQ(panes[0].host->geometry(), QRect(38, 13, 64, 64));

    // Input: visible pixels and the pane; the transparent column right of the artwork
    // (the artwork is 277 wide) lets clicks through.
    EXPECT_TRUE(back->mask().contains(QPoint(150, 8)));
    EXPECT_TRUE(back->mask().contains(QPoint(50, 30)));
    EXPECT_FALSE(back->mask().contains(QPoint(280, 50)));
    EXPECT_FALSE(top->mask().contains(QPoint(50, 30)))
        << "the top layer leaves the page to the pane";
    EXPECT_TRUE(top->mask().contains(QPoint(130, 60))) << "the top layer draws its digits";

    ASSERT_TRUE(WaitFor([&] { return TrayIconShown(); }, 5000));
    EXPECT_EQ(popup->trayIcon()->toolTip(), "Reminder");

    // On screen: the artwork where nothing covers it, and digits drawn over the well.
    ASSERT_TRUE(WaitFor([&] { return top->tickCount() >= 1; }, 3000));
    const QImage shot = QGuiApplication::primaryScreen()
                            ->grabWindow(0, Corner.x(), Corner.y(), 283, 93)
                            .toImage()
                            .convertToFormat(QImage::Format_ARGB32);
    const QImage art = back->composed().convertToFormat(QImage::Format_ARGB32);
    auto near = [](QRgb a, QRgb b) {
        return std::abs(qRed(a) - qRed(b)) <= 8 && std::abs(qGreen(a) - qGreen(b)) <= 8 &&
               std::abs(qBlue(a) - qBlue(b)) <= 8;
    };
    int artMatches = 0, artPixels = 0, digitDiffers = 0;
    for (int y = 3; y < 16; ++y)
        for (int x = 110; x < 235; ++x, ++artPixels)
            artMatches += near(shot.pixel(x, y), art.pixel(x, y));
    for (int y = 50; y < 78; ++y)
        for (int x = 121; x < 250; ++x) digitDiffers += !near(shot.pixel(x, y), art.pixel(x, y));
    EXPECT_GE(artMatches, artPixels * 95 / 100) << "the reminder's artwork is on screen";
    EXPECT_GE(digitDiffers, 300) << "the countdown digits are drawn";
}

TEST_F(Reminder, CollapseAndExpandMoveTheWindowAndNeverTakeTheFocus)
{
    QWidget* frame = g_app->mainFrame();
    frame->activateWindow();
    ASSERT_TRUE(WaitFor([&] { return frame->isActiveWindow(); }, 5000));
    OpenWith(Feed("12:00:00", "12:10", "12:40"));
    CRemindBack* back = popup->background();

    Click(ButtonCentre(qev::RemindCollapseAction));
    ASSERT_TRUE(WaitFor([&] { return back->x() == CollapsedX; }, 5000));
    EXPECT_EQ(back->y(), Corner.y());
    CRemindTopWnd* top = popup->topWnd();
    ASSERT_TRUE(
        WaitFor([&] { return top->ButtonFor(qev::RemindExpandAction)->isVisible(); }, 3000));
    EXPECT_FALSE(top->ButtonFor(qev::RemindCollapseAction)->isVisible());

    Click(ButtonCentre(qev::RemindExpandAction));
    ASSERT_TRUE(WaitFor([&] { return back->pos() == Corner; }, 5000));
    EXPECT_TRUE(top->ButtonFor(qev::RemindCollapseAction)->isVisible());
    EXPECT_FALSE(top->ButtonFor(qev::RemindExpandAction)->isVisible());

    // The game keeps the keyboard focus throughout; minimising it keeps the reminder.
    EXPECT_TRUE(frame->isActiveWindow());
    EXPECT_FALSE(back->isActiveWindow());
    frame->showMinimized();
    QTest::qWait(300);
    EXPECT_TRUE(back->isVisible());
    EXPECT_TRUE(popup->isOpen());
    frame->showMaximized();
}

TEST_F(Reminder, CloseButtonClosesForGood)
{
    OpenWith(Feed("12:00:00", "12:10", "12:40"));
    QPointer<CRemindBack> back = popup->background();
    Click(ButtonCentre(qev::RemindCloseAction));
    ASSERT_TRUE(WaitFor([&] { return back.isNull(); }, 5000)) << "window destroyed";
    EXPECT_FALSE(popup->isOpen());
    EXPECT_EQ(popup->trayIcon(), nullptr);
    EXPECT_EQ(view->schedule().Activities()[0].done, 1);
    TwoMoreTicks();
    EXPECT_FALSE(popup->isOpen()) << "the schedule does not reopen a closed reminder";
}

TEST_F(Reminder, TrayLeftClickPlacesTheWindowAgain)
{
    OpenWith(Feed("12:00:00", "12:10", "12:40"));
    ASSERT_TRUE(WaitFor([&] { return TrayIconShown(); }, 5000));
    popup->CollapseReminder();
    ASSERT_EQ(popup->background()->x(), CollapsedX);
    g_tray->Raise();
    Click(popup->trayIcon()->geometry().center());
    ASSERT_TRUE(WaitFor([&] { return popup->background()->pos() == Corner; }, 5000));
    EXPECT_TRUE(popup->topWnd()->ButtonFor(qev::RemindCollapseAction)->isVisible());
}

TEST_F(Reminder, TrayMenuExitRemovesWindowAndIcon)
{
    OpenWith(Feed("12:00:00", "12:10", "12:40"));
    ASSERT_TRUE(WaitFor([&] { return TrayIconShown(); }, 5000));
    QPointer<CRemindBack> back = popup->background();
    QPointer<QSystemTrayIcon> tray = popup->trayIcon();
    g_tray->Raise();
    Click(tray->geometry().center(), 3);
    QMenu* menu = popup->trayMenu();
    ASSERT_TRUE(WaitFor([&] { return menu->isVisible(); }, 5000));
    ASSERT_EQ(menu->actions().size(), 1);
    QAction* exit = menu->actions()[0];
    EXPECT_EQ(exit->text(), QString::fromUtf8("退出"));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(menu));
    Click(menu->mapToGlobal(menu->actionGeometry(exit).center()));
    ASSERT_TRUE(WaitFor([&] { return back.isNull() && tray.isNull(); }, 5000));
    EXPECT_FALSE(popup->isOpen());
    // The record stays shown, so the schedule leaves it closed.
    EXPECT_EQ(view->schedule().Activities()[0].shown, 1);
    TwoMoreTicks();
    EXPECT_FALSE(popup->isOpen());
}

TEST_F(Reminder, SwitchAccountAndReturnToLoginRemoveWindowAndIcon)
{
    for (auto leave : {+[] { g_app->LogoutGame(); }, +[] { g_app->ReturnToLogin(); }}) {
        g_app->ShowGameWindow("about:blank", "Test realm");
        OpenWith(Feed("12:00:00", "12:10", "12:40"));
        ASSERT_TRUE(WaitFor([&] { return TrayIconShown(); }, 5000));
        QPointer<CRemindBack> back = popup->background();
        QPointer<QSystemTrayIcon> tray = popup->trayIcon();
        leave();
        ASSERT_TRUE(WaitFor([&] { return back.isNull() && tray.isNull(); }, 5000));
        EXPECT_FALSE(popup->isOpen());
        EXPECT_FALSE(view->scheduleRunning());
    }
}

TEST_F(Reminder, RunningSwitchRebuildsTheButtonsWhereverTheWindowIs)
{
    // The activity starts about three seconds from now.
    OpenWith(Feed("12:09:57", "12:10", "12:40"));
    CRemindTopWnd* top = popup->topWnd();
    EXPECT_TRUE(top->ButtonFor(qev::WaitingLabelAction)->isVisible());
    EXPECT_FALSE(top->ButtonFor(qev::RunningLabelAction)->isVisible());
    Click(ButtonCentre(qev::RemindCollapseAction));
    ASSERT_TRUE(WaitFor([&] { return popup->background()->x() == CollapsedX; }, 5000));

    ASSERT_TRUE(WaitFor([&] { return top->running(); }, 8000));
    EXPECT_EQ(popup->background()->x(), CollapsedX) << "still collapsed";
    ASSERT_TRUE(
        WaitFor([&] { return top->ButtonFor(qev::RunningLabelAction)->isVisible(); }, 3000));
    EXPECT_FALSE(top->ButtonFor(qev::WaitingLabelAction)->isVisible());
    EXPECT_TRUE(top->ButtonFor(qev::RemindCollapseAction)->isVisible());
    EXPECT_FALSE(top->ButtonFor(qev::RemindExpandAction)->isVisible());
    EXPECT_LE(top->shownValue(), 5) << "counts the time since the start";
}

TEST_F(Reminder, OpenedWhileRunningCountsUp)
{
    OpenWith(Feed("12:00:30", "12:00", "12:30"));
    CRemindTopWnd* top = popup->topWnd();
    EXPECT_TRUE(top->running());
    EXPECT_TRUE(top->ButtonFor(qev::RunningLabelAction)->isVisibleTo(top));
    EXPECT_FALSE(top->ButtonFor(qev::WaitingLabelAction)->isVisibleTo(top));
    ASSERT_TRUE(WaitFor([&] { return top->tickCount() >= 1; }, 3000));
    EXPECT_GE(top->shownValue(), 30);
    EXPECT_LE(top->shownValue(), 36);
}

TEST_F(Reminder, MissingDigitStripFailsOnlyTheTopWindow)
{
    popup->SetDigitStripSource([] { return QImage(); });
    OpenWith(Feed("12:00:00", "12:10", "12:40"));
    ASSERT_TRUE(WaitFor([&] { return !g_messages.empty(); }, 3000));
    EXPECT_EQ(g_messages, std::vector<std::string>{"没加载成功"});
    EXPECT_EQ(popup->topWnd(), nullptr);
    EXPECT_TRUE(popup->background()->isVisible());
    EXPECT_EQ(popup->background()->pos(), Corner);
    ASSERT_EQ(popup->background()->dataWnd()->panes().size(), 1u);
    EXPECT_NE(popup->background()->dataWnd()->panes()[0].host, nullptr);
}

TEST_F(Reminder, DestroyingTheViewRemovesTheReminder)
{
    auto* other =
        new CKorvel2View(*g_app->webContext(), nullptr, [] { return g_app->GetCurrentGame(); });
    other->StartSchedule(Feed("12:00:00", "12:10", "12:40"));
    ASSERT_TRUE(WaitFor([&] { return other->reminder().isOpen(); }, TickMs + 3000));
    QPointer<CRemindBack> back = other->reminder().background();
    ASSERT_TRUE(WaitFor([&] { return other->reminder().trayIcon() != nullptr; }, 3000));
    QPointer<QSystemTrayIcon> tray = other->reminder().trayIcon();
    delete other;
    EXPECT_TRUE(back.isNull());
    EXPECT_TRUE(tray.isNull());
}

// Last: it takes the tray away.
TEST_F(Reminder, WithoutATrayTheReminderWorksWithoutIconOrError)
{
    ASSERT_TRUE(g_tray->Stop());
    OpenWith(Feed("12:00:00", "12:10", "12:40"));
    EXPECT_EQ(popup->trayIcon(), nullptr);
    EXPECT_EQ(popup->background()->pos(), Corner);
    Click(ButtonCentre(qev::RemindCollapseAction));
    ASSERT_TRUE(WaitFor([&] { return popup->background()->x() == CollapsedX; }, 5000));
    QTest::qWait(500);
    EXPECT_TRUE(g_messages.empty());
    for (QWidget* w : QApplication::topLevelWidgets())
        EXPECT_FALSE(w->isVisible() && qobject_cast<QMessageBox*>(w)) << "no message box";
}

} // namespace

int qev::test::RunTests(const std::function<int()>& run)
{
    CKorvel2App app;
    g_app = &app;
    if (!app.InitInstance()) return 1;
    // After start-up: it installs the real message boxes.
    qev::SetMessageHandler([](const std::string& text, const std::string&, int) {
        g_messages.push_back(text);
        return qev::IdOk;
    });
    if (app.loginWindow()) app.loginWindow()->SetConnectivityProbe([] { return true; });
    const int rc = run();
    app.ExitInstance();
    return rc;
}
