#pragma once
// The push button of the skin windows: paints itself from the image cache only (normal,
// hover, pressed, focus, disabled) and tells its window about a completed click with its
// command id (layout action + 0x8000). It takes the focus from the keyboard only (Tab), shows
// it as a 1-pixel ring, and Enter or Space presses it. A layout item with action 0 or -1 is
// a label: drawn like a button, read as text.
#include <QAbstractButton>

#include "core/layout/layout.h"
#include "core/skin/skin_rules.h"

class CImageButton : public QAbstractButton {
    Q_OBJECT
public:
    // A button with no images (every state -1) and command id 0.
    explicit CImageButton(QWidget* parent = nullptr);
    // Built from a layout item: its rectangle in parent coordinates, command id
    // action + 0x8000, normal/hover/pressed from the item, focus and disabled = normal.
    CImageButton(const qev::ButtonItem& item, QWidget* parent);

    void SetImages(const qev::ButtonImages& images);
    const qev::ButtonImages& images() const { return images_; }
    int commandId() const { return commandId_; }
    bool hovered() const { return hovered_; }
    // Built from an item with action 0 or -1: it shows, but there is nothing to press.
    bool isLabel() const { return label_; }
    // Colour of the ring drawn while the button has the focus (NoFill: no ring).
    void setFocusRingColour(quint32 colour);
    // Image id the button shows in its present state (it may not be in the cache).
    int CurrentImage() const;
    // Where the button shows anything, in its own coordinates: the visible pixels of its
    // state images within its rectangle; the whole rectangle when none is in the cache.
    QRegion OpaqueRegion() const;
    // A ring colour that draws no ring.
    static constexpr quint32 NoFill = 0xFF000000u;
    // Paint events seen so far: hover changes repaint once, not on every mouse move.
    int paintCount() const { return paintCount_; }

signals:
    // A completed click: pressed and released inside the button.
    void command(int id);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    // Stores the new hover flag and repaints only when it changed.
    void TrackHover(bool inside);

    qev::ButtonImages images_;
    int commandId_ = 0;
    bool hovered_ = false;
    quint32 focusRing_ = NoFill;
    bool label_ = false;
    int paintCount_ = 0;
};
