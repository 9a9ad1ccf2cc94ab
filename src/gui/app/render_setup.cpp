#include "gui/app/render_setup.h"

#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QOpenGLFunctions>

#include "core/app/render_path.h"
#include "core/base/log.h"

namespace {

// GL_RENDERER of a context made for the probe alone; empty when none can be made.
std::string OffscreenRenderer()
{
    QOffscreenSurface surface;
    surface.create();
    QOpenGLContext context;
    if (!surface.isValid() || !context.create() || !context.makeCurrent(&surface)) return {};
    const auto* name = context.functions()->glGetString(GL_RENDERER);
    std::string renderer = name ? reinterpret_cast<const char*>(name) : "";
    context.doneCurrent();
    return renderer;
}

} // namespace

void ChooseRenderPath()
{
    const qev::RenderPath path =
        qev::ChooseRenderPath(OffscreenRenderer(), qgetenv("QT_QUICK_BACKEND").toStdString(),
                              qgetenv("QTWEBENGINE_CHROMIUM_FLAGS").toStdString());
    // Both are read when the first web view is made: the scene back end by Qt Quick, the
    // flags by the engine.
    if (path.softwareScene) qputenv("QT_QUICK_BACKEND", "software");
    qputenv("QTWEBENGINE_CHROMIUM_FLAGS", QByteArray::fromStdString(path.engineFlags));
    qev::WriteLog(path.logLine);
}
