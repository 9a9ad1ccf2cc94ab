#pragma once
// Process-wide cache of the built-in images, keyed by id.
// Placeholder: the cache and the drawing rule are filled in with the skin windows.
#include <QImage>

#include <map>
#include <memory>

class CImageManager {
public:
    static CImageManager& GetInstance();
    bool AddImage(int id, std::unique_ptr<QImage> image);
    const QImage* FindImage(int id) const;
    void RemoveAll();

private:
    std::map<int, std::unique_ptr<QImage>> images_;
};

// Fills the cache from the built-in "PNG" resources. Always true.
bool LoadImageResources();
