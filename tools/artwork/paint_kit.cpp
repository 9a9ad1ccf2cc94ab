#include "paint_kit.h"

#include <QFontDatabase>
#include <QStringList>

#include <algorithm>
#include <cmath>

namespace artwork {
namespace {

const char* const FontFolder = "/usr/share/fonts/truetype/dejavu/";
QString sansFamily, serifFamily;
int drawingScale = 1;

QFont MakeFont(const QString& family, double pixelSize, bool bold)
{
    QFont font(family);
    font.setPixelSize(std::max(1, static_cast<int>(std::lround(pixelSize))));
    font.setBold(bold);
    font.setHintingPreference(QFont::PreferNoHinting);
    font.setStyleStrategy(QFont::PreferAntialias);
    return font;
}

} // namespace

DrawingScale::DrawingScale(int scale) : previous_(drawingScale)
{
    drawingScale = scale;
}

DrawingScale::~DrawingScale()
{
    drawingScale = previous_;
}

int DrawingScale::Current()
{
    return drawingScale;
}

QImage Canvas(int width, int height)
{
    QImage image(width * drawingScale, height * drawingScale, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(drawingScale);
    image.fill(Qt::transparent);
    return image;
}

void Prepare(QPainter& p)
{
    p.setRenderHint(QPainter::Antialiasing, true);
    p.setRenderHint(QPainter::SmoothPixmapTransform, true);
}

double RoundedRectDistance(QPointF p, const QRectF& rect, double radius)
{
    const double px = p.x() - rect.center().x();
    const double py = p.y() - rect.center().y();
    const double qx = std::abs(px) - rect.width() / 2 + radius;
    const double qy = std::abs(py) - rect.height() / 2 + radius;
    const double outside = std::hypot(std::max(qx, 0.0), std::max(qy, 0.0));
    return outside + std::min(std::max(qx, qy), 0.0) - radius;
}

void SoftShadow(QImage& image, const QRectF& rect, double radius, double spread,
                const QColor& colour, QPointF offset)
{
    const QRectF shape = rect.translated(offset);
    const double scale = image.devicePixelRatio();
    for (int y = 0; y < image.height(); ++y) {
        auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            const QPointF centre((x + 0.5) / scale, (y + 0.5) / scale);
            const double d = RoundedRectDistance(centre, shape, radius);
            double t = d <= 0 ? 1.0 : std::clamp(1.0 - d / spread, 0.0, 1.0);
            t = t * t * (3 - 2 * t);
            const double a = colour.alphaF() * t;
            if (a <= 0) continue;
            // Source-over in premultiplied space.
            const QRgb dst = row[x];
            const double keep = 1.0 - a;
            auto mix = [&](int src, int d8) {
                return static_cast<int>(std::lround(src * a + d8 * keep));
            };
            row[x] = qRgba(mix(colour.red(), qRed(dst)), mix(colour.green(), qGreen(dst)),
                           mix(colour.blue(), qBlue(dst)),
                           static_cast<int>(std::lround(255 * a + qAlpha(dst) * keep)));
        }
    }
}

QLinearGradient GoldGradient(double top, double bottom, bool bright)
{
    QLinearGradient g(0, top, 0, bottom);
    g.setColorAt(0.0, bright ? colour::Ivory : colour::Gold3);
    g.setColorAt(0.45, bright ? colour::Gold3 : colour::Gold2);
    g.setColorAt(0.6, colour::Gold1);
    g.setColorAt(1.0, bright ? colour::Gold3 : colour::Gold2);
    return g;
}

QLinearGradient Vertical(double top, double bottom, const QColor& a, const QColor& b)
{
    QLinearGradient g(0, top, 0, bottom);
    g.setColorAt(0, a);
    g.setColorAt(1, b);
    return g;
}

bool LoadFonts(QString* error)
{
    const QStringList files = {"DejaVuSans.ttf", "DejaVuSans-Bold.ttf", "DejaVuSerif-Bold.ttf"};
    for (const QString& name : files) {
        const int id = QFontDatabase::addApplicationFont(QString(FontFolder) + name);
        const QStringList families = QFontDatabase::applicationFontFamilies(id);
        if (id < 0 || families.isEmpty()) {
            if (error) *error = QString("cannot load font %1%2").arg(FontFolder, name);
            return false;
        }
        (name.startsWith("DejaVuSerif") ? serifFamily : sansFamily) = families.front();
    }
    return true;
}

QFont SansBold(double pixelSize)
{
    return MakeFont(sansFamily, pixelSize, true);
}
QFont Sans(double pixelSize)
{
    return MakeFont(sansFamily, pixelSize, false);
}
QFont SerifBold(double pixelSize)
{
    return MakeFont(serifFamily, pixelSize, true);
}

QPainterPath CentredText(const QFont& font, const QString& text, QPointF centre,
                         double letterSpacing)
{
    QFont f = font;
    if (letterSpacing != 0) f.setLetterSpacing(QFont::AbsoluteSpacing, letterSpacing);
    QPainterPath path;
    path.addText(0, 0, f, text);
    return path.translated(centre - path.boundingRect().center());
}

void Gem(QPainter& p, QPointF c, double hw, double hh, double alpha)
{
    p.save();
    p.setOpacity(alpha);
    QPainterPath outer;
    outer.moveTo(c.x(), c.y() - hh);
    outer.lineTo(c.x() + hw, c.y());
    outer.lineTo(c.x(), c.y() + hh);
    outer.lineTo(c.x() - hw, c.y());
    outer.closeSubpath();
    p.fillPath(outer, GoldGradient(c.y() - hh, c.y() + hh));
    const double iw = hw * 0.55, ih = hh * 0.55;
    QPainterPath inner;
    inner.moveTo(c.x(), c.y() - ih);
    inner.lineTo(c.x() + iw, c.y());
    inner.lineTo(c.x(), c.y() + ih);
    inner.lineTo(c.x() - iw, c.y());
    inner.closeSubpath();
    QLinearGradient heart(c.x() - iw, c.y() - ih, c.x() + iw, c.y() + ih);
    heart.setColorAt(0, QColor(0x9F, 0xE8, 0xE0));
    heart.setColorAt(0.5, colour::Teal3);
    heart.setColorAt(1, colour::Teal1);
    p.fillPath(inner, heart);
    p.restore();
}

void FadingLine(QPainter& p, double x0, double x1, double y, double alpha, double width)
{
    QLinearGradient g(x0, 0, x1, 0);
    QColor edge = colour::Gold2;
    edge.setAlphaF(0);
    QColor mid = colour::Gold2;
    mid.setAlphaF(static_cast<float>(alpha));
    g.setColorAt(0, edge);
    g.setColorAt(0.5, mid);
    g.setColorAt(1, edge);
    p.fillRect(QRectF(x0, y - width / 2, x1 - x0, width), g);
}

} // namespace artwork
