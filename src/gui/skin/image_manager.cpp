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

bool CImageManager::AddImage(int id, std::unique_ptr<QImage> image)
{
    if (!image) return false;
    return images_.emplace(id, std::move(image)).second;
}

bool CImageManager::AddImageData(int id, QByteArrayView data)
{
    if (images_.count(id)) return false;
    // The format is sniffed from the data, so GIF artwork filed under "PNG" decodes too.
    QImage decoded = QImage::fromData(data);
    // Premultiplied once here, so painting never converts.
    if (!decoded.isNull()) decoded.convertTo(QImage::Format_ARGB32_Premultiplied);
    return AddImage(id, std::make_unique<QImage>(std::move(decoded)));
}

const QImage* CImageManager::FindImage(int id) const
{
    auto it = images_.find(id);
    return it == images_.end() ? nullptr : it->second.get();
}

void CImageManager::RemoveAll()
{
    images_.clear();
}

namespace {

void LoadRange(CImageManager& manager, int first, int last)
{
    for (int id = first; id <= last; ++id) {
        const auto bytes = qev::FindResource("PNG", id);
        if (bytes)
            manager.AddImageData(
                id, QByteArrayView(bytes->data(), static_cast<qsizetype>(bytes->size())));
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
