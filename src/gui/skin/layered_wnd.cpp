#include "gui/skin/layered_wnd.h"

#include <QChildEvent>
#include <QCloseEvent>
#include <QMetaObject>
#include <QMouseEvent>
#include <QOpenGLContext>
#include <QOpenGLWidget>
#include <QPainter>
#include <QWindow>

#include "gui/skin/image_button.h"
#include "gui/skin/image_manager.h"

namespace {

// setMask with an empty region lifts the mask altogether (the whole window takes input);
// one pixel outside the widget masks everything instead.
const QRegion& NothingTakesInput()
{
    static const QRegion outside(-1, -1, 1, 1);
    return outside;
}

// Whether this platform composes with OpenGL at all (the offscreen test platform does not);
// asked once.
bool PlatformHasOpenGL()
{
    static const bool has = [] {
        QOpenGLContext probe;
        return probe.create();
    }();
    return has;
}

void ApplyMask(QWidget* widget, const QRegion& region)
{
    widget->setMask(region.isEmpty() ? NothingTakesInput() : region);
}

} // namespace

CLayeredWnd::CLayeredWnd(Qt::WindowFlags extraFlags)
    : QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint | extraFlags)
{
    setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_NoSystemBackground);
    UpdateInputMask();
}

void CLayeredWnd::SetPicture(QImage picture, std::function<QImage()> picture2x)
{
    picture_ = std::move(picture);
    picture2xSource_ = std::move(picture2x);
    picture2x_ = QImage();
    UpdateInputMask();
    update();
}

QRegion CLayeredWnd::LayersInputRegion() const
{
    QRegion region;
    for (QObject* child : children()) {
        auto* layer = qobject_cast<CLayerWnd*>(child);
        if (layer && layer->isVisibleTo(this))
            region += layer->inputRegion().translated(layer->pos()) & layer->geometry();
    }
    return region;
}

void CLayeredWnd::UpdateInputMask()
{
    inputRegion_ = OpaqueRegion(picture_) + LayersInputRegion();
    ApplyMask(this, inputRegion_);
}

void CLayeredWnd::RequestClose()
{
    QMetaObject::invokeMethod(
        this, [this] { emit closeRequested(); }, Qt::QueuedConnection);
}

void CLayeredWnd::closeEvent(QCloseEvent* event)
{
    // Only the window system's close (e.g. from the taskbar) is the user's close command.
    // A close from inside the program is the application closing its windows on the way
    // out; refusing that one would cancel the quit the main frame has just asked for.
    if (!event->spontaneous()) return event->accept();
    event->ignore();
    RequestClose();
}

void CLayeredWnd::PrepareForWebContent()
{
    // A GPU-composed child marks its window for composed content when it is made; it is
    // never shown, so it draws nothing and takes no input.
    if (!PlatformHasOpenGL()) return; // nothing is composed on the GPU there
    auto* marker = new QOpenGLWidget(this);
    marker->setObjectName(QStringLiteral("webContentMarker"));
    marker->hide();
}

void CLayeredWnd::childEvent(QChildEvent* event)
{
    QWidget::childEvent(event);
    // A layer added or removed changes the region; its geometry settles after the event.
    if (event->added() || event->removed())
        QMetaObject::invokeMethod(this, &CLayeredWnd::UpdateInputMask, Qt::QueuedConnection);
}

void CLayeredWnd::paintEvent(QPaintEvent* /*event*/)
{
    QPainter painter(this);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.fillRect(rect(), Qt::transparent);
    if (picture2x_.isNull() && picture2xSource_ && IsHighDensity(this))
        picture2x_ = picture2xSource_();
    DrawImagePart(painter, picture_, &picture2x_, QRectF(QPointF(0, 0), picture_.size()),
                  picture_.rect());
}

void CLayeredWnd::mousePressEvent(QMouseEvent* event)
{
    if (!draggable_ || event->button() != Qt::LeftButton) return QWidget::mousePressEvent(event);
    // The window manager's own move loop when there is one; otherwise follow the mouse.
    if (windowHandle() && windowHandle()->startSystemMove()) return;
    dragging_ = true;
    dragOffset_ = event->globalPosition().toPoint() - pos();
}

void CLayeredWnd::mouseMoveEvent(QMouseEvent* event)
{
    if (dragging_ && (event->buttons() & Qt::LeftButton))
        move(event->globalPosition().toPoint() - dragOffset_);
    else
        QWidget::mouseMoveEvent(event);
}

void CLayeredWnd::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton) dragging_ = false;
    QWidget::mouseReleaseEvent(event);
}

CLayerWnd::CLayerWnd(CLayeredWnd* stack) : QWidget(stack)
{
    if (!stack) setWindowFlags(Qt::Window | Qt::FramelessWindowHint);
    setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_NoSystemBackground);
    setAutoFillBackground(false);
    UpdateInputMask();
}

CLayeredWnd* CLayerWnd::stack() const
{
    return qobject_cast<CLayeredWnd*>(parentWidget());
}

void CLayerWnd::DestroyButtons()
{
    for (CImageButton* button : buttons_) delete button;
    buttons_.clear();
    UpdateInputMask();
}

void CLayerWnd::UpdateInputMask()
{
    QRegion region;
    for (QObject* child : children()) {
        auto* widget = qobject_cast<QWidget*>(child);
        if (!widget || widget->isWindow() || !widget->isVisibleTo(this)) continue;
        // A button takes input where its images show, as a colour-keyed layer would; any
        // other child (a web pane) over its whole rectangle.
        if (auto* button = qobject_cast<CImageButton*>(widget))
            region += button->OpaqueRegion().translated(button->pos());
        else
            region += widget->geometry();
    }
    inputRegion_ = region & rect();
    // As a child, the mask lets clicks outside the region through to the layer below.
    ApplyMask(this, inputRegion_);
    if (CLayeredWnd* owner = stack()) owner->UpdateInputMask();
}

void CLayerWnd::childEvent(QChildEvent* event)
{
    QWidget::childEvent(event);
    if (event->added() || event->removed()) {
        // Geometry of a new child is set after it is added; recompute once things settle.
        QMetaObject::invokeMethod(this, &CLayerWnd::UpdateInputMask, Qt::QueuedConnection);
    }
}

std::vector<qev::SpriteEntry> SpriteEntriesFromCache(const std::vector<qev::SpriteItem>& sprites)
{
    return qev::BuildSpriteEntries(sprites, CachedImageSize);
}

QImage ComposeSprites(const std::vector<qev::SpriteEntry>& sprites, QSize size, int scale)
{
    QImage picture(size * scale, QImage::Format_ARGB32_Premultiplied);
    picture.setDevicePixelRatio(scale);
    picture.fill(Qt::transparent);
    QPainter painter(&picture);
    for (const qev::SpriteEntry& sprite : sprites)
        DrawImageAt(painter, sprite.image, sprite.left, sprite.top, sprite.right - sprite.left,
                    sprite.bottom - sprite.top);
    return picture;
}
