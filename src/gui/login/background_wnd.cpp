#include "gui/login/background_wnd.h"

#include "gui/base/app_icon.h"
#include "gui/base/startup_trace.h"

CBackgroundWnd::CBackgroundWnd(qev::LayoutState& layout)
    : CLayeredWnd(Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint |
                  Qt::WindowSystemMenuHint),
      layout_(layout)
{
    setWindowIcon(AppIcon());
    PrepareForWebContent(); // the page layer shows the portal's login page
    BuildSprites();
}

void CBackgroundWnd::BuildSprites()
{
    const qev::GameEntry* game = layout_.GetCurrentGame();
    if (!game) return; // no game: template size, never painted
    sprites_ = SpriteEntriesFromCache(game->login.sprites);
    resize(std::max(0, game->login.width), std::max(0, game->login.height));
    SetPicture(ComposeSprites(sprites_, size()),
               [this] { return ComposeSprites(sprites_, size(), 2); });
}

void CBackgroundWnd::paintEvent(QPaintEvent* event)
{
    CLayeredWnd::paintEvent(event);
    TraceStartupMark("first-paint");
}
