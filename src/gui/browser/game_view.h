#pragma once
// A document of the main frame and its game view. The view shows a page and carries the
// activity schedule and its reminder; the cookie marking comes with a later change.
#include <QString>
#include <QTimer>
#include <QWebEngineView>

#include <string>

#include "remind/activity_schedule.h"
#include "remind/remind_popup.h"

class CKorvel2View : public QWebEngineView {
    Q_OBJECT
public:
    explicit CKorvel2View(QWidget* parent = nullptr);
    ~CKorvel2View() override;

    void Navigate(const QString& url);
    // Reads a task feed into the activity list (appending), restarts the schedule timer
    // (every 2 s) and resets its tick counter.
    void StartSchedule(const std::string& feedText);
    // Stops the schedule timer, empties the activity list and removes the reminder.
    void StopSchedule();

    // The reminder's tray icon reports here (icon id 32781, the mouse message).
    void OnTrayNotify(int iconId, int mouseMessage);
    // Commands sent to the view: 32782, the tray menu's "退出", removes the reminder.
    void OnCommand(int id);

    qev::ActivitySchedule& schedule() { return schedule_; }
    bool scheduleRunning() const { return scheduleTimer_.isActive(); }
    CRemindPopup& reminder() { return reminder_; }

private:
    CRemindPopup reminder_;
    qev::ActivitySchedule schedule_;
    QTimer scheduleTimer_;
};

class CKorvel2Doc {
public:
    QString title;                // empty until the application names it
    CKorvel2View* view = nullptr; // owned by the frame's widget tree
};
