#include "gui/game/game_view.h"

#include <QCloseEvent>
#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QPointer>
#include <QShortcut>
#include <QUrl>
#include <QWebEngineFullScreenRequest>
#include <QWebEngineNewWindowRequest>
#include <QWebEngineProfile>
#include <QWebEngineScript>

#include "core/base/log.h"

#include "core/remind/reminder_rules.h"
#include "gui/base/app_icon.h"
#include "gui/base/ui_text.h"

#include <cstdio>

namespace {

// Reads the cookie; only when it lacks the mark, writes exactly the mark and reads once
// more. Runs in the page's own world, as the page's document would see it, called with the
// origin of the page that was checked: a document from elsewhere that has replaced it
// meanwhile gets nothing. Answers whether it wrote.
const char MarkPageScript[] = R"JS((function (origin) {
  if (location.origin !== origin) return false;
  var cookie = document.cookie;
  if (cookie.indexOf('korvel=1') >= 0) return false;
  document.cookie = 'korvel=1';
  cookie = document.cookie;
  return true;
}))JS";

// The origin of url as a page's location.origin writes it, as a quoted script string.
QString ScriptOrigin(const QUrl& url)
{
    QString host = url.host(QUrl::FullyEncoded);
    if (host.contains(QLatin1Char(':'))) host = QLatin1Char('[') + host + QLatin1Char(']');
    const int port = url.port();
    const bool defaultPort = port == -1 || (url.scheme() == QLatin1String("http") && port == 80) ||
                             (url.scheme() == QLatin1String("https") && port == 443);
    const QString origin = url.scheme() + QLatin1String("://") + host +
                           (defaultPort ? QString() : QLatin1Char(':') + QString::number(port));
    const QString array =
        QString::fromUtf8(QJsonDocument(QJsonArray{origin}).toJson(QJsonDocument::Compact));
    return array.mid(1, array.size() - 2);
}

// A pop-up opens at this size until its page asks for another.
constexpr int PopupWidth = 1024, PopupHeight = 700;

} // namespace

CGamePage::CGamePage(CWebContext& web, PageRole role, QObject* parent, CGamePage* root)
    : QWebEnginePage(web.profile(), parent), web_(web), role_(role),
      root_(role == PageRole::Game ? this : root)
{
    connect(this, &QWebEnginePage::newWindowRequested, this,
            [this](QWebEngineNewWindowRequest& request) { OnNewWindow(request); });
}

void CGamePage::OnNewWindow(QWebEngineNewWindowRequest& request)
{
    CPageGuard* guard = CPageGuard::Of(this);
    if (!guard) return;
    QString reason;
    if (root_) root_->popups_.removeAll(nullptr);
    // Rows in order; only a pop-up that opens spends the player's input.
    if (!request.isUserInitiated() || !guard->HasAllowance(qev::AllowanceKind::Popup))
        reason = QStringLiteral("not opened by a click or key");
    else if (!root_)
        reason = QStringLiteral("its game page has gone");
    else if (root_->popups_.size() >= MaxOpenPopups)
        reason = QStringLiteral("%1 pop-ups of the game page are open").arg(MaxOpenPopups);
    if (!reason.isEmpty()) {
        guard->Refused("pop-up", QStringLiteral("%1 pop-up refused: %2 (%3)")
                                     .arg(QString::fromLatin1(RolePageName(role_)),
                                          QString::fromStdString(qev::AddressForLog(
                                              request.requestedUrl().toString().toStdString())),
                                          reason));
        emit web_.pageStatus(UiText(qev::IdsPopupBlocked));
        return;
    }
    guard->SpendAllowance(qev::AllowanceKind::Popup);
    // Game pop-ups need the session, so they stay in the client with the same profile.
    auto* popup = new CGamePopup(web_, root_);
    root_->popups_.push_back(popup);
    popup->show();
    request.openIn(popup->page());
}

bool CGamePage::acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame)
{
    return web_.AllowNavigation(this, url, isMainFrame) &&
           QWebEnginePage::acceptNavigationRequest(url, type, isMainFrame);
}

void CGamePage::javaScriptAlert(const QUrl&, const QString& text)
{
    if (CPageGuard* guard = CPageGuard::Of(this)) guard->RunDialog(ScriptAlert, text, {}, nullptr);
}

bool CGamePage::javaScriptConfirm(const QUrl&, const QString& text)
{
    CPageGuard* guard = CPageGuard::Of(this);
    return guard && guard->RunDialog(ScriptConfirm, text, {}, nullptr);
}

bool CGamePage::javaScriptPrompt(const QUrl&, const QString& text, const QString& value,
                                 QString* result)
{
    CPageGuard* guard = CPageGuard::Of(this);
    return guard && guard->RunDialog(ScriptPrompt, text, value, result);
}

CGamePopup::CGamePopup(CWebContext& web, CGamePage* root)
{
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowIcon(AppIcon());
    auto* page = new CGamePage(web, PageRole::Popup, this, root);
    setPage(page);
    web.Adopt(this, page, PageRole::Popup);
    web.KeepPopup(this);
    resize(PopupWidth, PopupHeight);
    connect(page, &QWebEnginePage::titleChanged, this, &QWidget::setWindowTitle);
    connect(page, &QWebEnginePage::windowCloseRequested, this, &QWidget::close);
    connect(page, &QWebEnginePage::fullScreenRequested, this,
            [this](QWebEngineFullScreenRequest request) {
                request.accept();
                request.toggleOn() ? showFullScreen() : showNormal();
            });
    // Esc leaves the page's full screen, as in a browser.
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(escape, &QShortcut::activated, this, [this] {
        if (isFullScreen()) triggerPageAction(QWebEnginePage::ExitFullScreen);
    });
}

void CGamePopup::closeEvent(QCloseEvent* event)
{
    CPageGuard* guard = CPageGuard::Of(page());
    if (guard && guard->CloseDialog()) {
        event->ignore();
        QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
        return;
    }
    QWebEngineView::closeEvent(event);
}

CKorvel2View::CKorvel2View(CWebContext& web, QWidget* parent,
                           std::function<const qev::GameEntry*()> currentGame,
                           const std::vector<std::string>& operatorHosts)
    : QWebEngineView(parent), web_(web), sites_(operatorHosts),
      reminder_(CRemindPopup::Owner{[this] { schedule_.CloseReminder(); },
                                    [this](int id, int message) { OnTrayNotify(id, message); },
                                    [this](int id) { OnCommand(id); }, std::move(currentGame),
                                    &web}),
      schedule_(&reminder_)
{
    connect(this, &QWebEngineView::loadFinished, this, [this](bool) { MarkPage(); });
    // Start-up benchmark: when the first game page of this process has loaded, its scripts
    // and their assets included.
    if (qEnvironmentVariableIsSet("QEV_TRACE_FIRST_PAINT")) {
        connect(this, &QWebEngineView::loadFinished, this, [this](bool ok) {
            static bool traced = false;
            if (traced || !ok || url().path() != QLatin1String("/play")) return;
            traced = true;
            std::fprintf(stderr, "game-loaded %lld\n",
                         static_cast<long long>(QDateTime::currentMSecsSinceEpoch()));
            std::fflush(stderr);
        });
    }
    scheduleTimer_.setInterval(qev::SchedulePeriodMs);
    connect(&scheduleTimer_, &QTimer::timeout, this, [this] { schedule_.OnScheduleTimer(); });
}

CKorvel2View::~CKorvel2View()
{
    scheduleTimer_.stop();
    schedule_.StopSchedule();
}

void CKorvel2View::MarkPage()
{
    const QUrl url = page()->url();
    // Only the operator's pages learn that they run inside the client.
    if (!sites_.IsOperatorAddress(url.toString(QUrl::FullyEncoded).toStdString())) {
        emit pageMarked(url, false);
        return;
    }
    const QString script = QString::fromLatin1(MarkPageScript) + QLatin1Char('(') +
                           ScriptOrigin(url) + QLatin1Char(')');
    // The answer may come while the view is being destroyed: then nobody is told.
    page()->runJavaScript(script, QWebEngineScript::MainWorld,
                          [view = QPointer<CKorvel2View>(this), url](const QVariant& written) {
                              if (view) emit view->pageMarked(url, written.toBool());
                          });
}

void CKorvel2View::EnsurePage()
{
    // Made on first use: a page starts the web engine, which must not hold up start-up
    // (the first view is made while the login stack is about to appear).
    if (ownPage_) return;
    ownPage_ = new CGamePage(web_, PageRole::Game, this);
    setPage(ownPage_);
    web_.Adopt(this, ownPage_, PageRole::Game);
    connect(ownPage_, &QWebEnginePage::linkHovered, this, &CKorvel2View::linkHovered);
    connect(ownPage_, &QWebEnginePage::fullScreenRequested, this,
            [this](QWebEngineFullScreenRequest request) {
                request.accept();
                pageFullScreen_ = request.toggleOn();
                emit fullScreenRequested(pageFullScreen_);
            });
}

void CKorvel2View::DropPage()
{
    if (!ownPage_) return;
    CGamePage* old = ownPage_;
    old->setParent(nullptr); // or setPage would delete it, its dialog open or not
    ownPage_ = nullptr;
    pageFullScreen_ = false;
    EnsurePage(); // the view shows the new page before the old one goes
    web_.DropPage(old);
}

void CKorvel2View::ExitPageFullScreen()
{
    if (pageFullScreen_) triggerPageAction(QWebEnginePage::ExitFullScreen);
}

void CKorvel2View::Navigate(const QString& url)
{
    EnsurePage();
    load(QUrl(url));
}

void CKorvel2View::StartSchedule(const std::string& feedText)
{
    schedule_.ParseTaskFeed(feedText);
    scheduleTimer_.start();
    schedule_.ResetTicks();
}

void CKorvel2View::StopSchedule()
{
    scheduleTimer_.stop();
    schedule_.StopSchedule();
}

void CKorvel2View::OnTrayNotify(int iconId, int mouseMessage)
{
    reminder_.OnTrayNotify(iconId, mouseMessage);
}

void CKorvel2View::OnCommand(int id)
{
    // The record stays shown, so the schedule does not open it again.
    if (id == qev::TrayExitCommand) reminder_.HideReminder();
}

void CKorvel2View::ShowReminderWindows()
{
    if (reminder_.isOpen() && reminder_.background()) {
        reminder_.background()->show();
        reminder_.background()->raise();
    }
}
