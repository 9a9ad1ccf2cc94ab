#include "base/app_icon.h"

#include <QImage>

#include "app/resources.h"

namespace {
constexpr int AppIconId = 128;
}

QIcon AppIcon()
{
    // Made on each call: a pixmap must not outlive the application object.
    QIcon icon;
    const auto bytes = qev::FindResource("PNG", AppIconId);
    QImage image;
    if (bytes && image.loadFromData(reinterpret_cast<const uchar*>(bytes->data()),
                                    static_cast<int>(bytes->size())))
        icon.addPixmap(QPixmap::fromImage(image));
    return icon;
}
