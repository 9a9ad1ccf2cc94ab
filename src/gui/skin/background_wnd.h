#pragma once
// Login background: the sprite-painted, per-pixel-alpha bottom layer of the login stack.
// Placeholder: an empty frameless window of the login layout's size.
#include <QWidget>

class CBackgroundWnd : public QWidget {
    Q_OBJECT
public:
    // owner: the main frame, which receives the close request.
    explicit CBackgroundWnd(QWidget* owner);

private:
    QWidget* owner_;
};
