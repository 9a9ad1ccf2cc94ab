// The qev program. Any argument selects one of the update hand-over modes, which run
// without a display and end the process; no argument is an ordinary client start.
#include <QApplication>

#include <string>
#include <vector>

#include "app/korvel2_app.h"
#include "app/update_modes.h"
#include "base/log.h"
#include "platform/files.h"
#include "skin/skin_accessible.h"

int main(int argc, char** argv)
{
    qev::SetLogFolderSource(qev::GetLogFolder);
    if (argc > 1) return qev::RunUpdateMode(std::vector<std::string>(argv + 1, argv + argc));

    // A Wayland compositor places every top-level window itself, while the login stack and
    // the reminder must sit where the client puts them: on a Wayland desktop run through
    // XWayland (X11) unless the user chose a platform. Without DISPLAY, Qt's choice stands.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && !qEnvironmentVariableIsEmpty("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "xcb");
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication application(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    InstallSkinAccessibility();
    int code = 0;
    {
        CKorvel2App app;
        if (!app.InitInstance()) return app.endedAtOnce() ? 0 : app.ExitInstance();
        QApplication::exec();
        code = app.ExitInstance();
    }
    return code;
}
