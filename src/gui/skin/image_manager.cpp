#include "skin/image_manager.h"

#include <QBitmap>
#include <QPainter>

#include "app/resources.h"

CImageManager& CImageManager::GetInstance()
{
    static CImageManager instance;
    return instance;
}

CImageManager::~CImageManager()
{
    RemoveAll();
}

namespace {

// The format is sniffed from the data, so GIF artwork filed under "PNG" decodes too.
// Premultiplied once here, so painting never converts.
std::unique_ptr<QImage> Decode(QByteArrayView data)
{
    QImage decoded = QImage::fromData(data);
    if (!decoded.isNull()) decoded.convertTo(QImage::Format_ARGB32_Premultiplied);
    return std::make_unique<QImage>(std::move(decoded));
}

} // namespace

bool CImageManager::Taken(int id, bool fine) const
{
    return (fine ? images2x_ : images_).count(id) || (fine ? encoded2x_ : encoded_).count(id);
}

bool CImageManager::Add(int id, std::unique_ptr<QImage> image, bool fine)
{
    if (!image || Taken(id, fine)) return false;
    return (fine ? images2x_ : images_).emplace(id, std::move(image)).second;
}

bool CImageManager::AddImage(int id, std::unique_ptr<QImage> image)
{
    return Add(id, std::move(image), false);
}

bool CImageManager::AddImageData(int id, QByteArrayView data)
{
    return !Taken(id, false) && Add(id, Decode(data), false);
}

bool CImageManager::AddImageSource(int id, QByteArrayView data, bool fine)
{
    if (Taken(id, fine)) return false;
    return (fine ? encoded2x_ : encoded_).emplace(id, data).second;
}

const QImage* CImageManager::Find(int id, bool fine) const
{
    auto& decoded = fine ? images2x_ : images_;
    if (auto it = decoded.find(id); it != decoded.end()) return it->second.get();
    auto& encoded = fine ? encoded2x_ : encoded_;
    const auto source = encoded.find(id);
    if (source == encoded.end()) return nullptr;
    const QImage* image = decoded.emplace(id, Decode(source->second)).first->second.get();
    encoded.erase(source);
    return image;
}

const QImage* CImageManager::FindImage(int id) const
{
    return Find(id, false);
}

bool CImageManager::AddImage2x(int id, std::unique_ptr<QImage> image)
{
    return Add(id, std::move(image), true);
}

bool CImageManager::AddImageData2x(int id, QByteArrayView data)
{
    return !Taken(id, true) && Add(id, Decode(data), true);
}

const QImage* CImageManager::FindImage2x(int id) const
{
    const QImage* base = FindImage(id);
    const QImage* fine = base ? Find(id, true) : nullptr;
    if (!fine || fine->size() != 2 * base->size()) return nullptr;
    return fine;
}

void CImageManager::RemoveAll()
{
    images_.clear();
    images2x_.clear();
    encoded_.clear();
    encoded2x_.clear();
}

namespace {

void LoadRange(CImageManager& manager, int first, int last)
{
    for (int id = first; id <= last; ++id) {
        if (const auto bytes = qev::FindResource("PNG", id))
            manager.AddImageSource(
                id, QByteArrayView(bytes->data(), static_cast<qsizetype>(bytes->size())), false);
        if (const auto bytes = qev::FindResource("PNG2X", id))
            manager.AddImageSource(
                id, QByteArrayView(bytes->data(), static_cast<qsizetype>(bytes->size())), true);
    }
}

} // namespace

bool LoadImageResources()
{
    CImageManager& manager = CImageManager::GetInstance();
    LoadRange(manager, FirstArtworkImageId, LastArtworkImageId);
    LoadRange(manager, FirstFrameImageId, LastFrameImageId);
    return true;
}

void DrawImageAt(QPainter& painter, const QImage* image, int x, int y, int w, int h)
{
    if (!image || image->isNull() || w <= 0 || h <= 0) return;
    const QRect source = QRect(0, 0, w, h) & image->rect();
    if (source.isEmpty()) return;
    painter.drawImage(QPoint(x, y), *image, source);
}

void DrawImagePart(QPainter& painter, const QImage& image, const QImage* fine, const QRectF& target,
                   const QRect& source)
{
    const QRect part = source & image.rect();
    if (part.isEmpty() || target.isEmpty()) return;
    // A source cut by the image's edge shrinks the target in proportion.
    const double sx = target.width() / source.width(), sy = target.height() / source.height();
    const QRectF to(target.x() + (part.x() - source.x()) * sx,
                    target.y() + (part.y() - source.y()) * sy, part.width() * sx,
                    part.height() * sy);
    const QPaintDevice* device = painter.device();
    const bool dense = device && device->devicePixelRatioF() > 1;
    if (dense && fine && fine->size() == 2 * image.size()) {
        painter.save();
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawImage(to, *fine,
                          QRectF(2 * part.x(), 2 * part.y(), 2 * part.width(), 2 * part.height()));
        painter.restore();
    } else if (to.size() == QSizeF(part.size())) {
        painter.drawImage(to.topLeft(), image, part);
    } else {
        painter.drawImage(to, image, QRectF(part));
    }
}

namespace {

// The 2x picture of id, looked up (and so decoded) only for a high-density device.
const QImage* FineFor(const QPainter& painter, int id)
{
    const QPaintDevice* device = painter.device();
    if (!device || device->devicePixelRatioF() <= 1) return nullptr;
    return CImageManager::GetInstance().FindImage2x(id);
}

} // namespace

void DrawImageAt(QPainter& painter, int id, int x, int y, int w, int h)
{
    const QImage* image = CImageManager::GetInstance().FindImage(id);
    if (!image || w <= 0 || h <= 0) return;
    DrawImagePart(painter, *image, FineFor(painter, id), QRectF(x, y, w, h), QRect(0, 0, w, h));
}

void DrawImageScaled(QPainter& painter, int id, const QRectF& target)
{
    if (const QImage* image = CImageManager::GetInstance().FindImage(id))
        DrawImagePart(painter, *image, FineFor(painter, id), target, image->rect());
}

QRegion OpaqueRegion(const QImage& picture)
{
    if (picture.isNull()) return {};
    const QImage argb = picture.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    QImage bits(argb.size(), QImage::Format_MonoLSB);
    bits.setColorCount(2);
    bits.setColor(0, qRgb(255, 255, 255)); // background: outside the region
    bits.setColor(1, qRgb(0, 0, 0));       // foreground: inside
    bits.fill(0);
    for (int y = 0; y < argb.height(); ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(argb.constScanLine(y));
        uchar* out = bits.scanLine(y);
        for (int x = 0; x < argb.width(); ++x)
            if (qAlpha(line[x]) != 0) out[x >> 3] |= static_cast<uchar>(1u << (x & 7));
    }
    return QRegion(QBitmap::fromImage(bits));
}
