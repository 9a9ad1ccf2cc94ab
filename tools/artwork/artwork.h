#pragma once
// The built-in images of the client: their ids, sizes and formats, and the drawing of each.
#include <QByteArray>
#include <QImage>

#include <vector>

namespace artwork {

struct ImageDef {
    int id = 0;
    int width = 0;
    int height = 0;
    bool gif = false;
};

// Every built-in image, ascending by id.
const std::vector<ImageDef>& ImageTable();

struct Piece {
    ImageDef def;
    QImage image;  // ARGB32 premultiplied, exactly scale times def.width x def.height
    int scale = 1; // 1, or 2 for the set of high-density screens
};

// Draws every image of the table at scale 1, or again at scale 2 from the same shapes (the
// application icon, which has its own sizes, left out). Needs a QGuiApplication and
// LoadFonts() done first.
std::vector<Piece> DrawAll(int scale = 1);

// The file contents of a piece: PNG, or GIF for the 1x pieces the table marks so (a 2x
// piece is always PNG, its matte the same as its 1x piece's).
QByteArray Encode(const Piece& piece);

// File name of a piece inside the image folder: "<id>.png" or "<id>.gif" at scale 1,
// "<id>@2x.png" at scale 2.
QString FileName(const ImageDef& def, int scale = 1);

// The sizes the application icon is installed at (the desktop's icon theme), ascending.
const std::vector<int>& AppIconSizes();
// The application icon drawn at size x size (ARGB32 premultiplied); image 128 is its
// largest size.
QImage DrawAppIcon(int size);
// File name of the icon at a size inside the icon folder: "qev-<size>.png".
QString AppIconFileName(int size);

} // namespace artwork
