#pragma once
// Login background: the login stack's window. Its sprites are composed once into one
// premultiplied picture with per-pixel alpha; the page layer (CLoginWnd) and the button
// layer (CTopWnd) are child layers over it. Fully transparent pixels are click-through, any
// other pixel of the picture drags the whole stack. It carries the stack's taskbar entry and
// icon, and every close of the stack (the system close, the close button) ends in
// closeRequested, which the application hands to the main frame.
#include <vector>

#include "core/layout/layout.h"
#include "gui/skin/layered_wnd.h"

class CBackgroundWnd : public CLayeredWnd {
    Q_OBJECT
public:
    // layout: the layout state whose current game the stack is built from. The application
    // owns this window, and the window owns its layers.
    explicit CBackgroundWnd(qev::LayoutState& layout);

    // Sprites of the current game's login layout in drawing order; empty without a game.
    const std::vector<qev::SpriteEntry>& sprites() const { return sprites_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    // Sprite list from the current game's login layout, window size and picture.
    void BuildSprites();

    qev::LayoutState& layout_;
    std::vector<qev::SpriteEntry> sprites_;
};
