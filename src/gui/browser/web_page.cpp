#include "gui/browser/web_page.h"

#include <QDesktopServices>
#include <QMenu>
#include <QWebEngineContextMenuRequest>
#include <QVariantMap>
#include <QWebEngineNewWindowRequest>
#include <QWebEngineScript>
#include <QWebEngineView>

#include <utility>

#include "gui/base/ui_text.h"
#include "gui/browser/page_guard.h"
#include "gui/browser/web_context.h"

namespace {

std::string AttributeOf(const QVariantMap& attributes, const char* name)
{
    const QVariant value = attributes.value(QString::fromLatin1(name));
    // Only string values count; anything else leaves the field empty.
    if (value.typeId() != QMetaType::QString) return {};
    return value.toString().toStdString();
}

} // namespace

CWebPage::CWebPage(CWebContext& web, PageRole role, QObject* parent, CWebPage* root)
    : QWebEnginePage(web.profile(), parent), web_(web), role_(role),
      root_(role == PageRole::Game ? this : root)
{
    connect(this, &QWebEnginePage::newWindowRequested, this,
            [this](QWebEngineNewWindowRequest& request) { OnNewWindow(request); });
}

void CWebPage::ShowIn(QWebEngineView* view)
{
    view->setPage(this);
    web_.Adopt(view, this, role_);
    // The engine's menu (Back, Reload, Save page, View source, Inspect) would hand the
    // player's session to files and tools; the view asks this page instead.
    view->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(view, &QWidget::customContextMenuRequested, this,
            [this, view](const QPoint& at) { ShowContextMenu(view, at); });
}

void CWebPage::ShowContextMenu(QWebEngineView* view, const QPoint& at)
{
    const QWebEngineContextMenuRequest* request = view->lastContextMenuRequest();
    if (view->page() != this || !request || !request->isContentEditable()) return;
    const auto flags = request->editFlags();
    using Flag = QWebEngineContextMenuRequest::EditFlag;
    const std::pair<WebAction, Flag> items[] = {{Cut, Flag::CanCut},
                                                {Copy, Flag::CanCopy},
                                                {Paste, Flag::CanPaste},
                                                {SelectAll, Flag::CanSelectAll}};
    auto* menu = new QMenu(view);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    for (const auto& [action, flag] : items) {
        QAction* item = this->action(action);
        item->setEnabled(flags.testFlag(flag));
        menu->addAction(item);
    }
    menu->popup(view->mapToGlobal(at));
}

void CWebPage::LoadForPlayer(const QUrl& url)
{
    if (CPageGuard* guard = CPageGuard::Of(this)) guard->ResetDialogs();
    load(url);
}

void CWebPage::ReloadForPlayer()
{
    if (CPageGuard* guard = CPageGuard::Of(this)) guard->ResetDialogs();
    if (lifecycleState() == LifecycleState::Discarded)
        setLifecycleState(LifecycleState::Active); // loads it again
    else
        triggerAction(Reload);
}

const QString& CWebPage::ActiveElementScript()
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

bool CWebPage::acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame)
{
    // Without an address bar the player cannot see where a pane is, so its main frame keeps
    // to the operator's sites; frames (ads) may show any web address. A pop-up may go
    // elsewhere: its bar says where it is.
    const QString scheme = url.scheme().toLower();
    if (isMainFrame && role_ != PageRole::Popup &&
        (scheme == QLatin1String("http") || scheme == QLatin1String("https")) &&
        !web_.sites().IsOperatorAddress(url.toEncoded().toStdString())) {
        LeaveForeign(url);
        return false;
    }
    return web_.AllowNavigation(this, url, isMainFrame) &&
           QWebEnginePage::acceptNavigationRequest(url, type, isMainFrame);
}

void CWebPage::javaScriptAlert(const QUrl&, const QString& text)
{
    if (CPageGuard* guard = CPageGuard::Of(this)) guard->RunDialog(ScriptAlert, text, {}, nullptr);
}

bool CWebPage::javaScriptConfirm(const QUrl&, const QString& text)
{
    CPageGuard* guard = CPageGuard::Of(this);
    return guard && guard->RunDialog(ScriptConfirm, text, {}, nullptr);
}

bool CWebPage::javaScriptPrompt(const QUrl&, const QString& text, const QString& value,
                                QString* result)
{
    CPageGuard* guard = CPageGuard::Of(this);
    return guard && guard->RunDialog(ScriptPrompt, text, value, result);
}

QStringList CWebPage::chooseFiles(FileSelectionMode mode, const QStringList& oldFiles,
                                  const QStringList& acceptedMimeTypes)
{
    if (GetsGameRights(role_))
        return QWebEnginePage::chooseFiles(mode, oldFiles, acceptedMimeTypes);
    if (CPageGuard* guard = CPageGuard::Of(this))
        guard->Refused(
            "file chooser",
            QStringLiteral("%1 file chooser refused: %2").arg(RoleName(role_), ForLog(url())));
    return {};
}

void CWebPage::OnNewWindow(QWebEngineNewWindowRequest& request)
{
    if (GetsGameRights(role_))
        OpenPopup(request);
    else
        HandOver(request.requestedUrl(), request.isUserInitiated());
}

void CWebPage::HandOver(const QUrl& requestedUrl, bool userInitiated)
{
    // The element that opened the window still has the focus: a real click focuses a link.
    runJavaScript(
        ActiveElementScript(), QWebEngineScript::ApplicationWorld,
        [self = QPointer<CWebPage>(this), requestedUrl, userInitiated](const QVariant& result) {
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
            self->OpenOutside(requestedUrl);
        });
}

void CWebPage::LeaveForeign(const QUrl& url)
{
    CPageGuard* guard = CPageGuard::Of(this);
    if (!guard) return;
    if (!guard->SpendAllowance(qev::AllowanceKind::Popup)) {
        guard->Refused("site", QStringLiteral("%1 address refused (not the operator's site): %2")
                                   .arg(RoleName(role_), ForLog(url)));
        return;
    }
    WebLog(
        QStringLiteral("%1 sent to the desktop's browser: %2").arg(RoleName(role_), ForLog(url)));
    // Once the engine's callback has returned.
    QMetaObject::invokeMethod(
        this, [this, url] { OpenOutside(url); }, Qt::QueuedConnection);
}

void CWebPage::OpenOutside(const QUrl& url)
{
    if (externalOpener_)
        externalOpener_(url);
    else
        QDesktopServices::openUrl(url);
}

void CWebPage::OpenPopup(QWebEngineNewWindowRequest& request)
{
    CPageGuard* guard = CPageGuard::Of(this);
    if (!guard) return;
    QString reason;
    if (root_) root_->popups_.removeAll(nullptr);
    // Rows in order; only a pop-up that opens spends the player's input.
    if (!request.isUserInitiated() || !guard->HasAllowance(qev::AllowanceKind::Popup))
        reason = QStringLiteral("not opened by a click or key");
    else if (!root_ || !root_->popupMaker_)
        reason = QStringLiteral("its game page has gone");
    else if (root_->popups_.size() >= MaxOpenPopups)
        reason = QStringLiteral("%1 pop-ups of the game page are open").arg(MaxOpenPopups);
    if (!reason.isEmpty()) {
        guard->Refused("pop-up", QStringLiteral("%1 pop-up refused: %2 (%3)")
                                     .arg(RoleName(role_), ForLog(request.requestedUrl()), reason));
        emit web_.pageStatus(UiText(qev::IdsPopupBlocked));
        return;
    }
    guard->SpendAllowance(qev::AllowanceKind::Popup);
    // Game pop-ups need the session, so they stay in the client with the same profile.
    CWebPage* popup = root_->popupMaker_(root_);
    if (!popup) return;
    root_->popups_.push_back(popup);
    request.openIn(popup);
}
