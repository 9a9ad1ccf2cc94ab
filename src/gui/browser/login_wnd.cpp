#include "browser/login_wnd.h"

#include <QGuiApplication>
#include <QScreen>

#include "skin/background_wnd.h"

CLoginWnd::CLoginWnd(CBackgroundWnd* /*parent*/) : QWidget(nullptr, Qt::FramelessWindowHint) {}

void CLoginWnd::BuildPanes() {}

void CLoginWnd::RefreshPanes() {}

void CLoginWnd::CenterWindow()
{
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect r = frameGeometry();
        r.moveCenter(screen->availableGeometry().center());
        move(r.topLeft());
    }
}
