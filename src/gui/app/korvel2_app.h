#pragma once
// The application object: start-up, shutdown, and the moves between the login stack and
// the game. One instance per ordinary client process (the update modes never create it).
#include <QPointer>
#include <QString>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/browser/session_info.h"
#include "core/layout/layout.h"

namespace qev {
class BackgroundTextRequest;
class UpdateFlow;
} // namespace qev
class CMainFrame;
class CBackgroundWnd;
class CLoginWnd;
class CTopWnd;
class CKorvel2Doc;
class CKorvel2View;
class CWebContext;

class CKorvel2App {
public:
    CKorvel2App();
    ~CKorvel2App();
    CKorvel2App(const CKorvel2App&) = delete;
    CKorvel2App& operator=(const CKorvel2App&) = delete;

    // Ordinary start-up, in the documented order. False when start-up failed; then
    // endedAtOnce() tells whether the process must end without running ExitInstance.
    // layoutText replaces the built-in layout document (tests only).
    bool InitInstance(std::optional<std::string_view> layoutText = std::nullopt);
    bool endedAtOnce() const { return endedAtOnce_; }
    // Shutdown: hands over to a waiting update, releases the images. Returns the exit code.
    int ExitInstance();

    // Layout lookups over the built-in document and the current game.
    qev::LayoutState& layoutState() { return layout_; }
    qev::LayoutDocument& layout() { return layout_.layout; }
    void SelectGame(const std::string& name) { layout_.SelectGame(name); }
    qev::GameEntry* GetCurrentGame() { return layout_.GetCurrentGame(); }
    qev::WebPane* FindWebPane(std::string_view window, std::string_view function)
    {
        return layout_.FindWebPane(window, function);
    }
    qev::WebPane* FindGamePane(std::string_view function) { return layout_.FindGamePane(function); }

    // Login completed: show the game page maximised in the main frame, hide the login stack.
    void ShowGameWindow(const QString& url, const QString& title);
    // Shows the page of a caption tab ("game", "homepage", "bbs"), creating its view once.
    void OpenPane(const QString& function);
    // Back to the login stack: blank the game page, stop the schedule, reload the login page
    // (rebuildLogin: new login panes instead, as after a logout).
    void ReturnToLogin(bool rebuildLogin = false);
    // Stops the schedule and shows the portal's logout page in every "game" view.
    void LogoutGame();
    // A login completed (the login window's report): the game window, then the task feed,
    // fetched on a worker, and the schedule of the active view once it arrives. A game
    // address other than http or https, or off the operator's sites, is refused (one log
    // line): the player stays on the login stack, its page where it was.
    void OnLoggedIn(const qev::SessionInfo& session);

    // The task-feed request (query -> feed text), run on a worker; an empty function (the
    // default) asks the portal. Tests hand in their own.
    void SetTaskFeedFetcher(std::function<std::string(const std::string& query)> fetch)
    {
        taskFeedFetcher_ = std::move(fetch);
    }

    // The update check and hand-off; null before start-up reached the main frame.
    qev::UpdateFlow* updateFlow() const { return updateFlow_.get(); }
    CMainFrame* mainFrame() const { return mainFrame_.get(); }
    CWebContext* webContext() const { return web_.get(); }
    CBackgroundWnd* loginBackground() const { return loginBackground_.get(); }
    CLoginWnd* loginWindow() const;
    CTopWnd* loginTopWindow() const;

    QString gameUrl;
    QString gameTitle;

private:
    // The document titled after function (case ignored); empty titles take that name on
    // the way. Null when none matches.
    CKorvel2Doc* FindDocument(const QString& function);
    // The start-up report, on a worker: its answer is not used.
    void SendStartupReport();
    // The task feed of login number serial arrived (on this thread); a login that has
    // ended since drops it.
    void OnTaskFeed(int serial, const std::string& feed);
    // Connects the windows' reports to the operations above.
    void WireWindows();
    // The phases of InitInstance, in their order.
    bool StartPlatform();
    void ReadLayout(std::optional<std::string_view> layoutText);
    void MakeFrame();
    bool AskOpenAddresses();
    void StartLoginPages();
    void ShowLoginStack();
    // The start's steps after the stack's first paint; once, whichever comes first of that
    // paint and a login.
    void FinishStart();
    void StartUpdateCheck();
    // The update's state for the player, in the main frame's status bar.
    void ShowUpdateStatus();

    qev::LayoutState layout_;
    bool endedAtOnce_ = false;
    bool started_ = false;
    // Every page's profile; it outlives the windows, whose pages it holds.
    std::unique_ptr<CWebContext> web_;
    // The login stack is destroyed after the main frame (members go in reverse order). It
    // is one window: the background owns its two layers.
    std::unique_ptr<CBackgroundWnd> loginBackground_;
    QPointer<CLoginWnd> loginWindow_;
    QPointer<CTopWnd> loginTopWindow_;
    std::unique_ptr<CMainFrame> mainFrame_;
    std::unique_ptr<qev::UpdateFlow> updateFlow_;
    std::function<std::string(const std::string&)> taskFeedFetcher_;
    // Ends the login's feed request without waiting for it: a feed still on its way is
    // dropped.
    void DropTaskFeed();

    // Requests under way, and feed requests told to stop whose threads may still run; all
    // are stopped and waited for before the frame goes.
    std::unique_ptr<qev::BackgroundTextRequest> reportRequest_, feedRequest_;
    std::vector<std::unique_ptr<qev::BackgroundTextRequest>> stoppedRequests_;
    int loginSerial_ = 0;
};
