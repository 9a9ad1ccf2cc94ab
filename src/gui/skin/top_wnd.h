#pragma once
// Login top layer: carries the image buttons of the login layout.
// Placeholder: an empty frameless window.
#include <QWidget>

class CLoginWnd;

class CTopWnd : public QWidget {
    Q_OBJECT
public:
    explicit CTopWnd(CLoginWnd* owner);
};
