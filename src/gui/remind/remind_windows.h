#pragma once
// The reminder pop-up's window: one frameless, always-on-top tool window in the screen
// corner that never takes the keyboard focus, with three layers over one rectangle:
//   CRemindBack     the window itself; paints the <remind> sprites with per-pixel alpha
//   CRemindDataWnd  child layer: the web panes only (the activity's page)
//   CRemindTopWnd   child layer: the image buttons and the countdown only
// Being one window, the layers move, show and hide together. Fully transparent pixels of
// the background let clicks through to whatever lies below.
#include <QImage>
#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "core/layout/layout.h"
#include "core/remind/reminder_rules.h"
#include "core/skin/skin_rules.h"
#include "gui/skin/layered_wnd.h"

class CImageButton;
class CMiniBrowser;
class CWebContext;
class CRemindDataWnd;
class CRemindTopWnd;

// A layered window that stays in its corner: presses on its picture do not move it, and a
// close by the window system becomes closeRequested.
class CRemindBack : public CLayeredWnd {
    Q_OBJECT
public:
    // Built from layout (the current game's <remind>): sprites, size, and an empty data
    // layer; the top layer is added by AttachTopWnd. Hidden until placed and shown.
    explicit CRemindBack(const qev::WindowLayout& layout);

    const std::vector<qev::SpriteEntry>& sprites() const { return sprites_; }
    CRemindDataWnd* dataWnd() const { return data_; }
    CRemindTopWnd* topWnd() const { return top_.data(); }
    void AttachTopWnd(CRemindTopWnd* top);

protected:
    // The panes' rectangles and the top layer's buttons; the top layer is also shaped to
    // what it shows, so a click on the digits goes on to this window.
    QRegion LayersInputRegion() const override;

private:
    std::vector<qev::SpriteEntry> sprites_;
    CRemindDataWnd* data_ = nullptr;
    QPointer<CRemindTopWnd> top_;
};

// The content layer: a browser pane for each web pane of the layout whose flag has bit 0
// set, showing the activity's page instead of the layout's own address.
class CRemindDataWnd : public QWidget {
    Q_OBJECT
public:
    static constexpr int FirstControlId = 5000;

    struct PaneRecord {
        qev::WebPane pane;           // url holds the page actually shown
        QPointer<CMiniBrowser> host; // null without a browser
    };

    explicit CRemindDataWnd(QWidget* parent);
    // Removes the panes and builds them again from panes, each showing pageAddress (none
    // when it is empty) with a page of web (no browser at all without one).
    void BuildPanes(const std::vector<qev::WebPane>& panes, const std::string& pageAddress,
                    CWebContext* web);
    void DestroyPanes();
    const std::vector<PaneRecord>& panes() const { return panes_; }
    // The rectangles of the browser panes.
    QRegion InputRegion() const;

private:
    std::vector<PaneRecord> panes_;
    int nextControlId_ = FirstControlId;
};

// The top layer: the <remind> buttons by action, and the mm:ss countdown drawn from the
// digit strip, kept current by the countdown timer.
class CRemindTopWnd : public QWidget {
    Q_OBJECT
public:
    // Commands of the reminder buttons (action + 0x8000).
    static constexpr int CloseCommand = 33773;    // action 1005
    static constexpr int CollapseCommand = 33774; // action 1006
    static constexpr int ExpandCommand = 33775;   // action 1007

    // start and end of the activity, local-clock epoch seconds.
    // digitStrip: where the countdown's digit strip comes from (empty: the built-in image).
    CRemindTopWnd(QWidget* parent, const qev::WindowLayout& layout, std::int64_t start,
                  std::int64_t end, std::function<QImage()> digitStrip = {});

    // Loads the digit strip, builds the buttons for the state before the start and starts
    // the countdown timer. False, with nothing built, when the strip cannot be loaded.
    bool Init();
    // The activity has started: rebuild the buttons for the running state.
    void SwitchToRunning();
    // Slide states: which of the two tabs shows.
    void ShowCollapsedTabs(bool collapsed);

    bool running() const { return buttonRule_.running(); }
    std::int64_t start() const { return start_; }
    std::int64_t end() const { return end_; }
    // The value the digits show now, and as spoken ("Starts in 09:52", hours kept); the
    // label buttons carry the spoken text as their accessible name.
    std::int64_t shownValue() const { return shownValue_; }
    QString spokenCountdown() const;
    struct ButtonEntry {
        int action = 0;
        CImageButton* button = nullptr; // child, owned
    };
    const std::vector<ButtonEntry>& buttons() const { return buttons_; }
    // The first button of action, or null.
    CImageButton* ButtonFor(int action) const;
    const QImage& digitStrip() const { return strip_; }
    // Where it takes input: the visible buttons' pixels.
    QRegion InputRegion() const;
    // Where it draws: the visible buttons' pixels and the digits.
    QRegion PaintRegion() const;
    // Ticks of the countdown timer so far.
    int tickCount() const { return ticks_; }

signals:
    // A reminder button was clicked (its command id).
    void command(int id);
    // The input region changed (buttons rebuilt, shown or hidden).
    void inputRegionChanged();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void BuildButtons();
    void DestroyButtons();
    void ApplyButtonRule();
    void UpdateSpokenCountdown();
    void OnCountdownTimer();

    qev::WindowLayout layout_;
    std::int64_t start_, end_;
    std::function<QImage()> digitStrip_;
    std::int64_t shownValue_ = 0;
    qev::ReminderButtonRule buttonRule_;
    std::vector<ButtonEntry> buttons_;
    QImage strip_; // premultiplied
    // The built-in strip's 2x picture (null for a strip from elsewhere).
    const QImage* strip2x_ = nullptr;
    QTimer countdownTimer_;
    int ticks_ = 0;
};
