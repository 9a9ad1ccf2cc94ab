#include "gui/remind/remind_popup.h"

#include <QApplication>
#include <QCursor>
#include <QMenu>
#include <QScreen>
#include <QStyle>
#include <QSystemTrayIcon>
#include <QTimer>

#include "core/base/log.h"
#include "core/base/message.h"
#include "core/browser/web_rules.h"
#include "core/remind/reminder_rules.h"
#include "gui/base/app_icon.h"
#include "gui/remind/remind_windows.h"

namespace {

// The whole primary screen, not its work area: the reminder's corner is the screen's.
QRect ScreenRect()
{
    QScreen* screen = QGuiApplication::primaryScreen();
    return screen ? screen->geometry() : QRect();
}

// The program's icon; a stock one while the program carries none, since a tray entry
// without an image would be an invisible gap in the tray.
QIcon TrayIconImage()
{
    QIcon icon = AppIcon();
    if (icon.isNull()) icon = QApplication::windowIcon();
    if (icon.isNull()) icon = QApplication::style()->standardIcon(QStyle::SP_MessageBoxInformation);
    return icon;
}

} // namespace

CRemindPopup::CRemindPopup() = default;

CRemindPopup::CRemindPopup(Owner owner) : owner_(std::move(owner)) {}

CRemindPopup::~CRemindPopup()
{
    // Windows whose deletion was deferred (or still open ones) go with the popup.
    delete tray_.data();
    delete background_.data();
    delete menu_.data();
}

CRemindTopWnd* CRemindPopup::topWnd() const
{
    return background_ ? background_->topWnd() : nullptr;
}

void CRemindPopup::ShowReminder(const qev::ActivityRecord& record, std::int64_t localStart,
                                std::int64_t localEnd)
{
    // Never two at once: an open reminder goes before the next one comes.
    HideReminder();
    const qev::GameEntry* game = owner_.currentGame ? owner_.currentGame() : nullptr;
    if (!game) return; // no layout to build from
    const qev::WindowLayout& layout = game->remind;

    auto* background = new CRemindBack(layout);
    background_ = background;
    connect(background, &CRemindBack::closeRequested, this, &CRemindPopup::HideReminder);
    // The activity's page is loaded only from a web address; the reminder shows either way.
    std::string address = qev::ReminderPageAddress(record.pageUrl);
    if (!address.empty() && !qev::IsWebAddress(address)) {
        qev::WriteLog("reminder page address refused (not http or https): " +
                      qev::AddressForLog(address));
        address.clear();
    }
    background->dataWnd()->BuildPanes(layout.webPanes, address, owner_.web);

    auto* top = new CRemindTopWnd(background, layout, localStart, localEnd, digitStrip_);
    if (top->Init()) {
        background->AttachTopWnd(top);
        connect(top, &CRemindTopWnd::command, this, &CRemindPopup::OnCommand);
    } else {
        // Only the top layer fails; the rest of the reminder stays. The message waits for
        // the schedule's call to return, so its modal loop cannot re-enter the opening.
        delete top;
        QTimer::singleShot(0, this, [] { qev::ShowMessage(qev::DigitStripMissingText); });
    }

    collapsed_ = false;
    PlaceWindows();
    background->show();
    AddTrayIcon();
    open_ = true;
}

void CRemindPopup::AddTrayIcon()
{
    // A desktop without a tray: the reminder works without its icon, and says nothing.
    if (!QSystemTrayIcon::isSystemTrayAvailable()) return;
    auto* tray = new QSystemTrayIcon(TrayIconImage(), this);
    tray->setToolTip(QString::fromLatin1(qev::TrayTip));
    connect(tray, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                int message = 0;
                if (reason == QSystemTrayIcon::Trigger)
                    message = qev::TrayLeftButtonDown;
                else if (reason == QSystemTrayIcon::Context)
                    message = qev::TrayRightButtonUp;
                else
                    return;
                // The icon reports to the view that owns it, which hands it back here.
                if (owner_.trayNotify)
                    owner_.trayNotify(qev::TrayIconId, message);
                else
                    OnTrayNotify(qev::TrayIconId, message);
            });
    tray->show();
    tray_ = tray;
}

void CRemindPopup::SwitchToRunning()
{
    if (CRemindTopWnd* top = topWnd()) top->SwitchToRunning();
}

void CRemindPopup::HideReminder()
{
    if (!open_) return;
    open_ = false;
    collapsed_ = false;
    if (menu_) menu_->hide();
    if (tray_) {
        tray_->hide();
        tray_->deleteLater();
        tray_ = nullptr;
    }
    if (background_) {
        // Deferred: this may run inside a click on one of the reminder's own buttons.
        background_->hide();
        background_->deleteLater();
    }
}

void CRemindPopup::PlaceWindows()
{
    if (!background_) return;
    const QRect screen = ScreenRect();
    const qev::ReminderPlace place = qev::ExpandedPlace(
        screen.width(), screen.height(), background_->width(), background_->height());
    background_->move(screen.x() + place.x, screen.y() + place.y);
}

void CRemindPopup::CollapseReminder()
{
    CRemindTopWnd* top = topWnd();
    if (!background_ || !top) return;
    const QRect screen = ScreenRect();
    const qev::ReminderPlace place =
        qev::CollapsedPlace(screen.width(), screen.height(), top->height());
    background_->move(screen.x() + place.x, screen.y() + place.y);
    top->ShowCollapsedTabs(true);
    collapsed_ = true;
}

void CRemindPopup::ExpandReminder()
{
    CRemindTopWnd* top = topWnd();
    if (!background_ || !top) return;
    PlaceWindows();
    top->ShowCollapsedTabs(false);
    collapsed_ = false;
}

void CRemindPopup::OnCommand(int id)
{
    switch (id) {
    case CRemindTopWnd::CloseCommand:
        // The schedule marks the record done and asks us to hide.
        if (owner_.closeReminder)
            owner_.closeReminder();
        else
            HideReminder();
        break;
    case CRemindTopWnd::CollapseCommand: CollapseReminder(); break;
    case CRemindTopWnd::ExpandCommand: ExpandReminder(); break;
    default: break; // the labels
    }
}

QMenu* CRemindPopup::trayMenu()
{
    if (!menu_) {
        auto* menu = new QMenu;
        QAction* exit = menu->addAction(QString::fromUtf8(qev::TrayExitText));
        connect(exit, &QAction::triggered, this, [this] {
            if (owner_.command)
                owner_.command(qev::TrayExitCommand);
            else
                HideReminder();
        });
        menu_ = menu;
    }
    return menu_;
}

void CRemindPopup::OnTrayNotify(int iconId, int mouseMessage)
{
    if (iconId != qev::TrayIconId || !open_) return;
    if (mouseMessage == qev::TrayLeftButtonDown) {
        if (!background_) return;
        PlaceWindows();
        // Back at the corner, the tab that shows is the one that collapses it again.
        if (CRemindTopWnd* top = topWnd(); top && collapsed_) top->ShowCollapsedTabs(false);
        collapsed_ = false;
        background_->show();
        background_->raise();
    } else if (mouseMessage == qev::TrayRightButtonUp) {
        trayMenu()->popup(QCursor::pos());
    }
}
