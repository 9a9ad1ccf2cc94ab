#include "gui/skin/image_button.h"

#include <QColor>
#include <QEnterEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

#include "gui/skin/image_manager.h"

CImageButton::CImageButton(QWidget* parent) : QAbstractButton(parent)
{
    setMouseTracking(true);
    // The parent layers paint no background; the button must not either.
    setAttribute(Qt::WA_NoSystemBackground);
    // A click must leave the keyboard focus where it was (in the page); Tab reaches the button.
    setFocusPolicy(Qt::TabFocus);
    // The pressed look is the button's down state, which drops when the mouse leaves while
    // pressed and returns with it; a release outside therefore sends no command.
    connect(this, &QAbstractButton::clicked, this, [this] { emit command(commandId_); });
}

CImageButton::CImageButton(const qev::ButtonItem& item, QWidget* parent) : CImageButton(parent)
{
    setGeometry(QRect(QPoint(item.left, item.top), QSize(std::max(0, item.right - item.left),
                                                         std::max(0, item.bottom - item.top))));
    commandId_ = qev::ButtonCommandId(item.action);
    images_ = qev::ButtonImagesFromItem(item);
    label_ = item.action == 0 || item.action == -1;
}

void CImageButton::SetImages(const qev::ButtonImages& images)
{
    images_ = images;
    update();
}

void CImageButton::setFocusRingColour(quint32 colour)
{
    focusRing_ = colour;
    update();
}

int CImageButton::CurrentImage() const
{
    return qev::ChooseButtonImage(
        images_, qev::ButtonStateFlags(hasFocus(), isDown(), hovered_, isEnabled()));
}

QRegion CImageButton::OpaqueRegion() const
{
    const CImageManager& cache = CImageManager::GetInstance();
    QRegion region;
    bool anyImage = false;
    for (int id :
         {images_.normal, images_.hover, images_.pressed, images_.focus, images_.disabled}) {
        if (id < 0) continue;
        if (const QImage* image = cache.FindImage(id)) {
            anyImage = true;
            region += ::OpaqueRegion(*image);
        }
    }
    return anyImage ? region & rect() : QRegion(rect());
}

void CImageButton::paintEvent(QPaintEvent* /*event*/)
{
    ++paintCount_;
    QPainter painter(this);
    DrawImageAt(painter, CurrentImage(), 0, 0, width(), height());
    if (hasFocus() && focusRing_ != NoFill) {
        // The ring follows the button's outline, one pixel inside it: the layer shows only
        // the visible pixels of the images, so a ring round the rectangle would be cut away.
        const QRegion shape = OpaqueRegion();
        const QRegion inner = shape & shape.translated(1, 0) & shape.translated(-1, 0) &
                              shape.translated(0, 1) & shape.translated(0, -1);
        painter.setClipRegion(shape - inner);
        painter.fillRect(rect(), QColor::fromRgba(focusRing_));
    }
}

void CImageButton::keyPressEvent(QKeyEvent* event)
{
    // Space is the button's own key; Enter presses the focused button as well.
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) &&
        !event->isAutoRepeat()) {
        click();
        return event->accept();
    }
    QAbstractButton::keyPressEvent(event);
}

void CImageButton::TrackHover(bool inside)
{
    if (inside == hovered_) return;
    hovered_ = inside;
    update();
}

void CImageButton::mouseMoveEvent(QMouseEvent* event)
{
    QAbstractButton::mouseMoveEvent(event);
    TrackHover(rect().contains(event->position().toPoint()));
}

void CImageButton::enterEvent(QEnterEvent* event)
{
    QAbstractButton::enterEvent(event);
    TrackHover(rect().contains(event->position().toPoint()));
}

void CImageButton::leaveEvent(QEvent* event)
{
    QAbstractButton::leaveEvent(event);
    TrackHover(false);
}
