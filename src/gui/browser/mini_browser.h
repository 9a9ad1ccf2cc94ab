#pragma once
// A small host for one web page inside the skinned windows. The page's view can reach past
// the host's edges by the margins l, t, r, b (so borders and scroll bars fall outside the
// visible area), and a page hands a session to the client by opening a "_game" window.
#include <QPointer>
#include <QRect>
#include <QUrl>
#include <QWidget>

#include <functional>

#include "core/browser/session_info.h"
#include "gui/browser/web_context.h"
#include "gui/browser/web_page.h"

#include "core/layout/layout.h"

class QWebEnginePage;
class QWebEngineView;

// Bit 0 of a layout pane's flag: the pane shows a page.
inline constexpr int PaneHasBrowser = 0x1;

class CMiniBrowser : public QWidget {
    Q_OBJECT
public:
    // web: where the page comes from; role: Login or Reminder.
    CMiniBrowser(CWebContext& web, PageRole role, QWidget* parent = nullptr);
    ~CMiniBrowser() override;

    // How far the view extends beyond the host on each side (negative pulls it in).
    // Set before Create.
    int l = 0, t = 0, r = 0, b = 0;

    // Places the host at rect inside parent with control id id and creates its view at
    // (-l, -t, width + r, height + b). False when there is no view (nothing to navigate).
    bool Create(const QRect& rect, QWidget* parent, int id);
    bool created() const { return view_ != nullptr; }
    // Loads url (only after a successful Create); the client's own load, as Refresh is, so
    // the page's script dialogs start afresh.
    void Navigate(const QString& url);
    // Reloads the current page; a discarded one loads again.
    void Refresh();
    // Frees the page's render process while its view is hidden; the page keeps its
    // address and history for Refresh.
    void Discard();

    int controlId() const { return controlId_; }
    QWebEngineView* view() const { return view_; }
    // The view's page, made on first use (null before Create). Navigate makes it.
    QWebEnginePage* page();

    // Where this browser's windows other than "_game" go: the user's default browser unless
    // another opener is handed in (an empty function restores the default).
    void SetExternalOpener(std::function<void(const QUrl&)> opener);

    // The browser host of a layout pane that shows a page (bit PaneHasBrowser of its
    // flag), made in parent with the pane's margins and rectangle and the control id
    // nextControlId (which then moves on); not shown and not navigated. Null when the pane
    // shows no page or the host could not be made.
    static CMiniBrowser* ForPane(const qev::WebPane& pane, QWidget* parent, int& nextControlId,
                                 CWebContext& web, PageRole role);

signals:
    // The page opened a "_game" window; no window was opened for it.
    void sessionStarted(const qev::SessionInfo& session);

private:
    CWebContext& web_;
    PageRole role_;
    std::function<void(const QUrl&)> externalOpener_;

    QWebEngineView* view_ = nullptr; // child of this host
    QPointer<CWebPage> page_;        // child of the view until dropped
    int controlId_ = 0;
};
