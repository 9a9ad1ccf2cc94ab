#include "core/remind/activity_schedule.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

namespace qev {
namespace {

// Sets the process's time zone for one test and restores it afterwards.
class ZoneGuard {
public:
    explicit ZoneGuard(const char* zone)
    {
        const char* old = std::getenv("TZ");
        hadZone_ = old != nullptr;
        if (old) oldZone_ = old;
        setenv("TZ", zone, 1);
        tzset();
    }
    ~ZoneGuard()
    {
        if (hadZone_)
            setenv("TZ", oldZone_.c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }

private:
    bool hadZone_ = false;
    std::string oldZone_;
};

// Local wall-clock time of the zone in force to epoch seconds.
std::int64_t At(int hour, int minute, int second = 0, int day = 1)
{
    std::tm tm{};
    tm.tm_year = 2026 - 1900;
    tm.tm_mon = 6;
    tm.tm_mday = day;
    tm.tm_hour = hour;
    tm.tm_min = minute;
    tm.tm_sec = second;
    tm.tm_isdst = -1;
    return static_cast<std::int64_t>(std::mktime(&tm));
}

std::string ServerTime(int hour, int minute, int second = 0)
{
    char text[32];
    std::snprintf(text, sizeof text, "2026-07-01 %02d:%02d:%02d", hour, minute, second);
    return text;
}

struct Activity {
    int number;
    const char* start;
    const char* end;
};

std::string Feed(const std::string& serverTime, const std::vector<Activity>& activities)
{
    std::string text = R"({"server_time":")" + serverTime + R"(","activities":[)";
    for (std::size_t i = 0; i < activities.size(); ++i) {
        const Activity& a = activities[i];
        if (i) text += ",";
        text += R"({"activity_iNo":)" + std::to_string(a.number) + R"(,"activity_start":")" +
                a.start + R"(","activity_over":")" + a.end +
                R"(","display_sUrl":"http:\/\/portal\/tips?id=)" + std::to_string(a.number) +
                R"("})";
    }
    return text + "]}";
}

class RecordingSink : public ReminderSink {
public:
    void ShowReminder(const ActivityRecord& record, std::int64_t start, std::int64_t end) override
    {
        events.push_back("show " + std::to_string(record.number));
        starts.push_back(start);
        ends.push_back(end);
    }
    void SwitchToRunning() override { events.push_back("running"); }
    void HideReminder() override { events.push_back("hide"); }

    std::vector<std::string> events;
    std::vector<std::int64_t> starts, ends;
};

using Events = std::vector<std::string>;

// A schedule on a fake local clock, with the log captured.
struct Rig {
    explicit Rig(std::int64_t localNow)
        : now(localNow),
          schedule(
              &sink, [this] { return now; }, [this](std::string_view t) { log.emplace_back(t); })
    {
    }
    // Advances the local clock to `when` and ticks once.
    void TickAt(std::int64_t when)
    {
        now = when;
        schedule.OnScheduleTimer();
    }
    std::int64_t now;
    RecordingSink sink;
    std::vector<std::string> log;
    ActivitySchedule schedule;
};

TEST(ActivitySchedule, PreStartReminderOpensAtFirstTickAndClosesAfterTheEnd)
{
    ZoneGuard zone("UTC");
    Rig rig(At(12, 0));
    rig.schedule.ParseTaskFeed(Feed(ServerTime(12, 0), {{7, "12:10", "12:30"}}));
    ASSERT_EQ(rig.schedule.Activities().size(), 1u);
    EXPECT_EQ(rig.schedule.ServerTimeOffset(), 0);

    rig.TickAt(At(12, 0));
    EXPECT_EQ(rig.sink.events, (Events{"show 7"}));
    EXPECT_EQ(rig.sink.starts.at(0), At(12, 10));
    EXPECT_EQ(rig.sink.ends.at(0), At(12, 30));
    EXPECT_EQ(rig.schedule.CurrentReminderNo(), 7);
    EXPECT_EQ(rig.schedule.Activities()[0].shown, 1);

    // Shown stays shown through the start and up to the end second included.
    for (std::int64_t t : {At(12, 0, 2), At(12, 10), At(12, 20), At(12, 30)}) rig.TickAt(t);
    EXPECT_EQ(rig.sink.events, (Events{"show 7"}));

    rig.TickAt(At(12, 30, 1));
    EXPECT_EQ(rig.sink.events, (Events{"show 7", "hide"}));
    EXPECT_EQ(rig.schedule.CurrentReminderNo(), 0);
    EXPECT_EQ(rig.schedule.Activities()[0].done, 1);
    EXPECT_EQ(rig.schedule.Activities()[0].shown, 0);

    rig.TickAt(At(12, 31));
    EXPECT_EQ(rig.sink.events.size(), 2u);
    EXPECT_EQ(rig.schedule.TickCount(), 7);
    EXPECT_TRUE(rig.log.empty());
}

TEST(ActivitySchedule, WindowEdges)
{
    ZoneGuard zone("UTC");
    struct Edge {
        int hour, minute, second;
        Events expected;
    };
    const Edge edges[] = {
        {11, 55, 0, {}},                    // exactly start - 900: not yet
        {11, 55, 1, {"show 7"}},            // one second later
        {12, 9, 59, {"show 7"}},            // last second before the start
        {12, 10, 0, {"show 7", "running"}}, // opened at the start: running at once
        {12, 30, 0, {"show 7", "running"}}, // the end second still counts as running
        {12, 30, 1, {}},                    // past the end
    };
    for (const Edge& e : edges) {
        Rig rig(At(e.hour, e.minute, e.second));
        rig.schedule.ParseTaskFeed(
            Feed(ServerTime(e.hour, e.minute, e.second), {{7, "12:10", "12:30"}}));
        rig.TickAt(rig.now);
        EXPECT_EQ(rig.sink.events, e.expected) << e.hour << ":" << e.minute << ":" << e.second;
    }
}

// The local clock runs an hour behind the server; the windows follow the server and the
// reminder gets local-clock times. Run in several zones (one with summer time in force):
// the date of "now" is local.
TEST(ActivitySchedule, LocalClockBehindTheServer)
{
    for (const char* zoneName : {"UTC", "QEV-8", "EST5EDT,M3.2.0,M11.1.0"}) {
        ZoneGuard zone(zoneName);
        Rig rig(At(11, 0));
        rig.schedule.ParseTaskFeed(Feed(ServerTime(12, 0), {{3, "12:10", "12:30"}}));
        EXPECT_EQ(rig.schedule.ServerTimeOffset(), 3600) << zoneName;

        rig.TickAt(At(11, 0));
        ASSERT_EQ(rig.sink.events, (Events{"show 3"})) << zoneName;
        EXPECT_EQ(rig.sink.starts[0], At(11, 10)) << zoneName;
        EXPECT_EQ(rig.sink.ends[0], At(11, 30)) << zoneName;

        rig.TickAt(At(11, 30));
        EXPECT_EQ(rig.sink.events.size(), 1u) << zoneName;
        rig.TickAt(At(11, 30, 1));
        EXPECT_EQ(rig.sink.events, (Events{"show 3", "hide"})) << zoneName;
    }
}

TEST(ActivitySchedule, ZoneWithOffsetKeepsTheLocalDate)
{
    // 23:50 local in UTC+8 is 15:50 UTC: the activity's times are taken on the local
    // date, so 23:55-23:58 is five minutes away, not a day off.
    ZoneGuard zone("QEV-8");
    Rig rig(At(23, 50));
    rig.schedule.ParseTaskFeed(Feed(ServerTime(23, 50), {{4, "23:55", "23:58"}}));
    rig.TickAt(At(23, 50));
    ASSERT_EQ(rig.sink.events, (Events{"show 4"}));
    EXPECT_EQ(rig.sink.starts[0] - rig.now, 300);

    // A time past midnight written from 24 on is the next day's (the demo portal's feed).
    Rig late(At(23, 55));
    late.schedule.ParseTaskFeed(Feed(ServerTime(23, 55), {{5, "24:05", "24:35"}}));
    late.TickAt(At(23, 55));
    ASSERT_EQ(late.sink.events, (Events{"show 5"}));
    EXPECT_EQ(late.sink.starts[0] - late.now, 600);
}

TEST(ActivitySchedule, OverlappingActivitiesFirstInFeedOrderDecides)
{
    ZoneGuard zone("UTC");
    Rig rig(At(12, 0));
    rig.schedule.ParseTaskFeed(
        Feed(ServerTime(12, 0), {{1, "12:10", "12:30"}, {2, "12:20", "12:40"}}));
    rig.TickAt(At(12, 0));
    EXPECT_EQ(rig.sink.events, (Events{"show 1"}));

    // The player closes it: done, but its window still stops the scan, so the second
    // activity waits although its own window is open.
    rig.schedule.CloseReminder();
    EXPECT_EQ(rig.schedule.Activities()[0].done, 1);
    for (std::int64_t t : {At(12, 6), At(12, 20), At(12, 30)}) rig.TickAt(t);
    EXPECT_EQ(rig.sink.events, (Events{"show 1", "hide"}));

    rig.TickAt(At(12, 30, 1));
    EXPECT_EQ(rig.sink.events, (Events{"show 1", "hide", "show 2", "running"}));
    EXPECT_EQ(rig.schedule.CurrentReminderNo(), 2);
}

TEST(ActivitySchedule, EarlierRecordTakingOverClosesTheOpenReminderFirst)
{
    ZoneGuard zone("UTC");
    Rig rig(At(12, 10));
    rig.schedule.ParseTaskFeed(
        Feed(ServerTime(12, 10), {{1, "12:30", "13:00"}, {2, "12:10", "12:40"}}));
    rig.TickAt(At(12, 10));
    EXPECT_EQ(rig.sink.events, (Events{"show 2", "running"}));

    rig.TickAt(At(12, 15, 1)); // the first record's window opens
    EXPECT_EQ(rig.sink.events, (Events{"show 2", "running", "hide", "show 1"}));
    EXPECT_EQ(rig.schedule.Activities()[1].done, 1);
    EXPECT_EQ(rig.schedule.CurrentReminderNo(), 1);

    rig.TickAt(At(12, 41));
    rig.TickAt(At(13, 0, 1));
    EXPECT_EQ(rig.sink.events.back(), "hide");
    EXPECT_EQ(rig.sink.events.size(), 5u);
}

TEST(ActivitySchedule, RepeatedNumberClosesOnlyTheRecordShown)
{
    // The same activity twice a day: the morning record being outside its window must
    // not close the evening record's reminder.
    ZoneGuard zone("UTC");
    Rig rig(At(19, 50));
    rig.schedule.ParseTaskFeed(
        Feed(ServerTime(19, 50), {{5, "12:10", "12:30"}, {5, "20:00", "20:30"}}));
    for (std::int64_t t : {At(19, 50), At(19, 50, 2), At(20, 0), At(20, 30)}) rig.TickAt(t);
    EXPECT_EQ(rig.sink.events, (Events{"show 5"}));
    EXPECT_EQ(rig.schedule.Activities()[0].done, 0);
    rig.TickAt(At(20, 30, 1));
    EXPECT_EQ(rig.sink.events, (Events{"show 5", "hide"}));
    EXPECT_EQ(rig.schedule.Activities()[1].done, 1);
}

TEST(ActivitySchedule, FeedEntriesThatAreSkipped)
{
    ZoneGuard zone("UTC");
    Rig rig(At(12, 0));
    rig.schedule.ParseTaskFeed(R"({"server_time":"2026-07-01 12:00:00","activities":[
        {"activity_iNo":0,"activity_start":"12:10","activity_over":"12:30","display_sUrl":"u"},
        {"activity_iNo":"abc","activity_start":"12:10","activity_over":"12:30","display_sUrl":"u"},
        {"activity_start":"12:10","activity_over":"12:30","display_sUrl":"u"},
        {"activity_iNo":1,"activity_start":2000,"activity_over":"12:30","display_sUrl":"u"},
        {"activity_iNo":2,"activity_start":"12:10:00","activity_over":"12:30","display_sUrl":"u"},
        {"activity_iNo":3,"activity_start":"12:10","activity_over":"1230","display_sUrl":"u"},
        {"activity_iNo":4,"activity_start":"12:10","activity_over":"12:30","display_sUrl":""},
        {"activity_iNo":-5,"activity_start":"12:10","activity_over":"12:30","display_sUrl":"u"},
        {"activity_iNo":"12","activity_start":"12:10","activity_over":"12:30","display_sUrl":"a\/b"},
        {"activity_iNo":13,"activity_over":"12:30","display_sUrl":"u"},
        "not an object", 7
    ]})");
    const auto& list = rig.schedule.Activities();
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].number, 12);
    EXPECT_EQ(list[0].startText, "12:10");
    EXPECT_EQ(list[0].endText, "12:30");
    EXPECT_EQ(list[0].pageUrl, R"(a\/b)");
    EXPECT_EQ(list[1].number, 13); // no start: accepted, but illegal at every tick
    EXPECT_TRUE(list[1].startText.empty());
}

TEST(ActivitySchedule, FeedsWithoutAUsableServerTimeAddNothing)
{
    ZoneGuard zone("UTC");
    const std::string activities =
        R"("activities":[{"activity_iNo":1,"activity_start":"12:10","activity_over":"12:30","display_sUrl":"u"}])";
    const std::string feeds[] = {
        "",
        "{" + activities + "}",
        R"({"server_time":"2026-07-01",)" + activities + "}",
        R"({"server_time":"tomorrow",)" + activities + "}",
        R"({"server_time":"2026-07-01 12:00:00","activities":{"activity_iNo":1}})",
        "not json at all",
    };
    for (const std::string& feed : feeds) {
        Rig rig(At(12, 0));
        rig.schedule.ParseTaskFeed(feed);
        EXPECT_TRUE(rig.schedule.Activities().empty()) << feed;
        EXPECT_EQ(rig.schedule.ServerTimeOffset(), 0) << feed;
    }
}

TEST(ActivitySchedule, SecondFeedAppends)
{
    ZoneGuard zone("UTC");
    Rig rig(At(12, 0));
    rig.schedule.ParseTaskFeed(Feed(ServerTime(12, 0), {{1, "12:10", "12:30"}}));
    rig.schedule.ParseTaskFeed(Feed(ServerTime(12, 0), {{2, "13:10", "13:30"}}));
    ASSERT_EQ(rig.schedule.Activities().size(), 2u);
    EXPECT_EQ(rig.schedule.Activities()[1].number, 2);
}

TEST(ActivitySchedule, IllegalTimesAreLoggedOncePerFeedAndSkipped)
{
    ZoneGuard zone("UTC");
    Rig rig(At(12, 0));
    rig.schedule.ParseTaskFeed(R"({"server_time":"2026-07-01 12:00:00","activities":[
        {"activity_iNo":4,"activity_over":"12:30","display_sUrl":"u"},
        {"activity_iNo":5,"activity_start":"ab:10","activity_over":"12:30","display_sUrl":"u"},
        {"activity_iNo":6,"activity_start":"12:10","activity_over":"12:x","display_sUrl":"u"},
        {"activity_iNo":7,"activity_start":"12:10","activity_over":"12:30","display_sUrl":"u"}
    ]})");
    ASSERT_EQ(rig.schedule.Activities().size(), 4u);
    rig.TickAt(At(12, 0));
    const std::vector<std::string> lines = {
        "activity_iNo:4 ,activityObj.activity_start: is illegal\n",
        "activity_iNo:5 ,activityObj.activity_start:ab:10 is illegal\n",
        "activity_iNo:6 ,activityObj.activity_start:12:10 is illegal\n",
    };
    EXPECT_EQ(rig.log, lines);
    EXPECT_EQ(rig.sink.events, (Events{"show 7"}));
    rig.TickAt(At(12, 0, 2));
    EXPECT_EQ(rig.log, lines); // not again at the next tick
    // A new feed's records are logged once more; the old ones stay quiet.
    rig.schedule.ParseTaskFeed(R"({"server_time":"2026-07-01 12:00:00","activities":[
        {"activity_iNo":8,"activity_over":"12:30","display_sUrl":"u"}]})");
    rig.TickAt(At(12, 31)); // past record 7's window, so the scan reaches record 8
    rig.TickAt(At(12, 31, 2));
    ASSERT_EQ(rig.log.size(), 4u);
    EXPECT_EQ(rig.log[3], "activity_iNo:8 ,activityObj.activity_start: is illegal\n");
    // After a stop the list is rebuilt from scratch, and so is what was logged.
    rig.schedule.StopSchedule();
    rig.schedule.ParseTaskFeed(R"({"server_time":"2026-07-01 12:00:00","activities":[
        {"activity_iNo":4,"activity_over":"12:30","display_sUrl":"u"}]})");
    rig.TickAt(At(12, 0, 8));
    EXPECT_EQ(rig.log.size(), 5u);
}

// 50,531 bad records wrote 2.98 MB of log every 2-second tick (about 5 GB an hour).
TEST(ActivitySchedule, ManyIllegalRecordsCostOneLineEachPerFeed)
{
    ZoneGuard zone("UTC");
    Rig rig(At(12, 0));
    std::string feed = R"({"server_time":"2026-07-01 12:00:00","activities":[)";
    constexpr int Records = 20000;
    for (int i = 1; i <= Records; ++i)
        feed += std::string(i > 1 ? "," : "") + R"({"activity_iNo":)" + std::to_string(i) +
                R"(,"activity_start":"a:b","activity_over":"12:30","display_sUrl":"u"})";
    feed += "]}";
    rig.schedule.ParseTaskFeed(feed);
    ASSERT_EQ(rig.schedule.Activities().size(), static_cast<std::size_t>(Records));
    for (int tick = 0; tick < 30; ++tick) rig.TickAt(At(12, 0, 2 * tick));
    EXPECT_EQ(rig.log.size(), static_cast<std::size_t>(Records)); // not 30 times that
}

TEST(ActivitySchedule, StopScheduleClearsEverything)
{
    ZoneGuard zone("UTC");
    Rig rig(At(12, 0));
    rig.schedule.ParseTaskFeed(Feed(ServerTime(12, 0), {{7, "12:10", "12:30"}}));
    rig.TickAt(At(12, 0));
    rig.TickAt(At(12, 0, 2));
    EXPECT_EQ(rig.schedule.TickCount(), 2);
    rig.schedule.StopSchedule();
    EXPECT_EQ(rig.sink.events, (Events{"show 7", "hide"}));
    EXPECT_TRUE(rig.schedule.Activities().empty());
    EXPECT_EQ(rig.schedule.CurrentReminderNo(), 0);
    EXPECT_EQ(rig.schedule.TickCount(), 0);

    // A new login's feed starts over: the activity is reminded again.
    rig.schedule.ParseTaskFeed(Feed(ServerTime(12, 0, 4), {{7, "12:10", "12:30"}}));
    rig.schedule.ResetTicks();
    rig.TickAt(At(12, 0, 4));
    EXPECT_EQ(rig.sink.events, (Events{"show 7", "hide", "show 7"}));
    EXPECT_EQ(rig.schedule.TickCount(), 1);
}

// A sink that empties and refills the list while the reminder opens (a new login's feed
// arriving meanwhile) leaves no record of the new list marked shown.
TEST(ActivitySchedule, ListRefilledWhileTheReminderOpensMarksNothingShown)
{
    ZoneGuard zone("UTC");
    struct RefillingSink : RecordingSink {
        ActivitySchedule* schedule = nullptr;
        void ShowReminder(const ActivityRecord& r, std::int64_t s, std::int64_t e) override
        {
            RecordingSink::ShowReminder(r, s, e);
            schedule->StopSchedule();
            schedule->ParseTaskFeed(Feed(ServerTime(12, 0), {{8, "12:10", "12:30"}}));
        }
    } sink;
    Rig rig(At(12, 0));
    sink.schedule = &rig.schedule;
    rig.schedule.SetSink(&sink);
    rig.schedule.ParseTaskFeed(Feed(ServerTime(12, 0), {{7, "12:10", "12:30"}}));
    rig.TickAt(At(12, 0));
    ASSERT_EQ(rig.schedule.Activities().size(), 1u);
    EXPECT_EQ(rig.schedule.Activities()[0].shown, 0);
    EXPECT_EQ(rig.schedule.CurrentReminderNo(), 0);
}

TEST(ActivitySchedule, FeedTimeReading)
{
    ZoneGuard zone("UTC");
    struct Row {
        const char* text;
        int fields;
        std::int64_t expected; // -1: not checked
    };
    const Row rows[] = {
        {"2026-07-01 12:00:00", 6, At(12, 0)},
        {"2026-07-01    12:00:07", 6, At(12, 0, 7)},
        {"2026-07-01\t12:00:00", 6, At(12, 0)},
        {" 2026-07-01 12:5:3 trailing", 6, At(12, 5, 3)},
        {"2026-07-01 25:00:00", 6, At(1, 0, 0, 2)}, // normalised like mktime does
        {"2026-07-01", 3, -1},
        {"2026/07/01 12:00:00", 1, -1},
        {"", 0, -1},
        {"99999999999-1-1 0:0:0", 6, -1}, // saturates instead of overflowing
    };
    for (const Row& r : rows) {
        int fields = -1;
        const std::int64_t value = ParseFeedTime(r.text, &fields);
        EXPECT_EQ(fields, r.fields) << r.text;
        if (r.expected != -1) {
            EXPECT_EQ(value, r.expected) << r.text;
        }
    }
    EXPECT_EQ(ParseFeedTime(nullptr), ParseFeedTime(""));
}

} // namespace
} // namespace qev
