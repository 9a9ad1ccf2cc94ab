#include "app/update_modes.h"

#include "layout/layout.h"
#include "platform/files.h"
#include "platform/process.h"

namespace qev {
namespace {

// Only this much of argument 2 is looked at when reading the number.
constexpr std::size_t PidArgumentLimit = 63;

void ReplaceMode(const std::vector<std::string>& args, int waitMs)
{
    WaitForPreviousProcess(args[1], args[3], waitMs);
    RemoveUpdateLeftovers(args[3]);
    // The copy lands beside the program and takes its place in one rename: killed at any
    // moment, the program file is the old one or the new one, whole, with its mode.
    CopyFileOver(args[2], args[3]); // result ignored: nothing to report to
    const std::string self = GetProgramPath();
    StartProcess(FormatHandOverCommandLine("-r", CurrentProcessId(), self, args[2]), args[3]);
}

void CleanupMode(const std::vector<std::string>& args, int waitMs)
{
    // The previous process is the updater copy, running from argument 3, which goes next.
    WaitForPreviousProcess(args[1], args[2], waitMs);
    RemoveUpdateLeftovers(GetProgramPath());
    DeleteFile(args[2]);
    DeleteFile(args[3]);
}

} // namespace

int ParsePidArgument(std::string_view arg)
{
    arg = arg.substr(0, PidArgumentLimit);
    if (arg.substr(0, 2) != "-p") return 0;
    return ParseIntLikeAtoi(arg.substr(2));
}

void WaitForPreviousProcess(std::string_view arg, const std::string& programFile, int waitMs)
{
    ProcessWatch process;
    if (!process.Open(ParsePidArgument(arg))) return;
    if (process.Wait(waitMs)) return;
    if (process.RunsProgramFile(programFile)) process.Kill();
    process.Wait(waitMs);
}

void RemoveUpdateLeftovers(const std::string& programPath)
{
    if (!programPath.empty()) RemoveStaleCopies(programPath);
}

namespace {

// Quotes a path so that SplitCommandLine gives it back unchanged: a plain path is just
// wrapped in quotes; quotes inside it, and backslashes before a quote or the closing
// quote, are escaped.
std::string Quote(const std::string& path)
{
    std::string out = "\"";
    std::size_t backslashes = 0;
    for (char c : path) {
        if (c == '\\') {
            ++backslashes;
        } else {
            if (c == '"') out.append(backslashes + 1, '\\');
            backslashes = 0;
        }
        out += c;
    }
    out.append(backslashes, '\\');
    return out + "\"";
}

} // namespace

std::string FormatHandOverCommandLine(std::string_view mode, int pid, const std::string& a,
                                      const std::string& b)
{
    return " " + std::string(mode) + " -p" + std::to_string(pid) + " " + Quote(a) + " " + Quote(b);
}

int RunUpdateMode(const std::vector<std::string>& args, int waitMs)
{
    if (args.size() != 4) return 0;
    if (args[0] == "-u")
        ReplaceMode(args, waitMs);
    else if (args[0] == "-r")
        CleanupMode(args, waitMs);
    return 0;
}

} // namespace qev
