#pragma once
// Login window: the page layer of the login stack, between the background and the buttons.
// It holds the web panes of the login layout (the portal's login page), checks once that
// the machine is online, and completes the login when a page hands over a session.
#include <QPointer>
#include <QTimer>

#include <functional>
#include <string>
#include <vector>

#include "browser/mini_browser.h"
#include "browser/session_info.h"
#include "layout/layout.h"
#include "skin/layered_wnd.h"

class CBackgroundWnd;

class CLoginWnd : public CLayerWnd {
    Q_OBJECT
public:
    static constexpr int FirstControlId = 5000;
    static constexpr int ConnectivityCheckMs = 2000;
    static constexpr char TaskFeedPath[] = "/micro2/GetTasks";

    // One web pane of the login layout and its browser host (null when bit 0 of its flag
    // is clear, or the host could not be made).
    struct PaneRecord {
        qev::WebPane pane;
        QPointer<CMiniBrowser> host;
    };

    // stack: the login background this layer lies on (null: a window of its own, for
    // tests).
    explicit CLoginWnd(CBackgroundWnd* stack);
    ~CLoginWnd() override;

    // Rebuilds the panes from the current game's login layout and takes its size. Control
    // ids continue from the last one given, never reset. Before the window has first been
    // painted, the pages load right after that paint, so the stack shows without waiting
    // for the web engine to start.
    void BuildPanes();
    // Reloads every pane that has a browser.
    void RefreshPanes();
    // Centres the stack (the one window this layer is part of) on the screen.
    void CenterWindow();

    CBackgroundWnd* background() const;
    const std::vector<PaneRecord>& panes() const { return panes_; }
    int nextControlId() const { return nextControlId_; }

    // The command table: 33769 minimises the stack, 33770 is the stack's close request
    // (as the top layer's).
    void OnCommand(int id);
    // Login completion: switch to the game, fetch the task feed, start the schedule.
    void OnSession(const qev::SessionInfo& session);

    // Seams for tests: whether the machine is online, and the task-feed request
    // (query -> feed text). Empty functions restore the real ones.
    static void SetConnectivityProbe(std::function<bool()> probe);
    static void SetTaskFeedFetcher(std::function<std::string(const std::string& query)> fetch);
    // The real probe: a reachability report when the system offers one, otherwise
    // "an interface other than loopback is up".
    static bool MachineIsOnline();

protected:
    // The first paint of the stack's window starts the pending page loads.
    bool eventFilter(QObject* watched, QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void DestroyControls();
    // The pages of panes built before the window first appeared.
    void StartPendingLoads();
    void OnFirstPaint();
    void CheckConnectivity();

    std::vector<PaneRecord> panes_;
    int nextControlId_ = FirstControlId;
    QTimer connectivityTimer_;
    bool painted_ = false;
    std::vector<std::pair<QPointer<CMiniBrowser>, QString>> pendingLoads_;
};
