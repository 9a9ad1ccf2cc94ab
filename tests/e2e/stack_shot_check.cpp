// Finds the login stack in a screenshot of the whole screen and checks that its layers line
// up: the background artwork around the pane, the page's own border on the pane's edges, and
// the button images at their places. Compares with a tolerance (compositors and renderers
// differ by a few levels per channel).
//
// stack_shot_check SHOT BACKGROUND PANE BORDER [--button X,Y,IMAGE]... [--crop OUT]
//   PANE   x,y,w,h of the web pane in the stack; BORDER the page's border colour (#rrggbb)
// Prints where the stack was found and what matched; exit 0 when everything lines up.
#include <QColor>
#include <QImage>
#include <QRect>
#include <QString>
#include <QStringList>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <vector>

namespace {

// Largest difference per channel that still counts as the same pixel.
constexpr int ChannelTolerance = 28;
// Share of compared pixels that must match.
constexpr double BackgroundShare = 0.97;
constexpr double BorderShare = 0.90;
constexpr double ButtonShare = 0.95;
// The page's border has rounded corners: leave this much of each edge's ends out.
constexpr int CornerSkip = 8;
// Pixels sampled per candidate position while searching for the stack.
constexpr int SearchSamples = 400;

struct Button {
    QPoint at;
    QImage image;
};

int Difference(QRgb a, QRgb b)
{
    return std::max({std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)),
                     std::abs(qBlue(a) - qBlue(b))});
}

bool Same(QRgb a, QRgb b)
{
    return Difference(a, b) <= ChannelTolerance;
}

// Pixels of the background that are fully opaque (so the screen shows them as they are)
// and not under the pane or a button.
std::vector<QPoint> ComparablePixels(const QImage& background, const QRect& pane,
                                     const std::vector<Button>& buttons)
{
    std::vector<QPoint> points;
    for (int y = 0; y < background.height(); ++y)
        for (int x = 0; x < background.width(); ++x) {
            const QPoint p(x, y);
            if (qAlpha(background.pixel(p)) != 255 || pane.contains(p)) continue;
            bool underButton = false;
            for (const Button& b : buttons)
                underButton = underButton || QRect(b.at, b.image.size()).contains(p);
            if (!underButton) points.push_back(p);
        }
    return points;
}

double MatchShare(const QImage& shot, const QImage& background, QPoint offset,
                  const std::vector<QPoint>& points)
{
    if (points.empty()) return 0;
    int same = 0;
    for (const QPoint& p : points) same += Same(shot.pixel(offset + p), background.pixel(p));
    return double(same) / double(points.size());
}

// The offset where the background's sampled pixels differ least from the screen.
QPoint Locate(const QImage& shot, const QImage& background, const std::vector<QPoint>& points)
{
    std::vector<QPoint> samples;
    const size_t step = std::max<size_t>(1, points.size() / SearchSamples);
    for (size_t i = 0; i < points.size(); i += step) samples.push_back(points[i]);
    QPoint best(-1, -1);
    long bestCost = std::numeric_limits<long>::max();
    for (int oy = 0; oy + background.height() <= shot.height(); ++oy)
        for (int ox = 0; ox + background.width() <= shot.width(); ++ox) {
            long cost = 0;
            for (const QPoint& p : samples) {
                cost += Difference(shot.pixel(ox + p.x(), oy + p.y()), background.pixel(p));
                if (cost >= bestCost) break;
            }
            if (cost < bestCost) {
                bestCost = cost;
                best = QPoint(ox, oy);
            }
        }
    return best;
}

// Share of the pane's edge pixels (corners left out) that show the border colour.
double BorderMatch(const QImage& shot, QPoint offset, const QRect& pane, QRgb border)
{
    std::vector<QPoint> edge;
    for (int x = pane.left() + CornerSkip; x <= pane.right() - CornerSkip; ++x) {
        edge.emplace_back(x, pane.top());
        edge.emplace_back(x, pane.bottom());
    }
    for (int y = pane.top() + CornerSkip; y <= pane.bottom() - CornerSkip; ++y) {
        edge.emplace_back(pane.left(), y);
        edge.emplace_back(pane.right(), y);
    }
    int same = 0;
    for (const QPoint& p : edge) same += Same(shot.pixel(offset + p), border);
    return edge.empty() ? 0 : double(same) / double(edge.size());
}

double ButtonMatch(const QImage& shot, QPoint offset, const Button& button)
{
    int compared = 0, same = 0;
    for (int y = 0; y < button.image.height(); ++y)
        for (int x = 0; x < button.image.width(); ++x) {
            const QRgb pixel = button.image.pixel(x, y);
            if (qAlpha(pixel) != 255) continue;
            ++compared;
            same += Same(shot.pixel(offset + button.at + QPoint(x, y)), pixel);
        }
    return compared ? double(same) / double(compared) : 0;
}

int Usage()
{
    std::fprintf(stderr, "usage: stack_shot_check SHOT BACKGROUND x,y,w,h #rrggbb "
                         "[--button X,Y,IMAGE]... [--crop OUT]\n");
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 5) return Usage();
    const QImage shot =
        QImage(QString::fromLocal8Bit(argv[1])).convertToFormat(QImage::Format_ARGB32);
    const QImage background =
        QImage(QString::fromLocal8Bit(argv[2])).convertToFormat(QImage::Format_ARGB32);
    const QStringList paneParts = QString::fromLocal8Bit(argv[3]).split(',');
    const QColor border(QString::fromLocal8Bit(argv[4]));
    if (shot.isNull() || background.isNull() || paneParts.size() != 4 || !border.isValid())
        return Usage();
    const QRect pane(paneParts[0].toInt(), paneParts[1].toInt(), paneParts[2].toInt(),
                     paneParts[3].toInt());
    std::vector<Button> buttons;
    QString cropPath;
    for (int i = 5; i + 1 < argc; i += 2) {
        const QString option = QString::fromLocal8Bit(argv[i]);
        const QString value = QString::fromLocal8Bit(argv[i + 1]);
        if (option == "--crop") {
            cropPath = value;
        } else if (option == "--button") {
            const QStringList parts = value.split(',');
            if (parts.size() != 3) return Usage();
            Button b{QPoint(parts[0].toInt(), parts[1].toInt()),
                     QImage(parts[2]).convertToFormat(QImage::Format_ARGB32)};
            if (b.image.isNull()) return Usage();
            buttons.push_back(std::move(b));
        } else {
            return Usage();
        }
    }

    const std::vector<QPoint> points = ComparablePixels(background, pane, buttons);
    const QPoint offset = Locate(shot, background, points);
    if (offset.x() < 0) {
        std::printf("stack: the screenshot is smaller than the stack\n");
        return 1;
    }
    if (!cropPath.isEmpty()) shot.copy(QRect(offset, background.size())).save(cropPath);

    bool ok = true;
    const double backgroundShare = MatchShare(shot, background, offset, points);
    ok = ok && backgroundShare >= BackgroundShare;
    std::printf("stack at %d,%d: background %.3f of %zu pixels\n", offset.x(), offset.y(),
                backgroundShare, points.size());
    const double borderShare = BorderMatch(shot, offset, pane, border.rgb());
    ok = ok && borderShare >= BorderShare;
    std::printf("page border on the pane's edges: %.3f\n", borderShare);
    for (const Button& b : buttons) {
        const double share = ButtonMatch(shot, offset, b);
        ok = ok && share >= ButtonShare;
        std::printf("button at %d,%d: %.3f\n", b.at.x(), b.at.y(), share);
    }
    std::printf("%s\n", ok ? "aligned" : "NOT aligned");
    return ok ? 0 : 1;
}
