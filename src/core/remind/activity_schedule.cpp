#include "core/remind/activity_schedule.h"

#include <climits>
#include <ctime>
#include <optional>
#include <utility>

#include "core/base/log.h"
#include "core/base/utf.h"
#include "core/layout/json_reader.h"
#include "core/layout/layout.h"

namespace qev {
namespace {

int ClampToInt(long long value)
{
    return value < INT_MIN ? INT_MIN : value > INT_MAX ? INT_MAX : static_cast<int>(value);
}

bool LocalDate(std::int64_t when, std::tm& out)
{
    const std::time_t t = static_cast<std::time_t>(when);
    return localtime_r(&t, &out) != nullptr;
}

int DaylightFlagAt(std::int64_t when)
{
    std::tm now{};
    return LocalDate(when, now) ? now.tm_isdst : -1;
}

std::int64_t ParseFeedTimeWithFlag(const char* text, int isdst, int* fieldsRead)
{
    // "%d-%d-%d %d:%d:%d": the separators must match exactly, the space matches any
    // run of white space (none included).
    static constexpr char Separators[] = {'-', '-', ' ', ':', ':'};
    int fields[6] = {};
    int count = 0;
    const std::string_view s = text ? std::string_view(text) : std::string_view();
    std::size_t pos = 0;
    while (count < 6 && ScanDecimalInt(s, pos, fields[count])) {
        ++count;
        if (count == 6) break;
        const char sep = Separators[count - 1];
        if (sep == ' ') {
            while (pos < s.size() && IsNumberSpace(s[pos])) ++pos;
        } else if (pos < s.size() && s[pos] == sep) {
            ++pos;
        } else {
            break;
        }
    }
    if (fieldsRead) *fieldsRead = count;
    std::tm tm{};
    tm.tm_year = ClampToInt(static_cast<long long>(fields[0]) - 1900);
    tm.tm_mon = ClampToInt(static_cast<long long>(fields[1]) - 1);
    tm.tm_mday = fields[2];
    tm.tm_hour = fields[3];
    tm.tm_min = fields[4];
    tm.tm_sec = fields[5];
    tm.tm_isdst = isdst;
    return static_cast<std::int64_t>(std::mktime(&tm));
}

// A time of day "H:M" split at ':': the number of parts, the first and the last one.
struct TimeParts {
    std::size_t count = 0;
    std::string_view first, last;
};

TimeParts SplitTime(std::string_view text)
{
    TimeParts parts;
    parts.count = 1;
    for (char c : text)
        if (c == ':') ++parts.count;
    const std::size_t firstColon = text.find(':');
    const std::size_t lastColon = text.rfind(':');
    parts.first = text.substr(0, firstColon);
    parts.last = lastColon == std::string_view::npos ? text : text.substr(lastColon + 1);
    return parts;
}

// The date of `date` at hour:minute:00, or nothing when the hour or the minute does not
// start with a number. The daylight-saving flag is left to mktime (-1), so a time on the
// other side of a clock change still lands on the hour the text names.
std::optional<std::int64_t> TimeOnDate(const std::tm& date, const TimeParts& parts)
{
    int hour = 0, minute = 0;
    std::size_t pos = 0;
    if (!ScanDecimalInt(parts.first, pos, hour)) return std::nullopt;
    pos = 0;
    if (!ScanDecimalInt(parts.last, pos, minute)) return std::nullopt;
    std::tm tm = date;
    tm.tm_hour = hour;
    tm.tm_min = minute;
    tm.tm_sec = 0;
    tm.tm_isdst = -1;
    return static_cast<std::int64_t>(std::mktime(&tm));
}

} // namespace

std::int64_t ParseFeedTime(const char* text, int* fieldsRead)
{
    return ParseFeedTimeWithFlag(text, DaylightFlagAt(std::time(nullptr)), fieldsRead);
}

ActivitySchedule::ActivitySchedule(ReminderSink* sink, Clock clock, LogWriter log)
    : sink_(sink), clock_(std::move(clock)), log_(std::move(log))
{
    if (!clock_) clock_ = [] { return static_cast<std::int64_t>(std::time(nullptr)); };
    if (!log_) log_ = [](std::string_view text) { WriteLog(text); };
}

void ActivitySchedule::ParseTaskFeed(const std::string& text)
{
    if (text.empty()) return;
    JsonReader reader;
    ParseJson(text.c_str(), reader);

    const JsonNode* serverTime = FindMember(reader, "server_time");
    if (!serverTime) return;
    const std::int64_t localNow = clock_();
    int fields = 0;
    const std::int64_t server =
        ParseFeedTimeWithFlag(serverTime->value.c_str(), DaylightFlagAt(localNow), &fields);
    // A server time that is not a full date and time cannot anchor the schedule; using
    // it would open reminders at the wrong hours, so it counts as missing.
    if (fields != 6) return;
    serverTimeOffset_ = server - localNow;

    const JsonNode* list = FindMember(reader, "activities");
    if (!list || list->type != JsonMemberArray) return;
    for (const JsonNode* element = list->firstChild; element; element = element->nextSibling) {
        ActivityRecord record;
        // An element without a number is skipped like one below 1.
        const JsonNode* number = FindChild(element, "activity_iNo");
        if (!number) continue;
        record.number = ParseIntLikeAtoi(number->value);
        if (record.number < 1) continue;
        if (const JsonNode* start = FindChild(element, "activity_start")) {
            record.startText = SanitizeUtf8(start->value);
            if (SplitTime(record.startText).count != 2) continue;
        }
        if (const JsonNode* end = FindChild(element, "activity_over")) {
            record.endText = SanitizeUtf8(end->value);
            if (SplitTime(record.endText).count != 2) continue;
        }
        if (const JsonNode* url = FindChild(element, "display_sUrl")) {
            record.pageUrl = SanitizeUtf8(url->value);
            if (record.pageUrl.empty()) continue;
        }
        activities_.push_back(std::move(record));
    }
}

void ActivitySchedule::LogIllegal(std::size_t index)
{
    if (illegalLogged_.size() < activities_.size()) illegalLogged_.resize(activities_.size());
    if (illegalLogged_[index]) return;
    illegalLogged_[index] = true;
    const ActivityRecord& record = activities_[index];
    log_("activity_iNo:" + std::to_string(record.number) +
         " ,activityObj.activity_start:" + record.startText + " is illegal\n");
}

void ActivitySchedule::OnScheduleTimer()
{
    const std::int64_t now = clock_() + serverTimeOffset_;
    std::tm date{};
    // A clock beyond what the calendar can express has no date: nothing to compare.
    const bool haveDate = LocalDate(now, date);
    for (std::size_t i = 0; haveDate && i < activities_.size(); ++i) {
        const ActivityRecord& record = activities_[i];
        const TimeParts startParts = SplitTime(record.startText);
        if (startParts.count != 2) {
            LogIllegal(i);
            continue;
        }
        const std::optional<std::int64_t> start = TimeOnDate(date, startParts);
        const std::optional<std::int64_t> end = TimeOnDate(date, SplitTime(record.endText));
        if (!start || !end) {
            LogIllegal(i);
            continue;
        }
        if (now <= *start - ReminderLeadSeconds || now > *end) {
            if (currentIndex_ == i) CloseReminder();
            continue;
        }
        if (record.shown || record.done) break;
        const bool running = now >= *start;
        ShowReminder(i, *start - serverTimeOffset_, *end - serverTimeOffset_);
        if (running && currentIndex_ == i && sink_) sink_->SwitchToRunning();
        break;
    }
    ++tickCount_;
}

void ActivitySchedule::StopSchedule()
{
    ++generation_;
    activities_.clear();
    illegalLogged_.clear();
    tickCount_ = 0;
    currentReminderNo_ = 0;
    currentIndex_ = NoReminder;
    if (sink_) sink_->HideReminder();
}

void ActivitySchedule::CloseReminder()
{
    if (currentIndex_ < activities_.size()) {
        activities_[currentIndex_].done = 1;
        activities_[currentIndex_].shown = 0;
    }
    currentIndex_ = NoReminder;
    currentReminderNo_ = 0;
    if (sink_) sink_->HideReminder();
}

void ActivitySchedule::ShowReminder(std::size_t index, std::int64_t localStart,
                                    std::int64_t localEnd)
{
    if (index >= activities_.size()) return;
    // Never leave an open reminder's windows behind: an earlier record taking over
    // closes the open one for good.
    if (currentIndex_ == index) {
        if (sink_) sink_->HideReminder();
    } else if (currentIndex_ != NoReminder) {
        CloseReminder();
    }
    const ActivityRecord record = activities_[index];
    const std::uint64_t generation = generation_;
    if (sink_) sink_->ShowReminder(record, localStart, localEnd);
    if (generation != generation_ || index >= activities_.size()) return;
    currentReminderNo_ = record.number;
    currentIndex_ = index;
    activities_[index].shown = 1;
}

} // namespace qev
