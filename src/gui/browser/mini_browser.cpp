#include "gui/browser/mini_browser.h"

#include <QWebEngineView>

#include "core/skin/skin_rules.h"
#include "gui/base/startup_trace.h"
#include "gui/browser/web_page.h"

CMiniBrowser::CMiniBrowser(CWebContext& web, PageRole role, QWidget* parent)
    : QWidget(parent), web_(web), role_(role)
{
}

CMiniBrowser::~CMiniBrowser()
{
    // A page with a dialog open outlives its view until the dialog has closed.
    if (CPageGuard* guard = CPageGuard::Of(page_); guard && guard->dialogOpen())
        web_.DropPage(page_);
}

CMiniBrowser* CMiniBrowser::ForPane(const qev::WebPane& pane, QWidget* parent, int& nextControlId,
                                    CWebContext& web, PageRole role)
{
    if (!(pane.flag & PaneHasBrowser)) return nullptr;
    auto* host = new CMiniBrowser(web, role, parent);
    host->l = pane.l;
    host->t = pane.t;
    host->r = pane.r;
    host->b = pane.b;
    const QRect rect(QPoint(pane.left, pane.top), QSize(std::max(0, pane.right - pane.left),
                                                        std::max(0, pane.bottom - pane.top)));
    if (host->Create(rect, parent, nextControlId++)) return host;
    delete host;
    return nullptr;
}

bool CMiniBrowser::Create(const QRect& rect, QWidget* parent, int id)
{
    if (parent) setParent(parent);
    setGeometry(rect);
    controlId_ = id;

    auto* view = new QWebEngineView(this);
    const qev::EdgeRect control = qev::BrowserControlRect(rect.width(), rect.height(), l, t, r, b);
    view->setGeometry(
        QRect(QPoint(control.left, control.top), QPoint(control.right - 1, control.bottom - 1)));
    if (StartupTraceOn()) {
        // Start-up benchmark: when the first page of this process has loaded.
        connect(view, &QWebEngineView::loadFinished, this, [] { TraceStartupMark("page-loaded"); });
    }
    view->show();
    view_ = view;
    return true;
}

QWebEnginePage* CMiniBrowser::page()
{
    if (!view_) return nullptr;
    if (!page_) {
        // Made on first use: a pane that never navigates costs no page.
        auto* page = new CWebPage(web_, role_, view_);
        page->SetExternalOpener(externalOpener_);
        connect(page, &CWebPage::sessionStarted, this, &CMiniBrowser::sessionStarted);
        page->ShowIn(view_);
        page_ = page;
    }
    return page_;
}

void CMiniBrowser::Navigate(const QString& url)
{
    if (page()) page_->LoadForPlayer(QUrl(url));
}

void CMiniBrowser::Refresh()
{
    if (page_) page_->ReloadForPlayer();
}

void CMiniBrowser::Discard()
{
    // The engine refuses to discard a page on screen.
    if (page_ && !page_->isVisible() &&
        page_->lifecycleState() == QWebEnginePage::LifecycleState::Active)
        page_->setLifecycleState(QWebEnginePage::LifecycleState::Discarded);
}

void CMiniBrowser::SetExternalOpener(std::function<void(const QUrl&)> opener)
{
    externalOpener_ = std::move(opener);
    if (page_) page_->SetExternalOpener(externalOpener_);
}
