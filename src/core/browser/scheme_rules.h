#pragma once
// Which addresses a page may go to, by their scheme. Web addresses load; an address for a
// desktop handler (a game launcher, mail, a torrent client) never opens by itself: a game
// page the player just clicked may have the player asked, any other page is refused.
#include <string>
#include <string_view>

namespace qev {

enum class SchemeVerdict {
    Load,   // the engine goes on as usual
    Refuse, // not loaded, nothing asked
    Ask,    // not loaded; the player is asked whether the desktop's handler opens it
};

// The scheme of address in lower case; empty when it does not start with one.
std::string SchemeOf(std::string_view address);

// "scheme://host[:port]" of an http or https address, host in lower case; empty for any
// other address.
std::string WebOriginOf(std::string_view address);

// A page at pageAddress goes to address in its main frame, or in a sub-frame (mainFrame
// false: an ad's frame, whose request is never put to the player as the page's). gamePage:
// a game view or game pop-up (login and reminder panes are not); inputAllowance: the page
// has an unspent allowance for the question.
SchemeVerdict DecideScheme(std::string_view address, std::string_view pageAddress, bool gamePage,
                           bool inputAllowance, bool mainFrame);

} // namespace qev
