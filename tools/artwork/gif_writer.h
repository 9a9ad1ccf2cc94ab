#pragma once
// A small GIF89a writer: one frame, a global palette of at most 256 entries, LZW-compressed
// pixels and one-bit transparency through a reserved palette index.
#include <QByteArray>
#include <QImage>

namespace artwork {

// Pixels whose alpha is below this become the transparent index; the others are written
// opaque with their own colour (callers matte soft edges against the intended backdrop first).
constexpr int GifAlphaThreshold = 128;

// Encodes `image` (any format; converted to ARGB32) as a GIF89a file. Colours are reduced to
// at most 255 by a deterministic median cut when the image holds more; the same input always
// yields the same bytes. A null or empty image gives an empty array.
QByteArray EncodeGif(const QImage& image);

} // namespace artwork
