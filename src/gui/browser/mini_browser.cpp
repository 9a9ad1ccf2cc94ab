#include "gui/browser/mini_browser.h"

#include <QDateTime>
#include <QDesktopServices>
#include <QVariantMap>
#include <QWebEngineNewWindowRequest>
#include <QWebEnginePage>
#include <QWebEngineScript>
#include <QWebEngineView>

#include "core/skin/skin_rules.h"

#include <cstdio>

namespace {

// Set to have the first page load reported on stderr (start-up benchmark).
constexpr char TraceVariable[] = "QEV_TRACE_FIRST_PAINT";

// Every new-window attempt is decided by the host; the engine itself never opens one.
// Addresses and script dialogs follow the rules of every page of the client, and the page's
// console stays out of the terminal the client was started from, as a game page's does.
class MiniBrowserPage : public QWebEnginePage {
public:
    MiniBrowserPage(CWebContext& web, QObject* parent)
        : QWebEnginePage(web.profile(), parent), web_(web)
    {
    }

protected:
    QWebEnginePage* createWindow(WebWindowType /*type*/) override { return nullptr; }
    void javaScriptConsoleMessage(JavaScriptConsoleMessageLevel, const QString&, int,
                                  const QString&) override
    {
    }
    bool acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame) override
    {
        return web_.AllowNavigation(this, url, isMainFrame) &&
               QWebEnginePage::acceptNavigationRequest(url, type, isMainFrame);
    }
    void javaScriptAlert(const QUrl&, const QString& text) override
    {
        if (CPageGuard* guard = CPageGuard::Of(this))
            guard->RunDialog(ScriptAlert, text, {}, nullptr);
    }
    bool javaScriptConfirm(const QUrl&, const QString& text) override
    {
        CPageGuard* guard = CPageGuard::Of(this);
        return guard && guard->RunDialog(ScriptConfirm, text, {}, nullptr);
    }
    bool javaScriptPrompt(const QUrl&, const QString& text, const QString& value,
                          QString* result) override
    {
        CPageGuard* guard = CPageGuard::Of(this);
        return guard && guard->RunDialog(ScriptPrompt, text, value, result);
    }

private:
    CWebContext& web_;
};

std::string AttributeOf(const QVariantMap& attributes, const char* name)
{
    const QVariant value = attributes.value(QString::fromLatin1(name));
    // Only string values count; anything else leaves the field empty.
    if (value.typeId() != QMetaType::QString) return {};
    return value.toString().toStdString();
}

} // namespace

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

const QString& CMiniBrowser::ActiveElementScript()
{
    // Runs in an isolated world, so the page's own scripts cannot redefine what is read.
    static const QString script = QStringLiteral(
        "(function () {"
        "  var e = document.activeElement;"
        "  if (!e || !e.getAttribute) return null;"
        "  var r = {};"
        "  ['target', 'title', 'href', 'domain', 'sid', 'user'].forEach(function (n) {"
        "    var v = e.getAttribute(n);"
        "    if (typeof v !== 'string') return;"
        // The game address is loaded as it stands, so a relative link is made absolute
        // against the page, as a link's own href property is.
        "    if (n === 'href') { try { v = new URL(v, document.baseURI).href; } catch (x) {} }"
        "    r[n] = v;"
        "  });"
        "  return r;"
        "})()");
    return script;
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
    if (qEnvironmentVariableIsSet(TraceVariable)) {
        // Start-up benchmark: when the first page of this process has loaded.
        connect(view, &QWebEngineView::loadFinished, this, [] {
            static bool traced = false;
            if (traced) return;
            traced = true;
            std::fprintf(stderr, "page-loaded %lld\n",
                         static_cast<long long>(QDateTime::currentMSecsSinceEpoch()));
            std::fflush(stderr);
        });
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
        auto* page = new MiniBrowserPage(web_, view_);
        connect(page, &QWebEnginePage::newWindowRequested, this,
                [this](QWebEngineNewWindowRequest& request) {
                    OnNewWindow(request.requestedUrl(), request.isUserInitiated());
                });
        view_->setPage(page);
        web_.Adopt(view_, page, role_);
        page_ = page;
    }
    return page_;
}

void CMiniBrowser::Navigate(const QString& url)
{
    if (QWebEnginePage* p = page()) p->load(QUrl(url));
}

void CMiniBrowser::Refresh()
{
    if (!page_) return;
    if (page_->lifecycleState() == QWebEnginePage::LifecycleState::Discarded)
        page_->setLifecycleState(QWebEnginePage::LifecycleState::Active); // loads it again
    else
        page_->triggerAction(QWebEnginePage::Reload);
}

void CMiniBrowser::Discard()
{
    // The engine refuses to discard a page on screen.
    if (page_ && !page_->isVisible() &&
        page_->lifecycleState() == QWebEnginePage::LifecycleState::Active)
        page_->setLifecycleState(QWebEnginePage::LifecycleState::Discarded);
}

void CMiniBrowser::OnNewWindow(const QUrl& requestedUrl, bool userInitiated)
{
    if (!page_) return;
    // The element that opened the window still has the focus: a real click focuses a link.
    QPointer<CMiniBrowser> self(this);
    page_->runJavaScript(
        ActiveElementScript(), QWebEngineScript::ApplicationWorld,
        [self, requestedUrl, userInitiated](const QVariant& result) {
            if (!self) return;
            const QVariantMap attributes = result.toMap();
            if (qev::IsGameTarget(AttributeOf(attributes, "target"))) {
                // The attributes, not the requested URL, are the session.
                emit self->sessionStarted(qev::SessionInfo{
                    AttributeOf(attributes, "title"), AttributeOf(attributes, "href"),
                    AttributeOf(attributes, "domain"), AttributeOf(attributes, "sid"),
                    AttributeOf(attributes, "user")});
                return;
            }
            // Any other new window: the skinned windows have no place for a browser window
            // of their own, so it goes to the user's default browser.
            // Only what the user asked for, and web addresses only: a page must not flood the
            // desktop with windows or start local handlers (file:, custom schemes).
            const QString scheme = requestedUrl.scheme().toLower();
            if (!userInitiated || !requestedUrl.isValid() ||
                (scheme != QLatin1String("http") && scheme != QLatin1String("https")))
                return;
            if (self->externalOpener_)
                self->externalOpener_(requestedUrl);
            else
                QDesktopServices::openUrl(requestedUrl);
        });
}
