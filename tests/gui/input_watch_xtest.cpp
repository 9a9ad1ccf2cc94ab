// The player's input reaches the guard of the page a view shows after that page was
// replaced, discarded and brought back, or lost its render process: the view's render
// widget is made anew each time.
#include <gtest/gtest.h>

#include <signal.h>

#include <QApplication>
#include <QSignalSpy>
#include <QWebEnginePage>
#include <QWebEngineView>

#include <functional>

#include "gui/browser/web_context.h"

#include "wait_for.h"
#include "gui_main.h"

namespace {

CWebContext* g_web = nullptr; // made in main, after the application

const QUrl Page(QStringLiteral("data:text/html,<body>page</body>"));

QWebEnginePage* NewPage(QWebEngineView& view)
{
    auto* page = new QWebEnginePage(g_web->profile(), &view);
    view.setPage(page);
    g_web->Adopt(&view, page, PageRole::Game);
    page->load(Page);
    return page;
}

TEST(InputWatch, InputCountsOnThePageAViewShowsNow)
{
    using Lifecycle = QWebEnginePage::LifecycleState;
    const struct {
        const char* what;
        std::function<void(QWebEngineView&)> change;
    } rows[] = {
        {"replaced", [](QWebEngineView& view) { NewPage(view); }},
        {"discarded",
         [](QWebEngineView& view) {
             view.hide();
             view.page()->setLifecycleState(Lifecycle::Discarded);
             ASSERT_EQ(view.page()->lifecycleState(), Lifecycle::Discarded);
             view.show();
         }},
        {"render process killed",
         [](QWebEngineView& view) {
             QSignalSpy died(view.page(), &QWebEnginePage::renderProcessTerminated);
             ASSERT_EQ(::kill(static_cast<pid_t>(view.page()->renderProcessPid()), SIGKILL), 0);
             ASSERT_TRUE(died.wait(20000));
         }},
    };
    for (const auto& row : rows) {
        QWebEngineView view;
        view.resize(300, 200);
        view.show();
        QSignalSpy loaded(&view, &QWebEngineView::loadFinished);
        QWebEnginePage* first = NewPage(view);
        ASSERT_TRUE(loaded.wait(20000)) << row.what;
        loaded.clear();
        // A press on the first render widget counts; its allowance is spent here.
        const auto press = [&view](QWebEnginePage* page) {
            QTest::mousePress(view.focusProxy(), Qt::LeftButton, {}, QPoint(10, 10));
            return CPageGuard::Of(page)->SpendAllowance(qev::AllowanceKind::Download);
        };
        ASSERT_TRUE(view.focusProxy() && press(first)) << row.what;
        row.change(view);
        QWebEnginePage* page = view.page();
        ASSERT_TRUE(WaitFor([&] { return !loaded.isEmpty(); }, 20000)) << row.what;
        ASSERT_TRUE(WaitFor([&] { return view.focusProxy() != nullptr; }, 10000)) << row.what;
        EXPECT_TRUE(press(page)) << row.what;
        if (page != first) {
            EXPECT_FALSE(CPageGuard::Of(first)->HasAllowance(qev::AllowanceKind::Download));
        }
    }
}

} // namespace

int qev::test::RunTests(const std::function<int()>& run)
{
    CWebContext web; // off the record; its input filter is made with it
    g_web = &web;
    return run();
}
