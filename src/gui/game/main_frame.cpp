#include "gui/game/main_frame.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCursor>
#include <QFontDatabase>
#include <QFontMetricsF>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QShortcut>
#include <QStackedWidget>
#include <QStatusBar>
#include <QVBoxLayout>
#include <QWebEnginePage>
#include <QWindow>

#include <QAccessible>

#include "core/base/message.h"
#include "core/base/strings.h"
#include "gui/base/app_icon.h"
#include "gui/base/lock_keys.h"
#include "gui/game/game_view.h"
#include "gui/skin/image_manager.h"

namespace {

QString Text(int id)
{
    return QString::fromStdString(qev::LoadString(id));
}

// Texts of the lock indicators, shown while the lock is on.
const char* const LockTexts[3] = {"CAP", "NUM", "SCRL"};
// Room around an indicator's text, so the pane keeps its width when the text goes.
constexpr int LockLabelPadding = 8;
// After entering full screen, the reminders are raised once more this much later.
constexpr int FullScreenSettleMs = 300;
// Caption text size, in pixels.
constexpr int CaptionFontPixels = 12;

// The status bar in the frame's colours: the ground of the side border's inner edge (where
// it meets the bar), the caption colour for the message and the lock indicators.
void UseFrameColours(QStatusBar* bar, QRgb captionColour)
{
    QColor ground(Qt::black);
    if (const QImage* side = CImageManager::GetInstance().FindImage(qev::SideBorderImage))
        if (!side->isNull()) ground = side->pixelColor(side->width() - 1, 0);
    ground.setAlpha(255);
    QPalette colours = bar->palette();
    colours.setColor(QPalette::Window, ground);
    colours.setColor(QPalette::WindowText, QColor::fromRgba(captionColour));
    bar->setPalette(colours);
    bar->setAutoFillBackground(true);
}

} // namespace

CMainFrame::CMainFrame(qev::LayoutState& layoutState, CWebContext& web)
    : QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint | Qt::WindowMinMaxButtonsHint |
                           Qt::WindowSystemMenuHint),
      layout_(layoutState), web_(web), stack_(new QStackedWidget(this)),
      statusBar_(new QStatusBar(this))
{
    setWindowTitle(Text(qev::IdsProductAbbrev));
    setWindowIcon(AppIcon());
    setMinimumSize(qev::FrameMinWidth, qev::FrameMinHeight);
    setMouseTracking(true);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(qev::FrameBorder, qev::FrameTopMargin, qev::FrameBorder,
                               qev::FrameBorder);
    layout->setSpacing(0);
    layout->addWidget(stack_, 1);
    layout->addWidget(statusBar_);
    statusBar_->setSizeGripEnabled(false); // the borders never resize the frame
    UseFrameColours(statusBar_, layout_.layout.captionColour);
    updateLabel_ = new QLabel(statusBar_);
    updateLabel_->hide();
    statusBar_->addPermanentWidget(updateLabel_);
    for (int i = 0; i < 3; ++i) {
        lockLabels_[i] = new QLabel(statusBar_);
        lockLabels_[i]->setAlignment(Qt::AlignCenter);
        statusBar_->addPermanentWidget(lockLabels_[i]);
    }
    // The cursor moving on into the pages leaves the caption without a leave event.
    stack_->installEventFilter(this);
    statusBar_->installEventFilter(this);
    lockTimer_.setInterval(LockKeyPollMs);
    connect(&lockTimer_, &QTimer::timeout, this, &CMainFrame::UpdateLockIndicators);
    // The frame draws its own caption, so it binds the keys a window's caption would have.
    // A window manager that grabs Alt+F4 or Alt+Space keeps its own action for them.
    new QShortcut(QKeySequence(Qt::Key_F5), this, [this] { OnCommand(qev::CommandRefresh); });
    new QShortcut(QKeySequence(Qt::ALT | Qt::Key_F4), this, [this] { close(); });
    for (const QKeySequence& keys :
         {QKeySequence(Qt::ALT | Qt::Key_Space), QKeySequence(Qt::Key_Menu)})
        new QShortcut(keys, this, [this] { ShowCaptionMenuFromKeyboard(); });
    new QShortcut(QKeySequence(Qt::Key_F11), this, [this] { ToggleFullScreen(); });
    escape_ = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    escape_->setEnabled(false);
    connect(escape_, &QShortcut::activated, this, &CMainFrame::ToggleFullScreen);
}

CMainFrame::~CMainFrame() = default;

void CMainFrame::SetGame(const QString& url, const QString& title)
{
    gameUrl_ = url;
    gameTitle_ = title;
    update();
    NotifyCaptionNames();
}

int CMainFrame::CaptionButtonCount() const
{
    const auto* buttons = CaptionButtons();
    return buttons ? static_cast<int>(buttons->size()) : 0;
}

int CMainFrame::CaptionButtonAction(int index) const
{
    if (index < 0 || index >= CaptionButtonCount()) return qev::ActionNone;
    return (*CaptionButtons())[static_cast<size_t>(index)].action;
}

QRect CMainFrame::CaptionButtonRect(int index) const
{
    if (index < 0 || index >= CaptionButtonCount()) return {};
    const qev::EdgeRect r =
        qev::PlaceCaptionButton((*CaptionButtons())[static_cast<size_t>(index)], width());
    return QRect(QPoint(r.left, r.top), QPoint(r.right - 1, r.bottom - 1));
}

QString CMainFrame::CaptionButtonName(int index) const
{
    return QString::fromStdString(
        qev::CaptionButtonName(CaptionButtonAction(index), maximised_, gameTitle_.toStdString()));
}

void CMainFrame::PressCaptionButton(int index)
{
    const int action = CaptionButtonAction(index);
    if (action != qev::ActionNone)
        QCoreApplication::postEvent(this, new CaptionActionEvent(action));
}

void CMainFrame::NotifyCaptionNames()
{
    if (!QAccessible::isActive()) return;
    QAccessibleInterface* frame = QAccessible::queryAccessibleInterface(this);
    if (!frame) return;
    for (int i = 0; i < frame->childCount(); ++i) {
        QAccessibleInterface* child = frame->child(i);
        if (!child || child->object()) continue; // the caption buttons have no object
        QAccessibleEvent changed(child, QAccessible::NameChanged);
        QAccessible::updateAccessibility(&changed);
    }
}

CKorvel2Doc* CMainFrame::NewDocument()
{
    auto doc = std::make_unique<CKorvel2Doc>();
    doc->view = new CKorvel2View(web_, stack_, [this] { return layout_.GetCurrentGame(); });
    stack_->addWidget(doc->view);
    connect(doc->view, &CKorvel2View::fullScreenRequested, this, &CMainFrame::SetFullScreen);
    // The page's status text goes to the message pane, as a browser's status line would.
    connect(doc->view, &CKorvel2View::linkHovered, statusBar_,
            [this](const QString& url) { statusBar_->showMessage(url); });
    documents_.push_back(std::move(doc));
    return documents_.back().get();
}

void CMainFrame::ActivateDocument(CKorvel2Doc* doc)
{
    if (!doc || !doc->view) return;
    stack_->setCurrentWidget(doc->view);
    // The title never names the document; the caption's tabs show which page is active.
    setWindowTitle(Text(qev::IdsProductAbbrev));
    update(0, 0, width(), qev::FrameTopMargin);
}

CKorvel2Doc* CMainFrame::activeDocument() const
{
    for (const auto& doc : documents_)
        if (doc->view && doc->view == stack_->currentWidget()) return doc.get();
    return nullptr;
}

CKorvel2View* CMainFrame::activeView() const
{
    CKorvel2Doc* doc = activeDocument();
    return doc ? doc->view : nullptr;
}

const std::vector<qev::ButtonItem>* CMainFrame::CaptionButtons() const
{
    const qev::GameEntry* game = layout_.GetCurrentGame();
    return game ? &game->gamemain.buttons : nullptr;
}

// ---- painting ----

void CMainFrame::paintEvent(QPaintEvent* /*event*/)
{
    qev::FramePaintInput input;
    input.width = width();
    input.height = height();
    input.buttons = CaptionButtons();
    input.cursorX = cursor_.x();
    input.cursorY = cursor_.y();
    input.primaryDown = primaryDown_;
    input.maximised = maximised_;
    if (const CKorvel2Doc* doc = activeDocument()) input.activeTitle = doc->title.toStdString();
    input.gameTitle = gameTitle_.toStdString();
    input.os = qev::CurrentOsVersion();
    QFont font(Text(qev::IdsCaptionFont));
    if (!QFontDatabase::hasFamily(font.family())) {
        font.setFamily(QStringLiteral("sans-serif"));
        font.setStyleHint(QFont::SansSerif);
    }
    font.setPixelSize(CaptionFontPixels);
    // A page-given title is elided to its room in the caption's own font.
    const QFontMetricsF metrics(font, this);
    input.textWidth = [&metrics](std::string_view text) {
        return metrics.horizontalAdvance(
            QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
    };
    const auto steps = qev::PlanFramePaint(input, CachedImageSize);

    QPainter painter(this);
    painter.setFont(font);
    painter.setPen(QColor::fromRgba(layout_.layout.captionColour));
    for (const qev::FrameDrawStep& step : steps) {
        if (step.kind == qev::FrameDrawStep::Text) {
            painter.drawText(QRectF(step.x, step.y, step.w, step.h),
                             Qt::AlignLeft | Qt::AlignBottom | Qt::TextDontClip |
                                 Qt::TextForceLeftToRight,
                             QString::fromStdString(step.text));
            continue;
        }
        DrawImageScaled(painter, step.image, QRectF(step.x, step.y, step.w, step.h));
    }
}

void CMainFrame::UpdateButtonAt(const QPoint& at)
{
    const auto* buttons = CaptionButtons();
    if (!buttons) return;
    const int hit = qev::HitTestCaption(*buttons, width(), at.x(), at.y());
    if (hit < 0) return;
    const qev::EdgeRect r = qev::PlaceCaptionButton(buttons->at(static_cast<size_t>(hit)), width());
    update(QRect(QPoint(r.left, r.top), QPoint(r.right - 1, r.bottom - 1)));
}

void CMainFrame::TrackCursor(const QPoint& at)
{
    if (at == cursor_) return;
    const auto* buttons = CaptionButtons();
    const int before =
        buttons ? qev::HitTestCaption(*buttons, width(), cursor_.x(), cursor_.y()) : -1;
    const int after = buttons ? qev::HitTestCaption(*buttons, width(), at.x(), at.y()) : -1;
    const QPoint old = cursor_;
    cursor_ = at;
    // Hover feedback: repaint only when the cursor enters or leaves a button.
    if (before != after) {
        UpdateButtonAt(old);
        UpdateButtonAt(at);
    }
}

// ---- caption input ----

void CMainFrame::CaptionPress(const QPoint& at, const QPoint& global)
{
    if (const auto* buttons = CaptionButtons()) {
        const int hit = qev::HitTestCaption(*buttons, width(), at.x(), at.y());
        if (hit >= 0) {
            pressedAction_ = (*buttons)[static_cast<size_t>(hit)].action;
            if (pressedAction_ != qev::ActionNone) {
                UpdateButtonAt(at);
                return; // a button press: no move
            }
        }
    }
    // Anywhere else on the caption or the borders: the press moves the window.
    movePending_ = true;
    pressGlobal_ = global;
}

void CMainFrame::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) return QWidget::mousePressEvent(event);
    primaryDown_ = true;
    cursor_ = event->position().toPoint();
    movePending_ = moving_ = false;
    CaptionPress(cursor_, event->globalPosition().toPoint());
}

void CMainFrame::mouseMoveEvent(QMouseEvent* event)
{
    TrackCursor(event->position().toPoint());
    if (!(event->buttons() & Qt::LeftButton)) return;
    const QPoint global = event->globalPosition().toPoint();
    if (movePending_ &&
        (global - pressGlobal_).manhattanLength() >= QApplication::startDragDistance()) {
        movePending_ = false;
        // A maximised frame stays where it is, as a maximised window does.
        if (maximised_) return;
        // The window manager's own move when there is one; otherwise follow the mouse.
        if (windowHandle() && windowHandle()->startSystemMove()) return;
        moving_ = true;
        moveOffset_ = pressGlobal_ - pos();
    }
    if (moving_) move(global - moveOffset_);
}

void CMainFrame::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) return QWidget::mouseReleaseEvent(event);
    primaryDown_ = false;
    cursor_ = event->position().toPoint();
    UpdateButtonAt(cursor_);
    if (movePending_ || moving_) {
        movePending_ = moving_ = false;
        return; // the end of a move, not a click
    }
    const auto* buttons = CaptionButtons();
    if (!buttons) return;
    const int action = qev::CaptionActionAt(*buttons, width(), cursor_.x(), cursor_.y());
    if (action == pressedAction_) QCoreApplication::postEvent(this, new CaptionActionEvent(action));
}

void CMainFrame::mouseDoubleClickEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) return QWidget::mouseDoubleClickEvent(event);
    // The second press of a double click: on a button it is a press like any other.
    primaryDown_ = true;
    cursor_ = event->position().toPoint();
    movePending_ = moving_ = false;
    if (const auto* buttons = CaptionButtons()) {
        const int hit = qev::HitTestCaption(*buttons, width(), cursor_.x(), cursor_.y());
        if (hit >= 0 && (*buttons)[static_cast<size_t>(hit)].action != qev::ActionNone)
            return CaptionPress(cursor_, event->globalPosition().toPoint());
    }
    // On the caption or the borders: maximise or restore; the release ends nothing.
    movePending_ = true;
    pressGlobal_ = event->globalPosition().toPoint();
    maximised_ ? ShowRestored() : ShowMaximised();
}

bool CMainFrame::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::Enter) TrackCursor(QPoint(-1, -1));
    return QWidget::eventFilter(watched, event);
}

void CMainFrame::leaveEvent(QEvent* event)
{
    TrackCursor(QPoint(-1, -1));
    QWidget::leaveEvent(event);
}

bool CMainFrame::event(QEvent* event)
{
    if (event->type() == CaptionActionEvent::EventType) {
        OnCaptionAction(static_cast<CaptionActionEvent*>(event)->action);
        return true;
    }
    if (event->type() == QEvent::Show) {
        // Sized here, not at construction: measuring text loads the fonts, which would
        // hold up the login stack's first paint while this frame is still hidden.
        for (int i = 0; i < 3; ++i)
            lockLabels_[i]->setMinimumWidth(
                lockLabels_[i]->fontMetrics().horizontalAdvance(QString::fromLatin1(LockTexts[i])) +
                LockLabelPadding);
        UpdateLockIndicators();
        lockTimer_.start();
    } else if (event->type() == QEvent::Hide) {
        lockTimer_.stop();
    } else if (event->type() == QEvent::WindowActivate ||
               event->type() == QEvent::WindowDeactivate) {
        update(0, 0, width(), qev::FrameTopMargin);
    }
    return QWidget::event(event);
}

// ---- actions and commands ----

void CMainFrame::OnCaptionAction(int action)
{
    switch (action) {
    case qev::ActionGameTab: emit paneRequested(QString::fromLatin1(qev::GameTabTitle)); break;
    case qev::ActionHomeTab: emit paneRequested(QString::fromLatin1(qev::HomeTabTitle)); break;
    case qev::ActionForumTab: emit paneRequested(QString::fromLatin1(qev::ForumTabTitle)); break;
    case qev::ActionRefresh: OnRefresh(); break;
    case qev::ActionServerList: OnServerList(); break;
    case qev::ActionSwitchAccount: OnSwitchAccount(); break;
    case qev::ActionMenu: ShowCaptionMenu(QCursor::pos()); break;
    case qev::ActionMinimize:
        showMinimized();
        // A pending reminder stays on screen while the game is minimised.
        if (CKorvel2View* view = activeView()) view->ShowReminderWindows();
        break;
    case qev::ActionClose:
        QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
        break;
    case qev::ActionMaximize: maximised_ ? ShowRestored() : ShowMaximised(); break;
    default: break; // codes without an action do nothing
    }
}

void CMainFrame::OnCommand(int id)
{
    switch (id) {
    case qev::CommandRefresh: OnRefresh(); break;
    case qev::CommandSwitchAccount: OnSwitchAccount(); break;
    case qev::CommandServerList: OnServerList(); break;
    default: break;
    }
}

void CMainFrame::ShowCaptionMenuFromKeyboard()
{
    QPoint anchor(width() - qev::FrameBorder - qev::CaptionMenuOffsetX,
                  qev::FrameTopMargin - qev::CaptionMenuOffsetY);
    for (int i = 0; i < CaptionButtonCount(); ++i)
        if (CaptionButtonAction(i) == qev::ActionMenu) {
            const QRect r = CaptionButtonRect(i);
            anchor = QPoint(r.left() + r.width() / 2, r.top() + r.height() / 2);
            break;
        }
    ShowCaptionMenu(mapToGlobal(anchor));
}

void CMainFrame::ShowCaptionMenu(const QPoint& anchor)
{
    // Menu 222: its right edge at the cursor + 10, its top at the cursor + 16.
    QMenu menu(this);
    menu.setTitle(QStringLiteral("Refresh"));
    const std::pair<const char*, int> items[] = {{"Refresh", qev::CommandRefresh},
                                                 {"Switch Account", qev::CommandSwitchAccount},
                                                 {"Return to Server List", qev::CommandServerList}};
    for (const auto& [text, command] : items) {
        QAction* action = menu.addAction(QString::fromLatin1(text));
        action->setData(command);
    }
    const QPoint at = anchor + QPoint(qev::CaptionMenuOffsetX, qev::CaptionMenuOffsetY);
    menu.ensurePolished();
    menu.adjustSize();
    QMetaObject::invokeMethod(
        this, [this, &menu] { emit captionMenuShown(&menu); }, Qt::QueuedConnection);
    if (QAction* chosen = menu.exec(at - QPoint(menu.sizeHint().width(), 0)))
        OnCommand(chosen->data().toInt());
}

void CMainFrame::OnRefresh()
{
    if (CKorvel2View* view = activeView()) view->Navigate(gameUrl_);
}

bool CMainFrame::Ask(int textId)
{
    setWindowTitle(Text(qev::IdsFrameCaption));
    return qev::ShowMessage(qev::LoadString(textId), qev::LoadString(qev::IdsFrameCaption),
                            qev::MbOkCancel | qev::MbIconQuestion) == qev::IdOk;
}

void CMainFrame::OnSwitchAccount()
{
    if (!Ask(qev::IdsAskSwitchAccount)) return;
    emit logoutRequested();
    // The logout page loads behind the frozen frame; the login stack returns a second later.
    setUpdatesEnabled(false);
    if (switchTimer_) killTimer(switchTimer_);
    switchTimer_ = startTimer(SwitchAccountDelayMs);
}

void CMainFrame::timerEvent(QTimerEvent* event)
{
    killTimer(event->timerId());
    if (event->timerId() != switchTimer_) return QWidget::timerEvent(event);
    switchTimer_ = 0;
    setUpdatesEnabled(true);
    emit returnToLoginRequested(true);
}

void CMainFrame::OnServerList()
{
    if (Ask(qev::IdsAskSwitchServers)) emit returnToLoginRequested(false);
}

void CMainFrame::closeEvent(QCloseEvent* event)
{
    // One question at a time: a second close while it is open changes nothing.
    if (asking_) return event->ignore();
    asking_ = true;
    const bool quit = Ask(qev::IdsAskQuit);
    asking_ = false;
    if (!quit) return event->ignore();
    StopSchedules();
    hide();
    event->accept();
    // Closing the frame ends the program; shutdown runs once the event loop has returned.
    QApplication::quit();
}

// ---- window states ----

void CMainFrame::ShowMaximised()
{
    QScreen* screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
    if (!maximised_) restoreGeometry_ = geometry();
    maximised_ = true;
    if (isMinimized()) setWindowState(windowState() & ~Qt::WindowMinimized);
    if (screen) setGeometry(screen->availableGeometry());
    show();
    update();
    NotifyCaptionNames();
}

void CMainFrame::ShowRestored()
{
    if (isMinimized()) setWindowState(windowState() & ~Qt::WindowMinimized);
    if (maximised_ && restoreGeometry_.isValid()) setGeometry(restoreGeometry_);
    maximised_ = false;
    show();
    update();
    NotifyCaptionNames();
}

void CMainFrame::SetFullScreen(bool on)
{
    if (on == fullScreen_) return;
    fullScreen_ = on;
    escape_->setEnabled(on);
    QScreen* screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
    if (on) {
        maximisedBeforeFullScreen_ = maximised_;
        geometryBeforeFullScreen_ = geometry();
        layout()->setContentsMargins(0, 0, 0, 0);
        statusBar_->hide();
        setWindowState(windowState() | Qt::WindowFullScreen);
        // Without a window manager the state alone moves nothing.
        if (screen) setGeometry(screen->geometry());
        show();
        raise();
        activateWindow();
        RaiseReminders();
        // A window manager may restack the frame once it has taken the state: the
        // reminders go above it again then.
        QTimer::singleShot(FullScreenSettleMs, this, [this] {
            if (fullScreen_) RaiseReminders();
        });
        return;
    }
    layout()->setContentsMargins(qev::FrameBorder, qev::FrameTopMargin, qev::FrameBorder,
                                 qev::FrameBorder);
    statusBar_->show();
    setWindowState(windowState() & ~Qt::WindowFullScreen);
    if (maximisedBeforeFullScreen_ && screen)
        setGeometry(screen->availableGeometry());
    else
        setGeometry(geometryBeforeFullScreen_);
    show();
    update();
}

void CMainFrame::ToggleFullScreen()
{
    CKorvel2View* view = activeView();
    if (view && view->pageFullScreen())
        view->ExitPageFullScreen(); // the page's exit comes back through SetFullScreen
    else
        SetFullScreen(!fullScreen_);
}

void CMainFrame::RaiseReminders()
{
    for (const auto& doc : documents_)
        if (doc->view) doc->view->ShowReminderWindows();
}

// ---- status bar ----

QString CMainFrame::LockIndicatorText(int pane) const
{
    return pane >= 0 && pane < 3 ? lockLabels_[pane]->text() : QString();
}

void CMainFrame::SetUpdateStatus(const QString& text)
{
    updateLabel_->setText(text);
    updateLabel_->setVisible(!text.isEmpty());
}

void CMainFrame::UpdateLockIndicators()
{
    const LockKeys keys = ReadLockKeys();
    const bool on[3] = {keys.caps, keys.num, keys.scroll};
    for (int i = 0; i < 3; ++i)
        lockLabels_[i]->setText(on[i] ? QString::fromLatin1(LockTexts[i]) : QString());
}

void CMainFrame::StopSchedules()
{
    for (const auto& doc : documents_)
        if (doc->view) doc->view->StopSchedule();
}
