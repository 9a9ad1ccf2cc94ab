#pragma once
// A skin window stack as one window: the layered top-level and its see-through layers.
//
// A stack (the login stack, the reminder) is ONE frameless, translucent top-level window
// (CLayeredWnd) that paints one composed picture with per-pixel alpha, and carries its upper
// layers (CLayerWnd) as child widgets over the same rectangle, lowest first. Being one
// window, the stack moves, hides, shows and minimises as one, and no window manager can
// place its layers apart.
//
// Input: the window takes the mouse on the picture's visible pixels (alpha above 0) and on
// every layer's input region; everything else is click-through. The same region shapes the
// window, so it looks right without a compositor too. A press on a visible pixel of the
// picture (not covered by a layer's input region) drags the whole stack, unless the stack
// stays where it is put.
//
// Closing: the window system's close (the user's) is refused and becomes closeRequested,
// for the owner to decide; a close from inside the program goes through.
#include <QImage>
#include <QPoint>
#include <QRegion>
#include <QWidget>

#include <functional>

#include <vector>

#include "core/layout/layout.h"
#include "core/skin/skin_rules.h"

class CImageButton;

class CLayeredWnd : public QWidget {
    Q_OBJECT
public:
    // A parentless, hidden, frameless, translucent window. extraFlags add window hints
    // (e.g. Qt::Tool for a window without a taskbar entry).
    explicit CLayeredWnd(Qt::WindowFlags extraFlags = {});

    // Takes picture (premultiplied ARGB, drawn at the top-left, unscaled) as the window's
    // own pixels and recomputes the input region. A null picture paints nothing. picture2x, when
    // given, makes the same picture at twice the size: shown instead on a high-density
    // screen (made there on the first paint), while the input region stays picture's.
    void SetPicture(QImage picture, std::function<QImage()> picture2x = {});
    const QImage& composed() const { return picture_; }

    // Picture's visible pixels + the input regions of the layers, in window coordinates.
    // Layers call it when their region changes; nothing else needs to.
    void UpdateInputMask();
    // The region UpdateInputMask computed (empty when nothing takes input).
    const QRegion& inputRegion() const { return inputRegion_; }

    // For a stack whose layers will hold web pages: call before the window is first shown.
    // Pages are composed on the GPU; the first one to appear in a window made for plain
    // painting makes Qt destroy and re-create the native window, which a window manager
    // then places anew (the stack jumps, and flickers). This makes the window fit for
    // composed content from the start.
    void PrepareForWebContent();

    // The stack's close command: emits closeRequested once the caller's event has finished.
    void RequestClose();

signals:
    // The user asked to close the stack (the window system's close, or a close button).
    void closeRequested();

protected:
    // The input regions of the layers, in window coordinates: by default every visible
    // CLayerWnd child's.
    virtual QRegion LayersInputRegion() const;
    // A stack that stays where it is put ignores presses on its picture.
    void SetDraggable(bool draggable) { draggable_ = draggable; }

    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void childEvent(QChildEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    QImage picture_;
    // The 2x picture, made on the first paint of a high-density screen.
    std::function<QImage()> picture2xSource_;
    QImage picture2x_;
    QRegion inputRegion_;
    bool draggable_ = true;
    // Drag without a window manager: the press point relative to the window.
    bool dragging_ = false;
    QPoint dragOffset_;
};

// A see-through layer of a stack: a child widget covering its CLayeredWnd that paints no
// background. It takes input only on its children (an image button where its images show,
// any other child over its rectangle); elsewhere clicks reach the layer below. Without a
// parent (tests) it is a window of its own with the same input rule.
class CLayerWnd : public QWidget {
    Q_OBJECT
public:
    explicit CLayerWnd(CLayeredWnd* stack);

    // The stack this layer belongs to, or null.
    CLayeredWnd* stack() const;
    // Recomputes the layer's input region from its visible children and passes the change
    // on to the stack.
    void UpdateInputMask();
    // The region UpdateInputMask computed, in layer coordinates.
    const QRegion& inputRegion() const { return inputRegion_; }

protected:
    // Child events arrive for every child; the region is recomputed when the set changes.
    void childEvent(QChildEvent* event) override;
    // Deletes the layer's image buttons and recomputes the region.
    void DestroyButtons();

    std::vector<CImageButton*> buttons_; // children, owned

private:
    QRegion inputRegion_;
};

// The sprites of a layout in drawing order, sized from the image cache (a missing image
// leaves an empty rectangle).
std::vector<qev::SpriteEntry> SpriteEntriesFromCache(const std::vector<qev::SpriteItem>& sprites);
// The sprites drawn lowest layer first onto a transparent premultiplied picture of size;
// entries whose image is not in the cache are skipped. At scale 2 the picture has twice the
// pixels (and that pixel ratio) and is composed from the 2x pictures.
QImage ComposeSprites(const std::vector<qev::SpriteEntry>& sprites, QSize size, int scale = 1);
