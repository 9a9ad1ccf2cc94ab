#pragma once
// A document of the main frame and its game view. The view shows a page and carries the
// activity schedule; the cookie marking and the reminder windows come with later changes.
#include <QString>
#include <QTimer>
#include <QWebEngineView>

#include <string>

#include "remind/activity_schedule.h"

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

    qev::ActivitySchedule& schedule() { return schedule_; }
    bool scheduleRunning() const { return scheduleTimer_.isActive(); }

private:
    // Placeholder reminder: the reminder windows arrive with a later change, until then
    // the schedule's requests to show or hide one have no visible effect.
    class NoReminderWindows : public qev::ReminderSink {
    public:
        void ShowReminder(const qev::ActivityRecord&, std::int64_t, std::int64_t) override {}
        void SwitchToRunning() override {}
        void HideReminder() override {}
    };

    NoReminderWindows reminder_;
    qev::ActivitySchedule schedule_;
    QTimer scheduleTimer_;
};

class CKorvel2Doc {
public:
    QString title;                // empty until the application names it
    CKorvel2View* view = nullptr; // owned by the frame's widget tree
};
