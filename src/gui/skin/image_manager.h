#pragma once
// Process-wide cache of the built-in images, keyed by id, and the one drawing rule every
// skinned window shares. Windows look images up at paint time and never keep them.
#include <QImage>

#include <map>
#include <memory>

class QPainter;
class QRegion;

class CImageManager {
public:
    // The one manager; created on first use, emptied again at process exit.
    static CImageManager& GetInstance();
    ~CImageManager();
    CImageManager(const CImageManager&) = delete;
    CImageManager& operator=(const CImageManager&) = delete;

    // Registers image under id and takes it. False (the first image stays) when id is taken.
    bool AddImage(int id, std::unique_ptr<QImage> image);
    // Decodes encoded image data (PNG, GIF, ...) and registers it under id; data that does
    // not decode is registered as an empty image. False when id is taken.
    bool AddImageData(int id, QByteArrayView data);
    // The image registered under id, or null. An undecodable image is a null QImage:
    // it measures 0 x 0 and draws nothing.
    const QImage* FindImage(int id) const;
    // Releases every image. Harmless when already empty.
    void RemoveAll();

private:
    CImageManager() = default;
    std::map<int, std::unique_ptr<QImage>> images_;
};

// Ids of the built-in images: window artwork, then the main frame's frame pieces.
inline constexpr int FirstArtworkImageId = 1001;
inline constexpr int LastArtworkImageId = 1199;
inline constexpr int FirstFrameImageId = 10001;
inline constexpr int LastFrameImageId = 10005;

// Fills the cache from the built-in "PNG" resources (PNG or GIF data) in the two id ranges;
// absent ids are skipped, undecodable data is registered as an empty image. Always true.
bool LoadImageResources();

// Copies the top-left w x h region of image to (x, y), unscaled. A null or empty image, or
// an empty region, draws nothing.
void DrawImageAt(QPainter& painter, const QImage* image, int x, int y, int w, int h);

// The pixels of picture whose alpha is not 0: what a see-through window shows and where it
// takes input.
QRegion OpaqueRegion(const QImage& picture);
