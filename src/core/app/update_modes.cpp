#include "core/app/update_modes.h"

#include "core/base/log.h"
#include "core/layout/layout.h"
#include "core/net/update_statement.h"
#include "core/platform/files.h"
#include "core/platform/process.h"
#include "core/platform/update_folder.h"

namespace qev {
namespace {

// Only this much of argument 2 is looked at when reading the number.
constexpr std::size_t PidArgumentLimit = 63;

// The run folder a package path lies in (its folder part).
std::string FolderOf(const std::string& path)
{
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// Argument 2 names the package in the client's run folder; it is only used to find that
// folder, whose lock this step holds. The bytes installed are this very program's, read
// through its running image: the client started a sealed copy of the verified package,
// so no file that anyone could have changed meanwhile is read.
void ReplaceMode(const std::vector<std::string>& args, int waitMs)
{
    WaitForPreviousProcess(args[1], args[3], waitMs);
    RemoveUpdateLeftovers(args[3]);
    const std::string runFolder = FolderOf(args[2]);
    auto folder = UpdateFolder::OpenRunFolder(runFolder, HandOverLockWaitMs);
    std::string image;
    if (!ReadOwnProgram(image)) {
        WriteLog("update not installed: the running update could not read itself");
    } else {
        Sha256Hasher hasher;
        hasher.Update(image.data(), image.size());
        // The copy lands beside the program and takes its place in one rename: killed at
        // any moment, the program file is the old one or the new one, whole, with its mode.
        if (WriteFileOver(image, args[3]))
            WriteLog("update installed: " + args[3] + " sha256 " + HexDigest(hasher.Final()));
        else
            WriteLog("update not installed: " + args[3] + " could not be replaced");
    }
    folder.reset(); // the clean-up step takes the lock next
    // The clean-up step waits for this process: named by its file where it has one (the
    // Windows copy), else by the run folder it cleans.
    const std::string self = GetProgramPath();
    const std::string first = FileExists(self) ? self : runFolder;
    StartProcess(FormatHandOverCommandLine("-r", CurrentProcessId(), first, args[2]), args[3]);
}

// Argument 3 names the package in a run folder; that folder, with everything in it, goes
// (only a run folder of this user: the arguments come from a command line anyone could
// have written).
void CleanupMode(const std::vector<std::string>& args, int waitMs)
{
    // The previous process is the update step, which goes first.
    WaitForPreviousProcess(args[1], args[2], waitMs);
    RemoveUpdateLeftovers(GetProgramPath());
    if (const auto folder = UpdateFolder::OpenRunFolder(FolderOf(args[3]), HandOverLockWaitMs))
        folder->RemoveAll();
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
