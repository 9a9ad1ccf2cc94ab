#pragma once
// Window-free rules of the reminder pop-up: where it sits, what its countdown shows and how
// the digits are cut from their strip, which buttons show in which state, and what the
// countdown timer does on each tick. The reminder windows only carry these out.
#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace qev {

// The countdown timer of the reminder's top window, and its period.
inline constexpr int CountdownTimerId = 5;
inline constexpr int CountdownPeriodMs = 1000;
// A start further away than this (25 hours) is not counted down to.
inline constexpr std::int64_t CountdownLeadLimit = 90000;

// Image of the countdown digits: "0".."9" then ":" in one strip.
inline constexpr int DigitStripImageId = 1067;
inline constexpr int DigitStripHeight = 28;
inline constexpr int DigitWidth = 35;   // digit d starts at x = 35 * d
inline constexpr int ColonStripX = 350; // after the ten digits
inline constexpr int ColonWidth = 21;
// Where the mm:ss digits stand in the top window.
inline constexpr int CountdownTop = 50;
inline constexpr int MinuteTensX = 121, MinuteUnitsX = 147, ColonX = 173, SecondTensX = 196,
                     SecondUnitsX = 222;
// The area the timer repaints while counting down to the start: left, top, right, bottom.
inline constexpr int DigitAreaLeft = 120, DigitAreaTop = 50, DigitAreaRight = 300,
                     DigitAreaBottom = 78;

// The reminder sits this far above the bottom edge of the screen; collapsed, only its
// left tab this wide stays on screen.
inline constexpr int ReminderBottomGap = 150;
inline constexpr int CollapseTabWidth = 30;

// Button actions of the <remind> layout.
inline constexpr int RemindCloseAction = 1005;    // command 33773: close the reminder
inline constexpr int RemindCollapseAction = 1006; // command 33774: slide to the edge
inline constexpr int RemindExpandAction = 1007;   // command 33775: slide back
inline constexpr int RunningLabelAction = 0;      // label "running", no command
inline constexpr int WaitingLabelAction = -1;     // label "starts in", no command

// The tray icon of an open reminder: its id, the owner's callback message, the mouse
// messages it reports, and the menu with its one item.
inline constexpr int TrayIconId = 32781;
inline constexpr int TrayCallbackMessage = 0x464;
inline constexpr int TrayLeftButtonDown = 0x201;
inline constexpr int TrayRightButtonUp = 0x205;
inline constexpr int TrayMenuId = 32781;
inline constexpr int TrayExitCommand = 32782;
inline constexpr char TrayTip[] = "Reminder";
inline constexpr char TrayExitText[] = "退出";
// Shown when the digit strip cannot be loaded.
inline constexpr char DigitStripMissingText[] = "没加载成功";

// The value the countdown shows at now (all local-clock epoch seconds): the time to the
// start while it is less than CountdownLeadLimit away, the time since the start while the
// activity runs (start <= now < end), otherwise 0.
std::int64_t CountdownValue(std::int64_t start, std::int64_t end, std::int64_t now);

// One digit (or the colon) of the countdown: its columns in the strip and where it goes.
struct DigitCell {
    int stripX = 0, width = 0, x = 0;
    bool operator==(const DigitCell&) const = default;
};

// mm:ss of value, hours dropped: minute tens, minute units, colon, second tens, second
// units, each DigitStripHeight high at y = CountdownTop. A negative value reads as 0.
std::array<DigitCell, 5> CountdownDigits(std::int64_t value);

// What one countdown tick does after showing the windows again.
enum class CountdownRepaint {
    None,   // before the lead limit, at the start second, or after the end
    Digits, // counting down to the start: only the digit area
    Whole,  // the activity runs: the whole window (and the running state, once)
};
CountdownRepaint CountdownTick(std::int64_t start, std::int64_t end, std::int64_t now);

// The countdown as a screen reader speaks it, from the value the digits show: "Starts in
// 09:52" before the start, "Started 03:10 ago" while the activity runs. Unlike the digits it
// keeps the hours ("Starts in 1:01:40"). A negative value reads as 0.
std::string CountdownSpeech(bool running, std::int64_t value);

// Top-left corner of the reminder on a screen of screenWidth x screenHeight (the whole
// screen, not its work area), expanded or collapsed to its tab.
struct ReminderPlace {
    int x = 0, y = 0;
    bool operator==(const ReminderPlace&) const = default;
};
ReminderPlace ExpandedPlace(int screenWidth, int screenHeight, int width, int height);
ReminderPlace CollapsedPlace(int screenWidth, int screenHeight, int height);

// Which reminder buttons show. Built before the start, every button shows except the
// running label and the expand tab; rebuilt for the running state, every button except the
// waiting label and the expand tab. Collapsing swaps the collapse tab for the expand tab,
// expanding swaps them back; a rebuild shows the expanded set wherever the window is.
class ReminderButtonRule {
public:
    void Build(bool running)
    {
        running_ = running;
        collapsed_ = false;
    }
    void Collapse() { collapsed_ = true; }
    void Expand() { collapsed_ = false; }
    bool running() const { return running_; }
    bool Visible(int action) const;

private:
    bool running_ = false;
    bool collapsed_ = false;
};

// What a screen reader calls a reminder button: "Close reminder", "Collapse", "Expand";
// empty for any other action (the two labels read as the countdown instead).
std::string_view ReminderButtonName(int action);

// The page a reminder shows: the feed's "display_sUrl" with every backslash removed (the
// feed may escape its slashes).
std::string ReminderPageAddress(std::string_view displayUrl);

} // namespace qev
