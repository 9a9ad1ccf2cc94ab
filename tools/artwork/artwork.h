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
    QImage image; // ARGB32 premultiplied, exactly def.width x def.height
};

// Draws every image of the table. Needs a QGuiApplication and LoadFonts() done first.
std::vector<Piece> DrawAll();

// The file contents of a piece: PNG, or GIF for the pieces the table marks so.
QByteArray Encode(const Piece& piece);

// File name of a piece inside the image folder: "<id>.png" or "<id>.gif".
QString FileName(const ImageDef& def);

// The sizes the application icon is installed at (the desktop's icon theme), ascending.
const std::vector<int>& AppIconSizes();
// The application icon drawn at size x size (ARGB32 premultiplied); image 128 is its
// largest size.
QImage DrawAppIcon(int size);
// File name of the icon at a size inside the icon folder: "qev-<size>.png".
QString AppIconFileName(int size);

} // namespace artwork
