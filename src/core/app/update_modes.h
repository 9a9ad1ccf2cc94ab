#pragma once
// The two steps of the self-update hand-over, selected by the command line:
//   -u -p<pid> "<package>" "<program>"   replace the program with this running update, start it
//   -r -p<pid> "<update step>" "<package>"   remove the package's run folder
// "<package>" names the verified package in the client's private run folder; the bytes
// installed are the running update's own (a sealed copy of those verified bytes), never
// read from that path. "<update step>" is the update step's program file where it has one
// (Windows), else its run folder.
// Neither opens a window or needs a display.
#include <string>
#include <string_view>
#include <vector>

namespace qev {

// How long each wait for the previous process lasts.
inline constexpr int PreviousProcessWaitMs = 30000;
// How long a hand-over step waits for the run folder's lock (held by a run that is ending).
inline constexpr int HandOverLockWaitMs = 5000;

// The id in argument 2: the leading decimal digits after "-p" (the copy of the argument
// is bounded); 0 when the argument does not begin with "-p" or has no number.
int ParsePidArgument(std::string_view arg);

// Waits for the process named by argument 2 to end, up to waitMs. If it still runs, it is
// killed only when it runs programFile (the file this step replaces or removes), and then
// waited for once more; any other process is only waited for, as long again, and left
// alone: the id comes from a command line anyone could have written. A process that
// cannot be opened (id 0 or below, this process, gone) is not waited for.
void WaitForPreviousProcess(std::string_view arg, const std::string& programFile,
                            int waitMs = PreviousProcessWaitMs);

// The start-up part of every run: removes the temporary siblings an interrupted "-u"
// copy left beside the program file at programPath.
void RemoveUpdateLeftovers(const std::string& programPath);

// Runs the mode named by args (the arguments after the program name). Anything but
// exactly four arguments, or a first argument other than "-u" / "-r", does nothing.
// Always returns the process exit code, 0.
int RunUpdateMode(const std::vector<std::string>& args, int waitMs = PreviousProcessWaitMs);

} // namespace qev
