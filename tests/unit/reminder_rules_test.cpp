// Rules of the reminder pop-up that need no window: countdown value and digits, the
// countdown tick, placement, button visibility, the page address.
#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "core/remind/reminder_rules.h"

namespace {

using qev::CountdownRepaint;

// The mm:ss the digit cells spell, read back from their strip columns.
std::string Spelled(const std::array<qev::DigitCell, 5>& cells)
{
    std::string text;
    for (const qev::DigitCell& c : cells)
        text += c.stripX == qev::ColonStripX ? ':' : static_cast<char>('0' + c.stripX / 35);
    return text;
}

TEST(Countdown, ValueAndDigitsAtTheEdges)
{
    const std::int64_t start = 1'000'000, end = start + 1800;
    struct Case {
        const char* name;
        std::int64_t now;
        std::int64_t value;
        const char* digits;
    };
    const Case cases[] = {
        {"ten minutes before", start - 600, 600, "10:00"},
        {"hours are dropped", start - 3700, 3700, "01:40"},
        {"one second before", start - 1, 1, "00:01"},
        {"just inside the lead limit", start - 89'999, 89'999, "59:59"},
        {"at the lead limit nothing is counted", start - 90'000, 0, "00:00"},
        {"at the start second", start, 0, "00:00"},
        {"thirty seconds after the start", start + 30, 30, "00:30"},
        {"last running second", end - 1, 1799, "29:59"},
        {"at the end", end, 0, "00:00"},
        {"after the end", end + 5, 0, "00:00"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(qev::CountdownValue(start, end, c.now), c.value) << c.name;
        EXPECT_EQ(Spelled(qev::CountdownDigits(c.value)), c.digits) << c.name;
    }
    // An activity whose end is not after its start never counts up.
    EXPECT_EQ(qev::CountdownValue(start, start, start + 10), 0);
    EXPECT_EQ(Spelled(qev::CountdownDigits(-5)), "00:00");
}

TEST(Countdown, SpokenTextKeepsTheHoursTheDigitsDrop)
{
    EXPECT_EQ(qev::CountdownSpeech(false, 592), "Starts in 09:52");
    EXPECT_EQ(qev::CountdownSpeech(true, 190), "Started 03:10 ago");
    EXPECT_EQ(qev::CountdownSpeech(false, 3700), "Starts in 1:01:40");
    EXPECT_EQ(qev::CountdownSpeech(false, 89'999), "Starts in 24:59:59");
    EXPECT_EQ(qev::CountdownSpeech(true, 0), "Started 00:00 ago");
    EXPECT_EQ(qev::CountdownSpeech(false, -5), "Starts in 00:00");
    EXPECT_EQ(qev::ReminderButtonName(1005), "Close reminder");
    EXPECT_EQ(qev::ReminderButtonName(1006), "Collapse");
    EXPECT_EQ(qev::ReminderButtonName(1007), "Expand");
    EXPECT_EQ(qev::ReminderButtonName(0), "");
    EXPECT_EQ(qev::ReminderButtonName(-1), "");
}

TEST(Countdown, DigitCellsStandAtTheirColumns)
{
    const auto cells = qev::CountdownDigits(59 * 60 + 47); // 59:47
    const qev::DigitCell expected[] = {
        {175, 35, 121}, // 5
        {315, 35, 147}, // 9
        {350, 21, 173}, // :
        {140, 35, 196}, // 4
        {245, 35, 222}, // 7
    };
    for (std::size_t i = 0; i < cells.size(); ++i) EXPECT_EQ(cells[i], expected[i]) << i;
}

TEST(Countdown, TickRepaintsDigitsBeforeTheStartAndTheWholeWindowWhileRunning)
{
    const std::int64_t start = 5000, end = 6800;
    struct Case {
        std::int64_t now;
        CountdownRepaint repaint;
    };
    const Case cases[] = {
        {start - 90'000, CountdownRepaint::None}, {start - 600, CountdownRepaint::Digits},
        {start - 1, CountdownRepaint::Digits},    {start, CountdownRepaint::None},
        {start + 1, CountdownRepaint::Whole},     {start + 30, CountdownRepaint::Whole},
        {end - 1, CountdownRepaint::Whole},       {end, CountdownRepaint::None},
        {end + 100, CountdownRepaint::None},
    };
    for (const Case& c : cases)
        EXPECT_EQ(qev::CountdownTick(start, end, c.now), c.repaint)
            << "now = start + " << c.now - start;
}

TEST(Placement, CornerOfTheWholeScreenAndTheTab)
{
    struct Case {
        int cx, cy, w, h;
        qev::ReminderPlace expanded, collapsed;
    };
    const Case cases[] = {
        {1920, 1080, 283, 93, {1637, 837}, {1890, 837}},
        {1280, 800, 283, 93, {997, 557}, {1250, 557}},
        {200, 100, 283, 93, {-83, -143}, {170, -143}}, // larger than the screen: off its edge
        {1920, 1080, INT_MIN, 0, {INT_MAX, 930}, {1890, 930}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(qev::ExpandedPlace(c.cx, c.cy, c.w, c.h), c.expanded) << c.cx << "x" << c.cy;
        EXPECT_EQ(qev::CollapsedPlace(c.cx, c.cy, c.h), c.collapsed) << c.cx << "x" << c.cy;
    }
}

TEST(ReminderButtons, VisibilityThroughCollapseAndTheRunningSwitch)
{
    using qev::ReminderButtonRule;
    const int actions[] = {1005, 1006, 1007, 0, -1, 42};
    struct Step {
        const char* name;
        void (*apply)(ReminderButtonRule&);
        bool visible[6]; // in the order of actions
    };
    const Step steps[] = {
        {"built before the start",
         [](ReminderButtonRule& r) { r.Build(false); },
         {true, true, false, false, true, true}},
        {"collapsed",
         [](ReminderButtonRule& r) { r.Collapse(); },
         {true, false, true, false, true, true}},
        {"expanded",
         [](ReminderButtonRule& r) { r.Expand(); },
         {true, true, false, false, true, true}},
        {"collapsed again",
         [](ReminderButtonRule& r) { r.Collapse(); },
         {true, false, true, false, true, true}},
        // The running switch rebuilds the expanded set, wherever the window stands.
        {"running switch while collapsed",
         [](ReminderButtonRule& r) { r.Build(true); },
         {true, true, false, true, false, true}},
        {"collapsed while running",
         [](ReminderButtonRule& r) { r.Collapse(); },
         {true, false, true, true, false, true}},
    };
    ReminderButtonRule rule;
    for (const Step& step : steps) {
        step.apply(rule);
        for (std::size_t i = 0; i < std::size(actions); ++i)
            EXPECT_EQ(rule.Visible(actions[i]), step.visible[i])
                << step.name << ", action " << actions[i];
    }
}

TEST(ReminderPage, BackslashesAreRemoved)
{
    EXPECT_EQ(qev::ReminderPageAddress(R"(http:\/\/127.0.0.1:18080\/micro2\/TaskTips?tid=1)"),
              "http://127.0.0.1:18080/micro2/TaskTips?tid=1");
    EXPECT_EQ(qev::ReminderPageAddress(R"(\\\)"), "");
    EXPECT_EQ(qev::ReminderPageAddress("http://a/b?c=d"), "http://a/b?c=d");
}

} // namespace
