#pragma once
// How a platform function says why it failed: it returns false (or an empty optional) and,
// when the caller hands it one, fills a PlatformError. What is logged stays the caller's
// choice.
#include <string>
#include <utility>

namespace qev {

struct PlatformError {
    // errno on Linux, GetLastError() on Windows; 0 when no system call failed (an argument
    // refused, a check that did not hold).
    int code = 0;
    // What failed, in a few words.
    std::string text;
};

// Fills *error when there is one, and gives false, so a failing branch can return it.
inline bool Fail(PlatformError* error, int code, std::string text)
{
    if (error) *error = {code, std::move(text)};
    return false;
}

} // namespace qev
