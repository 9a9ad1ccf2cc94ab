#pragma once
// Login window: the page layer of the login stack, between the background and the buttons.
// It holds the web panes of the login layout (the portal's login page), checks once that
// the machine is online, and reports the login (loggedIn) when a page hands over a session;
// the application takes it from there.
#include <QPointer>
#include <QTimer>
#include <QUrl>

#include <functional>
#include <string>
#include <vector>

#include "core/browser/operator_sites.h"
#include "core/browser/session_info.h"
#include "core/layout/layout.h"
#include "gui/browser/mini_browser.h"
#include "gui/skin/layered_wnd.h"

class CBackgroundWnd;

class CLoginWnd : public CLayerWnd {
    Q_OBJECT
public:
    static constexpr int FirstControlId = 5000;
    static constexpr int ConnectivityCheckMs = 2000;

    // One web pane of the login layout and its browser host (null when bit 0 of its flag
    // is clear, or the host could not be made).
    struct PaneRecord {
        qev::WebPane pane;
        QPointer<CMiniBrowser> host;
        // What the page showed when it was discarded (a discarded page has no address).
        QUrl shownBeforeDiscard;
    };

    // stack: the login background this layer lies on (null: a window of its own, for
    // tests); layout: the layout state whose current game the panes come from; web: where
    // the pages come from.
    CLoginWnd(CBackgroundWnd* stack, qev::LayoutState& layout, CWebContext& web);
    ~CLoginWnd() override;

    // Rebuilds the panes from the current game's login layout and takes its size, and
    // starts their pages' loads. Control ids continue from the last one given, never reset.
    // Before the window has first been painted, the views stay hidden until that paint.
    void BuildPanes();
    // Reloads every pane that has a browser (a discarded page loads again) when it shows
    // one of sites; a pane elsewhere loads its layout address instead (one log line).
    void RefreshPanes(const qev::OperatorSites& sites);
    // While the stack is hidden, its pages give up their render processes.
    void DiscardPanes();
    // Centres the stack (the one window this layer is part of) on the screen.
    void CenterWindow();

    CBackgroundWnd* background() const;
    const std::vector<PaneRecord>& panes() const { return panes_; }
    int nextControlId() const { return nextControlId_; }

    // The command table: 33769 minimises the stack, 33770 is the stack's close request
    // (as the top layer's).
    void OnCommand(int id);
    // Login completion: reports the session (loggedIn).
    void OnSession(const qev::SessionInfo& session);

    // Whether the machine is online, asked once a little after the window appears; an
    // empty function (the default) asks the system (MachineIsOnline).
    void SetConnectivityProbe(std::function<bool()> probe) { probe_ = std::move(probe); }
    // The real probe: a reachability report when the system offers one, otherwise
    // "an interface other than loopback is up".
    static bool MachineIsOnline();

signals:
    // A page handed over a session: the player is logged in.
    void loggedIn(const qev::SessionInfo& session);
    // The stack's window has been painted for the first time.
    void firstPainted();

protected:
    // The first paint of the stack's window shows the page views.
    bool eventFilter(QObject* watched, QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void DestroyControls();
    // The views of panes built before the window first appeared.
    void ShowPanes();
    void OnFirstPaint();
    void CheckConnectivity();

    qev::LayoutState& layout_;
    CWebContext& web_;
    std::function<bool()> probe_;
    std::vector<PaneRecord> panes_;
    int nextControlId_ = FirstControlId;
    QTimer connectivityTimer_;
    bool painted_ = false;
};
