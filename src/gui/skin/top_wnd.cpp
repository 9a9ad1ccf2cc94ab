#include "skin/top_wnd.h"

#include <QChildEvent>
#include <QEvent>
#include <QMetaObject>
#include <QWindow>

#include "app/korvel2_app.h"
#include "browser/login_wnd.h"
#include "skin/background_wnd.h"
#include "skin/image_button.h"
#include "skin/main_frame.h"

namespace {

// The followers installed so far, to raise a whole chain when its bottom is raised.
std::vector<QPointer<OwnerFollower>>& AllFollowers()
{
    static std::vector<QPointer<OwnerFollower>> followers;
    return followers;
}

void RaiseFollowersOf(QWidget* owner)
{
    for (const auto& f : AllFollowers())
        if (f && f->owner() == owner && f->follower()) {
            f->follower()->raise();
            RaiseFollowersOf(f->follower());
        }
}

bool g_topFollowerInstalled = false;

} // namespace

OwnerFollower::OwnerFollower(QWidget* owner, QWidget* follower)
    : QObject(owner), owner_(owner), follower_(follower)
{
    owner->installEventFilter(this);
    AllFollowers().emplace_back(this);
}

bool OwnerFollower::InstallOnce(bool& classInstalled, QWidget* owner, QWidget* follower)
{
    if (classInstalled || !owner || !follower) return false;
    classInstalled = true;
    new OwnerFollower(owner, follower); // child of the owner
    return true;
}

void OwnerFollower::BindTransientParent()
{
    if (!owner_ || !follower_) return;
    QWindow* ownerWindow = owner_->windowHandle();
    QWindow* followerWindow = follower_->windowHandle();
    if (ownerWindow && followerWindow && followerWindow->transientParent() != ownerWindow)
        followerWindow->setTransientParent(ownerWindow);
}

void OwnerFollower::Follow()
{
    if (!owner_ || !follower_) return; // a follower that is gone: nothing to move
    follower_->move(owner_->geometry().topLeft());
    BindTransientParent();
    follower_->raise();
    RaiseFollowersOf(follower_);
}

bool OwnerFollower::eventFilter(QObject* watched, QEvent* event)
{
    if (watched != owner_ || !follower_) return false;
    switch (event->type()) {
    case QEvent::Move: Follow(); break;
    case QEvent::WindowActivate: RaiseFollowersOf(owner_); break;
    case QEvent::Show:
        if (!owner_->isMinimized()) {
            follower_->move(owner_->geometry().topLeft());
            follower_->show();
            BindTransientParent();
        }
        break;
    case QEvent::Hide: follower_->hide(); break;
    case QEvent::WindowStateChange:
        // Separate top-levels here, so minimising the owner takes its layers down with it.
        if (owner_->isMinimized())
            follower_->hide();
        else if (owner_->isVisible()) {
            follower_->show();
            Follow();
        }
        break;
    default: break;
    }
    return false; // the owner handles every event as usual
}

CLayerWnd::CLayerWnd(QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::FramelessWindowHint | Qt::NoDropShadowWindowHint)
{
    setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_NoSystemBackground);
    setAutoFillBackground(false);
    UpdateInputMask();
}

void CLayerWnd::DestroyButtons()
{
    for (CImageButton* button : buttons_) delete button;
    buttons_.clear();
    UpdateInputMask();
}

void CLayerWnd::UpdateInputMask()
{
    QRegion region;
    for (QObject* child : children()) {
        auto* widget = qobject_cast<QWidget*>(child);
        if (!widget || widget->isWindow() || !widget->isVisibleTo(this)) continue;
        // A button takes input where its images show, as a colour-keyed layer would; any
        // other child (a web pane) over its whole rectangle.
        if (auto* button = qobject_cast<CImageButton*>(widget))
            region += button->OpaqueRegion().translated(button->pos());
        else
            region += widget->geometry();
    }
    // An empty region would lift the mask altogether; an off-window pixel masks everything.
    setMask(region.isEmpty() ? QRegion(-1, -1, 1, 1) : region);
}

void CLayerWnd::childEvent(QChildEvent* event)
{
    QWidget::childEvent(event);
    if (event->added() || event->removed()) {
        // Geometry of a new child is set after it is added; recompute once things settle.
        QMetaObject::invokeMethod(this, &CLayerWnd::UpdateInputMask, Qt::QueuedConnection);
    }
}

CTopWnd::CTopWnd(CLoginWnd* owner) : owner_(owner)
{
    if (owner) {
        OwnerFollower::InstallOnce(g_topFollowerInstalled, owner, this);
        move(owner->geometry().topLeft());
    }
    BuildControls();
}

CTopWnd::~CTopWnd()
{
    DestroyControls();
}

void CTopWnd::DestroyControls()
{
    DestroyButtons();
}

void CTopWnd::BuildControls()
{
    DestroyControls();
    const qev::GameEntry* game = App().GetCurrentGame();
    if (!game) return;
    for (const qev::ButtonItem& item : game->login.buttons) {
        auto* button = new CImageButton(item, this);
        button->raise();
        connect(button, &CImageButton::command, this, &CTopWnd::OnCommand);
        button->show();
        buttons_.push_back(button);
    }
    resize(std::max(0, game->login.width), std::max(0, game->login.height));
    UpdateInputMask();
}

void CTopWnd::OnCommand(int id)
{
    switch (id) {
    case MinimizeCommand:
        // The background carries the taskbar entry; the layers go down with it.
        if (CBackgroundWnd* background = owner_ ? owner_->background() : nullptr)
            background->showMinimized();
        break;
    case CloseCommand: App().RequestQuit(); break;
    default: break;
    }
}
