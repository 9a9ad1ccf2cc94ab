#include "gui/login/background_wnd.h"

#include <QDateTime>

#include <cstdio>
#include <cstdlib>

#include "gui/base/app_icon.h"

namespace {

// Set to have the first paint of the background reported on stderr (start-up benchmark).
constexpr char TraceFirstPaintVariable[] = "QEV_TRACE_FIRST_PAINT";

} // namespace

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
    if (!firstPaintTraced_) {
        firstPaintTraced_ = true;
        if (std::getenv(TraceFirstPaintVariable)) {
            std::fprintf(stderr, "first-paint %lld\n",
                         static_cast<long long>(QDateTime::currentMSecsSinceEpoch()));
            std::fflush(stderr);
        }
    }
}
