#include "gui/login/login_wnd.h"

#include <QGuiApplication>
#include <QNetworkInformation>
#include <QNetworkInterface>
#include <QScreen>
#include <QWebEnginePage>

#include "core/base/log.h"
#include "core/base/message.h"
#include "core/base/strings.h"
#include "core/browser/web_rules.h"
#include "gui/browser/mini_browser.h"
#include "gui/login/background_wnd.h"
#include "gui/login/top_wnd.h"

CLoginWnd::CLoginWnd(CBackgroundWnd* stack, qev::LayoutState& layout, CWebContext& web)
    : CLayerWnd(stack), layout_(layout), web_(web)
{
    // A layer with no input region gets no paint of its own: watch the stack's window.
    if (stack) stack->installEventFilter(this);
    // One check, once, a little after the window appears.
    connectivityTimer_.setSingleShot(true);
    connectivityTimer_.setInterval(ConnectivityCheckMs);
    connect(&connectivityTimer_, &QTimer::timeout, this, &CLoginWnd::CheckConnectivity);
    connectivityTimer_.start();
    BuildPanes();
}

CLoginWnd::~CLoginWnd()
{
    DestroyControls();
}

CBackgroundWnd* CLoginWnd::background() const
{
    return qobject_cast<CBackgroundWnd*>(parentWidget());
}

bool CLoginWnd::MachineIsOnline()
{
    if (QNetworkInformation::loadBackendByFeatures(QNetworkInformation::Feature::Reachability)) {
        const auto reachability = QNetworkInformation::instance()->reachability();
        if (reachability != QNetworkInformation::Reachability::Unknown)
            return reachability != QNetworkInformation::Reachability::Disconnected;
    }
    for (const QNetworkInterface& iface : QNetworkInterface::allInterfaces()) {
        const auto flags = iface.flags();
        if ((flags & QNetworkInterface::IsUp) && (flags & QNetworkInterface::IsRunning) &&
            !(flags & QNetworkInterface::IsLoopBack))
            return true;
    }
    return false;
}

void CLoginWnd::CheckConnectivity()
{
    const bool online = probe_ ? probe_() : MachineIsOnline();
    if (!online) qev::ShowMessage(qev::LoadString(qev::IdsInternetFailed));
}

void CLoginWnd::DestroyControls()
{
    for (PaneRecord& record : panes_) delete record.host.data();
    panes_.clear();
    DestroyButtons(); // the login window has none of its own; kept in step with the panes
}

void CLoginWnd::BuildPanes()
{
    DestroyControls();
    const qev::GameEntry* game = layout_.GetCurrentGame();
    if (!game) return;
    for (const qev::WebPane& pane : game->login.webPanes) {
        PaneRecord record{pane, nullptr, {}};
        if (auto* host = CMiniBrowser::ForPane(pane, this, nextControlId_, web_, PageRole::Login)) {
            connect(host, &CMiniBrowser::sessionStarted, this, &CLoginWnd::OnSession);
            // The page loads at once; its view shows with the stack's first paint, which
            // showing it earlier would hold up.
            host->setVisible(painted_);
            host->Navigate(QString::fromStdString(pane.url));
            record.host = host;
        }
        panes_.push_back(std::move(record));
    }
    resize(std::max(0, game->login.width), std::max(0, game->login.height));
    UpdateInputMask();
}

bool CLoginWnd::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::Paint && watched == parent()) OnFirstPaint();
    return false;
}

void CLoginWnd::paintEvent(QPaintEvent* event)
{
    CLayerWnd::paintEvent(event);
    OnFirstPaint();
}

void CLoginWnd::OnFirstPaint()
{
    if (painted_) return;
    painted_ = true;
    if (parent()) parent()->removeEventFilter(this);
    QMetaObject::invokeMethod(this, &CLoginWnd::ShowPanes, Qt::QueuedConnection);
    emit firstPainted();
}

void CLoginWnd::ShowPanes()
{
    for (PaneRecord& record : panes_)
        if (record.host) record.host->show();
    UpdateInputMask();
}

void CLoginWnd::RefreshPanes(const qev::OperatorSites& sites)
{
    for (PaneRecord& record : panes_) {
        if (!record.host || !record.host->created()) continue;
        QWebEnginePage* page = record.host->page();
        if (!page) continue;
        const bool discarded = page->lifecycleState() == QWebEnginePage::LifecycleState::Discarded;
        const QUrl shownUrl = discarded ? record.shownBeforeDiscard : page->url();
        const std::string shown = shownUrl.toString(QUrl::FullyEncoded).toStdString();
        if (sites.IsOperatorAddress(shown)) {
            record.host->Refresh();
            continue;
        }
        // Whatever took the pane elsewhere, the player returns to the operator's login page.
        qev::WriteLog("login pane left the operator's sites (" + qev::AddressForLog(shown) +
                      "): its layout address loads");
        // A discarded page takes no load; the one it starts when woken is replaced at once.
        if (discarded) page->setLifecycleState(QWebEnginePage::LifecycleState::Active);
        record.host->Navigate(QString::fromStdString(record.pane.url));
    }
}

void CLoginWnd::DiscardPanes()
{
    if (isVisible()) return; // shown again in the meantime
    for (PaneRecord& record : panes_) {
        if (!record.host || !record.host->page()) continue;
        if (record.host->page()->lifecycleState() != QWebEnginePage::LifecycleState::Discarded)
            record.shownBeforeDiscard = record.host->page()->url();
        record.host->Discard();
    }
}

void CLoginWnd::CenterWindow()
{
    QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen) return;
    QWidget* stack = window();
    QRect r = stack->frameGeometry();
    r.moveCenter(screen->availableGeometry().center());
    stack->move(r.topLeft());
}

void CLoginWnd::OnCommand(int id)
{
    HandleLoginStackCommand(this, id);
}

void CLoginWnd::OnSession(const qev::SessionInfo& received)
{
    // The sender's record is not ours to keep: the receivers get a copy of their own.
    // NOLINTNEXTLINE(performance-unnecessary-copy-initialization)
    const qev::SessionInfo session = received;
    emit loggedIn(session);
}
