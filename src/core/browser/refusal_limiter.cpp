#include "core/browser/refusal_limiter.h"

namespace qev {

int RefusalLimiter::Note(std::string_view kind, std::int64_t nowMs)
{
    auto found = kinds_.find(kind);
    if (found == kinds_.end()) {
        kinds_.emplace(std::string(kind), Entry{nowMs, 0});
        return 1;
    }
    Entry& entry = found->second;
    // A clock set back starts the period again rather than keeping the page quiet for good.
    if (nowMs - entry.lastLine < PeriodMs && nowMs >= entry.lastLine) {
        ++entry.quiet;
        return 0;
    }
    const int count = entry.quiet + 1;
    entry = Entry{nowMs, 0};
    return count;
}

} // namespace qev
