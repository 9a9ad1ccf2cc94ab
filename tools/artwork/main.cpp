// qev-artwork [--preview DIR] [--icons DIR] OUTDIR
// Draws every built-in image of the client into OUTDIR as <id>.png / <id>.gif, and each
// again at twice the size for high-density screens as <id>@2x.png. The output
// depends on nothing but this program and the DejaVu fonts, so re-running it reproduces the
// same pictures (antialiasing may differ in the last bit between processors). --preview also
// writes review pictures (contact sheet, mock-ups) into DIR; --icons writes the application
// icon at each installed size into DIR as qev-<size>.png.
#include "artwork.h"
#include "paint_kit.h"
#include "preview.h"

#include <QDir>
#include <QGuiApplication>
#include <QSaveFile>

#include <cstdio>

namespace {

int Usage()
{
    std::fprintf(stderr, "usage: qev-artwork [--preview DIR] [--icons DIR] OUTDIR\n");
    return 2;
}

bool WriteFile(const QString& path, const QByteArray& bytes)
{
    QSaveFile file(path);
    return !bytes.isEmpty() && file.open(QIODevice::WriteOnly) &&
           file.write(bytes) == bytes.size() && file.commit();
}

bool WriteIcons(const QString& dir)
{
    if (!QDir().mkpath(dir)) return false;
    for (const int size : artwork::AppIconSizes()) {
        const artwork::Piece piece{{0, size, size, false}, artwork::DrawAppIcon(size), 1};
        if (!WriteFile(QDir(dir).filePath(artwork::AppIconFileName(size)), artwork::Encode(piece)))
            return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    // Always the offscreen platform: no display needed, and the same raster path everywhere.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QStringList args = QGuiApplication::arguments().mid(1);
    QString outDir, previewDir, iconDir;
    for (qsizetype i = 0; i < args.size(); ++i) {
        if (args[i] == "--preview" && i + 1 < args.size())
            previewDir = args[++i];
        else if (args[i] == "--icons" && i + 1 < args.size())
            iconDir = args[++i];
        else if (!args[i].startsWith("-") && outDir.isEmpty())
            outDir = args[i];
        else
            return Usage();
    }
    if (outDir.isEmpty()) return Usage();

    QString error;
    if (!artwork::LoadFonts(&error)) {
        std::fprintf(stderr, "qev-artwork: %s\n", qPrintable(error));
        return 1;
    }
    if (!QDir().mkpath(outDir)) {
        std::fprintf(stderr, "qev-artwork: cannot create %s\n", qPrintable(outDir));
        return 1;
    }
    std::vector<artwork::Piece> pieces = artwork::DrawAll(1);
    for (artwork::Piece& piece : artwork::DrawAll(2)) pieces.push_back(std::move(piece));
    std::vector<artwork::Piece> decoded;
    qint64 total = 0;
    for (const artwork::Piece& piece : pieces) {
        if (piece.image.width() != piece.scale * piece.def.width ||
            piece.image.height() != piece.scale * piece.def.height) {
            std::fprintf(stderr, "qev-artwork: %d drawn at the wrong size\n", piece.def.id);
            return 1;
        }
        const QByteArray bytes = artwork::Encode(piece);
        const QString path = QDir(outDir).filePath(artwork::FileName(piece.def, piece.scale));
        if (!WriteFile(path, bytes)) {
            std::fprintf(stderr, "qev-artwork: cannot write %s\n", qPrintable(path));
            return 1;
        }
        total += bytes.size();
        if (piece.scale != 1) continue;
        // Previews show what the program will decode, palette reduction included.
        decoded.push_back(
            {piece.def,
             QImage::fromData(bytes).convertToFormat(QImage::Format_ARGB32_Premultiplied), 1});
    }
    std::printf("qev-artwork: %zu images, %lld bytes in %s\n", pieces.size(),
                static_cast<long long>(total), qPrintable(outDir));
    if (!iconDir.isEmpty() && !WriteIcons(iconDir)) {
        std::fprintf(stderr, "qev-artwork: cannot write icons to %s\n", qPrintable(iconDir));
        return 1;
    }
    if (!previewDir.isEmpty() && !artwork::WritePreviews(decoded, previewDir)) {
        std::fprintf(stderr, "qev-artwork: cannot write previews to %s\n", qPrintable(previewDir));
        return 1;
    }
    return 0;
}
