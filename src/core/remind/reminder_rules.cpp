#include "core/remind/reminder_rules.h"

#include <algorithm>
#include <limits>

namespace qev {
namespace {

// Layout sizes are not bounded: positions saturate at the 32-bit range.
int Clamped(std::int64_t value)
{
    return static_cast<int>(std::clamp<std::int64_t>(value, std::numeric_limits<int>::min(),
                                                     std::numeric_limits<int>::max()));
}

DigitCell Digit(int digit, int x)
{
    return DigitCell{DigitWidth * digit, DigitWidth, x};
}

} // namespace

std::int64_t CountdownValue(std::int64_t start, std::int64_t end, std::int64_t now)
{
    const std::int64_t toStart = start - now;
    if (toStart > 0 && toStart < CountdownLeadLimit) return toStart;
    if (start <= now && now < end) return now - start;
    return 0;
}

std::array<DigitCell, 5> CountdownDigits(std::int64_t value)
{
    if (value < 0) value = 0;
    const int minutes = static_cast<int>(value % 3600 / 60);
    const int seconds = static_cast<int>(value % 60);
    return {Digit(minutes / 10, MinuteTensX), Digit(minutes % 10, MinuteUnitsX),
            DigitCell{ColonStripX, ColonWidth, ColonX}, Digit(seconds / 10, SecondTensX),
            Digit(seconds % 10, SecondUnitsX)};
}

CountdownRepaint CountdownTick(std::int64_t start, std::int64_t end, std::int64_t now)
{
    const std::int64_t toStart = start - now;
    if (toStart > 0 && toStart < CountdownLeadLimit) return CountdownRepaint::Digits;
    if (now <= start || now >= end) return CountdownRepaint::None;
    return CountdownRepaint::Whole;
}

std::string CountdownSpeech(bool running, std::int64_t value)
{
    if (value < 0) value = 0;
    const auto twoDigits = [](std::int64_t n) {
        return std::string(n < 10 ? "0" : "") + std::to_string(n);
    };
    std::string clock = twoDigits(value % 3600 / 60) + ":" + twoDigits(value % 60);
    if (value >= 3600) clock = std::to_string(value / 3600) + ":" + clock;
    return running ? "Started " + clock + " ago" : "Starts in " + clock;
}

std::string_view ReminderButtonName(int action)
{
    switch (action) {
    case RemindCloseAction: return "Close reminder";
    case RemindCollapseAction: return "Collapse";
    case RemindExpandAction: return "Expand";
    default: return {};
    }
}

ReminderPlace ExpandedPlace(int screenWidth, int screenHeight, int width, int height)
{
    return ReminderPlace{Clamped(std::int64_t{screenWidth} - width),
                         Clamped(std::int64_t{screenHeight} - height - ReminderBottomGap)};
}

ReminderPlace CollapsedPlace(int screenWidth, int screenHeight, int height)
{
    return ReminderPlace{Clamped(std::int64_t{screenWidth} - CollapseTabWidth),
                         Clamped(std::int64_t{screenHeight} - height - ReminderBottomGap)};
}

bool ReminderButtonRule::Visible(int action) const
{
    switch (action) {
    case RemindCollapseAction: return !collapsed_;
    case RemindExpandAction: return collapsed_;
    case RunningLabelAction: return running_;
    case WaitingLabelAction: return !running_;
    default: return true;
    }
}

std::string ReminderPageAddress(std::string_view displayUrl)
{
    std::string address;
    address.reserve(displayUrl.size());
    for (char c : displayUrl)
        if (c != '\\') address += c;
    return address;
}

} // namespace qev
