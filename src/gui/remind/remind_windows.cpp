#include "gui/remind/remind_windows.h"

#include <QPainter>

#include <algorithm>
#include <ctime>

#include "core/base/resources.h"
#include "gui/base/app_icon.h"
#include "gui/browser/mini_browser.h"
#include "gui/skin/image_button.h"
#include "gui/skin/image_manager.h"
#include "gui/skin/layered_wnd.h"

namespace {

QImage LoadBuiltInDigitStrip()
{
    QImage image;
    if (const auto bytes = qev::FindResource("PNG", qev::DigitStripImageId))
        image.loadFromData(reinterpret_cast<const uchar*>(bytes->data()),
                           static_cast<int>(bytes->size()));
    return image;
}

std::int64_t Now()
{
    return static_cast<std::int64_t>(std::time(nullptr));
}

QRect RectOf(int left, int top, int right, int bottom)
{
    return QRect(QPoint(left, top), QSize(std::max(0, right - left), std::max(0, bottom - top)));
}

} // namespace

// ---------------------------------------------------------------------------------------

CRemindBack::CRemindBack(const qev::WindowLayout& layout)
    : CLayeredWnd(Qt::Tool | Qt::WindowStaysOnTopHint | Qt::WindowDoesNotAcceptFocus |
                  Qt::NoDropShadowWindowHint)
{
    // Popping up must not take the game's keyboard focus, and an open reminder must not
    // keep the program alive.
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_X11DoNotAcceptFocus);
    setAttribute(Qt::WA_QuitOnClose, false);
    setFocusPolicy(Qt::NoFocus);
    setWindowIcon(AppIcon());
    setAccessibleName(QString::fromLatin1(qev::TrayTip));
    SetDraggable(false);

    sprites_ = SpriteEntriesFromCache(layout.sprites);
    resize(std::max(0, layout.width), std::max(0, layout.height));
    data_ = new CRemindDataWnd(this);
    data_->setGeometry(rect());
    SetPicture(ComposeSprites(sprites_, size()),
               [this] { return ComposeSprites(sprites_, size(), 2); });
}

void CRemindBack::AttachTopWnd(CRemindTopWnd* top)
{
    top_ = top;
    if (!top) return;
    top->setGeometry(rect());
    top->raise();
    connect(top, &CRemindTopWnd::inputRegionChanged, this, &CRemindBack::UpdateInputMask);
    UpdateInputMask();
}

QRegion CRemindBack::LayersInputRegion() const
{
    QRegion region;
    if (data_) region += data_->InputRegion().translated(data_->pos());
    if (top_) {
        // The top layer covers the pages: it exists only where it shows something.
        const QRegion paint = top_->PaintRegion();
        top_->setMask(paint.isEmpty() ? QRegion(-1, -1, 1, 1) : paint);
        region += top_->InputRegion().translated(top_->pos());
    }
    return region;
}

// ---------------------------------------------------------------------------------------

CRemindDataWnd::CRemindDataWnd(QWidget* parent) : QWidget(parent)
{
    setAttribute(Qt::WA_NoSystemBackground);
    setAutoFillBackground(false);
    setFocusPolicy(Qt::NoFocus);
}

void CRemindDataWnd::DestroyPanes()
{
    for (PaneRecord& record : panes_) delete record.host.data();
    panes_.clear();
}

void CRemindDataWnd::BuildPanes(const std::vector<qev::WebPane>& panes,
                                const std::string& pageAddress, CWebContext* web)
{
    DestroyPanes();
    for (const qev::WebPane& layoutPane : panes) {
        PaneRecord record{layoutPane, nullptr};
        record.pane.url = pageAddress;
        auto* host =
            web ? CMiniBrowser::ForPane(layoutPane, this, nextControlId_, *web, PageRole::Reminder)
                : nullptr;
        if (host) {
            // A "_game" hand-over from the activity's page means nothing here.
            host->show();
            if (!pageAddress.empty()) host->Navigate(QString::fromStdString(pageAddress));
            record.host = host;
        }
        panes_.push_back(std::move(record));
    }
}

QRegion CRemindDataWnd::InputRegion() const
{
    QRegion region;
    for (const PaneRecord& record : panes_)
        if (record.host) region += record.host->geometry();
    return region;
}

// ---------------------------------------------------------------------------------------

CRemindTopWnd::CRemindTopWnd(QWidget* parent, const qev::WindowLayout& layout, std::int64_t start,
                             std::int64_t end, std::function<QImage()> digitStrip)
    : QWidget(parent), layout_(layout), start_(start), end_(end), digitStrip_(std::move(digitStrip))
{
    setAttribute(Qt::WA_NoSystemBackground);
    setAutoFillBackground(false);
    setFocusPolicy(Qt::NoFocus);
    countdownTimer_.setInterval(qev::CountdownPeriodMs);
    connect(&countdownTimer_, &QTimer::timeout, this, &CRemindTopWnd::OnCountdownTimer);
}

bool CRemindTopWnd::Init()
{
    const QImage strip = digitStrip_ ? digitStrip_() : LoadBuiltInDigitStrip();
    if (strip.isNull()) return false;
    // Premultiplied once here, so every tick draws straight from it.
    strip_ = strip.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    if (!digitStrip_ && IsHighDensity(this))
        strip2x_ = CImageManager::GetInstance().FindImage2x(qev::DigitStripImageId);
    shownValue_ = qev::CountdownValue(start_, end_, Now());
    buttonRule_.Build(false);
    BuildButtons();
    countdownTimer_.start();
    return true;
}

void CRemindTopWnd::DestroyButtons()
{
    for (const ButtonEntry& entry : buttons_) delete entry.button;
    buttons_.clear();
}

void CRemindTopWnd::BuildButtons()
{
    DestroyButtons();
    for (const qev::ButtonItem& item : layout_.buttons) {
        auto* button = new CImageButton(item, this);
        button->setFocusPolicy(Qt::NoFocus);
        button->setAccessibleName(QString::fromUtf8(qev::ReminderButtonName(item.action)));
        connect(button, &CImageButton::command, this, &CRemindTopWnd::command);
        buttons_.push_back(ButtonEntry{item.action, button});
    }
    ApplyButtonRule();
    UpdateSpokenCountdown();
}

void CRemindTopWnd::UpdateSpokenCountdown()
{
    // The labels beside the digits read as the countdown, hours included.
    const QString text = QString::fromStdString(qev::CountdownSpeech(running(), shownValue_));
    for (const ButtonEntry& entry : buttons_)
        if (entry.button->isLabel() && entry.button->accessibleName() != text)
            entry.button->setAccessibleName(text);
}

QString CRemindTopWnd::spokenCountdown() const
{
    return QString::fromStdString(qev::CountdownSpeech(running(), shownValue_));
}

void CRemindTopWnd::ApplyButtonRule()
{
    for (const ButtonEntry& entry : buttons_)
        entry.button->setVisible(buttonRule_.Visible(entry.action));
    emit inputRegionChanged();
}

CImageButton* CRemindTopWnd::ButtonFor(int action) const
{
    for (const ButtonEntry& entry : buttons_)
        if (entry.action == action) return entry.button;
    return nullptr;
}

void CRemindTopWnd::SwitchToRunning()
{
    buttonRule_.Build(true);
    BuildButtons();
}

void CRemindTopWnd::ShowCollapsedTabs(bool collapsed)
{
    if (collapsed)
        buttonRule_.Collapse();
    else
        buttonRule_.Expand();
    ApplyButtonRule();
}

QRegion CRemindTopWnd::InputRegion() const
{
    QRegion region;
    for (const ButtonEntry& entry : buttons_)
        if (entry.button->isVisibleTo(this))
            region += entry.button->OpaqueRegion().translated(entry.button->pos());
    return region;
}

QRegion CRemindTopWnd::PaintRegion() const
{
    QRegion region = InputRegion();
    if (!strip_.isNull())
        for (const qev::DigitCell& cell : qev::CountdownDigits(0))
            region += QRect(cell.x, qev::CountdownTop, cell.width, qev::DigitStripHeight);
    return region;
}

void CRemindTopWnd::OnCountdownTimer()
{
    ++ticks_;
    QWidget* reminder = window();
    if (!reminder->isVisible()) reminder->show();
    const std::int64_t now = Now();
    switch (qev::CountdownTick(start_, end_, now)) {
    case qev::CountdownRepaint::None: return; // the digits keep their last value
    case qev::CountdownRepaint::Digits:
        shownValue_ = qev::CountdownValue(start_, end_, now);
        update(RectOf(qev::DigitAreaLeft, qev::DigitAreaTop, qev::DigitAreaRight,
                      qev::DigitAreaBottom));
        UpdateSpokenCountdown();
        return;
    case qev::CountdownRepaint::Whole:
        shownValue_ = qev::CountdownValue(start_, end_, now);
        update();
        if (!running()) SwitchToRunning();
        UpdateSpokenCountdown();
        return;
    }
}

void CRemindTopWnd::paintEvent(QPaintEvent* /*event*/)
{
    if (strip_.isNull()) return;
    QPainter painter(this);
    for (const qev::DigitCell& cell : qev::CountdownDigits(shownValue_))
        DrawImagePart(painter, strip_, strip2x_,
                      QRectF(cell.x, qev::CountdownTop, cell.width, qev::DigitStripHeight),
                      QRect(cell.stripX, 0, cell.width, qev::DigitStripHeight));
}
