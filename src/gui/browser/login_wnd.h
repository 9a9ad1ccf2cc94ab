#pragma once
// Login window: the middle layer of the login stack, holding the portal's login page.
// Placeholder: an empty frameless window; panes come with the browser host.
#include <QWidget>

class CBackgroundWnd;

class CLoginWnd : public QWidget {
    Q_OBJECT
public:
    explicit CLoginWnd(CBackgroundWnd* parent);
    // Rebuilds the panes from the current game's login layout.
    void BuildPanes();
    // Reloads every pane that has a browser.
    void RefreshPanes();
    // Centres the window (and so the stack that follows it) on the screen.
    void CenterWindow();
};
