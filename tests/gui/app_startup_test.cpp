// Start-up, the moves between the login stack and the game, and start-up failures.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <QWebEnginePage>

#include "core/base/message.h"
#include "core/base/resources.h"
#include "gui/app/debug_dialog.h"
#include "gui/app/korvel2_app.h"
#include "gui/game/game_view.h"
#include "gui/game/main_frame.h"
#include "gui/login/background_wnd.h"
#include "gui/login/login_wnd.h"
#include "gui/login/top_wnd.h"

#include "wait_for.h"

#include <algorithm>
#include <memory>
#include <vector>

void PrintTo(const QString& s, std::ostream* os)
{
    *os << '"' << s.toStdString() << '"';
}

namespace {

// The view's address once its navigation has started (loads begin asynchronously).
QString UrlOf(CKorvel2View* view, const QString& expected)
{
    WaitFor([&] { return view->url().toString() == expected; }, 5000);
    return view->url().toString();
}

std::string BuiltInLayout()
{
    return std::string(*qev::FindResource("XML", qev::LayoutResourceId));
}

std::string Replace(std::string text, const std::string& from, const std::string& to)
{
    const auto at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    if (at != std::string::npos) text.replace(at, from.size(), to);
    return text;
}

int VisibleWindows()
{
    int visible = 0;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->isVisible()) ++visible;
    return visible;
}

bool AnyVisibleWindow()
{
    return VisibleWindows() > 0;
}

// Answers the address dialogs as they come up, one answer each in order: types the text and
// presses OK, or closes the dialog for a null text. Waits for each dialog instead of
// guessing when it shows; the captions seen are appended to *captions.
void AnswerDialogs(std::vector<const char*> texts, std::vector<std::string>* captions)
{
    auto* timer = new QTimer;
    auto answered = std::make_shared<std::vector<QPointer<QWidget>>>();
    auto ticks = std::make_shared<int>(0);
    QObject::connect(timer, &QTimer::timeout, [=]() mutable {
        auto* dialog = qobject_cast<CDebugAddressDialog*>(QApplication::activeModalWidget());
        const bool fresh =
            dialog && std::none_of(answered->begin(), answered->end(),
                                   [dialog](const QPointer<QWidget>& w) { return w == dialog; });
        if (!fresh) {
            if (++*ticks > 1000) { // 20 s
                ADD_FAILURE() << "no dialog came up";
                timer->deleteLater();
            }
            return;
        }
        answered->push_back(dialog);
        const char* text = texts[answered->size() - 1];
        if (captions) captions->push_back(dialog->windowTitle().toStdString());
        if (answered->size() == texts.size()) timer->deleteLater();
        if (!text) {
            dialog->close();
            return;
        }
        dialog->edit()->setText(QString::fromUtf8(text));
        dialog->findChild<QPushButton*>()->click();
    });
    timer->start(20);
}

struct MessageLog {
    std::vector<std::string> texts;
    MessageLog()
    {
        qev::SetMessageHandler([this](const std::string& t, const std::string&, int) {
            texts.push_back(t);
            return qev::IdOk;
        });
    }
    ~MessageLog() { qev::SetMessageHandler({}); }
};

} // namespace

TEST(Startup, BuiltInLayoutBuildsTheLoginStackAndAHiddenFrame)
{
    CKorvel2App app;
    ASSERT_TRUE(app.InitInstance());
    EXPECT_EQ(app.layoutState().currentGameName, "Velmora");
    ASSERT_NE(app.mainFrame(), nullptr);
    EXPECT_FALSE(app.mainFrame()->isVisible());
    EXPECT_EQ(app.mainFrame()->size(), QSize(1024, 700));
    EXPECT_TRUE(app.loginBackground()->isVisible());
    EXPECT_TRUE(app.loginWindow()->isVisible());
    EXPECT_TRUE(app.loginTopWindow()->isVisible());
    EXPECT_EQ(app.loginBackground()->windowTitle(), "QEV");
    // One window on screen: the background, the page layer and the button layer above it.
    EXPECT_EQ(VisibleWindows(), 1);
    EXPECT_EQ(app.loginWindow()->window(), app.loginBackground());
    EXPECT_EQ(app.loginTopWindow()->window(), app.loginBackground());
    EXPECT_EQ(app.loginWindow()->size(), app.loginBackground()->size());
    EXPECT_EQ(app.loginTopWindow()->size(), app.loginBackground()->size());
    // Icon 128 on the taskbar window and the frame, at its full size.
    for (QWidget* w :
         {static_cast<QWidget*>(app.loginBackground()), static_cast<QWidget*>(app.mainFrame())})
        EXPECT_EQ(w->windowIcon().availableSizes().value(0), QSize(256, 256));
    // The first document and the update check wait for the stack's first paint.
    EXPECT_TRUE(app.mainFrame()->documents().empty());
    EXPECT_EQ(app.updateFlow(), nullptr);
    WaitFor([&] { return !app.mainFrame()->documents().empty(); }, 5000);
    ASSERT_EQ(app.mainFrame()->documents().size(), 1u);
    EXPECT_NE(app.updateFlow(), nullptr);

    // Login completed: the first document becomes "game", the stack hides, the frame shows.
    app.ShowGameWindow("http://127.0.0.1:1/play", "Server 1");
    EXPECT_EQ(app.gameUrl, "http://127.0.0.1:1/play");
    EXPECT_EQ(app.gameTitle, "Server 1");
    EXPECT_EQ(app.mainFrame()->documents()[0]->title, "game");
    EXPECT_FALSE(app.loginBackground()->isVisible());
    EXPECT_FALSE(app.loginWindow()->isVisible());
    EXPECT_FALSE(app.loginTopWindow()->isVisible());
    EXPECT_TRUE(app.mainFrame()->isVisible());
    EXPECT_EQ(VisibleWindows(), 1);
    EXPECT_EQ(UrlOf(app.mainFrame()->activeView(), "http://127.0.0.1:1/play"),
              "http://127.0.0.1:1/play");
    // The hidden login page gives up its render process while the game plays.
    QWebEnginePage* loginPage = nullptr;
    for (const auto& pane : app.loginWindow()->panes())
        if (pane.host) loginPage = pane.host->page();
    ASSERT_NE(loginPage, nullptr);
    using State = QWebEnginePage::LifecycleState;
    WaitFor([&] { return loginPage->lifecycleState() == State::Discarded; }, 5000);
    EXPECT_EQ(loginPage->lifecycleState(), State::Discarded);

    // A tab opens its page once, then is only activated.
    app.OpenPane("homepage");
    ASSERT_EQ(app.mainFrame()->documents().size(), 2u);
    EXPECT_EQ(app.mainFrame()->activeDocument()->title, "homepage");
    const QString home = QString::fromStdString(app.FindGamePane("homepage")->url);
    EXPECT_EQ(UrlOf(app.mainFrame()->activeView(), home), home);
    app.OpenPane("GAME");
    EXPECT_EQ(app.mainFrame()->documents().size(), 2u);
    EXPECT_EQ(app.mainFrame()->activeDocument()->title, "game");

    // Logout shows the portal's logout page in the "game" views only.
    app.OpenPane("homepage");
    app.LogoutGame();
    const QString logout = QString::fromStdString(app.FindGamePane("logout")->url);
    EXPECT_EQ(UrlOf(app.mainFrame()->documents()[0]->view, logout), logout);
    EXPECT_EQ(app.mainFrame()->documents()[1]->view->url().toString(), home);

    // The active view's schedule runs from a feed until the way back to the login stack.
    app.OpenPane("game");
    CKorvel2View* view = app.mainFrame()->activeView();
    view->StartSchedule(
        R"({"server_time":"2026-01-01 12:00:00","activities":[{"activity_iNo":"1",)"
        R"("activity_start":"12:10","activity_over":"12:30","display_sUrl":"u"}]})");
    EXPECT_TRUE(view->scheduleRunning());
    EXPECT_EQ(view->schedule().Activities().size(), 1u);

    app.ReturnToLogin();
    EXPECT_EQ(loginPage->lifecycleState(), State::Active);
    EXPECT_FALSE(view->scheduleRunning());
    EXPECT_TRUE(view->schedule().Activities().empty());
    EXPECT_FALSE(app.mainFrame()->isVisible());
    EXPECT_TRUE(app.loginBackground()->isVisible());
    EXPECT_TRUE(app.loginWindow()->isVisible());
    EXPECT_TRUE(app.loginTopWindow()->isVisible());
    EXPECT_EQ(UrlOf(app.mainFrame()->activeView(), "about:blank"), "about:blank");
    EXPECT_EQ(app.ExitInstance(), 0);
}

// The frame takes the "game" pane's width and height; where the pane sits does not matter.
TEST(Startup, FrameTakesTheGamePaneSizeWhateverItsPlace)
{
    CKorvel2App app;
    ASSERT_TRUE(app.InitInstance(Replace(
        BuiltInLayout(),
        R"(<item x="0" y="0" w="1024" h="700" l="2" t="2" r="-6" b="-6" flag="1" function="game">)",
        R"(<item x="37" y="55" w="1100" h="760" l="2" t="2" r="-6" b="-6" flag="1" function="game">)")));
    EXPECT_EQ(app.mainFrame()->size(), QSize(1100, 760));
    EXPECT_FALSE(app.mainFrame()->isVisible());
    app.ExitInstance();
}

TEST(Startup, LayoutWithoutLoginOrLogoutPaneFailsWithoutAWindow)
{
    for (const auto& [from, to] :
         {std::pair<std::string, std::string>{"function=\"login\"", "function=\"signin\""},
          {"function=\"logout\"", "function=\"signout\""}}) {
        CKorvel2App app;
        EXPECT_FALSE(app.InitInstance(Replace(BuiltInLayout(), from, to)));
        EXPECT_FALSE(app.endedAtOnce());
        EXPECT_FALSE(AnyVisibleWindow());
        EXPECT_EQ(app.ExitInstance(), 0);
    }
}

TEST(Startup, OpenAddressesAreAskedForBeforeAnyWindow)
{
    const std::string open = Replace(
        Replace(BuiltInLayout(), "flag=\"1\" function=\"login\"", "flag=\"0\" function=\"login\""),
        "flag=\"1\" function=\"logout\"", "flag=\"0\" function=\"logout\"");
    {
        // Cancelling the first dialog ends the process at once, with nothing shown.
        CKorvel2App app;
        std::vector<std::string> captions;
        AnswerDialogs({nullptr}, &captions);
        EXPECT_FALSE(app.InitInstance(open));
        EXPECT_TRUE(app.endedAtOnce());
        EXPECT_EQ(captions, std::vector<std::string>{"login in url input"});
        EXPECT_FALSE(AnyVisibleWindow());
    }
    {
        // Both answered: the typed texts become the panes' addresses (a blank is accepted).
        CKorvel2App app;
        std::vector<std::string> captions;
        AnswerDialogs({"http://login.example/", " "}, &captions);
        ASSERT_TRUE(app.InitInstance(open));
        EXPECT_EQ(captions, (std::vector<std::string>{"login in url input", "logout url input "}));
        EXPECT_EQ(app.FindWebPane("login", "login")->url, "http://login.example/");
        EXPECT_EQ(app.FindWebPane("login", "login")->flag, 1);
        EXPECT_EQ(app.FindWebPane("gamemain", "logout")->url, " ");
        EXPECT_EQ(app.FindWebPane("gamemain", "logout")->flag, 1);
        app.ExitInstance();
    }
}

TEST(DebugDialog, EmptyAddressWarnsAndStays)
{
    MessageLog log;
    CDebugDialog dialog;
    dialog.show();
    dialog.edit()->setText("x");
    dialog.edit()->clear();
    dialog.findChild<QPushButton*>()->click();
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(dialog.result(), 0);
    EXPECT_EQ(log.texts, std::vector<std::string>{"Can not be empty"});
    dialog.edit()->setText("a");
    dialog.findChild<QPushButton*>()->click();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(dialog.address, "a");
}
