#include "gui/app/korvel2_app.h"

#include <QApplication>
#include <QGuiApplication>
#include <QScreen>
#include <QStatusBar>

#include "core/app/settings.h"
#include "core/app/update_modes.h"
#include "core/base/log.h"
#include "core/base/message.h"
#include "core/base/resources.h"
#include "core/base/strings.h"
#include "core/browser/web_rules.h"
#include "core/net/background_request.h"
#include "core/net/update_flow.h"
#include "core/platform/files.h"
#include "core/platform/http_get.h"
#include "core/platform/network_init.h"
#include "core/platform/private_folder.h"
#include "core/remind/task_feed.h"
#include "gui/app/debug_dialog.h"
#include "gui/app/message_box.h"
#include "gui/app/proxy_login_dialog.h"
#include "gui/app/ui_thread_sink.h"
#include "gui/base/app_icon.h"
#include "gui/browser/web_context.h"
#include "gui/game/game_view.h"
#include "gui/game/main_frame.h"
#include "gui/login/background_wnd.h"
#include "gui/login/login_wnd.h"
#include "gui/login/top_wnd.h"
#include "gui/skin/image_manager.h"

namespace {
// Organisation under which Qt would keep per-user settings; the client stores nothing there.
constexpr char CompanyKey[] = "qev";
} // namespace

CKorvel2App::CKorvel2App() = default;

CKorvel2App::~CKorvel2App()
{
    feedRequest_.reset();
    stoppedRequests_.clear();
    reportRequest_.reset();
    mainFrame_.reset();
    loginBackground_.reset(); // and its layers with it
    web_.reset();             // after every page
}

CLoginWnd* CKorvel2App::loginWindow() const
{
    return loginWindow_.data();
}

CTopWnd* CKorvel2App::loginTopWindow() const
{
    return loginTopWindow_.data();
}

// Start-up in the order of its numbered steps, read as phases. Each phase but the first may
// end the start: false from InitInstance ends the process. The web engine starts before the
// windows are composed: making its profile blocks this thread (80 to 330 ms measured),
// and the login page's render process then starts while the stack is built and shown.
// What the stack's first paint does not need waits for it (FinishStart).
bool CKorvel2App::InitInstance(std::optional<std::string_view> layoutText)
{
    if (!StartPlatform()) return false;
    ReadLayout(layoutText);
    if (!AskOpenAddresses()) return false;
    StartLoginPages();
    MakeFrame();
    ShowLoginStack();
    // 23. to 27. after the stack's first paint; 28. the event loop runs.
    return true;
}

void CKorvel2App::FinishStart()
{
    if (started_ || !mainFrame_) return;
    started_ = true;
    // 23. The first document with its game view inside the hidden frame.
    mainFrame_->NewDocument();
    StartUpdateCheck();
    // 25. to 27. Start-up report.
    SendStartupReport();
}

bool CKorvel2App::StartPlatform()
{
    // 1. Common controls: nothing to register here.
    // 2. Arguments select the update modes; main() runs those before this object exists.
    // 3. Base initialisation: the QApplication exists (created by main()). Every window of
    // the client (the login stack's taskbar entry, the main frame) carries icon 128.
    InstallMessageBoxHandler();
    QApplication::setWindowIcon(AppIcon());
    // An update hand-over killed mid-copy may have left its temporary file beside ours.
    qev::RemoveUpdateLeftovers(qev::GetProgramPath());
    // 4. Sockets.
    if (!qev::InitNetwork()) {
        qev::ShowMessage(qev::LoadString(qev::IdsInternetFailed));
        return false;
    }
    // 5. and 6. Component model and control hosting: the web engine needs no set-up here.
    // 7. Company key.
    QCoreApplication::setOrganizationName(QString::fromLatin1(CompanyKey));
    // 8. Imaging needs no start-up.
    return true;
}

void CKorvel2App::ReadLayout(std::optional<std::string_view> layoutText)
{
    // 9. Layout document, then the images. Failures leave a layout without games.
    if (!layoutText) layoutText = qev::FindResource("XML", qev::LayoutResourceId);
    if (layoutText) qev::LoadLayout(layout_.layout, *layoutText);
    LoadImageResources();
    // 10. Current game: the first name in map order.
    if (!layout_.layout.games.empty()) SelectGame(layout_.layout.games.begin()->first);
}

void CKorvel2App::MakeFrame()
{
    // 11. and 12. Document list and main frame: the login stack's owner, whose close the
    // stack's close asks for.
    mainFrame_ = std::make_unique<CMainFrame>(layout_, *web_);
    // 13. Size of the "game" pane; the frame stays hidden.
    if (const qev::WebPane* game = FindGamePane("game"))
        mainFrame_->resize(game->right - game->left, game->bottom - game->top);
    // 14. and 15. Main window; the command line carries nothing for an ordinary start.
}

bool CKorvel2App::AskOpenAddresses()
{
    // 16. and 17. Login background, labelled for the taskbar.
    const QString abbreviation = QString::fromStdString(qev::LoadString(qev::IdsProductAbbrev));
    loginBackground_ = std::make_unique<CBackgroundWnd>(layout_);
    loginBackground_->setWindowTitle(abbreviation);
    // 18. and 19. Open login and logout addresses are asked for; cancel ends the process.
    // A layout without either pane is not supported: start-up fails.
    qev::WebPane* loginPane = FindWebPane("login", "login");
    qev::WebPane* logoutPane = FindWebPane("gamemain", "logout");
    if (!loginPane || !logoutPane) return false;
    // The dialog is made only when it is asked: a layout that has both addresses (the
    // built-in one) starts without building either.
    const auto askAddress = [this](qev::WebPane& pane, auto makeDialog) {
        if (pane.flag != 0) return true;
        auto dialog = makeDialog();
        if (dialog.exec() != QDialog::Accepted) {
            endedAtOnce_ = true;
            return false;
        }
        pane.url = dialog.address.toStdString();
        pane.flag = 1;
        return true;
    };
    return askAddress(*loginPane, [] { return CDebugDialog(); }) &&
           askAddress(*logoutPane, [] { return CDebugDialog2(); });
}

void CKorvel2App::StartLoginPages()
{
    // The web profile every page shares, then 20. the page layer, whose pages begin to
    // load at once (their views show with the stack's first paint).
    web_ = std::make_unique<CWebContext>(QString::fromStdString(qev::DataHome()),
                                         QString::fromStdString(qev::CacheHome()),
                                         qev::BuildOperatorHosts());
    web_->profile();
    loginWindow_ = new CLoginWnd(loginBackground_.get(), layout_, *web_);
}

void CKorvel2App::ShowLoginStack()
{
    // 21. and 22. The button layer above the page layer, on the background; the stack is
    // one window, shown and centred as one.
    loginTopWindow_ = new CTopWnd(loginBackground_.get(), layout_);
    WireWindows();
    loginBackground_->show();
    loginWindow_->CenterWindow();
}

void CKorvel2App::StartUpdateCheck()
{
    // 24. Update check: asynchronous; its notices reach the flow on this thread through
    // the main frame, while the download thread waits.
    updateFlow_ = std::make_unique<qev::UpdateFlow>(layout_);
    updateFlow_->SetNoticeSink(
        MakeUiThreadSink(mainFrame_.get(), [this](const qev::DownloadNotice& notice) {
            if (!updateFlow_) return;
            updateFlow_->OnDownloadNotice(notice);
            ShowUpdateStatus(); // a package verified while the game plays is told at once
        }));
    updateFlow_->CheckForUpdate();
}

void CKorvel2App::WireWindows()
{
    // The windows report upward; this object is the one place that knows both the main
    // frame and the login stack. Nothing is reported before the event loop runs.
    QObject::connect(mainFrame_.get(), &CMainFrame::paneRequested, mainFrame_.get(),
                     [this](const QString& function) { OpenPane(function); });
    QObject::connect(mainFrame_.get(), &CMainFrame::logoutRequested, mainFrame_.get(),
                     [this] { LogoutGame(); });
    QObject::connect(mainFrame_.get(), &CMainFrame::returnToLoginRequested, mainFrame_.get(),
                     [this](bool rebuildLogin) { ReturnToLogin(rebuildLogin); });
    // The stack's close (its button or the window system's) is the frame's: it asks first.
    QObject::connect(loginBackground_.get(), &CLayeredWnd::closeRequested, mainFrame_.get(),
                     &QWidget::close);
    // The rest of the start waits for the stack to be on screen.
    QObject::connect(
        loginWindow_, &CLoginWnd::firstPainted, mainFrame_.get(), [this] { FinishStart(); },
        Qt::QueuedConnection);
    QObject::connect(loginWindow_, &CLoginWnd::loggedIn, mainFrame_.get(),
                     [this](const qev::SessionInfo& session) { OnLoggedIn(session); });
    QObject::connect(web_.get(), &CWebContext::downloadStatus, mainFrame_->statusBar(),
                     [this](const QString& text) { mainFrame_->statusBar()->showMessage(text); });
    QObject::connect(web_.get(), &CWebContext::pageStatus, mainFrame_->statusBar(),
                     [this](const QString& text) { mainFrame_->statusBar()->showMessage(text); });
    // A proxy that asks the pages for a password: the player is asked in a dialog of ours.
    OfferProxyLogin(web_->proxyLogin());
}

void CKorvel2App::ShowUpdateStatus()
{
    if (mainFrame_ && updateFlow_)
        mainFrame_->SetUpdateStatus(QString::fromStdString(updateFlow_->PlayerStatus()));
}

void CKorvel2App::SendStartupReport()
{
    const qev::ReportAddress address = qev::ReadLocalSettings();
    const std::string query = address.query + "&mac=" + qev::GetMachineIdentity();
    // The scheme goes with the host, so the text request keeps https and its port.
    const std::string host = (address.https ? "https://" : "") + address.host;
    // The answer is not used and a failure is not reported; a slow server delays nothing.
    if (address.host.empty() || address.path.empty()) return;
    reportRequest_ = std::make_unique<qev::BackgroundTextRequest>(
        [query, path = address.path, host](const std::atomic<bool>& stop) {
            return qev::HttpGetText(query, path, host, {}, &stop);
        },
        nullptr);
}

int CKorvel2App::ExitInstance()
{
    // The event loop no longer runs: stop the requests under way, release any download
    // thread waiting on the frame, end the downloads, then hand over to a downloaded build
    // when one is complete.
    DropTaskFeed();
    stoppedRequests_.clear();
    reportRequest_.reset();
    if (updateFlow_) {
        if (mainFrame_) DisableUiThreadSinks(mainFrame_.get());
        updateFlow_->Shutdown();
        updateFlow_->LaunchUpdater();
    }
    CImageManager::GetInstance().RemoveAll();
    return 0;
}

CKorvel2Doc* CKorvel2App::FindDocument(const QString& function)
{
    if (!mainFrame_) return nullptr;
    for (const auto& doc : mainFrame_->documents()) {
        if (doc->title.isEmpty()) doc->title = function;
        if (doc->title.compare(function, Qt::CaseInsensitive) == 0) return doc.get();
    }
    return nullptr;
}

void CKorvel2App::ShowGameWindow(const QString& url, const QString& title)
{
    FinishStart(); // a login before the stack was painted (tests) still finds its view
    CKorvel2Doc* doc = FindDocument(QStringLiteral("game"));
    if (!doc) return;
    if (doc->view) {
        gameUrl = url;
        gameTitle = title;
        mainFrame_->SetGame(gameUrl, gameTitle);
        doc->view->Navigate(gameUrl);
        mainFrame_->ActivateDocument(doc);
    }
    if (loginBackground_) loginBackground_->hide(); // the stack, layers and all
    // The hidden login page keeps no render process while the game plays. Not from here:
    // the login may still be inside that page's own callback.
    if (loginWindow_)
        QMetaObject::invokeMethod(loginWindow_, &CLoginWnd::DiscardPanes, Qt::QueuedConnection);
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect r = mainFrame_->frameGeometry();
        r.moveCenter(screen->availableGeometry().center());
        mainFrame_->move(r.topLeft());
    }
    ShowUpdateStatus();
    mainFrame_->ShowMaximised();
    mainFrame_->activateWindow();
    mainFrame_->raise();
}

void CKorvel2App::OpenPane(const QString& function)
{
    if (!mainFrame_) return;
    if (CKorvel2Doc* doc = FindDocument(function)) {
        if (doc->view) mainFrame_->ActivateDocument(doc);
        return;
    }
    if (!mainFrame_->NewDocument()) return;
    CKorvel2Doc* doc = FindDocument(function);
    if (!doc || !doc->view) return;
    if (GetCurrentGame()) {
        if (const qev::WebPane* pane = FindGamePane(function.toStdString()))
            doc->view->Navigate(QString::fromStdString(pane->url));
    }
    mainFrame_->ActivateDocument(doc);
}

void CKorvel2App::ReturnToLogin(bool rebuildLogin)
{
    DropTaskFeed(); // the login has ended
    if (mainFrame_) mainFrame_->SetFullScreen(false);
    CKorvel2View* view = mainFrame_ ? mainFrame_->activeView() : nullptr;
    if (view) {
        view->DropPage(); // the old page cannot keep the player
        view->Navigate(QStringLiteral("about:blank"));
    }
    if (mainFrame_) mainFrame_->hide();
    if (mainFrame_) mainFrame_->StopSchedules();
    // The login page loads again before its view shows: a discarded page that is shown
    // loads by itself, and would then load twice.
    if (loginWindow_) {
        if (rebuildLogin)
            loginWindow_->BuildPanes(); // new pages: the old account's go
        else
            loginWindow_->RefreshPanes(web_->sites());
    }
    if (loginBackground_) loginBackground_->show();
}

void CKorvel2App::LogoutGame()
{
    DropTaskFeed(); // the login ends here
    if (!mainFrame_) return;
    mainFrame_->StopSchedules();
    // The old account's windows go with it (they share its cookies).
    if (web_) web_->ClosePopups();
    for (const auto& doc : mainFrame_->documents()) {
        if (!doc->view || doc->title.compare(QStringLiteral("game"), Qt::CaseInsensitive) != 0)
            continue;
        if (!GetCurrentGame()) continue;
        if (const qev::WebPane* pane = FindGamePane("logout")) {
            // A new page shows the logout page: the old one cannot ask to stay.
            doc->view->DropPage();
            doc->view->Navigate(QString::fromStdString(pane->url));
        }
    }
}

void CKorvel2App::OnLoggedIn(const qev::SessionInfo& session)
{
    if (!qev::IsWebAddress(session.href)) {
        qev::WriteLog("game address refused (not http or https): " +
                      qev::AddressForLog(session.href));
        return;
    }
    // A page off the operator's sites (an ad's copy of the sign-in page) must not choose
    // the game, nor the account whose tasks are fetched.
    if (!web_->sites().IsOperatorAddress(session.href)) {
        qev::WriteLog("game address refused (not the operator's site): " +
                      qev::AddressForLog(session.href));
        return;
    }
    ShowGameWindow(QString::fromStdString(session.href), QString::fromStdString(session.title));
    // The feed ("" on failure; the schedule copes with either) is read on this thread when
    // it arrives; until then the game plays.
    DropTaskFeed();
    const int serial = loginSerial_;
    auto fetch = taskFeedFetcher_;
    feedRequest_ = std::make_unique<qev::BackgroundTextRequest>(
        [fetch, session](const std::atomic<bool>& stop) {
            return fetch ? fetch(qev::TaskFeedQuery(session)) : qev::FetchTaskFeed(session, stop);
        },
        [this, frame = mainFrame_.get(), serial](std::string feed) {
            // The frame outlives the request (it is stopped and waited for first).
            QMetaObject::invokeMethod(
                frame, [this, serial, feed = std::move(feed)] { OnTaskFeed(serial, feed); },
                Qt::QueuedConnection);
        });
}

void CKorvel2App::DropTaskFeed()
{
    ++loginSerial_;
    std::erase_if(stoppedRequests_, [](const auto& request) { return request->finished(); });
    if (!feedRequest_) return;
    feedRequest_->Stop();
    stoppedRequests_.push_back(std::move(feedRequest_));
}

void CKorvel2App::OnTaskFeed(int serial, const std::string& feed)
{
    if (serial != loginSerial_) return;
    if (mainFrame_)
        if (CKorvel2View* view = mainFrame_->activeView()) view->StartSchedule(feed);
}
