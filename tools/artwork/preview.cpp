#include "preview.h"

#include "paint_kit.h"

#include <QDir>
#include <QPainter>

#include <map>

namespace artwork {
namespace {

using Images = std::map<int, QImage>;

void Checkerboard(QPainter& p, const QRect& area, int cell = 8)
{
    for (int y = area.top(); y <= area.bottom(); y += cell)
        for (int x = area.left(); x <= area.right(); x += cell) {
            const bool dark = ((x - area.left()) / cell + (y - area.top()) / cell) % 2 != 0;
            p.fillRect(QRect(x, y, cell, cell).intersected(area),
                       dark ? QColor(0x9A, 0x9A, 0x9A) : QColor(0xD0, 0xD0, 0xD0));
        }
}

QImage Scaled(const QImage& image, int factor)
{
    return image.scaled(image.size() * factor, Qt::IgnoreAspectRatio, Qt::FastTransformation);
}

QImage ContactSheet(const std::vector<Piece>& pieces)
{
    constexpr int width = 1500, gap = 14, label = 16;
    struct Placed {
        QPoint at;
        const Piece* piece;
        int factor;
    };
    std::vector<Placed> placed;
    int x = gap, y = gap, rowHeight = 0;
    for (const Piece& piece : pieces) {
        const int factor = piece.image.width() >= 200 ? 1 : 3;
        const QSize size = piece.image.size() * factor;
        if (x + size.width() + gap > width) {
            x = gap;
            y += rowHeight + label + gap;
            rowHeight = 0;
        }
        placed.push_back({QPoint(x, y), &piece, factor});
        x += std::max(size.width(), 60) + gap;
        rowHeight = std::max(rowHeight, size.height());
    }
    QImage sheet(width, y + rowHeight + label + gap, QImage::Format_ARGB32_Premultiplied);
    sheet.fill(QColor(0x30, 0x30, 0x30));
    QPainter p(&sheet);
    p.setFont(Sans(11));
    for (const Placed& item : placed) {
        const QImage img = Scaled(item.piece->image, item.factor);
        Checkerboard(p, QRect(item.at, img.size()), 6 * item.factor);
        p.drawImage(item.at, img);
        p.setPen(Qt::white);
        p.drawText(item.at + QPoint(0, img.height() + 12),
                   QString("%1 (%2x)").arg(item.piece->def.id).arg(item.factor));
    }
    return sheet;
}

QImage LoginMock(const Images& img)
{
    const QImage& back = img.at(1001);
    QImage out(2 * back.width() + 60, back.height() + 40 + 3 * 70,
               QImage::Format_ARGB32_Premultiplied);
    QPainter p(&out);
    QLinearGradient desk(0, 0, out.width(), out.height());
    desk.setColorAt(0, QColor(0x5A, 0x6E, 0x88));
    desk.setColorAt(1, QColor(0xC8, 0xB8, 0x9A));
    p.fillRect(out.rect(), desk);
    for (int i = 0; i < 2; ++i) {
        const QPoint o(20 + i * (back.width() + 20), 20);
        p.drawImage(o, back);
        if (i == 1) {
            // A stand-in page, and the buttons in their hover look.
            p.fillRect(QRect(o + QPoint(20, 50), QSize(625, 319)), QColor(0xF2, 0xEE, 0xE2));
            p.setPen(QColor(0x40, 0x40, 0x40));
            p.drawText(QRect(o + QPoint(20, 50), QSize(625, 319)), Qt::AlignCenter, "login page");
        }
        p.drawImage(o + QPoint(575, 14), img.at(i == 0 ? 1020 : 1022));
        p.drawImage(o + QPoint(615, 15), img.at(i == 0 ? 1010 : 1012));
    }
    // Zoomed: the top-left corner with the emblem, the window buttons, the bottom-left corner.
    const int zy = back.height() + 50;
    p.drawImage(20, zy, Scaled(out.copy(20 - 10, 20 - 10, 200, 65), 3));
    p.drawImage(640, zy, Scaled(out.copy(20 + 540, 20 - 10, 130, 65), 3));
    p.drawImage(1060, zy, Scaled(out.copy(20 - 10, 20 + 340, 100, 60), 3));
    return out;
}

// The frame as the main window paints it: borders, caption pieces, the buttons placed from
// the right edge, the game tab and the title.
QImage FrameMock(const Images& img, int w, int h, bool maximised, int hoverAction)
{
    QImage out(w, h, QImage::Format_ARGB32_Premultiplied);
    out.fill(QColor(0x22, 0x22, 0x22));
    QPainter p(&out);
    const QImage& side = img.at(10004);
    for (int y = 0; y < h; y += side.height()) {
        p.drawImage(0, y, side);
        p.drawImage(w - side.width(), y, side);
    }
    const QImage& bottom = img.at(10005);
    for (int x = 0; x < w; x += bottom.width()) p.drawImage(x, h - bottom.height(), bottom);
    p.drawImage(0, 0, img.at(10001));
    for (int x = img.at(10001).width(); x < w; x += img.at(10002).width())
        p.drawImage(x, 0, img.at(10002));
    p.drawImage(w - img.at(10003).width(), 0, img.at(10003));
    struct Button {
        int x, action, normal, hover;
    };
    const Button buttons[] = {{64, 1001, 1040, 1042},
                              {24, 1002, 1030, 1032},
                              {44, 1003, 1053, 1055},
                              {84, 107, 1060, 1062}};
    for (const Button& b : buttons) {
        int id = b.action == hoverAction ? b.hover : b.normal;
        if (b.action == 1003 && maximised) id -= 3;
        p.drawImage(w - b.x, 5, img.at(id));
    }
    const QImage& tab = img.at(1120);
    p.drawImage(4, 7, tab);
    QFont font("Verdana");
    font.setPixelSize(12);
    p.setFont(font);
    p.setPen(QColor(0xE0, 0xDE, 0xB6));
    p.drawText(QRect(4 + tab.width(), 8, 500, tab.height()), Qt::AlignLeft | Qt::AlignBottom,
               " Velmora");
    p.fillRect(QRect(4, 30, w - 8, h - 34), QColor(0x2A, 0x3A, 0x2A));
    return out;
}

QImage CaptionMock(const Images& img)
{
    const QImage normal = FrameMock(img, 1000, 110, false, 0);
    const QImage hover = FrameMock(img, 1000, 110, true, 1002);
    QImage out(1000, 2 * 110 + 10 + 3 * 40 * 2 + 20, QImage::Format_ARGB32_Premultiplied);
    out.fill(QColor(0x40, 0x40, 0x40));
    QPainter p(&out);
    p.drawImage(0, 0, normal);
    p.drawImage(0, 120, hover);
    // Zoomed corners: the left with the tab and title, the right with the buttons.
    p.drawImage(0, 240, Scaled(normal.copy(0, 0, 250, 40), 2));
    p.drawImage(520, 240, Scaled(normal.copy(1000 - 150, 0, 150, 40), 3));
    p.drawImage(520, 370, Scaled(hover.copy(1000 - 150, 0, 150, 40), 3));
    p.drawImage(0, 330, Scaled(normal.copy(0, 70, 60, 40), 3));
    return out;
}

QImage ReminderState(const Images& img, bool running, bool collapsed)
{
    QImage out(300, 100, QImage::Format_ARGB32_Premultiplied);
    QLinearGradient desk(0, 0, 300, 100);
    desk.setColorAt(0, QColor(0x4A, 0x5E, 0x78));
    desk.setColorAt(1, QColor(0xB8, 0xA8, 0x8A));
    QPainter p(&out);
    p.fillRect(out.rect(), desk);
    const QPoint o(collapsed ? 300 - 30 : 8, 4);
    p.setClipRect(out.rect());
    p.drawImage(o, img.at(1013));
    p.fillRect(QRect(o + QPoint(38, 13), QSize(64, 64)), QColor(0x7A, 0x50, 0x30));
    p.drawImage(o + QPoint(244, 0), img.at(1010));
    p.drawImage(o + QPoint(1, 18), img.at(collapsed ? 1064 : 1063));
    if (running)
        p.drawImage(o + QPoint(140, 20), img.at(1065));
    else
        p.drawImage(o + QPoint(120, 20), img.at(1066));
    const QImage& strip = img.at(1067);
    const int digits[] = {running ? 0 : 1, 0, -1, running ? 3 : 0, 0};
    const int xs[] = {121, 147, 173, 196, 222};
    for (int i = 0; i < 5; ++i) {
        const int sx = digits[i] < 0 ? 350 : 35 * digits[i];
        const int sw = digits[i] < 0 ? 21 : 35;
        p.drawImage(o + QPoint(xs[i], 50), strip, QRect(sx, 0, sw, 28));
    }
    return out;
}

QImage ReminderMock(const Images& img)
{
    QImage out(600, 3 * 200, QImage::Format_ARGB32_Premultiplied);
    QPainter p(&out);
    p.drawImage(0, 0, Scaled(ReminderState(img, false, false), 2));
    p.drawImage(0, 200, Scaled(ReminderState(img, true, false), 2));
    p.drawImage(0, 400, Scaled(ReminderState(img, false, true), 2));
    return out;
}

} // namespace

bool WritePreviews(const std::vector<Piece>& pieces, const QString& folder)
{
    Images images;
    for (const Piece& piece : pieces) images[piece.def.id] = piece.image;
    QDir().mkpath(folder);
    const QDir dir(folder);
    return ContactSheet(pieces).save(dir.filePath("contact_sheet.png")) &&
           LoginMock(images).save(dir.filePath("login_mock.png")) &&
           CaptionMock(images).save(dir.filePath("caption_mock.png")) &&
           ReminderMock(images).save(dir.filePath("reminder_mock.png"));
}

} // namespace artwork
