#pragma once
// Keeps a page's refusals to a trickle in the log: a page that retries a refused request
// in a loop writes one line a minute for it, carrying how many were refused since.
#include <cstdint>
#include <map>
#include <string>
#include <string_view>

namespace qev {

class RefusalLimiter {
public:
    static constexpr std::int64_t PeriodMs = 60000;

    // A refusal of kind at nowMs. 0: write nothing. Otherwise write one line now; the value
    // is how many refusals of kind that line stands for (this one and those kept quiet
    // since the last line).
    int Note(std::string_view kind, std::int64_t nowMs);

private:
    struct Entry {
        std::int64_t lastLine = 0;
        int quiet = 0;
    };
    std::map<std::string, Entry, std::less<>> kinds_;
};

} // namespace qev
