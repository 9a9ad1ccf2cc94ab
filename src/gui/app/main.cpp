// The qev program. "-u" / "-r" select the update hand-over modes, which run without a
// display and end the process; help and version are answered without one too. No argument,
// or only Qt's own options, is an ordinary client start.
#include <QApplication>
#include <QLoggingCategory>
#include <QtWebEngineCore/qtwebenginecoreglobal.h>

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "core/app/command_line.h"
#include "core/app/update_modes.h"
#include "core/base/log.h"
#include "core/platform/files.h"
#include "gui/app/korvel2_app.h"
#include "gui/app/paint_trace.h"
#include "gui/app/render_setup.h"
#include "gui/app/skin_accessible.h"

namespace {

// The Qt and web engine that run (the libraries found at start, which may be newer than the
// ones the client was built with), so a report from a player says which engine showed a page.
std::string EngineText(const char* separator)
{
    std::string text = std::string("Qt ") + qVersion();
    if (std::string_view(qVersion()) != QT_VERSION_STR)
        text += std::string(" (built with ") + QT_VERSION_STR + ")";
    return text + separator + "web engine " + qWebEngineVersion() + " (Chromium " +
           qWebEngineChromiumVersion() + ")";
}

} // namespace

int main(int argc, char** argv)
{
    qev::SetLogFolderSource(qev::GetLogFolder);
    const std::vector<std::string> args(argv + 1, argv + argc);
    switch (qev::ClassifyCommandLine(args)) {
    case qev::CommandLineAction::HandOver: return qev::RunUpdateMode(args);
    case qev::CommandLineAction::Help: std::fputs(qev::UsageText().c_str(), stdout); return 0;
    case qev::CommandLineAction::Version:
        std::fputs((qev::VersionText() + EngineText("\n") + "\n").c_str(), stdout);
        return 0;
    case qev::CommandLineAction::Unknown:
        std::fputs(qev::UsageText().c_str(), stderr);
        return qev::UsageExitCode;
    case qev::CommandLineAction::Run: break;
    }
    std::string started = qev::VersionText();
    started.pop_back(); // its line break
    qev::WriteLog(started + " started on " + EngineText(", "));

    // A terminal that starts the client stays quiet: the web engine's informational lines
    // (its GL type, every switch it was given) are off. Qt applies QT_LOGGING_CONF and
    // QT_LOGGING_RULES after these rules, so a user's own setting still decides. (Setting
    // QT_LOGGING_RULES here would come too late: Qt reads it once, before main() runs.)
    QLoggingCategory::setFilterRules(QStringLiteral("qt.webengine*.info=false"));

    // A Wayland compositor places every top-level window itself, while the login stack and
    // the reminder must sit where the client puts them: on a Wayland desktop run through
    // XWayland (X11) unless the user chose a platform. Without DISPLAY, Qt's choice stands.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && !qEnvironmentVariableIsEmpty("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "xcb");
    // Pages of one site (the game page and the reminder's pane) share one render process.
    // The engine reads its flags when it starts; any flags the user set stay, first.
    if (QByteArray flags = qgetenv("QTWEBENGINE_CHROMIUM_FLAGS");
        !flags.contains("--process-per-site"))
        qputenv("QTWEBENGINE_CHROMIUM_FLAGS",
                flags.isEmpty() ? "--process-per-site" : flags + " --process-per-site");
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication application(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    // The GL probe needs the application; the first web view, made by the app below, reads
    // what it chose.
    ChooseRenderPath();
    InstallSkinAccessibility();
    InstallPaintTrace();
    int code = 0;
    {
        CKorvel2App app;
        if (!app.InitInstance()) return app.endedAtOnce() ? 0 : app.ExitInstance();
        QApplication::exec();
        code = app.ExitInstance();
    }
    return code;
}
