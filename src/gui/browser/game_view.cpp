#include "browser/game_view.h"

#include <QUrl>

CKorvel2View::CKorvel2View(QWidget* parent) : QWebEngineView(parent), schedule_(&reminder_)
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
