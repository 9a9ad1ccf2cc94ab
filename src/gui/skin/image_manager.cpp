#include "skin/image_manager.h"

CImageManager& CImageManager::GetInstance()
{
    static CImageManager instance;
    return instance;
}

bool CImageManager::AddImage(int id, std::unique_ptr<QImage> image)
{
    return images_.emplace(id, std::move(image)).second;
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

bool LoadImageResources()
{
    return true; // placeholder: images are loaded with the skin windows
}
