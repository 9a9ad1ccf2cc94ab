#include "gui/browser/web_page.h"

#include <QDesktopServices>
#include <QVariantMap>
#include <QWebEngineNewWindowRequest>
#include <QWebEngineScript>
#include <QWebEngineView>

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
