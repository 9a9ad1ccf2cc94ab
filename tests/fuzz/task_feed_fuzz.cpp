// Any bytes as a task feed: read it into a schedule on a fixed clock, run a few ticks
// across a day, close and stop. Checks the schedule's own promises on the way.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "core/remind/activity_schedule.h"

namespace {

// 2026-07-01 12:00:00 UTC.
constexpr std::int64_t BaseTime = 1782907200;

class CheckingSink : public qev::ReminderSink {
public:
    void ShowReminder(const qev::ActivityRecord& record, std::int64_t, std::int64_t) override
    {
        // Only accepted records reach the reminder, and never one already shown or done.
        if (record.number < 1 || record.shown || record.done) std::abort();
        open = true;
    }
    void SwitchToRunning() override
    {
        if (!open) std::abort();
    }
    void HideReminder() override { open = false; }
    bool open = false;
};

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    setenv("TZ", "UTC", 1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::int64_t now = BaseTime;
    CheckingSink sink;
    qev::ActivitySchedule schedule(
        &sink, [&now] { return now; }, [](std::string_view) {});
    schedule.ParseTaskFeed(text);
    for (const auto& record : schedule.Activities())
        if (record.number < 1 || record.shown || record.done) std::abort();

    for (std::int64_t step : {0, 2, 600, 1800, 3600, 43200, 86400}) {
        now = BaseTime + step;
        schedule.OnScheduleTimer();
        if ((schedule.CurrentReminderNo() != 0) != sink.open) std::abort();
    }
    schedule.CloseReminder();
    if (sink.open || schedule.CurrentReminderNo() != 0) std::abort();
    schedule.ParseTaskFeed(text);
    schedule.OnScheduleTimer();
    schedule.StopSchedule();
    if (!schedule.Activities().empty() || sink.open) std::abort();

    // The same text through a schedule without any reminder attached.
    qev::ActivitySchedule bare(
        nullptr, [&now] { return now; }, [](std::string_view) {});
    bare.ParseTaskFeed(text);
    bare.OnScheduleTimer();
    return 0;
}
