#pragma once
// The task feed (server time and daily activities) and the schedule that opens and
// closes the activity reminder against the server's clock. No windows here: the reminder
// is reached through ReminderSink, the clock and the log are injected.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace qev {

// Id of the game view's schedule timer, and its period.
inline constexpr int ScheduleTimerId = 100000;
inline constexpr int SchedulePeriodMs = 2000;
// The reminder opens this long before an activity starts.
inline constexpr std::int64_t ReminderLeadSeconds = 900;

// One accepted feed entry, in feed order. Start and end are times of day "HH:MM".
struct ActivityRecord {
    std::string startText, endText;
    int number = 0;
    int shown = 0; // its reminder is on screen
    int done = 0;  // its reminder was closed; never shown again
    std::string pageUrl;
};

// The reminder windows, as the schedule sees them.
class ReminderSink {
public:
    virtual ~ReminderSink() = default;
    // Opens the reminder for record; start and end are local-clock epoch seconds.
    virtual void ShowReminder(const ActivityRecord& record, std::int64_t localStart,
                              std::int64_t localEnd) = 0;
    // The open reminder shows its "running" state (the activity has started).
    virtual void SwitchToRunning() = 0;
    // Removes the reminder windows and tray icon; nothing when none is open.
    virtual void HideReminder() = 0;
};

// Reads "%d-%d-%d %d:%d:%d" (year, month, day, hour, minute, second; local time) and
// converts it with mktime, taking the daylight-saving flag of the current local time.
// Fields the text does not supply count as 0. When fieldsRead is given it receives the
// number of fields actually read (0..6).
std::int64_t ParseFeedTime(const char* text, int* fieldsRead = nullptr);

// The activity list and its schedule; lives in the game view, runs on the UI thread.
class ActivitySchedule {
public:
    using Clock = std::function<std::int64_t()>; // epoch seconds, local clock
    using LogWriter = std::function<void(std::string_view)>;

    // sink may be null (nothing is shown). An empty clock reads the system clock; an
    // empty log writer writes to the client's log file (WriteLog).
    explicit ActivitySchedule(ReminderSink* sink, Clock clock = {}, LogWriter log = {});

    void SetSink(ReminderSink* sink) { sink_ = sink; }

    // Reads a task feed and APPENDS its activities to the list. An empty text, or a feed
    // without a readable "server_time", changes nothing. The caller restarts the timer
    // and calls ResetTicks.
    void ParseTaskFeed(const std::string& text);

    // One tick of the schedule timer: the first record (in feed order) whose window
    // (start - 900 s, end] holds the server's now decides; an open reminder whose record
    // is outside its window is closed on the way. A record with an illegal time is
    // skipped, and logged at the first tick that meets it after its feed was read.
    void OnScheduleTimer();

    // Empties the list, clears the counters and hides the reminder. The caller stops its
    // timer.
    void StopSchedule();

    // Closes the open reminder: its record becomes done, the windows are hidden.
    void CloseReminder();

    // Opens the reminder for the record at index (local-clock times). A reminder that
    // is already open for another record is closed first and that record becomes done.
    void ShowReminder(std::size_t index, std::int64_t localStart, std::int64_t localEnd);

    void ResetTicks() { tickCount_ = 0; }

    const std::vector<ActivityRecord>& Activities() const { return activities_; }
    std::int64_t ServerTimeOffset() const { return serverTimeOffset_; }
    int CurrentReminderNo() const { return currentReminderNo_; }
    std::int64_t TickCount() const { return tickCount_; }

private:
    static constexpr std::size_t NoReminder = static_cast<std::size_t>(-1);

    void LogIllegal(std::size_t index);

    ReminderSink* sink_;
    Clock clock_;
    LogWriter log_;
    std::vector<ActivityRecord> activities_;
    std::int64_t serverTimeOffset_ = 0; // server clock minus local clock
    int currentReminderNo_ = 0;         // number of the open reminder's record, 0 if none
    // The open reminder's record by position: feeds may repeat a number (the same
    // activity twice a day), and only the record actually shown may be closed.
    std::size_t currentIndex_ = NoReminder;
    std::int64_t tickCount_ = 0;
    // Changes whenever the list is emptied, so a sink that re-enters cannot leave us
    // writing to a record that is gone.
    std::uint64_t generation_ = 0;
    // Per record: its illegal time was logged. Once per feed, not every tick: a feed of
    // many bad records would otherwise write megabytes every two seconds.
    std::vector<bool> illegalLogged_;
};

} // namespace qev
