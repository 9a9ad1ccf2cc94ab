#pragma once
// Process-wide cache of the built-in images, keyed by id, and the one drawing rule every
// skinned window shares. Windows look images up at paint time and never keep them.
//
// An image may have a second picture drawn at twice the size for high-density screens.
// Sizes, input regions and hit tests always come from the 1x picture, so input is the same
// at every scale; only drawing into a device whose pixel ratio is above 1 takes the 2x one.
#include <QByteArrayView>
#include <QImage>

#include <map>
#include <memory>
#include <optional>
#include <utility>

class QPaintDevice;
class QPainter;
class QRegion;

// Which of an image's two pictures: the one at its own size, or the one drawn at twice the
// size for high-density screens.
enum class ImageScale { X1, X2 };

// Whether pictures drawn into device should come from their 2x versions (its pixel ratio is
// above 1).
bool IsHighDensity(const QPaintDevice* device);

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
    // The same for the 2x pictures: registered, decoded and found apart from the 1x ones.
    bool AddImage2x(int id, std::unique_ptr<QImage> image);
    bool AddImageData2x(int id, QByteArrayView data);
    // The 2x picture of id when there is one of exactly twice the 1x picture's size, or null.
    const QImage* FindImage2x(int id) const;
    // Registers encoded data that lives as long as the process (a built-in resource) under
    // id, as its picture of that scale, decoded on first use: a window decodes only what it
    // shows. False when id is taken.
    bool AddImageSource(int id, QByteArrayView data, ImageScale scale);
    // Releases every image. Harmless when already empty.
    void RemoveAll();

private:
    CImageManager() = default;
    // The picture of id, decoded now if it was registered encoded.
    const QImage* Find(int id, ImageScale scale) const;
    // Whether id has a picture of that scale, decoded or not.
    bool Taken(int id, ImageScale scale) const;
    bool Add(int id, std::unique_ptr<QImage> image, ImageScale scale);
    std::map<int, std::unique_ptr<QImage>>& Pictures(ImageScale scale) const;
    std::map<int, QByteArrayView>& Sources(ImageScale scale) const;

    // Decoded pictures, and those registered encoded and not yet asked for; an id is in
    // one map of each pair at most. Lookups decode, hence mutable.
    mutable std::map<int, std::unique_ptr<QImage>> images_;
    mutable std::map<int, std::unique_ptr<QImage>> images2x_;
    mutable std::map<int, QByteArrayView> encoded_;
    mutable std::map<int, QByteArrayView> encoded2x_;
};

// Ids of the built-in images: window artwork, then the main frame's frame pieces.
inline constexpr int FirstArtworkImageId = 1001;
inline constexpr int LastArtworkImageId = 1199;
inline constexpr int FirstFrameImageId = 10001;
inline constexpr int LastFrameImageId = 10005;

// The size of cached image id, as the layout rules ask for it; none when it is not cached.
std::optional<std::pair<int, int>> CachedImageSize(int id);

// Fills the cache from the built-in "PNG" resources (PNG or GIF data) in the two id ranges,
// and the 2x pictures from the "PNG2X" ones, each decoded on first use; absent ids are
// skipped, undecodable data finds an empty image. Always true.
bool LoadImageResources();

// Copies the top-left w x h region of image to (x, y), unscaled. A null or empty image, or
// an empty region, draws nothing.
void DrawImageAt(QPainter& painter, const QImage* image, int x, int y, int w, int h);

// The drawing rule for pictures that have a 2x version: draws the 1x region source of image
// into target (the painter's coordinates). On a high-density device, when image2x is twice
// image's size, the same region of image2x is drawn instead, smoothly scaled where the ratio
// is not 2. A null or empty image or region draws nothing.
void DrawImagePart(QPainter& painter, const QImage& image, const QImage* image2x,
                   const QRectF& target, const QRect& source);
// DrawImageAt for a cached image: the top-left w x h region of image id at (x, y), from its
// 2x picture on a high-density device.
void DrawImageAt(QPainter& painter, int id, int x, int y, int w, int h);
// The whole of cached image id stretched over target, from its 2x picture on a high-density
// device.
void DrawImageScaled(QPainter& painter, int id, const QRectF& target);

// The pixels of picture whose alpha is not 0: what a see-through window shows and where it
// takes input.
QRegion OpaqueRegion(const QImage& picture);
