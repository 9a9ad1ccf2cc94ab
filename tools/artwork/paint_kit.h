#pragma once
// Shared colours and drawing helpers of the built-in artwork: night-blue and teal surfaces,
// warm gold trim, soft shadows computed per pixel, text drawn from font outlines.
#include <QColor>
#include <QFont>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRectF>
#include <QString>

namespace artwork {

namespace colour {
inline const QColor Abyss{0x05, 0x09, 0x12};
inline const QColor Night0{0x08, 0x10, 0x1F};
inline const QColor Night1{0x0D, 0x19, 0x30};
inline const QColor Night2{0x14, 0x25, 0x42};
inline const QColor Night3{0x1D, 0x34, 0x55};
inline const QColor Teal1{0x15, 0x3C, 0x4A};
inline const QColor Teal2{0x1F, 0x5E, 0x68};
inline const QColor Teal3{0x35, 0x8E, 0x8E};
inline const QColor Bronze{0x6A, 0x50, 0x26};
inline const QColor Gold1{0xA6, 0x7C, 0x38};
inline const QColor Gold2{0xD9, 0xAE, 0x5F};
inline const QColor Gold3{0xF5, 0xDC, 0x9C};
inline const QColor Cream{0xE0, 0xDE, 0xB6};
inline const QColor Ivory{0xFF, 0xF4, 0xD8};
inline const QColor Ember{0xB8, 0x46, 0x36};
inline const QColor EmberLight{0xE0, 0x6A, 0x52};
} // namespace colour

// Scale of the set being drawn: 1, or 2 for the set of high-density screens. While a
// DrawingScale lives, Canvas() makes pictures of scale times the size with that device-pixel
// ratio, so painters on them keep the 1x coordinates and draw every shape, pen and text
// outline at the finer grid.
class DrawingScale {
public:
    explicit DrawingScale(int scale);
    ~DrawingScale();
    DrawingScale(const DrawingScale&) = delete;
    DrawingScale& operator=(const DrawingScale&) = delete;
    // The scale in force (1 outside any DrawingScale).
    static int Current();

private:
    int previous_;
};

// A transparent ARGB32 premultiplied canvas of width x height in 1x pixels: the current
// scale times that in device pixels.
QImage Canvas(int width, int height);

// Antialiased painter with smooth pixmap transforms.
void Prepare(QPainter& p);

// Signed distance from point p to a rounded rectangle: negative inside, positive outside.
double RoundedRectDistance(QPointF p, const QRectF& rect, double radius);

// Paints a soft shadow or glow under a rounded rectangle: full `colour` alpha at the edge,
// fading with a smooth curve to nothing `spread` pixels outside it (1x pixels; every device
// pixel of the image is computed at its own centre). Composited over what the
// image already holds, so it is painted before the shape it belongs to.
void SoftShadow(QImage& image, const QRectF& rect, double radius, double spread,
                const QColor& colour, QPointF offset = {});

// Metallic gold: light at the top, a darker band below the middle, warm again at the bottom.
QLinearGradient GoldGradient(double top, double bottom, bool bright = false);

// Vertical two-colour gradient.
QLinearGradient Vertical(double top, double bottom, const QColor& a, const QColor& b);

// Fonts loaded from the DejaVu files of a stock Debian system.
bool LoadFonts(QString* error);
QFont SansBold(double pixelSize);
QFont Sans(double pixelSize);
QFont SerifBold(double pixelSize);

// The outline of `text` placed so that its ink box is centred on `centre` (horizontally and
// vertically), letter spacing in pixels. Drawing outlines keeps the result independent of
// the platform's hinting.
QPainterPath CentredText(const QFont& font, const QString& text, QPointF centre,
                         double letterSpacing = 0);

// A gem: a diamond with a gold rim and a teal heart, centred on `centre`.
void Gem(QPainter& p, QPointF centre, double halfWidth, double halfHeight, double alpha = 1.0);

// Thin horizontal gold line fading out at both ends.
void FadingLine(QPainter& p, double x0, double x1, double y, double alpha, double width = 1.0);

} // namespace artwork
