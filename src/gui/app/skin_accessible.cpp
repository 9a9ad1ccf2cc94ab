#include "gui/app/skin_accessible.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QPointer>
#include <QWidget>

#include <vector>

#include "gui/game/main_frame.h"
#include "gui/skin/image_button.h"

namespace {

// The child widgets a container shows (not windows of their own, not hidden); none while
// the container is a hidden window (the login stack while the game window shows).
QWidgetList ShownChildren(const QWidget* parent)
{
    QWidgetList shown;
    if (parent->isWindow() && !parent->isVisible()) return shown;
    for (QObject* object : parent->children()) {
        auto* child = qobject_cast<QWidget*>(object);
        if (child && !child->isWindow() && !child->isHidden()) shown.append(child);
    }
    return shown;
}

class ImageButtonAccessible : public QAccessibleWidget {
public:
    explicit ImageButtonAccessible(CImageButton* button)
        : QAccessibleWidget(button,
                            button->isLabel() ? QAccessible::StaticText : QAccessible::PushButton)
    {
    }

    CImageButton* button() const { return static_cast<CImageButton*>(widget()); }

    QAccessible::State state() const override
    {
        QAccessible::State state = QAccessibleWidget::state();
        state.pressed = button()->isDown();
        if (button()->isLabel()) state.focusable = false;
        return state;
    }

    QStringList actionNames() const override
    {
        if (button()->isLabel()) return {};
        return QStringList{pressAction()} + QAccessibleWidget::actionNames();
    }

    void doAction(const QString& action) override
    {
        if (action != pressAction()) return QAccessibleWidget::doAction(action);
        // The click path: the button's window gets the command as from the mouse.
        if (!button()->isLabel() && button()->isEnabled() && button()->isVisible())
            button()->click();
    }

    QStringList keyBindingsForAction(const QString& /*action*/) const override { return {}; }
};

// A container whose hidden children are left out of the tree.
class ShownChildrenAccessible : public QAccessibleWidget {
public:
    explicit ShownChildrenAccessible(QWidget* widget, QAccessible::Role role = QAccessible::Client)
        : QAccessibleWidget(widget, role)
    {
    }

    int childCount() const override { return static_cast<int>(ShownChildren(widget()).size()); }

    QAccessibleInterface* child(int index) const override
    {
        const QWidgetList shown = ShownChildren(widget());
        if (index < 0 || index >= shown.size()) return nullptr;
        return QAccessible::queryAccessibleInterface(shown.at(index));
    }

    int indexOfChild(const QAccessibleInterface* child) const override
    {
        if (!child || !child->object()) return -1;
        return static_cast<int>(ShownChildren(widget()).indexOf(child->object()));
    }
};

// One painted caption button of the main frame. It has no object of its own; its parent
// (the frame's interface) keeps it registered while the frame lives.
class CaptionButtonAccessible : public QAccessibleInterface, public QAccessibleActionInterface {
public:
    CaptionButtonAccessible(CMainFrame* frame, int index) : frame_(frame), index_(index) {}

    bool isValid() const override { return frame_ && index_ < frame_->CaptionButtonCount(); }
    QObject* object() const override { return nullptr; }
    QWindow* window() const override { return frame_ ? frame_->windowHandle() : nullptr; }
    QAccessibleInterface* parent() const override
    {
        return frame_ ? QAccessible::queryAccessibleInterface(frame_.data()) : nullptr;
    }
    QAccessibleInterface* child(int /*index*/) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface* /*child*/) const override { return -1; }
    QAccessibleInterface* childAt(int /*x*/, int /*y*/) const override { return nullptr; }
    QAccessibleInterface* focusChild() const override { return nullptr; }

    QString text(QAccessible::Text t) const override
    {
        return t == QAccessible::Name && frame_ ? frame_->CaptionButtonName(index_) : QString();
    }
    void setText(QAccessible::Text /*t*/, const QString& /*text*/) override {}

    QRect rect() const override
    {
        if (!frame_) return {};
        const QRect r = frame_->CaptionButtonRect(index_);
        return QRect(frame_->mapToGlobal(r.topLeft()), r.size());
    }

    QAccessible::Role role() const override
    {
        return IsLabel() ? QAccessible::StaticText : QAccessible::PushButton;
    }

    QAccessible::State state() const override
    {
        QAccessible::State state;
        if (!frame_ || !frame_->isVisible()) {
            state.invisible = true;
            state.offscreen = true;
        }
        return state;
    }

    void* interface_cast(QAccessible::InterfaceType type) override
    {
        return type == QAccessible::ActionInterface ? static_cast<QAccessibleActionInterface*>(this)
                                                    : nullptr;
    }

    QStringList actionNames() const override
    {
        return IsLabel() ? QStringList() : QStringList{pressAction()};
    }
    void doAction(const QString& action) override
    {
        if (action == pressAction() && frame_ && !IsLabel()) frame_->PressCaptionButton(index_);
    }
    QStringList keyBindingsForAction(const QString& /*action*/) const override { return {}; }

private:
    bool IsLabel() const { return !frame_ || frame_->CaptionButtonAction(index_) == 0; }

    QPointer<CMainFrame> frame_;
    int index_;
};

// The main frame: its caption buttons first (they are drawn above the pages), then its
// shown child widgets.
class FrameAccessible : public ShownChildrenAccessible {
public:
    explicit FrameAccessible(CMainFrame* frame)
        : ShownChildrenAccessible(frame, QAccessible::Window)
    {
    }
    ~FrameAccessible() override
    {
        for (QAccessible::Id id : buttons_) QAccessible::deleteAccessibleInterface(id);
    }

    CMainFrame* frame() const { return static_cast<CMainFrame*>(widget()); }

    // The painted buttons, while the frame shows.
    int Captions() const { return frame()->isVisible() ? frame()->CaptionButtonCount() : 0; }

    int childCount() const override { return Captions() + ShownChildrenAccessible::childCount(); }

    QAccessibleInterface* child(int index) const override
    {
        const int captions = Captions();
        if (index < 0) return nullptr;
        if (index >= captions) return ShownChildrenAccessible::child(index - captions);
        // The button interfaces are made once per index and live as long as this one.
        while (static_cast<int>(buttons_.size()) <= index)
            buttons_.push_back(QAccessible::registerAccessibleInterface(
                new CaptionButtonAccessible(frame(), static_cast<int>(buttons_.size()))));
        return QAccessible::accessibleInterface(buttons_[static_cast<size_t>(index)]);
    }

    int indexOfChild(const QAccessibleInterface* child) const override
    {
        if (!child) return -1;
        if (!child->object()) {
            for (size_t i = 0; i < buttons_.size(); ++i)
                if (QAccessible::accessibleInterface(buttons_[i]) == child)
                    return static_cast<int>(i) < frame()->CaptionButtonCount() ? static_cast<int>(i)
                                                                               : -1;
            return -1;
        }
        const int index = ShownChildrenAccessible::indexOfChild(child);
        return index < 0 ? -1 : index + Captions();
    }

    QAccessibleInterface* childAt(int x, int y) const override
    {
        const QPoint at = frame()->mapFromGlobal(QPoint(x, y));
        for (int i = 0; i < Captions(); ++i)
            if (frame()->CaptionButtonRect(i).contains(at)) return child(i);
        return ShownChildrenAccessible::childAt(x, y);
    }

private:
    mutable std::vector<QAccessible::Id> buttons_;
};

QAccessibleInterface* SkinAccessibleFactory(const QString& className, QObject* object)
{
    if (!object || !object->isWidgetType()) return nullptr;
    if (className == QLatin1String("CImageButton"))
        return new ImageButtonAccessible(static_cast<CImageButton*>(object));
    if (className == QLatin1String("CMainFrame"))
        return new FrameAccessible(static_cast<CMainFrame*>(object));
    // The stacks are windows to a screen reader; their layers are panes in them.
    if (className == QLatin1String("CLayeredWnd") || className == QLatin1String("CRemindBack"))
        return new ShownChildrenAccessible(static_cast<QWidget*>(object), QAccessible::Window);
    if (className == QLatin1String("CLayerWnd") || className == QLatin1String("CRemindTopWnd"))
        return new ShownChildrenAccessible(static_cast<QWidget*>(object));
    return nullptr;
}

} // namespace

void InstallSkinAccessibility()
{
    static const bool installed = [] {
        QAccessible::installFactory(SkinAccessibleFactory);
        return true;
    }();
    (void)installed;
}
