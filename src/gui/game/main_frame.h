#pragma once
// The main frame around the game pages. It paints its own borders and caption over the
// whole window (the client area is inset by them), hit-tests its caption buttons itself and
// turns a click into a caption action posted to itself, asks before switching account,
// returning to the server list or quitting, and keeps a status bar under the pages.
//
// Its documents (title + view) are shown one at a time, always filling the client area.
// Maximised means the screen's available area; the frame sets that geometry itself, so it
// maximises the same with a window manager or without one.
#include <QEvent>
#include <QPoint>
#include <QRect>
#include <QTimer>
#include <QWidget>

#include <memory>
#include <vector>

#include "core/layout/layout.h"
#include "core/skin/caption_rules.h"

class QLabel;
class QShortcut;
class QMenu;
class QStackedWidget;
class QStatusBar;
class CKorvel2Doc;
class CKorvel2View;
class CWebContext;

// The posted caption action (the private message WM_CAPTION_ACTION).
class CaptionActionEvent : public QEvent {
public:
    static constexpr QEvent::Type EventType = static_cast<QEvent::Type>(QEvent::User + 0x8003);
    explicit CaptionActionEvent(int action) : QEvent(EventType), action(action) {}
    const int action;
};

class CMainFrame : public QWidget {
    Q_OBJECT
public:
    // Switch account shows the logout page this long, frozen, before the login stack returns.
    static constexpr int SwitchAccountTimerId = 1;
    static constexpr int SwitchAccountDelayMs = 1000;
    // The lock-key indicators follow the keyboard at this pace while the frame shows.
    static constexpr int LockKeyPollMs = 250;

    // layout: the layout state whose current game the caption is drawn from; web: where
    // the views' pages come from.
    CMainFrame(qev::LayoutState& layout, CWebContext& web);
    ~CMainFrame() override;

    // The template's new-document operation: a new untitled document with its game view.
    // Null when the view could not be made.
    CKorvel2Doc* NewDocument();
    const std::vector<std::unique_ptr<CKorvel2Doc>>& documents() const { return documents_; }
    // Brings the document's view to the front ("activate the child frame maximised").
    void ActivateDocument(CKorvel2Doc* doc);
    CKorvel2Doc* activeDocument() const;
    // The active child frame's active view, or null.
    CKorvel2View* activeView() const;
    // Stops the activity schedule (and so removes the reminder) of every view: the one that
    // runs it need not be the active one when the player leaves the game.
    void StopSchedules();

    // Carries out a caption action; codes it does not know do nothing.
    void OnCaptionAction(int action);
    // The caption menu's commands: 32772 Refresh, 32775 Switch Account, 32776 Server List.
    void OnCommand(int id);

    // Own maximise: the available area of the frame's screen; restore goes back.
    void ShowMaximised();
    void ShowRestored();
    bool IsMaximised() const { return maximised_; }
    // Full screen: the pages fill the frame's screen, without caption, borders or status
    // bar, and the reminders are raised above them again; off brings the frame back as it
    // was (maximised or not). A page's own full-screen request lands here, and F11 toggles
    // it; Esc leaves it.
    void SetFullScreen(bool on);
    bool IsFullScreen() const { return fullScreen_; }

    int pressedAction() const { return pressedAction_; }
    bool drawingFrozen() const { return !updatesEnabled(); }
    QStatusBar* statusBar() const { return statusBar_; }
    // The three lock indicators' texts (empty while that lock is off).
    QString LockIndicatorText(int pane) const;
    // The update-state label, left of the lock indicators: it stays while the message pane
    // shows links and downloads. Hidden while empty.
    void SetUpdateStatus(const QString& text);

    // The game the frame shows: the address Refresh loads, the title the caption draws.
    void SetGame(const QString& url, const QString& title);

    // The caption buttons as assistive technology sees them (the frame paints them itself):
    // how many, the action, where (window coordinates) and what each is called now.
    int CaptionButtonCount() const;
    int CaptionButtonAction(int index) const;
    QRect CaptionButtonRect(int index) const;
    QString CaptionButtonName(int index) const;
    // Presses that button as a completed click does: its caption action is posted.
    void PressCaptionButton(int index);

signals:
    // The caption menu is open (tests pick its items).
    void captionMenuShown(QMenu* menu);
    // A caption tab was clicked: the page of that function ("game", "homepage", "bbs").
    void paneRequested(const QString& function);
    // Switch Account: the portal's logout page in the game views, now.
    void logoutRequested();
    // Back to the login stack; rebuildLogin: its panes are made anew (Switch Account).
    void returnToLoginRequested(bool rebuildLogin);

protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void timerEvent(QTimerEvent* event) override;

private:
    // Buttons of the current game's <gamemain> layout; null without a current game.
    const std::vector<qev::ButtonItem>* CaptionButtons() const;
    // Press on a caption button, or the start of a move anywhere else.
    void CaptionPress(const QPoint& at, const QPoint& global);
    // Repaints the buttons under the old and the new cursor position.
    void TrackCursor(const QPoint& at);
    void UpdateButtonAt(const QPoint& at);
    // Sets the caption question title and asks; true on OK.
    bool Ask(int textId);
    // Opens menu 222 with its right edge at anchor + 10 and its top at anchor + 16 (global).
    void ShowCaptionMenu(const QPoint& anchor);
    // The menu for the keyboard: placed as for a click in the middle of the menu button.
    void ShowCaptionMenuFromKeyboard();
    // Tells assistive technology that the caption buttons' names may have changed.
    void NotifyCaptionNames();
    void OnRefresh();
    void OnSwitchAccount();
    void OnServerList();
    void UpdateLockIndicators();
    // F11, and Esc while full screen: a page's own full screen ends through the page.
    void ToggleFullScreen();
    void RaiseReminders();

    qev::LayoutState& layout_;
    CWebContext& web_;
    QString gameUrl_, gameTitle_;
    QStackedWidget* stack_;
    QStatusBar* statusBar_;
    QLabel* updateLabel_ = nullptr;
    QLabel* lockLabels_[3] = {};
    QTimer lockTimer_;
    std::vector<std::unique_ptr<CKorvel2Doc>> documents_;
    int pressedAction_ = qev::ActionNone;
    // Where the cursor is over the frame (window coordinates) and whether the primary
    // button is down there; drives hover and pressed looks.
    QPoint cursor_{-1, -1};
    bool primaryDown_ = false;
    // A press outside the buttons: the window moves once the mouse does; its release is the
    // end of the move, not a caption click.
    bool movePending_ = false, moving_ = false;
    QPoint pressGlobal_, moveOffset_;
    bool maximised_ = false;
    QRect restoreGeometry_;
    bool fullScreen_ = false;
    // What full screen hides and gives back.
    bool maximisedBeforeFullScreen_ = false;
    QRect geometryBeforeFullScreen_;
    QShortcut* escape_ = nullptr; // only while full screen, so Esc reaches the pages otherwise
    int switchTimer_ = 0;
    bool asking_ = false;
};
