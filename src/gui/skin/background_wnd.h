#pragma once
// Login background: the bottom layer of the login stack. Its sprites are composed once into
// one premultiplied image with per-pixel alpha; fully transparent pixels are click-through,
// any visible pixel drags the whole stack. It owns the taskbar entry and turns the system
// close into a close request to the main frame.
#include <QImage>
#include <QPointer>
#include <QWidget>

#include <vector>

#include "skin/skin_rules.h"

class CBackgroundWnd : public QWidget {
    Q_OBJECT
public:
    // owner: the main frame, which receives the close request. Not a Qt parent: the
    // application owns this window.
    explicit CBackgroundWnd(QWidget* owner);

    // Sprites of the current game's login layout in drawing order; empty without a game.
    const std::vector<qev::SpriteEntry>& sprites() const { return sprites_; }
    // The composed picture as painted (premultiplied ARGB, layout size).
    const QImage& composed() const { return composed_; }

    // The system close command: posts a close request to the owner.
    void RequestOwnerClose();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    // Sprite list from the current game's login layout, window size, picture and mask.
    void BuildSprites();
    void PaintLayered();

    QPointer<QWidget> owner_;
    std::vector<qev::SpriteEntry> sprites_;
    QImage composed_;
    // Drag without a window manager: the press point relative to the window.
    bool dragging_ = false;
    QPoint dragOffset_;
    bool firstPaintTraced_ = false;
};
