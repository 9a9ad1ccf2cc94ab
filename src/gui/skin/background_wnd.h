#pragma once
// Login background: the login stack's window. Its sprites are composed once into one
// premultiplied picture with per-pixel alpha; the page layer (CLoginWnd) and the button
// layer (CTopWnd) are child layers over it. Fully transparent pixels are click-through, any
// other pixel of the picture drags the whole stack. It carries the stack's taskbar entry and
// icon, and every close of the stack (the system close, the close button) ends in
// RequestClose.
#include <QPointer>

#include <vector>

#include "layout/layout.h"
#include "skin/layered_wnd.h"

class CBackgroundWnd : public CLayeredWnd {
    Q_OBJECT
public:
    // owner: the main frame, which receives the close request. Not a Qt parent: the
    // application owns this window, and the window owns its layers.
    // layout: the layout state whose current game the stack is built from.
    CBackgroundWnd(QWidget* owner, qev::LayoutState& layout);

    // Sprites of the current game's login layout in drawing order; empty without a game.
    const std::vector<qev::SpriteEntry>& sprites() const { return sprites_; }

    // The stack's close command (system close, close button 33770): asks the owner to
    // close. Queued, so the caller's event finishes first; the stack itself stays.
    void RequestClose();

protected:
    void paintEvent(QPaintEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    // Sprite list from the current game's login layout, window size and picture.
    void BuildSprites();

    QPointer<QWidget> owner_;
    qev::LayoutState& layout_;
    std::vector<qev::SpriteEntry> sprites_;
    bool firstPaintTraced_ = false;
};
