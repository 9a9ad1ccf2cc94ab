#pragma once
// The session a portal page hands over when it opens a "_game" window, and what the login
// makes of it.
#include <string>
#include <string_view>

namespace qev {

// The attributes of the element that opened the game window (UTF-8). A missing or
// non-string attribute stays empty.
struct SessionInfo {
    std::string title, href, domain, sid, user;
};

// True for the target that leads into the game: "_game", case ignored.
bool IsGameTarget(std::string_view target);

} // namespace qev
