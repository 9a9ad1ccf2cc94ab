#pragma once
// The reminder of one game view: the corner window (CRemindBack with its two layers) and
// the tray icon, opened and closed by the view's activity schedule. At most one is open.
#include <QMenu>
#include <QObject>
#include <QPointer>
#include <QSystemTrayIcon>

#include <cstdint>
#include <functional>

#include "core/layout/layout.h"
#include "core/remind/activity_schedule.h"
#include "gui/remind/remind_windows.h"

class CWebContext;

class CRemindPopup : public QObject, public qev::ReminderSink {
    Q_OBJECT
public:
    // What the owning view does for the reminder. Empty functions: the close button and
    // the tray menu just hide the reminder, and tray clicks come straight here.
    struct Owner {
        std::function<void()> closeReminder; // the schedule's CloseReminder
        std::function<void(int iconId, int mouseMessage)> trayNotify; // tray callback
        std::function<void(int command)> command;                     // the tray menu's command
        std::function<const qev::GameEntry*()> currentGame; // whose <remind> layout is used
        CWebContext* web = nullptr; // where the panes' pages come from (null: no pages)
    };

    CRemindPopup();
    explicit CRemindPopup(Owner owner);

    // Where the countdown's digit strip comes from for the reminders this pop-up opens
    // from now on (empty, the default: the built-in image).
    void SetDigitStripSource(std::function<QImage()> source) { digitStrip_ = std::move(source); }
    ~CRemindPopup() override;

    // The schedule's requests. ShowReminder opens the windows for record (start and end in
    // local-clock seconds) with the current game's <remind> layout, in the screen's
    // corner, and the tray icon where the desktop has a tray.
    void ShowReminder(const qev::ActivityRecord& record, std::int64_t localStart,
                      std::int64_t localEnd) override;
    void SwitchToRunning() override;
    // Removes the tray icon and the windows; nothing when closed.
    void HideReminder() override;

    // The bottom-right corner of the screen, 150 pixels above its bottom edge.
    void PlaceWindows();
    // Slides the reminder right until only its tab shows, and back.
    void CollapseReminder();
    void ExpandReminder();
    // The tray icon's callback: a left press places and shows the reminder again, a right
    // release opens the menu whose one item, "退出", removes the reminder.
    void OnTrayNotify(int iconId, int mouseMessage);
    // The top window's button commands: 33773 close, 33774 collapse, 33775 expand.
    void OnCommand(int id);

    bool isOpen() const { return open_; }
    bool collapsed() const { return collapsed_; }
    CRemindBack* background() const { return background_.data(); }
    CRemindTopWnd* topWnd() const;
    // Null while closed or where the desktop has no tray.
    QSystemTrayIcon* trayIcon() const { return tray_.data(); }
    // The tray menu, made on first use.
    QMenu* trayMenu();

private:
    void AddTrayIcon();

    Owner owner_;
    std::function<QImage()> digitStrip_;
    bool open_ = false;
    bool collapsed_ = false;
    QPointer<CRemindBack> background_;
    QPointer<QSystemTrayIcon> tray_;
    QPointer<QMenu> menu_;
};
