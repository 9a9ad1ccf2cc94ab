#include "gui/base/app_icon.h"

#include <QCoreApplication>
#include <QImage>

#include "core/base/resources.h"

namespace {

constexpr int AppIconId = 128;

// Decoded once per application object: every window asks for it while the client starts.
QIcon* g_icon = nullptr;

void ForgetIcon()
{
    // A pixmap must not outlive the application object.
    delete g_icon;
    g_icon = nullptr;
}

} // namespace

QIcon AppIcon()
{
    if (g_icon) return *g_icon;
    QIcon icon;
    const auto bytes = qev::FindResource("PNG", AppIconId);
    QImage image;
    if (bytes && image.loadFromData(reinterpret_cast<const uchar*>(bytes->data()),
                                    static_cast<int>(bytes->size())))
        icon.addPixmap(QPixmap::fromImage(image));
    if (!QCoreApplication::instance()) return icon;
    g_icon = new QIcon(icon);
    qAddPostRoutine(ForgetIcon);
    return icon;
}
