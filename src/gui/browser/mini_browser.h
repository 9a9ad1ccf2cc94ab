#pragma once
// A small host for one web page inside the skinned windows. The page's view can reach past
// the host's edges by the margins l, t, r, b (so borders and scroll bars fall outside the
// visible area), and a page hands a session to the client by opening a "_game" window.
#include <QPointer>
#include <QRect>
#include <QUrl>
#include <QWidget>

#include <functional>

#include "browser/session_info.h"

class QWebEnginePage;
class QWebEngineView;
class QWebEngineNewWindowRequest;

class CMiniBrowser : public QWidget {
    Q_OBJECT
public:
    explicit CMiniBrowser(QWidget* parent = nullptr);

    // How far the view extends beyond the host on each side (negative pulls it in).
    // Set before Create.
    int l = 0, t = 0, r = 0, b = 0;

    // Places the host at rect inside parent with control id id and creates its view at
    // (-l, -t, width + r, height + b). False when there is no view (nothing to navigate).
    bool Create(const QRect& rect, QWidget* parent, int id);
    bool created() const { return view_ != nullptr; }
    // Loads url (only after a successful Create).
    void Navigate(const QString& url);
    // Reloads the current page.
    void Refresh();

    int controlId() const { return controlId_; }
    QWebEngineView* view() const { return view_; }
    // The view's page, made on first use (null before Create). Navigate makes it.
    QWebEnginePage* page();

    // Where windows other than "_game" go: the user's default browser unless a test
    // installs its own opener (an empty function restores the default).
    static void SetExternalOpener(std::function<void(const QUrl&)> opener);

    // The JavaScript that reads the hand-over attributes of the page's active element.
    static const QString& ActiveElementScript();

signals:
    // The page opened a "_game" window; no window was opened for it.
    void sessionStarted(const qev::SessionInfo& session);

private:
    // A page asked for a new window: decide from its active element's attributes.
    void OnNewWindow(const QUrl& requestedUrl, bool userInitiated);

    QWebEngineView* view_ = nullptr; // child of this host
    QWebEnginePage* page_ = nullptr; // child of the view
    int controlId_ = 0;
};
