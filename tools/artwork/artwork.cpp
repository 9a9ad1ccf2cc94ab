#include "artwork.h"

#include "gif_writer.h"
#include "paint_kit.h"

#include <QBuffer>
#include <QRadialGradient>

#include <array>
#include <cmath>
#include <functional>
#include <map>

namespace artwork {
namespace {

using namespace colour;

// Places where other windows put things over the artwork (window pixels).
constexpr int LoginWidth = 663, LoginHeight = 391;
constexpr QRect LoginPage{20, 50, 625, 319};
constexpr QRect ReminderPane{38, 13, 64, 64};
constexpr QPoint StartsInLabelAt{120, 20};
constexpr QPoint StartedLabelAt{140, 20};
constexpr int DigitTop = 50;
constexpr int DigitHeight = 28;
constexpr int DigitWidth = 35;
constexpr int ColonWidth = 21;
constexpr int ColonAt = 10 * DigitWidth;
constexpr int CaptionHeight = 30;
constexpr int FrameWidth = 4;

// Pixels lighter than this alpha are left out of a GIF's matte; the rest become opaque.
constexpr int MatteMinimumAlpha = 24;

QColor WithAlpha(QColor c, double alpha)
{
    c.setAlphaF(static_cast<float>(alpha));
    return c;
}

// Places a text outline with its ink box's left edge at `left`, centred on `centreY`.
QPainterPath LeftText(const QFont& font, const QString& text, double left, double centreY,
                      double spacing = 0)
{
    QPainterPath path = CentredText(font, text, {0, centreY}, spacing);
    return path.translated(left - path.boundingRect().left(), 0);
}

// A text outline painted with a drop shadow and a dark edge, so it reads on any surface.
void EmbossedText(QPainter& p, const QPainterPath& path, const QBrush& fill, double shadowAlpha,
                  double edge = 1.6)
{
    p.save();
    p.setPen(Qt::NoPen);
    p.fillPath(path.translated(0, 1.2), WithAlpha(Qt::black, shadowAlpha));
    if (edge > 0) p.strokePath(path, QPen(WithAlpha(Abyss, 0.75), edge));
    p.fillPath(path, fill);
    p.restore();
}

// --- login window ----------------------------------------------------------------------

void CornerBracket(QPainter& p, QPointF corner, double dx, double dy)
{
    QPainterPath path;
    path.moveTo(corner.x(), corner.y() + 14 * dy);
    path.lineTo(corner.x(), corner.y());
    path.lineTo(corner.x() + 14 * dx, corner.y());
    p.strokePath(path,
                 QPen(WithAlpha(Gold2, 0.85), 1.4, Qt::SolidLine, Qt::FlatCap, Qt::MiterJoin));
    Gem(p, corner, 2.6, 2.6, 0.95);
}

QImage LoginBackground()
{
    QImage img = Canvas(LoginWidth, LoginHeight);
    const QRectF panel(8, 8, LoginWidth - 16, LoginHeight - 16);
    constexpr double radius = 16;
    // A teal halo with a tighter dark shadow inside it, both feathered to nothing at the
    // window's outer pixels.
    SoftShadow(img, panel, radius, 7.5, QColor(0x2C, 0x8C, 0x90, 110));
    SoftShadow(img, panel, radius, 4.5, QColor(0x01, 0x06, 0x0E, 170));

    QPainter p(&img);
    Prepare(p);
    QPainterPath shape;
    shape.addRoundedRect(panel, radius, radius);
    QLinearGradient body(0, panel.top(), 0, panel.bottom());
    body.setColorAt(0.0, QColor(0x1C, 0x3A, 0x56));
    body.setColorAt(0.12, QColor(0x12, 0x27, 0x42));
    body.setColorAt(1.0, QColor(0x09, 0x13, 0x26));
    p.fillPath(shape, body);

    p.save();
    p.setClipPath(shape);
    QRadialGradient glow(QPointF(140, 18), 300);
    glow.setColorAt(0, WithAlpha(Teal3, 0.38));
    glow.setColorAt(1, WithAlpha(Teal3, 0));
    p.fillRect(panel, glow);
    QRadialGradient low(QPointF(560, 400), 340);
    low.setColorAt(0, WithAlpha(Teal2, 0.25));
    low.setColorAt(1, WithAlpha(Teal2, 0));
    p.fillRect(panel, low);
    p.restore();

    // Rim: gold that cools towards the bottom, with a faint teal line just inside.
    QLinearGradient rim(0, panel.top(), 0, panel.bottom());
    rim.setColorAt(0.0, Gold3);
    rim.setColorAt(0.15, Gold2);
    rim.setColorAt(0.6, Gold1);
    rim.setColorAt(1.0, Bronze);
    p.setPen(QPen(QBrush(rim), 1.5));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(panel.adjusted(0.75, 0.75, -0.75, -0.75), radius - 0.75, radius - 0.75);
    p.setPen(QPen(WithAlpha(Teal3, 0.35), 1));
    p.drawRoundedRect(panel.adjusted(2.5, 2.5, -2.5, -2.5), radius - 2.5, radius - 2.5);

    // Header: the emblem and the name. The right end stays plain for the window buttons.
    Gem(p, {34, 29}, 10, 14);
    const QPainterPath title = LeftText(SerifBold(21), "VELMORA", 54, 29, 3.2);
    EmbossedText(p, title, GoldGradient(title.boundingRect().top(), title.boundingRect().bottom()),
                 0.7);
    const double lineFrom = title.boundingRect().right() + 16;
    FadingLine(p, lineFrom, 552, 29.5, 0.55);
    Gem(p, {(lineFrom + 552) / 2, 29.5}, 3.5, 3.5);

    // The page well: a dark inset with a thin gold frame right around the page.
    const QRectF page(LoginPage);
    p.fillRect(page.adjusted(-2, -2, 2, 2), Abyss);
    p.setPen(QPen(WithAlpha(Gold1, 0.9), 1));
    p.drawRect(page.adjusted(-0.5, -0.5, 0.5, 0.5));
    p.fillRect(page, Vertical(page.top(), page.bottom(), QColor(0x0E, 0x1B, 0x31), Night0));
    // A faint emblem in the well, seen only until the page appears.
    Gem(p, page.center(), 46, 64, 0.07);
    CornerBracket(p, page.topLeft() + QPointF(-5, -5), 1, 1);
    CornerBracket(p, page.topRight() + QPointF(6, -5), -1, 1);
    CornerBracket(p, page.bottomLeft() + QPointF(-5, 6), 1, -1);
    CornerBracket(p, page.bottomRight() + QPointF(6, 6), -1, -1);

    // Footer ornament under the page.
    const double footY = (page.bottom() + panel.bottom()) / 2 + 1;
    FadingLine(p, 200, 322, footY, 0.6);
    FadingLine(p, 341, 463, footY, 0.6);
    Gem(p, {LoginWidth / 2.0, footY}, 5, 4);
    p.end();

    // The outermost ring must be fully transparent whatever the filters above left there.
    p.begin(&img);
    p.setCompositionMode(QPainter::CompositionMode_Clear);
    const QPainterPath inside = [] {
        QPainterPath path;
        path.addRect(0, 0, LoginWidth, LoginHeight);
        path.addRect(1, 1, LoginWidth - 2, LoginHeight - 2);
        return path;
    }();
    p.fillPath(inside, Qt::transparent);
    p.end();
    return img;
}

// --- round window buttons (login, reminder) ----------------------------------------------

enum class Glyph { Close, Minimise, Maximise, Restore, Menu };
enum class Look { Normal, Pressed, Hover };

void RoundGlyph(QPainter& p, Glyph glyph, QPointF c, double s, const QColor& colour)
{
    auto draw = [&](const QColor& ink, QPointF at) {
        QPen pen(ink, s * 0.19, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
        p.setPen(pen);
        const double a = s * 0.3;
        if (glyph == Glyph::Close) {
            p.drawLine(at + QPointF(-a, -a), at + QPointF(a, a));
            p.drawLine(at + QPointF(-a, a), at + QPointF(a, -a));
        } else {
            p.drawLine(at + QPointF(-a * 1.1, a * 0.55), at + QPointF(a * 1.1, a * 0.55));
        }
    };
    draw(WithAlpha(Abyss, 0.7), c + QPointF(0, 1));
    draw(colour, c);
}

QImage RoundButton(int w, int h, Glyph glyph, Look look)
{
    QImage img = Canvas(w, h);
    const QPointF c(w / 2.0, h / 2.0);
    const double r = std::min(w, h) / 2.0 - 3.5;
    const QRectF disc(c.x() - r, c.y() - r, 2 * r, 2 * r);
    if (look == Look::Hover) SoftShadow(img, disc, r, 3.2, WithAlpha(Gold2, 0.35));
    SoftShadow(img, disc.translated(0, 1), r, 3, QColor(0, 0, 0, 150));

    QPainter p(&img);
    Prepare(p);
    p.setPen(Qt::NoPen);
    p.setBrush(GoldGradient(disc.top(), disc.bottom(), look == Look::Hover));
    p.drawEllipse(disc);
    const QRectF inner = disc.adjusted(1.7, 1.7, -1.7, -1.7);
    QRadialGradient fill(QPointF(c.x(), c.y() - r * 0.55), r * 1.7);
    if (look == Look::Hover) {
        fill.setColorAt(0, QColor(0x5C, 0xB8, 0xB4));
        fill.setColorAt(1, QColor(0x1B, 0x4E, 0x60));
    } else if (look == Look::Pressed) {
        fill.setColorAt(0, Teal1);
        fill.setColorAt(1, Night0);
    } else {
        fill.setColorAt(0, Teal2);
        fill.setColorAt(1, Night1);
    }
    p.setBrush(fill);
    p.drawEllipse(inner);
    // Glass highlight over the upper half.
    QLinearGradient shine(0, inner.top(), 0, c.y());
    shine.setColorAt(0, WithAlpha(Qt::white, look == Look::Hover ? 0.28 : 0.16));
    shine.setColorAt(1, WithAlpha(Qt::white, 0));
    p.setBrush(shine);
    p.drawEllipse(QRectF(inner.left() + r * 0.25, inner.top() + 0.6, inner.width() - r * 0.5,
                         inner.height() * 0.55));
    const QColor ink = look == Look::Hover ? Ivory : Gold3;
    RoundGlyph(p, glyph, c + (look == Look::Pressed ? QPointF(0, 0.8) : QPointF()), 2 * r * 0.6,
               ink);
    return img;
}

// --- main frame caption buttons ----------------------------------------------------------

void CaptionGlyph(QPainter& p, Glyph glyph, QPointF o, const QColor& ink)
{
    QPen pen(ink, 1.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    p.setPen(pen);
    p.setBrush(Qt::NoBrush);
    switch (glyph) {
    case Glyph::Close:
        p.drawLine(o + QPointF(6.5, 6.5), o + QPointF(13.5, 13.5));
        p.drawLine(o + QPointF(6.5, 13.5), o + QPointF(13.5, 6.5));
        break;
    case Glyph::Minimise:
        p.setPen(QPen(ink, 2, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(o + QPointF(6, 13), o + QPointF(14, 13));
        break;
    case Glyph::Maximise:
        p.setPen(QPen(ink, 1.3, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
        p.drawRect(QRectF(o + QPointF(5.65, 5.65), QSizeF(8.7, 8.7)));
        p.drawLine(o + QPointF(5.65, 6.9), o + QPointF(14.35, 6.9));
        break;
    case Glyph::Restore: {
        p.setPen(QPen(ink, 1.2, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
        QPainterPath back;
        back.moveTo(o + QPointF(7.6, 7.2));
        back.lineTo(o + QPointF(7.6, 4.6));
        back.lineTo(o + QPointF(15.4, 4.6));
        back.lineTo(o + QPointF(15.4, 12.4));
        back.lineTo(o + QPointF(12.8, 12.4));
        p.drawPath(back);
        p.drawRect(QRectF(o + QPointF(4.6, 7.6), QSizeF(7.8, 7.8)));
        p.drawLine(o + QPointF(4.6, 8.8), o + QPointF(12.4, 8.8));
        break;
    }
    case Glyph::Menu:
        p.setPen(QPen(ink, 1.5, Qt::SolidLine, Qt::RoundCap));
        for (double y : {6.6, 10.0, 13.4}) p.drawLine(o + QPointF(6, y), o + QPointF(14, y));
        break;
    }
}

QImage CaptionButton(Glyph glyph, Look look)
{
    QImage img = Canvas(20, 20);
    const QRectF box(1.5, 1.5, 17, 17);
    SoftShadow(img, box.translated(0, 0.5), 4, 1.5, QColor(0, 0, 0, 120));
    QPainter p(&img);
    Prepare(p);
    QLinearGradient fill(0, box.top(), 0, box.bottom());
    QColor rim = Bronze, ink = Cream;
    if (look == Look::Hover && glyph == Glyph::Close) {
        fill.setColorAt(0, EmberLight);
        fill.setColorAt(1, Ember.darker(140));
        rim = Gold2;
        ink = Ivory;
    } else if (look == Look::Hover) {
        fill.setColorAt(0, QColor(0x3F, 0x9A, 0x98));
        fill.setColorAt(1, Teal1);
        rim = Gold2;
        ink = Ivory;
    } else if (look == Look::Pressed) {
        fill.setColorAt(0, Night0);
        fill.setColorAt(1, Night2);
        rim = Gold1;
        ink = Gold2;
    } else {
        fill.setColorAt(0, Night3);
        fill.setColorAt(1, Night1);
    }
    p.setPen(QPen(rim, 1));
    p.setBrush(fill);
    p.drawRoundedRect(box, 4, 4);
    if (look != Look::Pressed) {
        p.setPen(QPen(WithAlpha(Qt::white, look == Look::Hover ? 0.25 : 0.1), 1));
        p.drawLine(QPointF(5, 3), QPointF(15, 3));
    }
    const QPointF at = look == Look::Pressed ? QPointF(0.5, 0.8) : QPointF();
    CaptionGlyph(p, glyph, at + QPointF(0, 0.8), WithAlpha(Abyss, 0.6));
    CaptionGlyph(p, glyph, at, ink);
    return img;
}

// --- reminder ------------------------------------------------------------------------------

constexpr QRectF DigitWell{115, 45, 140, 38};

QImage ReminderBackground()
{
    QImage img = Canvas(277, 93);
    const QRectF card(4, 4, 269, 85);
    SoftShadow(img, card, 10, 4, QColor(0x01, 0x06, 0x0E, 190));
    QPainter p(&img);
    Prepare(p);
    QPainterPath shape;
    shape.addRoundedRect(card, 10, 10);
    p.fillPath(shape, Vertical(card.top(), card.bottom(), QColor(0x1B, 0x36, 0x52), Night1));
    p.save();
    p.setClipPath(shape);
    QRadialGradient glow(QPointF(70, 16), 190);
    glow.setColorAt(0, WithAlpha(Teal3, 0.3));
    glow.setColorAt(1, WithAlpha(Teal3, 0));
    p.fillRect(card, glow);
    p.restore();
    QLinearGradient rim(0, card.top(), 0, card.bottom());
    rim.setColorAt(0, Gold3);
    rim.setColorAt(0.5, Gold1);
    rim.setColorAt(1, Bronze);
    p.setPen(QPen(QBrush(rim), 1.3));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(card.adjusted(0.65, 0.65, -0.65, -0.65), 9.4, 9.4);

    // Frame of the activity picture.
    const QRectF pane(ReminderPane);
    p.setPen(Qt::NoPen);
    p.setBrush(Abyss);
    p.drawRoundedRect(pane.adjusted(-3, -3, 3, 3), 5, 5);
    p.setPen(QPen(Gold1, 1));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(pane.adjusted(-1.5, -1.5, 1.5, 1.5), 3.5, 3.5);
    p.fillRect(pane, Vertical(pane.top(), pane.bottom(), Night2, Night0));
    Gem(p, pane.center(), 12, 17, 0.18);

    // Well of the countdown digits: colour varies only with y, so the digit strip can be
    // matted against one column of it.
    p.setPen(QPen(WithAlpha(Bronze, 0.9), 1));
    p.setBrush(Vertical(DigitWell.top(), DigitWell.bottom(), QColor(0x05, 0x0B, 0x16),
                        QColor(0x0C, 0x18, 0x2D)));
    p.drawRoundedRect(DigitWell.adjusted(0.5, 0.5, -0.5, -0.5), 7, 7);
    p.setPen(QPen(WithAlpha(Teal3, 0.35), 1));
    p.drawLine(QPointF(DigitWell.left() + 8, DigitWell.bottom() + 0.5),
               QPointF(DigitWell.right() - 8, DigitWell.bottom() + 0.5));
    return img;
}

QImage ReminderTab(bool pointRight)
{
    QImage img = Canvas(30, 58);
    const QRectF tab(1.5, 1.5, 27, 55);
    SoftShadow(img, tab, 8, 1.5, QColor(0, 0, 0, 140));
    QPainter p(&img);
    Prepare(p);
    QLinearGradient fill(tab.left(), 0, tab.right(), 0);
    fill.setColorAt(0, QColor(0x2A, 0x74, 0x7A));
    fill.setColorAt(1, Teal1);
    p.setPen(QPen(QBrush(GoldGradient(tab.top(), tab.bottom())), 1.2));
    p.setBrush(fill);
    p.drawRoundedRect(tab, 8, 8);
    p.setPen(QPen(WithAlpha(Qt::white, 0.14), 1));
    p.drawLine(QPointF(tab.left() + 3.5, tab.top() + 7),
               QPointF(tab.left() + 3.5, tab.bottom() - 7));

    const double dir = pointRight ? 1 : -1;
    const QPointF c(15, 29);
    auto chevron = [&](QPointF at, const QColor& ink) {
        QPainterPath path;
        path.moveTo(at + QPointF(-3.2 * dir, -6));
        path.lineTo(at + QPointF(3.2 * dir, 0));
        path.lineTo(at + QPointF(-3.2 * dir, 6));
        p.strokePath(path, QPen(ink, 2.4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    };
    chevron(c + QPointF(0, 1), WithAlpha(Abyss, 0.7));
    chevron(c, Gold3);
    Gem(p, {15, 10}, 2.8, 3.2);
    Gem(p, {15, 48}, 2.8, 3.2);
    return img;
}

// Label shown above the countdown. `live` marks the running activity.
QImage ReminderLabel(int w, int h, const QString& text, bool live)
{
    QImage img = Canvas(w, h);
    QPainter p(&img);
    Prepare(p);
    const QRectF pill(0.5, 0.5, w - 1, h - 1);
    if (live) {
        p.setPen(QPen(Gold2, 1));
        p.setBrush(Vertical(pill.top(), pill.bottom(), QColor(0x2C, 0x7C, 0x7C), Teal1));
    } else {
        p.setPen(QPen(WithAlpha(Gold1, 0.9), 1));
        p.setBrush(Vertical(pill.top(), pill.bottom(), Night2, Night0));
    }
    p.drawRoundedRect(pill, pill.height() / 2, pill.height() / 2);
    double textCentre = w / 2.0;
    if (live) {
        // A small lit dot before the word.
        const QPointF dot(11, h / 2.0);
        QRadialGradient halo(dot, 5.5);
        halo.setColorAt(0, QColor(0xB8, 0xFF, 0xE8));
        halo.setColorAt(0.45, QColor(0x54, 0xE0, 0xB8));
        halo.setColorAt(1, WithAlpha(QColor(0x54, 0xE0, 0xB8), 0));
        p.setPen(Qt::NoPen);
        p.setBrush(halo);
        p.drawEllipse(dot, 5.5, 5.5);
        textCentre += 6;
    }
    const QPainterPath path = CentredText(SansBold(10.5), text, {textCentre, h / 2.0}, 1.1);
    EmbossedText(p, path, live ? QBrush(Ivory) : QBrush(GoldGradient(4, h - 4)), 0.6, 0);
    return img;
}

QPainterPath DigitPath(const QString& glyph, double cellCentre)
{
    const QFont font = SansBold(29);
    // A shared baseline: every digit sits where "0" is centred, so the row lines up.
    QPainterPath zero;
    zero.addText(0, 0, font, "0");
    const double baseline = DigitHeight / 2.0 - zero.boundingRect().center().y();
    QPainterPath path;
    path.addText(0, baseline, font, glyph);
    return path.translated(cellCentre - path.boundingRect().center().x(), 0);
}

QImage DigitStrip()
{
    QImage img = Canvas(ColonAt + ColonWidth, DigitHeight);
    QPainter p(&img);
    Prepare(p);
    const QLinearGradient fill = GoldGradient(3, DigitHeight - 3, true);
    for (int d = 0; d < 10; ++d)
        EmbossedText(p, DigitPath(QString::number(d), d * DigitWidth + DigitWidth / 2.0), fill, 0.8,
                     2.0);
    QPainterPath colon;
    const double cx = ColonAt + ColonWidth / 2.0;
    for (double cy : {DigitHeight / 2.0 - 5, DigitHeight / 2.0 + 5})
        colon.addEllipse(QPointF(cx, cy), 2.6, 2.6);
    EmbossedText(p, colon, fill, 0.8, 2.0);
    return img;
}

// --- main frame ----------------------------------------------------------------------------

const QColor FrameDark{0x06, 0x0B, 0x15};
const QColor FrameGold{0x86, 0x68, 0x31};

// The frame's cross-section, outside to inside: dark, two gold lines, dark. Symmetric, so
// the same tile serves the left and the right edge.
QColor FrameColour(int i)
{
    return (i == 1 || i == 2) ? FrameGold : FrameDark;
}

// Colour of caption row y: the frame's top edge, then the body gradient, then a dark seam
// over the client area.
QColor CaptionRow(int y)
{
    if (y < FrameWidth) return FrameColour(y);
    if (y == FrameWidth) return QColor(0x2E, 0x4B, 0x70);
    if (y == CaptionHeight - 1) return QColor(0x04, 0x08, 0x10);
    const double t = (y - FrameWidth - 1.0) / (CaptionHeight - FrameWidth - 3.0);
    const QColor top(0x22, 0x3B, 0x5C), bottom(0x0E, 0x1B, 0x31);
    auto lerp = [t](int a, int b) { return static_cast<int>(std::lround(a + (b - a) * t)); };
    return QColor(lerp(top.red(), bottom.red()), lerp(top.green(), bottom.green()),
                  lerp(top.blue(), bottom.blue()));
}

QImage CaptionBase(int w)
{
    QImage img = Canvas(w, CaptionHeight);
    QPainter p(&img);
    for (int y = 0; y < CaptionHeight; ++y) p.fillRect(0, y, w, 1, CaptionRow(y));
    return img;
}

// Redraws columns [from, from + 4) as the side frame running down from the top edge, the
// gold lines of the top and the side joining in the corner.
void CaptionSide(QImage& img, int from, bool leftSide)
{
    const int inner = leftSide ? FrameWidth - 1 : 0;
    QPainter p(&img);
    p.setCompositionMode(QPainter::CompositionMode_Source);
    for (int y = 1; y < CaptionHeight; ++y)
        for (int i = 0; i < FrameWidth; ++i) {
            const bool gold = i == 1 || i == 2 || (i == inner && y < FrameWidth - 1);
            p.fillRect(from + i, y, 1, 1, gold ? FrameGold : FrameDark);
        }
}

QImage CaptionLeft()
{
    QImage img = CaptionBase(94);
    {
        QPainter p(&img);
        Prepare(p);
        QRadialGradient glow(QPointF(46, 16), 44);
        glow.setColorAt(0, WithAlpha(Teal3, 0.3));
        glow.setColorAt(1, WithAlpha(Teal3, 0));
        p.fillRect(QRectF(FrameWidth, FrameWidth + 1, 94 - FrameWidth, CaptionHeight - 6), glow);
    }
    CaptionSide(img, 0, true);
    return img;
}

QImage CaptionMiddle()
{
    return CaptionBase(400);
}

QImage CaptionRight()
{
    QImage img = CaptionBase(94);
    {
        QPainter p(&img);
        Prepare(p);
        // A recessed well behind the caption buttons (x 10..90 of this piece).
        const QRectF well(5.5, 3.5, 94 - FrameWidth - 5.5 + 6, CaptionHeight - 5);
        QPainterPath shape;
        shape.addRoundedRect(well, 6, 6);
        p.setClipRect(QRectF(0, 0, 94 - FrameWidth, CaptionHeight));
        p.fillPath(shape, Vertical(well.top(), well.bottom(), QColor(0x07, 0x0E, 0x1B),
                                   QColor(0x10, 0x1E, 0x36)));
        p.setPen(QPen(WithAlpha(Gold1, 0.75), 1));
        p.setBrush(Qt::NoBrush);
        p.drawPath(shape);
    }
    CaptionSide(img, 94 - FrameWidth, false);
    return img;
}

QImage SideTile()
{
    QImage img = Canvas(FrameWidth, 120);
    QPainter p(&img);
    for (int x = 0; x < FrameWidth; ++x) p.fillRect(x, 0, 1, 120, FrameColour(x));
    return img;
}

QImage BottomTile()
{
    QImage img = Canvas(104, FrameWidth);
    QPainter p(&img);
    for (int y = 0; y < FrameWidth; ++y) p.fillRect(0, y, 104, 1, FrameColour(FrameWidth - 1 - y));
    return img;
}

QImage GameTab()
{
    QImage img = Canvas(143, 16);
    QPainter p(&img);
    Prepare(p);
    const QRectF pill(0.5, 0.5, 86, 15);
    p.setPen(QPen(Gold2, 1));
    p.setBrush(Vertical(pill.top(), pill.bottom(), QColor(0x3A, 0x92, 0x92), Teal1));
    p.drawRoundedRect(pill, 7.5, 7.5);
    p.setPen(QPen(WithAlpha(Qt::white, 0.22), 1));
    p.drawLine(QPointF(8, 2), QPointF(79, 2));
    Gem(p, {11, 8}, 4.2, 5.2);
    const QPainterPath word = CentredText(SansBold(10), "GAME", {50, 8}, 1.4);
    EmbossedText(p, word, QBrush(Ivory), 0.65, 0);
    // A gold lead-in to the game title that the frame writes after the tab.
    Gem(p, {93.5, 8}, 2.6, 2.6);
    QLinearGradient lead(97, 0, 141, 0);
    lead.setColorAt(0, WithAlpha(Gold2, 0.85));
    lead.setColorAt(1, WithAlpha(Gold2, 0.1));
    p.fillRect(QRectF(97, 7.5, 44, 1), lead);
    return img;
}

// Keeps every pixel that shows at least a little and flattens it onto `backdrop` (same size):
// a GIF knows only opaque and transparent, so soft edges are blended with the surface the
// image is shown on.
QImage Matte(const QImage& art, const QImage& backdrop)
{
    QImage over = backdrop.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    {
        QPainter p(&over);
        p.drawImage(0, 0, art);
    }
    QImage out(art.size(), QImage::Format_ARGB32);
    out.setDevicePixelRatio(art.devicePixelRatio());
    for (int y = 0; y < art.height(); ++y)
        for (int x = 0; x < art.width(); ++x) {
            const bool shown = qAlpha(art.pixel(x, y)) >= MatteMinimumAlpha;
            out.setPixel(x, y, shown ? (over.pixel(x, y) | 0xFF000000u) : 0u);
        }
    return out.convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

// The digit well's surface under a strip of the given width: every column is the well's
// column at its centre.
QImage DigitBackdrop(const QImage& reminder, int width)
{
    const int scale = static_cast<int>(reminder.devicePixelRatio());
    QImage out = Canvas(width, DigitHeight);
    const int column = static_cast<int>(DigitWell.center().x()) * scale;
    for (int y = 0; y < out.height(); ++y) {
        const QRgb c = reminder.pixel(column, DigitTop * scale + y);
        for (int x = 0; x < out.width(); ++x) out.setPixel(x, y, c);
    }
    return out;
}

// The part of picture under the 1x rectangle r, with the picture's pixel ratio.
QImage Part(const QImage& picture, const QRect& r)
{
    const int scale = static_cast<int>(picture.devicePixelRatio());
    QImage part = picture.copy(r.x() * scale, r.y() * scale, r.width() * scale, r.height() * scale);
    part.setDevicePixelRatio(scale);
    return part;
}

// --- application icon ------------------------------------------------------------------

// Id and side of the built-in icon image; the installed sizes are drawn one by one.
constexpr int AppIconId = 128;
constexpr int AppIconImageSize = 256;

// A night-blue tile with a gold rim and a gold "V" over a teal glow: the login window's
// colours at a glance. Drawn at each size rather than scaled, so small sizes stay crisp;
// the shadow and the gem are left out where they would only blur.
QImage AppIcon(int size)
{
    QImage img = Canvas(size, size);
    const double s = size;
    const double inset = size >= 32 ? s * 0.06 : 0.5;
    const QRectF tile(inset, inset, s - 2 * inset, s - 2 * inset);
    const double radius = s * 0.2;
    if (size >= 32)
        SoftShadow(img, tile.translated(0, s * 0.015), radius, s * 0.045, QColor(0, 0, 0, 150));

    QPainter p(&img);
    Prepare(p);
    QPainterPath shape;
    shape.addRoundedRect(tile, radius, radius);
    p.fillPath(shape, Vertical(tile.top(), tile.bottom(), Night3, Night0));
    p.save();
    p.setClipPath(shape);
    QRadialGradient glow(QPointF(s * 0.5, s * 0.45), s * 0.55);
    glow.setColorAt(0, WithAlpha(Teal3, 0.6));
    glow.setColorAt(1, WithAlpha(Teal3, 0));
    p.fillRect(tile, glow);
    p.restore();

    const double rim = std::max(1.0, s / 40);
    p.setPen(QPen(QBrush(GoldGradient(tile.top(), tile.bottom())), rim));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(tile.adjusted(rim / 2, rim / 2, -rim / 2, -rim / 2), radius - rim / 2,
                      radius - rim / 2);

    const QPainterPath letter = CentredText(SerifBold(s * 0.6), "V", {s * 0.5, s * 0.56});
    const QRectF ink = letter.boundingRect();
    EmbossedText(p, letter, GoldGradient(ink.top(), ink.bottom(), true), 0.55,
                 std::max(0.6, s / 80));
    if (size >= 48) Gem(p, {s * 0.5, tile.top() + s * 0.115}, s * 0.05, s * 0.06);
    return img;
}

} // namespace

const std::vector<int>& AppIconSizes()
{
    static const std::vector<int> sizes = {16, 24, 32, 48, 64, 128, 256};
    return sizes;
}

QImage DrawAppIcon(int size)
{
    return AppIcon(size).convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

const std::vector<ImageDef>& ImageTable()
{
    static const std::vector<ImageDef> table = {
        {AppIconId, AppIconImageSize, AppIconImageSize, false},
        {1001, 663, 391, false},
        {1010, 32, 32, false},
        {1011, 41, 40, false},
        {1012, 32, 32, false},
        {1013, 277, 93, false},
        {1020, 32, 32, false},
        {1021, 41, 40, false},
        {1022, 32, 32, false},
        {1030, 20, 20, false},
        {1031, 20, 20, false},
        {1032, 20, 20, false},
        {1040, 20, 20, false},
        {1041, 20, 20, false},
        {1042, 20, 20, false},
        {1050, 20, 20, false},
        {1051, 20, 20, false},
        {1052, 20, 20, false},
        {1053, 20, 20, false},
        {1054, 20, 20, false},
        {1055, 20, 20, false},
        {1060, 20, 20, false},
        {1061, 20, 20, false},
        {1062, 20, 20, false},
        {1063, 30, 58, false},
        {1064, 30, 58, false},
        {1065, 89, 19, true},
        {1066, 106, 19, true},
        {1067, 371, 28, true},
        {1120, 143, 16, false},
        {10001, 94, 30, false},
        {10002, 400, 30, false},
        {10003, 94, 30, false},
        {10004, 4, 120, false},
        {10005, 104, 4, false},
    };
    return table;
}

std::vector<Piece> DrawAll(int scale)
{
    const DrawingScale drawingScale(scale);
    const QImage reminder = ReminderBackground();
    auto labelBackdrop = [&reminder](QPoint at, int w, int h) {
        return Part(reminder, QRect(at, QSize(w, h)));
    };
    const std::map<int, std::function<QImage()>> painters = {
        {AppIconId, [] { return AppIcon(AppIconImageSize); }},
        {1001, [] { return LoginBackground(); }},
        {1010, [] { return RoundButton(32, 32, Glyph::Close, Look::Normal); }},
        {1011, [] { return RoundButton(41, 40, Glyph::Close, Look::Normal); }},
        {1012, [] { return RoundButton(32, 32, Glyph::Close, Look::Hover); }},
        {1013, [&] { return reminder; }},
        {1020, [] { return RoundButton(32, 32, Glyph::Minimise, Look::Normal); }},
        {1021, [] { return RoundButton(41, 40, Glyph::Minimise, Look::Normal); }},
        {1022, [] { return RoundButton(32, 32, Glyph::Minimise, Look::Hover); }},
        {1030, [] { return CaptionButton(Glyph::Close, Look::Normal); }},
        {1031, [] { return CaptionButton(Glyph::Close, Look::Pressed); }},
        {1032, [] { return CaptionButton(Glyph::Close, Look::Hover); }},
        {1040, [] { return CaptionButton(Glyph::Minimise, Look::Normal); }},
        {1041, [] { return CaptionButton(Glyph::Minimise, Look::Pressed); }},
        {1042, [] { return CaptionButton(Glyph::Minimise, Look::Hover); }},
        {1050, [] { return CaptionButton(Glyph::Restore, Look::Normal); }},
        {1051, [] { return CaptionButton(Glyph::Restore, Look::Pressed); }},
        {1052, [] { return CaptionButton(Glyph::Restore, Look::Hover); }},
        {1053, [] { return CaptionButton(Glyph::Maximise, Look::Normal); }},
        {1054, [] { return CaptionButton(Glyph::Maximise, Look::Pressed); }},
        {1055, [] { return CaptionButton(Glyph::Maximise, Look::Hover); }},
        {1060, [] { return CaptionButton(Glyph::Menu, Look::Normal); }},
        {1061, [] { return CaptionButton(Glyph::Menu, Look::Pressed); }},
        {1062, [] { return CaptionButton(Glyph::Menu, Look::Hover); }},
        {1063, [] { return ReminderTab(true); }},
        {1064, [] { return ReminderTab(false); }},
        {1065,
         [&] {
             return Matte(ReminderLabel(89, 19, "STARTED", true),
                          labelBackdrop(StartedLabelAt, 89, 19));
         }},
        {1066,
         [&] {
             return Matte(ReminderLabel(106, 19, "STARTS IN", false),
                          labelBackdrop(StartsInLabelAt, 106, 19));
         }},
        {1067, [&] { return Matte(DigitStrip(), DigitBackdrop(reminder, 371)); }},
        {1120, [] { return GameTab(); }},
        {10001, [] { return CaptionLeft(); }},
        {10002, [] { return CaptionMiddle(); }},
        {10003, [] { return CaptionRight(); }},
        {10004, [] { return SideTile(); }},
        {10005, [] { return BottomTile(); }},
    };
    std::vector<Piece> pieces;
    for (const ImageDef& def : ImageTable()) {
        if (scale != 1 && def.id == AppIconId) continue; // the icon has its own sizes
        QImage image = painters.at(def.id)().convertToFormat(QImage::Format_ARGB32_Premultiplied);
        image.setDevicePixelRatio(1); // the file holds device pixels
        pieces.push_back({def, std::move(image), scale});
    }
    return pieces;
}

QByteArray Encode(const Piece& piece)
{
    if (piece.def.gif && piece.scale == 1) return EncodeGif(piece.image);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    // Straight alpha keeps soft edges exact; quality 0 asks for the strongest compression.
    piece.image.convertToFormat(QImage::Format_ARGB32).save(&buffer, "PNG", 0);
    return bytes;
}

QString FileName(const ImageDef& def, int scale)
{
    if (scale != 1) return QString("%1@%2x.png").arg(def.id).arg(scale);
    return QString::number(def.id) + (def.gif ? ".gif" : ".png");
}

QString AppIconFileName(int size)
{
    return QString("qev-%1.png").arg(size);
}

} // namespace artwork
