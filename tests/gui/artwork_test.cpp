// The built-in images: every id the windows use is compiled in, decodes, and has the size the
// layouts assume; the committed files are what the generator draws; the GIF writer
// produces files that decoders read back; and the pieces that are tiled or overlapped by the
// windows fit together.
#include "core/base/resources.h"
#include "gif_writer.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

namespace {

struct Expected {
    int id, width, height;
    bool gif;
};

// Ids, sizes and formats the layouts and the frame rely on.
const Expected BuiltIn[] = {
    {128, 256, 256, false}, {1001, 663, 391, false}, {1010, 32, 32, false},
    {1011, 41, 40, false},  {1012, 32, 32, false},   {1013, 277, 93, false},
    {1020, 32, 32, false},  {1021, 41, 40, false},   {1022, 32, 32, false},
    {1030, 20, 20, false},  {1031, 20, 20, false},   {1032, 20, 20, false},
    {1040, 20, 20, false},  {1041, 20, 20, false},   {1042, 20, 20, false},
    {1050, 20, 20, false},  {1051, 20, 20, false},   {1052, 20, 20, false},
    {1053, 20, 20, false},  {1054, 20, 20, false},   {1055, 20, 20, false},
    {1060, 20, 20, false},  {1061, 20, 20, false},   {1062, 20, 20, false},
    {1063, 30, 58, false},  {1064, 30, 58, false},   {1065, 89, 19, true},
    {1066, 106, 19, true},  {1067, 371, 28, true},   {1120, 143, 16, false},
    {10001, 94, 30, false}, {10002, 400, 30, false}, {10003, 94, 30, false},
    {10004, 4, 120, false}, {10005, 104, 4, false},
};

// The application icon has its own sizes (res/icons); every other image has a 2x picture.
constexpr int AppIconId = 128;

QImage Resource(int id, const char* type = "PNG")
{
    const auto bytes = qev::FindResource(type, id);
    if (!bytes) return {};
    return QImage::fromData(QByteArrayView(bytes->data(), static_cast<qsizetype>(bytes->size())))
        .convertToFormat(QImage::Format_ARGB32);
}

QString SourceImages()
{
    return QString(QEV_SOURCE_DIR) + "/res/images";
}

TEST(BuiltInImages, EveryIdIsCompiledInWithItsSizeAndFormat)
{
    for (const Expected& e : BuiltIn) {
        SCOPED_TRACE(e.id);
        const auto bytes = qev::FindResource("PNG", e.id);
        ASSERT_TRUE(bytes.has_value());
        if (e.gif)
            EXPECT_EQ(bytes->substr(0, 6), "GIF89a");
        else
            EXPECT_EQ(bytes->substr(0, 8), std::string_view("\x89PNG\r\n\x1a\n", 8));
        const QImage image = Resource(e.id);
        ASSERT_FALSE(image.isNull());
        EXPECT_EQ(image.width(), e.width);
        EXPECT_EQ(image.height(), e.height);
    }
}

// The 2x set: the same ids, each exactly twice the size, always PNG, and drawn from the same
// shapes (averaged down to 1x it is the 1x picture, within what antialiasing and the GIF
// matte's hard edges leave).
TEST(BuiltInImages, EveryImageButTheIconHasA2xPictureOfTheSameShapes)
{
    QStringList expectedFiles;
    for (const Expected& e : BuiltIn) {
        SCOPED_TRACE(e.id);
        const auto bytes = qev::FindResource("PNG2X", e.id);
        if (e.id == AppIconId) {
            EXPECT_FALSE(bytes.has_value());
            continue;
        }
        expectedFiles << QString("%1@2x.png").arg(e.id);
        ASSERT_TRUE(bytes.has_value());
        EXPECT_EQ(bytes->substr(0, 8), std::string_view("\x89PNG\r\n\x1a\n", 8));
        const QImage fine = Resource(e.id, "PNG2X"), coarse = Resource(e.id);
        ASSERT_EQ(fine.size(), 2 * coarse.size());
        const QImage down =
            fine.convertToFormat(QImage::Format_ARGB32_Premultiplied)
                .scaled(coarse.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                .convertToFormat(QImage::Format_ARGB32);
        const QImage base = coarse.convertToFormat(QImage::Format_ARGB32_Premultiplied)
                                .convertToFormat(QImage::Format_ARGB32);
        // Antialiasing moves edge pixels by a little; a shape drawn elsewhere or in another
        // colour moves them by much.
        int far = 0;
        for (int y = 0; y < base.height(); ++y)
            for (int x = 0; x < base.width(); ++x) {
                const QRgb a = down.pixel(x, y), b = base.pixel(x, y);
                far +=
                    std::max({std::abs(qAlpha(a) - qAlpha(b)), std::abs(qRed(a) - qRed(b)),
                              std::abs(qGreen(a) - qGreen(b)), std::abs(qBlue(a) - qBlue(b))}) > 48;
            }
        EXPECT_LE(far, base.width() * base.height() / (e.gif ? 12 : 32)) << "not the same shapes";
    }
    QStringList committed = QDir(SourceImages()).entryList({"*@2x.*"}, QDir::Files);
    expectedFiles.sort();
    committed.sort();
    EXPECT_EQ(committed, expectedFiles);
}

// Antialiased edges and text are not bit-identical across processors (seen: a few pixels one
// step apart). A real change to a picture moves pixels by more than this, or many more of them.
constexpr int ChannelTolerance = 2;
constexpr double DifferingShare = 0.005;
constexpr int DifferingFloor = 24; // small pieces: a few edge pixels are still noise

// Empty when the two encoded pictures decode to the same size and pixels within the
// tolerance; otherwise what differs.
std::string PictureDifference(const QByteArray& drawnBytes, const QByteArray& committedBytes)
{
    const QImage drawn =
        QImage::fromData(drawnBytes).convertToFormat(QImage::Format_ARGB32_Premultiplied);
    const QImage committed =
        QImage::fromData(committedBytes).convertToFormat(QImage::Format_ARGB32_Premultiplied);
    if (drawn.isNull() || committed.isNull()) return "does not decode";
    if (drawn.size() != committed.size()) return "size differs";
    int differing = 0, worst = 0;
    for (int y = 0; y < drawn.height(); ++y) {
        const auto* a = reinterpret_cast<const QRgb*>(drawn.constScanLine(y));
        const auto* b = reinterpret_cast<const QRgb*>(committed.constScanLine(y));
        for (int x = 0; x < drawn.width(); ++x) {
            const int d = std::max(
                {std::abs(qAlpha(a[x]) - qAlpha(b[x])), std::abs(qRed(a[x]) - qRed(b[x])),
                 std::abs(qGreen(a[x]) - qGreen(b[x])), std::abs(qBlue(a[x]) - qBlue(b[x]))});
            differing += d > 0;
            worst = std::max(worst, d);
        }
    }
    const int allowed =
        std::max(DifferingFloor, static_cast<int>(DifferingShare * drawn.width() * drawn.height()));
    if (worst <= ChannelTolerance && differing <= allowed) return {};
    return std::to_string(differing) + " pixels differ, by up to " + std::to_string(worst);
}

// Files are exactly the expected set, in the expected formats; the pictures in them are what
// the generator draws, within the tolerance above.
void ExpectSamePictures(const QString& drawnDir, const QString& committedDir,
                        const QStringList& filters)
{
    const QStringList drawn = QDir(drawnDir).entryList(filters, QDir::Files, QDir::Name);
    const QStringList committed = QDir(committedDir).entryList(filters, QDir::Files, QDir::Name);
    EXPECT_EQ(drawn, committed);
    for (const QString& name : drawn) {
        QFile a(QDir(drawnDir).filePath(name)), b(QDir(committedDir).filePath(name));
        ASSERT_TRUE(a.open(QIODevice::ReadOnly) && b.open(QIODevice::ReadOnly))
            << name.toStdString();
        const QByteArray drawnBytes = a.readAll(), committedBytes = b.readAll();
        EXPECT_EQ(drawnBytes.left(6), committedBytes.left(6)) << name.toStdString() << " format";
        const std::string difference = PictureDifference(drawnBytes, committedBytes);
        EXPECT_TRUE(difference.empty())
            << name.toStdString() << " differs from a fresh draw: " << difference;
    }
}

TEST(BuiltInImages, CommittedFilesAreWhatTheGeneratorDraws)
{
    QTemporaryDir out;
    ASSERT_TRUE(out.isValid());
    const QString images = out.filePath("images"), icons = out.filePath("icons");
    QProcess generator;
    generator.start(QString(QEV_BINARY_DIR) + "/bin/qev-artwork", {"--icons", icons, images});
    ASSERT_TRUE(generator.waitForFinished(60000));
    ASSERT_EQ(generator.exitStatus(), QProcess::NormalExit);
    ASSERT_EQ(generator.exitCode(), 0) << generator.readAllStandardError().toStdString();

    EXPECT_EQ(QDir(images).entryList({"*.png", "*.gif"}, QDir::Files).size(),
              static_cast<qsizetype>(2 * std::size(BuiltIn) - 1)); // no 2x icon
    ExpectSamePictures(images, SourceImages(), {"*.png", "*.gif"});
    ExpectSamePictures(icons, QString(QEV_SOURCE_DIR) + "/res/icons", {"*.png"});
}

// The tolerance itself: noise passes, a real change does not.
TEST(BuiltInImages, PictureComparisonToleratesNoiseOnly)
{
    QImage base(40, 40, QImage::Format_ARGB32);
    base.fill(qRgba(40, 80, 120, 255));
    auto encode = [](const QImage& image) {
        QByteArray bytes;
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        image.save(&buffer, "PNG");
        return bytes;
    };
    QImage noise = base;
    for (int i = 0; i < 8; ++i) noise.setPixel(i * 3, i, qRgba(41, 79, 121, 255));
    EXPECT_EQ(PictureDifference(encode(noise), encode(base)), "");
    QImage shifted = base;
    shifted.setPixel(5, 5, qRgba(40, 80, 124, 255)); // one pixel, but clearly changed
    EXPECT_NE(PictureDifference(encode(shifted), encode(base)), "");
    QImage many = base;
    for (int x = 0; x < 40; ++x) many.setPixel(x, 7, qRgba(41, 80, 120, 255)); // a whole row
    EXPECT_NE(PictureDifference(encode(many), encode(base)), "");
    EXPECT_NE(PictureDifference(encode(base.copy(0, 0, 40, 39)), encode(base)), "");
}

// --- the GIF writer -------------------------------------------------------------------------

struct GifCase {
    const char* name;
    int width, height;
    int colours;        // distinct opaque colours to use (0: all transparent)
    int transparentPct; // share of transparent pixels
};

QImage MakeImage(const GifCase& c, quint32 seed)
{
    QRandomGenerator rng(seed);
    std::vector<QRgb> palette;
    for (int i = 0; i < c.colours; ++i) palette.push_back(0xFF000000u | rng.generate());
    QImage image(c.width, c.height, QImage::Format_ARGB32);
    for (int y = 0; y < c.height; ++y)
        for (int x = 0; x < c.width; ++x) {
            const bool clear =
                c.colours == 0 || static_cast<int>(rng.bounded(100)) < c.transparentPct;
            image.setPixel(x, y,
                           clear ? 0u : palette[rng.bounded(static_cast<quint32>(c.colours))]);
        }
    return image;
}

// Exact round trip whenever the image has at most 255 colours: every size of code table,
// the table-full reset (noise fills 4096 codes quickly) and the transparent index.
TEST(GifWriter, DecodesBackToTheSamePixels)
{
    const GifCase cases[] = {
        {"single opaque pixel", 1, 1, 1, 0},
        {"single transparent pixel", 1, 1, 0, 100},
        {"all transparent", 7, 3, 0, 100},
        {"two colours", 33, 5, 2, 0},
        {"two colours and transparency", 40, 9, 2, 30},
        {"four colours", 64, 64, 4, 10},
        {"sixteen colours, long rows", 1000, 3, 16, 50},
        {"255 colours noise", 300, 200, 255, 0},
        {"254 colours noise with holes", 257, 131, 254, 25},
    };
    quint32 seed = 7;
    for (const GifCase& c : cases) {
        SCOPED_TRACE(c.name);
        const QImage image = MakeImage(c, seed++);
        const QByteArray gif = artwork::EncodeGif(image);
        ASSERT_TRUE(gif.startsWith("GIF89a"));
        ASSERT_TRUE(gif.endsWith(';'));
        const QImage back = QImage::fromData(gif, "GIF").convertToFormat(QImage::Format_ARGB32);
        ASSERT_EQ(back.size(), image.size());
        int wrong = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x) {
                const QRgb a = image.pixel(x, y), b = back.pixel(x, y);
                if (qAlpha(a) == 0 ? qAlpha(b) != 0 : a != b) ++wrong;
            }
        EXPECT_EQ(wrong, 0);
        EXPECT_EQ(artwork::EncodeGif(image), gif) << "not deterministic";
    }
}

// More colours than a GIF holds: reduced to a palette that stays close to the original.
TEST(GifWriter, ReducesManyColoursToANearPalette)
{
    QImage image(256, 64, QImage::Format_ARGB32);
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 256; ++x) image.setPixel(x, y, qRgb(x, y * 4, 255 - x));
    image.setPixel(0, 0, 0u);
    const QImage back =
        QImage::fromData(artwork::EncodeGif(image), "GIF").convertToFormat(QImage::Format_ARGB32);
    ASSERT_EQ(back.size(), image.size());
    EXPECT_EQ(qAlpha(back.pixel(0, 0)), 0);
    int worst = 0;
    for (int y = 0; y < 64; ++y)
        for (int x = (y == 0 ? 1 : 0); x < 256; ++x) {
            const QRgb a = image.pixel(x, y), b = back.pixel(x, y);
            ASSERT_EQ(qAlpha(b), 255);
            worst = std::max({worst, std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)),
                              std::abs(qBlue(a) - qBlue(b))});
        }
    EXPECT_LE(worst, 24);
}

TEST(GifWriter, NullImageGivesNothing)
{
    EXPECT_TRUE(artwork::EncodeGif(QImage()).isEmpty());
}

// An independent decoder agrees (when ImageMagick is installed).
TEST(GifWriter, ImageMagickReadsTheFiles)
{
    const QString identify = QStandardPaths::findExecutable("identify");
    if (identify.isEmpty()) GTEST_SKIP() << "identify not installed";
    QTemporaryDir dir;
    const QString path = dir.filePath("noise.gif");
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(artwork::EncodeGif(MakeImage({"noise", 211, 97, 200, 20}, 99)));
    file.close();
    for (const QString& f : {path, SourceImages() + "/1067.gif", SourceImages() + "/1065.gif"}) {
        QProcess run;
        run.start(identify, {"-regard-warnings", "-format", "%m %w %h %A\n", f});
        ASSERT_TRUE(run.waitForFinished(30000));
        EXPECT_EQ(run.exitCode(), 0) << run.readAllStandardError().toStdString();
        const QString out = QString::fromUtf8(run.readAllStandardOutput()).trimmed();
        EXPECT_TRUE(out.startsWith("GIF ")) << out.toStdString();
        // ImageMagick 6 says "True" for an image with transparency, 7 says "Blend".
        EXPECT_TRUE(out.endsWith("True") || out.endsWith("Blend"))
            << "no transparency: " << out.toStdString();
    }
}

// --- how the windows use the pieces ---------------------------------------------------------

int MaxChannelDifference(QRgb a, QRgb b)
{
    return std::max({std::abs(qAlpha(a) - qAlpha(b)), std::abs(qRed(a) - qRed(b)),
                     std::abs(qGreen(a) - qGreen(b)), std::abs(qBlue(a) - qBlue(b))});
}

// Largest step between two pixel lines, compared as if one followed the other on screen.
int SeamStep(const QImage& a, bool aColumn, int aIndex, const QImage& b, int bIndex)
{
    int worst = 0;
    const int n = aColumn ? a.height() : a.width();
    for (int i = 0; i < n; ++i) {
        const QRgb pa = aColumn ? a.pixel(aIndex, i) : a.pixel(i, aIndex);
        const QRgb pb = aColumn ? b.pixel(bIndex, i) : b.pixel(i, bIndex);
        worst = std::max(worst, MaxChannelDifference(pa, pb));
    }
    return worst;
}

TEST(BuiltInImages, FramePiecesJoinWithoutSeams)
{
    const QImage left = Resource(10001), middle = Resource(10002), right = Resource(10003);
    const QImage side = Resource(10004), bottom = Resource(10005);
    struct Seam {
        const char* what;
        const QImage& a;
        bool columns;
        int aIndex;
        const QImage& b;
        int bIndex;
    };
    const Seam seams[] = {
        {"caption middle tiled", middle, true, middle.width() - 1, middle, 0},
        {"caption left into middle", left, true, left.width() - 1, middle, 0},
        {"caption middle into right", middle, true, middle.width() - 1, right, 0},
        {"side border tiled", side, false, side.height() - 1, side, 0},
        {"bottom border tiled", bottom, true, bottom.width() - 1, bottom, 0},
    };
    for (const Seam& s : seams) {
        SCOPED_TRACE(s.what);
        EXPECT_LE(SeamStep(s.a, s.columns, s.aIndex, s.b, s.bIndex), 6);
    }
    // The caption's edge columns continue the side border that runs below them.
    for (int y = 4; y < left.height(); ++y)
        for (int x = 0; x < side.width(); ++x) {
            EXPECT_EQ(left.pixel(x, y), side.pixel(x, 0)) << x << "," << y;
            EXPECT_EQ(right.pixel(right.width() - side.width() + x, y), side.pixel(x, 0));
        }
    // The frame is opaque: the window behind a non-client pixel must never show through.
    for (const QImage* img : {&left, &middle, &right, &side, &bottom})
        for (int y = 0; y < img->height(); ++y)
            for (int x = 0; x < img->width(); ++x) ASSERT_EQ(qAlpha(img->pixel(x, y)), 255);
}

TEST(BuiltInImages, LoginBackgroundFadesOutAtItsEdges)
{
    const QImage back = Resource(1001);
    ASSERT_FALSE(back.isNull());
    int soft = 0;
    for (int y = 0; y < back.height(); ++y)
        for (int x = 0; x < back.width(); ++x) {
            const int a = qAlpha(back.pixel(x, y));
            if (x == 0 || y == 0 || x == back.width() - 1 || y == back.height() - 1) {
                ASSERT_EQ(a, 0) << x << "," << y;
            }
            if (a > 0 && a < 255) ++soft;
        }
    EXPECT_GT(soft, 2 * (back.width() + back.height())) << "no feathered edge";
    // Where the page and the window buttons sit the window is solid.
    for (const QRect& r : {QRect(20, 50, 625, 319), QRect(575, 14, 32, 32), QRect(615, 15, 32, 32)})
        for (int y = r.top(); y <= r.bottom(); ++y)
            for (int x = r.left(); x <= r.right(); ++x)
                ASSERT_EQ(qAlpha(back.pixel(x, y)), 255) << x << "," << y;
}

// The countdown draws 35-pixel cells only 26 (and, after the colon, 23) pixels apart, so each
// glyph must sit in the middle of its cell with clear margins.
TEST(BuiltInImages, DigitStripGlyphsAreCentredAndDoNotCollide)
{
    const QImage strip = Resource(1067);
    ASSERT_EQ(strip.width(), 371);
    struct Ink {
        int left = 1 << 20, right = -1, top = 1 << 20, bottom = -1;
    };
    auto inkOf = [&strip](int x0, int w) {
        Ink ink;
        for (int y = 0; y < strip.height(); ++y)
            for (int x = x0; x < x0 + w; ++x)
                if (qAlpha(strip.pixel(x, y)) > 0) {
                    ink.left = std::min(ink.left, x - x0);
                    ink.right = std::max(ink.right, x - x0);
                    ink.top = std::min(ink.top, y);
                    ink.bottom = std::max(ink.bottom, y);
                }
        return ink;
    };
    std::vector<Ink> cells;
    for (int d = 0; d < 10; ++d) cells.push_back(inkOf(35 * d, 35));
    const Ink colon = inkOf(350, 21);
    for (int d = 0; d < 10; ++d) {
        SCOPED_TRACE(d);
        ASSERT_GE(cells[d].right, 0) << "empty cell";
        EXPECT_NEAR((cells[d].left + cells[d].right) / 2.0, 17, 1.5);
        EXPECT_NEAR((cells[d].top + cells[d].bottom) / 2.0, 13.5, 2);
    }
    EXPECT_NEAR((colon.left + colon.right) / 2.0, 10, 1.5);
    // Positions used by the countdown: minutes at 121 and 147, colon at 173, seconds at 196
    // and 222.
    for (const Ink& a : cells)
        for (const Ink& b : cells) {
            EXPECT_LT(121 + a.right, 147 + b.left);
            EXPECT_LT(196 + a.right, 222 + b.left);
            EXPECT_LT(147 + a.right, 173 + colon.left);
            EXPECT_LT(173 + colon.right, 196 + b.left);
        }
}

double Lightness(const QImage& image)
{
    double sum = 0, weight = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QRgb p = image.pixel(x, y);
            sum += qAlpha(p) / 255.0 * qGray(p);
            weight += qAlpha(p) / 255.0;
        }
    return weight > 0 ? sum / weight : 0;
}

TEST(BuiltInImages, HoverLooksAreLighterThanNormal)
{
    const std::pair<int, int> pairs[] = {{1010, 1012}, {1020, 1022}, {1030, 1032}, {1040, 1042},
                                         {1050, 1052}, {1053, 1055}, {1060, 1062}};
    for (const auto& [normal, hover] : pairs) {
        SCOPED_TRACE(normal);
        EXPECT_GT(Lightness(Resource(hover)), Lightness(Resource(normal)) + 8);
    }
}

} // namespace
