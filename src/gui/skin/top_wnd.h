#pragma once
// The see-through upper layers of a skin window stack, and the login stack's top layer.
//
// A layer paints no background and takes input only where it has children (its input mask
// is the union of their rectangles, or of the visible pixels of an image button), so
// everything else shows and passes clicks to the window below. A layer follows its owner: when the
// owner moves it moves to the owner's position, and it hides, shows and minimises with it.
#include <QPointer>
#include <QWidget>

#include <vector>

#include "layout/layout.h"

class CImageButton;
class CLoginWnd;

// Event filter on an owner that drags one follower along. One per layer class: it is
// installed at most once per class in a process (a second window of that class does not
// chain a second one).
class OwnerFollower : public QObject {
    Q_OBJECT
public:
    OwnerFollower(QWidget* owner, QWidget* follower);
    QWidget* owner() const { return owner_; }
    QWidget* follower() const { return follower_; }
    // Moves the follower to the owner's position and raises it (and its own followers).
    void Follow();

    // Installs a follower on owner (the filter lives as long as the owner) unless this
    // class has installed one before in this process. True when it installed one now.
    static bool InstallOnce(bool& classInstalled, QWidget* owner, QWidget* follower);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // With a window manager: keep the follower above its owner and iconified with it.
    void BindTransientParent();

    QPointer<QWidget> owner_;
    QPointer<QWidget> follower_;
};

// Frameless, translucent, background-free window whose input mask is its children.
class CLayerWnd : public QWidget {
    Q_OBJECT
public:
    explicit CLayerWnd(QWidget* parent = nullptr);
    // Recomputes the input mask from the visible children.
    void UpdateInputMask();

protected:
    // Child events arrive for every child; the mask is recomputed when the set changes.
    void childEvent(QChildEvent* event) override;
    // Deletes the layer's image buttons and recomputes the mask.
    void DestroyButtons();

    std::vector<CImageButton*> buttons_; // children, owned
};

class CTopWnd : public CLayerWnd {
    Q_OBJECT
public:
    // Commands of the login buttons.
    static constexpr int MinimizeCommand = 33769; // action 1001
    static constexpr int CloseCommand = 33770;    // action 1002

    // owner: the login window, which this layer follows. Not a Qt parent.
    explicit CTopWnd(CLoginWnd* owner);
    ~CTopWnd() override;

    // Rebuilds the buttons from the current game's login layout and takes its size.
    void BuildControls();
    void DestroyControls();
    const std::vector<CImageButton*>& buttons() const { return buttons_; }

    // The command table: 33769 minimises the stack, 33770 asks the main frame to close.
    void OnCommand(int id);

private:
    QPointer<CLoginWnd> owner_;
};
