#include "core/app/command_line.h"

#include <array>

namespace qev {
namespace {

// Qt's options that the desktop may pass: session restore adds "-session <id>"; the rest
// come from launchers and users choosing a display. Qt reads them itself.
constexpr std::array<std::string_view, 4> QtValueOptions = {"session", "platform", "display",
                                                            "style"};

// "-name" or "--name", with the value after '=' or in the next argument. How many
// arguments it takes (1 or 2), 0 when arg is no such option, -1 when its value is missing.
int QtOptionLength(std::string_view arg, bool hasNext)
{
    if (arg.substr(0, 2) == "--")
        arg.remove_prefix(2);
    else if (arg.substr(0, 1) == "-")
        arg.remove_prefix(1);
    else
        return 0;
    for (const std::string_view name : QtValueOptions) {
        if (arg == name) return hasNext ? 2 : -1;
        if (arg.size() > name.size() + 1 && arg.substr(0, name.size()) == name &&
            arg[name.size()] == '=')
            return 1;
    }
    return 0;
}

} // namespace

CommandLineAction ClassifyCommandLine(const std::vector<std::string>& args)
{
    if (args.empty()) return CommandLineAction::Run;
    if (args[0] == "-u" || args[0] == "-r") return CommandLineAction::HandOver;
    CommandLineAction asked = CommandLineAction::Run;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "-h" || arg == "--help" || arg == "--version") {
            if (asked == CommandLineAction::Run)
                asked = arg == "--version" ? CommandLineAction::Version : CommandLineAction::Help;
            continue;
        }
        const int length = QtOptionLength(arg, i + 1 < args.size());
        if (length <= 0) return CommandLineAction::Unknown;
        i += static_cast<std::size_t>(length - 1);
    }
    return asked;
}

std::string UsageText()
{
    return "Usage: qev [-h | --help] [--version]\n"
           "\n"
           "The Velmora Client: the game's pages in skinned windows, with activity\n"
           "reminders and self-updates. Without options it opens the login window.\n"
           "\n"
           "Options:\n"
           "  -h, --help     show this help and exit\n"
           "  --version      show the version and exit\n"
           "  Qt's -platform, -display, -style and -session options are accepted.\n"
           "\n"
           "Environment:\n"
           "  QT_SCALE_FACTOR             scale of the windows (1, 1.5, 2, ...)\n"
           "  QTWEBENGINE_CHROMIUM_FLAGS  switches for the web engine\n"
           "  QT_LOGGING_RULES            Qt's log categories (the web engine's\n"
           "                              informational ones are off by default)\n"
           "  XDG_STATE_HOME, XDG_DATA_HOME, XDG_CACHE_HOME  where the files go\n"
           "\n"
           "Files:\n"
           "  $XDG_STATE_HOME/qev/qev.log  the log (default ~/.local/state)\n"
           "  $XDG_DATA_HOME/qev/web       the web profile: cookies, local storage\n"
           "                               (default ~/.local/share)\n"
           "  $XDG_DATA_HOME/qev/zoom.ini  the zoom of each game host\n"
           "  $XDG_CACHE_HOME/qev/         the web cache and update downloads\n"
           "                               (default ~/.cache)\n"
           "  the download folder          files a game page offers (XDG_DOWNLOAD_DIR,\n"
           "                               default ~/Downloads)\n"
           "\n"
           "See qev(1).\n";
}

std::string VersionText()
{
    return std::string("qev ") + QEV_VERSION_TEXT + "\n";
}

} // namespace qev
