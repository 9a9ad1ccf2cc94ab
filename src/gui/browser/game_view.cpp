#include "browser/game_view.h"

#include <QUrl>

CKorvel2View::CKorvel2View(QWidget* parent)
    : QWebEngineView(parent),
      reminder_(CRemindPopup::Owner{[this] { schedule_.CloseReminder(); },
                                    [this](int id, int message) { OnTrayNotify(id, message); },
                                    [this](int id) { OnCommand(id); }}),
      schedule_(&reminder_)
{
    scheduleTimer_.setInterval(qev::SchedulePeriodMs);
    connect(&scheduleTimer_, &QTimer::timeout, this, [this] { schedule_.OnScheduleTimer(); });
}

CKorvel2View::~CKorvel2View()
{
    scheduleTimer_.stop();
    schedule_.StopSchedule();
}

void CKorvel2View::Navigate(const QString& url)
{
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
