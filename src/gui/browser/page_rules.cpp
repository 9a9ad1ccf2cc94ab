#include "gui/browser/page_rules.h"

#include <QDesktopServices>
#include <QMessageBox>
#include <QPointer>
#include <QWebEnginePage>
#if QT_VERSION >= QT_VERSION_CHECK(6, 8, 0)
#include <QWebEnginePermission>
#endif
#include <QWebEngineRegisterProtocolHandlerRequest>
#include <QWebEngineSettings>
#include <QWebEngineView>

#include "core/base/log.h"
#include "core/browser/scheme_rules.h"
#include "core/browser/web_rules.h"
#include "gui/base/ui_text.h"
#include "gui/browser/page_guard.h"

namespace {

// How much of an address the question about a desktop handler shows.
constexpr int QuestionAddressChars = 120;

// Qt 6.8 asks for permissions with objects of their own; 6.4 with a page's feature.
#if QT_VERSION >= QT_VERSION_CHECK(6, 8, 0)
using Permission = QWebEnginePermission::PermissionType;

const char* PermissionName(Permission permission)
{
    switch (permission) {
    case Permission::Notifications: return "notifications";
    case Permission::Geolocation: return "location";
    case Permission::MediaAudioCapture: return "microphone";
    case Permission::MediaVideoCapture: return "camera";
    case Permission::MediaAudioVideoCapture: return "camera and microphone";
    case Permission::MouseLock: return "pointer lock";
    case Permission::DesktopVideoCapture: return "screen capture";
    case Permission::DesktopAudioVideoCapture: return "screen capture with sound";
    case Permission::ClipboardReadWrite: return "clipboard";
    case Permission::LocalFontsAccess: return "local fonts";
    case Permission::Unsupported: break;
    }
    return "unknown feature";
}
#else
using Permission = QWebEnginePage::Feature;

const char* PermissionName(Permission permission)
{
    switch (permission) {
    case QWebEnginePage::Notifications: return "notifications";
    case QWebEnginePage::Geolocation: return "location";
    case QWebEnginePage::MediaAudioCapture: return "microphone";
    case QWebEnginePage::MediaVideoCapture: return "camera";
    case QWebEnginePage::MediaAudioVideoCapture: return "camera and microphone";
    case QWebEnginePage::MouseLock: return "pointer lock";
    case QWebEnginePage::DesktopVideoCapture: return "screen capture";
    case QWebEnginePage::DesktopAudioVideoCapture: return "screen capture with sound";
    }
    return "unknown feature";
}
#endif

// Asks the player whether the desktop's handler opens url, which page asked for.
void AskToOpen(QWebEnginePage* page, const QUrl& url)
{
    QWebEngineView* view = QWebEngineView::forPage(page);
    const QString who = RoleName(RoleOf(page)); // the page may go while the box is open
    QString shown = ForLog(url);
    if (shown.size() > QuestionAddressChars)
        shown = shown.left(QuestionAddressChars) + QStringLiteral("...");
    QMessageBox box(QMessageBox::Question, UiText(qev::IdsAskOpenCaption),
                    UiText(qev::IdsAskOpenText).arg(url.scheme().left(40), shown),
                    QMessageBox::Yes | QMessageBox::No, view ? view->window() : nullptr);
    box.setTextFormat(Qt::PlainText);
    box.setDefaultButton(QMessageBox::No);
    box.setEscapeButton(QMessageBox::No);
    box.setWindowModality(Qt::WindowModal);
    const bool open = box.exec() == QMessageBox::Yes;
    WebLog(
        QStringLiteral("%1 asked to open %2: %3")
            .arg(who, ForLog(url), open ? QStringLiteral("opened") : QStringLiteral("declined")));
    if (open) QDesktopServices::openUrl(url);
}

// The pointer is the player's to give: one lock per click or key, so a page cannot take it
// back after Esc. Every other permission is denied, and the refusal logged.
bool Grants(QWebEnginePage* page, const QUrl& origin, Permission permission)
{
    CPageGuard* guard = CPageGuard::Of(page);
    const PageRole role = RoleOf(page);
    if (permission == Permission::MouseLock && GetsGameRights(role) && guard &&
        guard->SpendAllowance(qev::AllowanceKind::PointerLock))
        return true;
    if (guard)
        guard->Refused(PermissionName(permission),
                       QStringLiteral("%1 asked for %2 (%3): denied")
                           .arg(RoleName(role), QString::fromLatin1(PermissionName(permission)),
                                ForLog(origin)));
    return false;
}

void AnswerPermissions(QWebEnginePage* page)
{
#if QT_VERSION >= QT_VERSION_CHECK(6, 8, 0)
    QObject::connect(page, &QWebEnginePage::permissionRequested, page,
                     [page](QWebEnginePermission permission) {
                         if (Grants(page, permission.origin(), permission.permissionType()))
                             permission.grant();
                         else
                             permission.deny();
                     });
#else
    QObject::connect(page, &QWebEnginePage::featurePermissionRequested, page,
                     [page](const QUrl& origin, QWebEnginePage::Feature feature) {
                         page->setFeaturePermission(origin, feature,
                                                    Grants(page, origin, feature)
                                                        ? QWebEnginePage::PermissionGrantedByUser
                                                        : QWebEnginePage::PermissionDeniedByUser);
                     });
#endif
}

} // namespace

PageRole RoleOf(const QWebEnginePage* page)
{
    const CPageGuard* guard = CPageGuard::Of(page);
    return guard ? guard->role() : PageRole::Login;
}

void WebLog(const QString& line)
{
    qev::WriteLog(line.toStdString());
}

QString ForLog(const QUrl& url)
{
    return LogText(url.toString());
}

QString LogText(const QString& text)
{
    return QString::fromStdString(qev::AddressForLog(text.toStdString()));
}

void ApplyPageRules(QWebEnginePage* page, PageRole role)
{
    new CPageGuard(page, role);
    QWebEngineSettings* settings = page->settings();
    const bool game = GetsGameRights(role);
    settings->setAttribute(QWebEngineSettings::FullScreenSupportEnabled, game);
    settings->setAttribute(QWebEngineSettings::PlaybackRequiresUserGesture, !game);
    // Windows open only from the player's click; the engine's own check comes first, the
    // client's (an input it saw on the view) after.
    settings->setAttribute(QWebEngineSettings::JavascriptCanOpenWindows, false);
    // Panes never hand an address to a desktop handler. Game pages have every such address
    // brought to AllowPageNavigation, which refuses it or asks the player.
    settings->setUnknownUrlSchemePolicy(game ? QWebEngineSettings::AllowAllUnknownUrlSchemes
                                             : QWebEngineSettings::DisallowUnknownUrlSchemes);
    QObject::connect(page, &QWebEnginePage::registerProtocolHandlerRequested, page,
                     [page](QWebEngineRegisterProtocolHandlerRequest request) {
                         request.reject();
                         if (CPageGuard* guard = CPageGuard::Of(page))
                             guard->Refused("handler", QStringLiteral("%1 handler for %2: refused")
                                                           .arg(RoleName(guard->role()),
                                                                request.scheme().left(40)));
                     });
    AnswerPermissions(page);
}

bool AllowPageNavigation(QWebEnginePage* page, const QUrl& url, bool isMainFrame)
{
    CPageGuard* guard = CPageGuard::Of(page);
    if (!guard) return false;
    const PageRole role = guard->role();
    const qev::SchemeVerdict verdict = qev::DecideScheme(
        url.toString().toStdString(), page->url().toString().toStdString(), GetsGameRights(role),
        guard->HasAllowance(qev::AllowanceKind::SchemeQuestion), isMainFrame);
    if (verdict == qev::SchemeVerdict::Load) {
        if (isMainFrame) guard->OnNavigation();
        return true;
    }
    if (verdict == qev::SchemeVerdict::Ask) {
        guard->SpendAllowance(qev::AllowanceKind::SchemeQuestion);
        // Asked once the engine's callback has returned: a dialog inside it would run the
        // page's events under the engine's feet. Not asked once the page has gone.
        QMetaObject::invokeMethod(
            page, [page, url] { AskToOpen(page, url); }, Qt::QueuedConnection);
        return false;
    }
    guard->Refused("address", QStringLiteral("%1 address refused: %2%3")
                                  .arg(RoleName(role), ForLog(url),
                                       isMainFrame ? QString() : QStringLiteral(" (a frame's)")));
    // A pop-up with nothing to show goes, once the engine is done with its page.
    if (role == PageRole::Popup && isMainFrame && !guard->navigated())
        if (QWebEngineView* view = QWebEngineView::forPage(page))
            QMetaObject::invokeMethod(view, &QWidget::close, Qt::QueuedConnection);
    return false;
}
