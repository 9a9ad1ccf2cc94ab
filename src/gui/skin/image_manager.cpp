#include "gui/skin/image_manager.h"

#include <QBitmap>
#include <QPainter>

#include "core/base/resources.h"

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

bool IsHighDensity(const QPaintDevice* device)
{
    return device && device->devicePixelRatioF() > 1;
}

std::map<int, std::unique_ptr<QImage>>& CImageManager::Pictures(ImageScale scale) const
{
    return scale == ImageScale::X2 ? images2x_ : images_;
}

std::map<int, QByteArrayView>& CImageManager::Sources(ImageScale scale) const
{
    return scale == ImageScale::X2 ? encoded2x_ : encoded_;
}

bool CImageManager::Taken(int id, ImageScale scale) const
{
    return Pictures(scale).count(id) || Sources(scale).count(id);
}

bool CImageManager::Add(int id, std::unique_ptr<QImage> image, ImageScale scale)
{
    if (!image || Taken(id, scale)) return false;
    return Pictures(scale).emplace(id, std::move(image)).second;
}

bool CImageManager::AddImage(int id, std::unique_ptr<QImage> image)
{
    return Add(id, std::move(image), ImageScale::X1);
}

bool CImageManager::AddImageData(int id, QByteArrayView data)
{
    return !Taken(id, ImageScale::X1) && Add(id, Decode(data), ImageScale::X1);
}

bool CImageManager::AddImageSource(int id, QByteArrayView data, ImageScale scale)
{
    if (Taken(id, scale)) return false;
    return Sources(scale).emplace(id, data).second;
}

const QImage* CImageManager::Find(int id, ImageScale scale) const
{
    auto& decoded = Pictures(scale);
    if (auto it = decoded.find(id); it != decoded.end()) return it->second.get();
    auto& encoded = Sources(scale);
    const auto source = encoded.find(id);
    if (source == encoded.end()) return nullptr;
    const QImage* image = decoded.emplace(id, Decode(source->second)).first->second.get();
    encoded.erase(source);
    return image;
}

const QImage* CImageManager::FindImage(int id) const
{
    return Find(id, ImageScale::X1);
}

bool CImageManager::AddImage2x(int id, std::unique_ptr<QImage> image)
{
    return Add(id, std::move(image), ImageScale::X2);
}

bool CImageManager::AddImageData2x(int id, QByteArrayView data)
{
    return !Taken(id, ImageScale::X2) && Add(id, Decode(data), ImageScale::X2);
}

const QImage* CImageManager::FindImage2x(int id) const
{
    const QImage* base = FindImage(id);
    const QImage* image2x = base ? Find(id, ImageScale::X2) : nullptr;
    if (!image2x || image2x->size() != 2 * base->size()) return nullptr;
    return image2x;
}

void CImageManager::RemoveAll()
{
    images_.clear();
    images2x_.clear();
    encoded_.clear();
    encoded2x_.clear();
}

std::optional<std::pair<int, int>> CachedImageSize(int id)
{
    const QImage* image = CImageManager::GetInstance().FindImage(id);
    if (!image) return std::nullopt;
    return std::pair{image->width(), image->height()};
}

namespace {

void LoadRange(CImageManager& manager, int first, int last)
{
    for (int id = first; id <= last; ++id) {
        if (const auto bytes = qev::FindResource("PNG", id))
            manager.AddImageSource(
                id, QByteArrayView(bytes->data(), static_cast<qsizetype>(bytes->size())),
                ImageScale::X1);
        if (const auto bytes = qev::FindResource("PNG2X", id))
            manager.AddImageSource(
                id, QByteArrayView(bytes->data(), static_cast<qsizetype>(bytes->size())),
                ImageScale::X2);
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

void DrawImagePart(QPainter& painter, const QImage& image, const QImage* image2x,
                   const QRectF& target, const QRect& source)
{
    const QRect part = source & image.rect();
    if (part.isEmpty() || target.isEmpty()) return;
    // A source cut by the image's edge shrinks the target in proportion.
    const double sx = target.width() / source.width(), sy = target.height() / source.height();
    const QRectF to(target.x() + (part.x() - source.x()) * sx,
                    target.y() + (part.y() - source.y()) * sy, part.width() * sx,
                    part.height() * sy);
    if (IsHighDensity(painter.device()) && image2x && image2x->size() == 2 * image.size()) {
        painter.save();
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawImage(to, *image2x,
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
const QImage* Image2xFor(const QPainter& painter, int id)
{
    return IsHighDensity(painter.device()) ? CImageManager::GetInstance().FindImage2x(id) : nullptr;
}

} // namespace

void DrawImageAt(QPainter& painter, int id, int x, int y, int w, int h)
{
    const QImage* image = CImageManager::GetInstance().FindImage(id);
    if (!image || w <= 0 || h <= 0) return;
    DrawImagePart(painter, *image, Image2xFor(painter, id), QRectF(x, y, w, h), QRect(0, 0, w, h));
}

void DrawImageScaled(QPainter& painter, int id, const QRectF& target)
{
    if (const QImage* image = CImageManager::GetInstance().FindImage(id))
        DrawImagePart(painter, *image, Image2xFor(painter, id), target, image->rect());
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
