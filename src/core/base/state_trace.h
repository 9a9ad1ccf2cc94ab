#pragma once
// A trace of the client's state machines: one "machine: from -> to (why)" line on standard
// error per transition. On in a debug build, and in any build while QEV_TRACE_STATES is set,
// so that a stuck update check or download can be followed without a debugger.
#include <cstdint>
#include <string>
#include <string_view>

namespace qev {

// True when transitions are written (decided once per process).
bool StateTraceOn();

// The line TraceTransition writes, without its line end.
std::string FormatTransition(std::string_view machine, std::string_view from, std::string_view to,
                             std::string_view why);

// Writes the transition when the trace is on.
void TraceTransition(std::string_view machine, std::string_view from, std::string_view to,
                     std::string_view why);

// Named bits joined with '|' ("Ready|Reconnect"); a bit without a name as hex, "0" for none.
struct FlagName {
    std::uint32_t bit;
    const char* name;
};
template <std::size_t N> std::string FlagNames(std::uint32_t flags, const FlagName (&names)[N])
{
    std::string out;
    for (const FlagName& n : names) {
        if ((flags & n.bit) == 0) continue;
        if (!out.empty()) out += '|';
        out += n.name;
        flags &= ~n.bit;
    }
    if (flags != 0) {
        static constexpr char Digits[] = "0123456789abcdef";
        std::string hex;
        for (; flags != 0; flags >>= 4) hex.insert(hex.begin(), Digits[flags & 15]);
        if (!out.empty()) out += '|';
        out += "0x" + hex;
    }
    return out.empty() ? "0" : out;
}

} // namespace qev
