#pragma once
// A document of the main frame and its game view. The view shows a page, marks every page
// it loads from the operator's sites with the cookie "korvel=1" (so pages can tell they run
// inside the client), keeps script errors quiet, and carries the activity schedule and the
// reminder.
#include <QLabel>
#include <QList>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <QWebEnginePage>
#include <QWebEngineView>

#include <functional>
#include <string>
#include <vector>

#include "core/browser/operator_sites.h"
#include "core/remind/activity_schedule.h"
#include "gui/browser/web_context.h"
#include "gui/browser/web_page.h"
#include "gui/remind/remind_popup.h"

// A window a game page opened: a top-level window of the client titled after its page.
// While its page is off the operator's sites (a payment or sign-in provider), a bar of the
// client's own above the page names the site and says whether its connection is encrypted.
// It goes full screen when its page asks, and back on Esc or the page's own exit.
class CGamePopup : public QWidget {
    Q_OBJECT
public:
    CGamePopup(CWebContext& web, CWebPage* root);
    CWebPage* page() const { return page_; }
    QWebEngineView* view() const { return view_; }
    // What the site bar says; empty while the page is on the operator's sites.
    QString siteBarText() const { return bar_->isHidden() ? QString() : bar_->text(); }

protected:
    // A pop-up whose page has a dialog open closes once the dialog has gone.
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void UpdateSiteBar();

    CWebContext& web_;
    QWebEngineView* view_; // children of this
    CWebPage* page_;
    QLabel* bar_;
};

class CKorvel2View : public QWebEngineView {
    Q_OBJECT
public:
    // The cookie every page of the operator's sites gets, exactly as written (no attributes).
    static constexpr char MarkCookie[] = "korvel=1";

    // web: where the view's page comes from; currentGame: the game whose layout the view's
    // reminder is built from (none: no reminder shows); operatorHosts: the sites whose pages
    // get the mark (qev::OperatorSites).
    explicit CKorvel2View(
        CWebContext& web, QWidget* parent = nullptr,
        std::function<const qev::GameEntry*()> currentGame = {},
        const std::vector<std::string>& operatorHosts = qev::BuildOperatorHosts());
    ~CKorvel2View() override;

    // Shows url; the view's page is made here the first time. Only the client's own
    // commands call it (a sign-in, Refresh, a caption tab), so the page's script dialogs
    // start afresh.
    void Navigate(const QString& url);
    // Leaves the page: the view gets a new, blank page object, and the old one goes without
    // asking its page whether it may (no "leave this page?") and sends nothing more.
    void DropPage();
    // Whether the page itself is full screen (an element of it fills the screen).
    bool pageFullScreen() const { return pageFullScreen_; }
    // Ends the page's own full screen (as its exit would); nothing when it is not.
    void ExitPageFullScreen();
    // Reads a task feed into the activity list (appending), restarts the schedule timer
    // (every 2 s) and resets its tick counter.
    void StartSchedule(const std::string& feedText);
    // Stops the schedule timer, empties the activity list and removes the reminder.
    void StopSchedule();

    qev::ActivitySchedule& schedule() { return schedule_; }
    bool scheduleRunning() const { return scheduleTimer_.isActive(); }

    // The reminder's tray icon reports here (icon id 32781, the mouse message).
    void OnTrayNotify(int iconId, int mouseMessage);
    // Commands sent to the view: 32782, the tray menu's "退出", removes the reminder.
    void OnCommand(int id);
    // The frame was minimised or went full screen: an open reminder stays on screen, above
    // it (it is a window of its own; this shows and raises it again should the window
    // system have hidden it with its owner or stacked the frame over it).
    void ShowReminderWindows();
    CRemindPopup& reminder() { return reminder_; }

signals:
    // Page marking ran on a loaded page: written tells whether the cookie was set now.
    void pageMarked(const QUrl& url, bool written);
    // The page's status text: the address of the link under the cursor.
    void linkHovered(const QString& url);
    // The page entered (on) or left full screen; the request is already accepted.
    void fullScreenRequested(bool on);

private:
    // Sets the cookie on the loaded page unless it is not the operator's or its cookie text
    // already holds it.
    void MarkPage();
    void EnsurePage();

    CWebContext& web_;
    const qev::OperatorSites sites_;
    CWebPage* ownPage_ = nullptr; // child of the view
    CRemindPopup reminder_;
    qev::ActivitySchedule schedule_;
    QTimer scheduleTimer_;
    bool pageFullScreen_ = false;
};

class CKorvel2Doc {
public:
    QString title;                // empty until the application names it
    CKorvel2View* view = nullptr; // owned by the frame's widget tree
};
