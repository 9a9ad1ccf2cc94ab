#include "gui/game/game_view.h"

#include <QCloseEvent>
#include <QColor>
#include <QPalette>
#include <QVBoxLayout>
#include <QJsonArray>
#include <QJsonDocument>
#include <QPointer>
#include <QShortcut>
#include <QUrl>
#include <QWebEngineFullScreenRequest>
#include <QWebEngineProfile>
#include <QWebEngineScript>

#include "core/base/log.h"

#include "core/remind/reminder_rules.h"
#include "gui/base/app_icon.h"
#include "gui/base/startup_trace.h"
#include "gui/base/ui_text.h"

#include <algorithm>

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
// Room around the text of a pop-up's site bar.
constexpr int SiteBarMargin = 6;

} // namespace

CGamePopup::CGamePopup(CWebContext& web, CWebPage* root)
    : web_(web), view_(new QWebEngineView(this)),
      page_(new CWebPage(web, PageRole::Popup, this, root)), bar_(new QLabel(this))
{
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowIcon(AppIcon());
    // The bar is the client's: plain text, its own colours, nothing of the page's.
    bar_->setTextFormat(Qt::PlainText);
    bar_->setAutoFillBackground(true);
    bar_->setContentsMargins(SiteBarMargin, SiteBarMargin, SiteBarMargin, SiteBarMargin);
    QPalette colours = bar_->palette();
    colours.setColor(QPalette::Window, QColor(0xFF, 0xF4, 0xCE));
    colours.setColor(QPalette::WindowText, Qt::black);
    bar_->setPalette(colours);
    bar_->hide();
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(bar_);
    layout->addWidget(view_, 1);
    CWebPage* page = page_;
    page->ShowIn(view_);
    web.KeepPopup(this);
    resize(PopupWidth, PopupHeight);
    connect(page, &QWebEnginePage::urlChanged, this, &CGamePopup::UpdateSiteBar);
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
        if (isFullScreen()) page_->triggerAction(QWebEnginePage::ExitFullScreen);
    });
}

void CGamePopup::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    UpdateSiteBar();
}

void CGamePopup::UpdateSiteBar()
{
    QUrl url = page_->url();
    if (url.scheme() == QLatin1String("blob")) url = QUrl(url.path()); // its origin's
    const QString scheme = url.scheme().toLower();
    const bool web = scheme == QLatin1String("http") || scheme == QLatin1String("https");
    if (!web || web_.sites().IsOperatorAddress(url.toEncoded().toStdString())) {
        bar_->hide();
        return;
    }
    const QString text =
        UiText(scheme == QLatin1String("https") ? qev::IdsOutsideSiteSecure : qev::IdsOutsideSite);
    // The host as Qt shows it: Unicode only where its rules hold no look-alike risk, else
    // the ACE form; cut at its start, so the end that names the owner stays.
    const int room =
        width() - 2 * SiteBarMargin - bar_->fontMetrics().horizontalAdvance(text.arg(QString()));
    const QString host =
        bar_->fontMetrics().elidedText(url.host(), Qt::ElideLeft, std::max(room, 0));
    bar_->setText(text.arg(host));
    bar_->show();
}

void CGamePopup::closeEvent(QCloseEvent* event)
{
    CPageGuard* guard = CPageGuard::Of(page());
    if (guard && guard->CloseDialog()) {
        event->ignore();
        QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
        return;
    }
    QWidget::closeEvent(event);
}

CKorvel2View::CKorvel2View(CWebContext& web, QWidget* parent,
                           std::function<const qev::GameEntry*()> currentGame)
    : QWebEngineView(parent), web_(web),
      reminder_(CRemindPopup::Owner{[this] { schedule_.CloseReminder(); },
                                    [this](int id, int message) { OnTrayNotify(id, message); },
                                    [this](int id) { OnCommand(id); }, std::move(currentGame),
                                    &web}),
      schedule_(&reminder_)
{
    connect(this, &QWebEngineView::loadFinished, this, [this](bool) { MarkPage(); });
    // Start-up benchmark: when the first game page of this process has loaded, its scripts
    // and their assets included.
    if (StartupTraceOn()) {
        connect(this, &QWebEngineView::loadFinished, this, [this](bool ok) {
            if (ok && url().path() == QLatin1String("/play")) TraceStartupMark("game-loaded");
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
    if (!web_.sites().IsOperatorAddress(url.toString(QUrl::FullyEncoded).toStdString())) {
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
    ownPage_ = new CWebPage(web_, PageRole::Game, this);
    ownPage_->ShowIn(this);
    ownPage_->SetPopupMaker([&web = web_](CWebPage* root) {
        auto* popup = new CGamePopup(web, root);
        popup->show();
        return popup->page();
    });
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
    CWebPage* old = ownPage_;
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
    ownPage_->LoadForPlayer(QUrl(url));
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
