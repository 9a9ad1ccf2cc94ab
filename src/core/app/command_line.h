#pragma once
// What the program's command line asks for. The update hand-over's lines (update_modes.h)
// keep their shape and their silence; the desktop's own options (help, version, and the
// display options a session manager or a launcher adds for Qt) are read here, before any
// display is opened.
#include <string>
#include <string_view>
#include <vector>

namespace qev {

enum class CommandLineAction {
    Run,      // an ordinary start (no argument, or only Qt's own options)
    Help,     // usage on standard output, exit 0
    Version,  // "qev <build version>" on standard output, exit 0
    HandOver, // "-u" / "-r" first: an update hand-over step (a line of the wrong length
              // does nothing, without a word, as it always has)
    Unknown,  // usage on standard error, exit UsageExitCode
};

inline constexpr int UsageExitCode = 2;

// Classifies args (the arguments after the program name). Qt's -session, -platform,
// -display and -style take a value, as the next argument or after '='; one or two leading
// dashes. A Qt option without its value is Unknown. Help or version anywhere among
// otherwise valid arguments wins; the first of the two decides.
CommandLineAction ClassifyCommandLine(const std::vector<std::string>& args);

// The usage text (--help), ending with a newline.
std::string UsageText();
// "qev 0.2.1.1\n", the build version.
std::string VersionText();

} // namespace qev
