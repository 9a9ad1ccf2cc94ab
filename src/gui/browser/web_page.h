#pragma once
// The page of every pane of the client: the login and reminder panes, the game views and
// their pop-ups. The engine's hooks on a page (new windows, navigations, script dialogs, the
// console, file choosers, the context menu) are answered here once, as the page's role says,
// so a rule cannot reach one kind of page and miss another. The page connects its own
// handlers; its owner hands in only what lies outside the browser part: where a game's
// pop-ups are made, where a pane's other windows go.
#include <QList>
#include <QPointer>
#include <QUrl>
#include <QWebEnginePage>

#include <functional>

#include "core/browser/session_info.h"
#include "gui/browser/page_role.h"

class CWebContext;
class QWebEngineNewWindowRequest;
class QWebEngineView;

class CWebPage : public QWebEnginePage {
    Q_OBJECT
public:
    // At most this many pop-ups of one game view are open at once.
    static constexpr int MaxOpenPopups = 4;
    // Makes and shows the window of a new pop-up of the game page root; returns the pop-up's
    // page (role Popup, made with root), or null when there is none.
    using PopupMaker = std::function<CWebPage*(CWebPage* root)>;
    using Opener = std::function<void(const QUrl&)>;

    // role: what the page is for; root: for a Popup, the page of the game view it came from.
    CWebPage(CWebContext& web, PageRole role, QObject* parent, CWebPage* root = nullptr);

    PageRole role() const { return role_; }
    // Shows the page in view (which then owns nothing of it) and has the web context adopt
    // it: rules, input, zoom, recovery. The view shows no browser menu: a right click
    // gives a text field its editing commands, nothing elsewhere (a page's own
    // "contextmenu" handler shows its own menu).
    void ShowIn(QWebEngineView* view);

    // The player's own command (Refresh, Return to Server List, a sign-in) loads url or
    // reloads the page: its script dialogs start afresh. Loads the page's own scripts or
    // links cause keep its dialog gate as it was.
    void LoadForPlayer(const QUrl& url);
    void ReloadForPlayer();

    // Game pages: where their pop-ups' windows are made (none: pop-ups are refused).
    void SetPopupMaker(PopupMaker maker) { popupMaker_ = std::move(maker); }
    // Where windows other than "_game" of a login or reminder page go, and the foreign
    // sites the player's input sends a pane's main frame to: the desktop's browser unless
    // another opener is handed in (an empty one restores the desktop's).
    void SetExternalOpener(Opener opener) { externalOpener_ = std::move(opener); }

    // The JavaScript that reads the hand-over attributes of the page's active element.
    static const QString& ActiveElementScript();

signals:
    // A login or reminder page opened a "_game" window; no window was opened for it.
    void sessionStarted(const qev::SessionInfo& session);

protected:
    // Null: every window goes through the page's new-window handler.
    QWebEnginePage* createWindow(WebWindowType) override { return nullptr; }
    // The page's console stays out of the terminal the client was started from.
    void javaScriptConsoleMessage(JavaScriptConsoleMessageLevel, const QString&, int,
                                  const QString&) override
    {
    }
    bool acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame) override;
    void javaScriptAlert(const QUrl&, const QString& text) override;
    bool javaScriptConfirm(const QUrl&, const QString& text) override;
    bool javaScriptPrompt(const QUrl&, const QString& text, const QString& value,
                          QString* result) override;
    // Login and reminder panes choose no files; game pages ask the player as usual.
    QStringList chooseFiles(FileSelectionMode mode, const QStringList& oldFiles,
                            const QStringList& acceptedMimeTypes) override;

private:
    void OnNewWindow(QWebEngineNewWindowRequest& request);
    // Login and reminder pages: "_game" is the hand-over, other windows go outside.
    void HandOver(const QUrl& requestedUrl, bool userInitiated);
    // Game pages and pop-ups: a window of the client, on the player's input.
    void OpenPopup(QWebEngineNewWindowRequest& request);
    // A main-frame navigation away from the operator's sites: never in the pane. On the
    // player's input it spends the pop-up allowance and opens in the desktop's browser.
    void LeaveForeign(const QUrl& url);
    void OpenOutside(const QUrl& url);
    void ShowContextMenu(QWebEngineView* view, const QPoint& at);

    CWebContext& web_;
    PageRole role_;
    QPointer<CWebPage> root_;          // the game view's page (this one for a game view)
    QList<QPointer<CWebPage>> popups_; // of the game view, on its root page
    PopupMaker popupMaker_;
    Opener externalOpener_;
};
