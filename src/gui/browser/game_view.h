#pragma once
// A document of the main frame and its game view. The view shows a page, marks every page
// it loads with the cookie "korvel=1" (so pages can tell they run inside the client), keeps
// script errors quiet, and carries the activity schedule and the reminder.
#include <QString>
#include <QTimer>
#include <QWebEnginePage>
#include <QWebEngineView>

#include <functional>
#include <string>

#include "remind/activity_schedule.h"
#include "remind/remind_popup.h"

// The page of a game view or of a game pop-up: script errors stay quiet, and a window the
// page opens becomes a browser window of the client with the same profile (the session).
class CGamePage : public QWebEnginePage {
    Q_OBJECT
public:
    using QWebEnginePage::QWebEnginePage;

protected:
    QWebEnginePage* createWindow(WebWindowType type) override;
    void javaScriptConsoleMessage(JavaScriptConsoleMessageLevel, const QString&, int,
                                  const QString&) override
    {
    }
};

// A window a game page opened: a top-level browser of the client titled after its page.
class CGamePopup : public QWebEngineView {
    Q_OBJECT
public:
    explicit CGamePopup(QWebEngineProfile* profile);
};

class CKorvel2View : public QWebEngineView {
    Q_OBJECT
public:
    // The cookie every game page gets, exactly as written (no attributes).
    static constexpr char MarkCookie[] = "korvel=1";

    // currentGame: the game whose layout the view's reminder is built from (none: no
    // reminder shows).
    explicit CKorvel2View(QWidget* parent = nullptr,
                          std::function<const qev::GameEntry*()> currentGame = {});
    ~CKorvel2View() override;

    // Shows url; the view's page is made here the first time.
    void Navigate(const QString& url);
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
    // The frame was minimised: an open reminder stays on screen (it is a window of its own;
    // this shows it again should the window system have hidden it with its owner).
    void ShowReminderWindows();
    CRemindPopup& reminder() { return reminder_; }

signals:
    // Page marking ran on a loaded page: written tells whether the cookie was set now.
    void pageMarked(const QUrl& url, bool written);
    // The page's status text: the address of the link under the cursor.
    void linkHovered(const QString& url);

private:
    // Sets the cookie on the loaded page unless its cookie text already holds it.
    void MarkPage();
    void EnsurePage();

    CGamePage* ownPage_ = nullptr; // child of the view
    CRemindPopup reminder_;
    qev::ActivitySchedule schedule_;
    QTimer scheduleTimer_;
};

class CKorvel2Doc {
public:
    QString title;                // empty until the application names it
    CKorvel2View* view = nullptr; // owned by the frame's widget tree
};
