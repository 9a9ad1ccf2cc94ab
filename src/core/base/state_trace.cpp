#include "core/base/state_trace.h"

#include <cstdio>
#include <cstdlib>

namespace qev {

bool StateTraceOn()
{
#ifdef NDEBUG
    static const bool on = std::getenv("QEV_TRACE_STATES") != nullptr;
#else
    static const bool on = true;
#endif
    return on;
}

std::string FormatTransition(std::string_view machine, std::string_view from, std::string_view to,
                             std::string_view why)
{
    std::string line;
    line.reserve(machine.size() + from.size() + to.size() + why.size() + 12);
    line.append(machine).append(": ").append(from).append(" -> ").append(to);
    if (!why.empty()) line.append(" (").append(why).append(")");
    return line;
}

void TraceTransition(std::string_view machine, std::string_view from, std::string_view to,
                     std::string_view why)
{
    if (!StateTraceOn()) return;
    const std::string line = FormatTransition(machine, from, to, why) + "\n";
    // One write per line, so that lines of two threads do not interleave.
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
}

} // namespace qev
