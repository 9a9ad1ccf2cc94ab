#include "skin/background_wnd.h"

#include "app/korvel2_app.h"

CBackgroundWnd::CBackgroundWnd(QWidget* owner) : QWidget(nullptr, Qt::FramelessWindowHint), owner_(owner)
{
    if (const qev::GameEntry* game = App().GetCurrentGame())
        resize(game->login.width, game->login.height);
}
