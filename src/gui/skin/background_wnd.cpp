#include "skin/background_wnd.h"

#include <QCloseEvent>
#include <QDateTime>
#include <QMouseEvent>
#include <QPainter>
#include <QWindow>

#include <cstdio>
#include <cstdlib>

#include "app/korvel2_app.h"
#include "skin/image_manager.h"

namespace {

// Set to have the first paint of the background reported on stderr (start-up benchmark).
constexpr char TraceFirstPaintVariable[] = "QEV_TRACE_FIRST_PAINT";

} // namespace

CBackgroundWnd::CBackgroundWnd(QWidget* owner)
    : QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint | Qt::WindowMinimizeButtonHint |
                           Qt::WindowMaximizeButtonHint | Qt::WindowSystemMenuHint),
      owner_(owner)
{
    setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_NoSystemBackground);
    BuildSprites();
}

void CBackgroundWnd::BuildSprites()
{
    const qev::GameEntry* game = App().GetCurrentGame();
    if (!game) return; // no game: template size, never painted
    const CImageManager& images = CImageManager::GetInstance();
    sprites_ = qev::BuildSpriteEntries(game->login.sprites,
                                       [&images](int id) -> std::optional<std::pair<int, int>> {
                                           const QImage* image = images.FindImage(id);
                                           if (!image) return std::nullopt;
                                           return std::pair{image->width(), image->height()};
                                       });
    resize(std::max(0, game->login.width), std::max(0, game->login.height));
    PaintLayered();
}

void CBackgroundWnd::PaintLayered()
{
    composed_ = QImage(size(), QImage::Format_ARGB32_Premultiplied);
    composed_.fill(Qt::transparent);
    {
        QPainter painter(&composed_);
        const CImageManager& images = CImageManager::GetInstance();
        for (const qev::SpriteEntry& sprite : sprites_) {
            if (const QImage* image = images.FindImage(sprite.image))
                DrawImageAt(painter, image, sprite.left, sprite.top, sprite.right - sprite.left,
                            sprite.bottom - sprite.top);
        }
    }
    // Clicks on fully transparent pixels go to whatever lies below.
    const QRegion opaque = OpaqueRegion(composed_);
    if (opaque.isEmpty())
        setMask(QRegion(-1, -1, 1, 1)); // an empty region would mean "no mask at all"
    else
        setMask(opaque);
}

void CBackgroundWnd::paintEvent(QPaintEvent* /*event*/)
{
    QPainter painter(this);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.drawImage(0, 0, composed_);
    if (!firstPaintTraced_) {
        firstPaintTraced_ = true;
        if (std::getenv(TraceFirstPaintVariable)) {
            std::fprintf(stderr, "first-paint %lld\n",
                         static_cast<long long>(QDateTime::currentMSecsSinceEpoch()));
            std::fflush(stderr);
        }
    }
}

void CBackgroundWnd::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) return QWidget::mousePressEvent(event);
    // The window manager's own move loop when there is one; otherwise follow the mouse.
    if (windowHandle() && windowHandle()->startSystemMove()) return;
    dragging_ = true;
    dragOffset_ = event->globalPosition().toPoint() - pos();
}

void CBackgroundWnd::mouseMoveEvent(QMouseEvent* event)
{
    if (dragging_ && (event->buttons() & Qt::LeftButton))
        move(event->globalPosition().toPoint() - dragOffset_);
    else
        QWidget::mouseMoveEvent(event);
}

void CBackgroundWnd::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton) dragging_ = false;
    QWidget::mouseReleaseEvent(event);
}

void CBackgroundWnd::closeEvent(QCloseEvent* event)
{
    // Only the window system's close (e.g. from the taskbar) is the user's close command.
    // A close from inside the program is the application closing its windows on the way
    // out; refusing that one would cancel the quit the main frame has just asked for.
    if (!event->spontaneous()) return event->accept();
    event->ignore();
    RequestOwnerClose();
}

void CBackgroundWnd::RequestOwnerClose()
{
    // The main frame confirms and ends the program; the background itself stays.
    if (owner_) QMetaObject::invokeMethod(owner_.data(), "close", Qt::QueuedConnection);
}
