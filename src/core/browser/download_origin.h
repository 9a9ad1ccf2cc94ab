#pragma once
// Whether a page's download goes ahead: the player's input, an address the client knows,
// and a bound on how many of the page's downloads run at once. A frame of another site
// inside the page (an advertisement) cannot save files on the strength of the player's
// click on the game.
#include <string>
#include <string_view>
#include <vector>

namespace qev {

enum class DownloadVerdict {
    Accept,
    ForeignOrigin, // from an address neither the page's host nor a host of the layout
    TooMany,       // MaxRunningDownloads of the page are under way
    NoAllowance,   // no input of the player allows it
    NotAnImage,    // a data: address other than a png, jpeg, gif or webp image
};

inline constexpr int MaxRunningDownloads = 3;

// knownHosts: "host" or "host:port" (the layout's portal, game, forum and static hosts).
// The address's origin is that of an http(s) address, the one inside a blob: address;
// a data: address has none and goes ahead on the allowance alone when it is an image a
// game's screenshot comes as (DataImageEnding), and never otherwise: a page that makes
// other files has blob: addresses of its own origin. running: the page's downloads under
// way.
DownloadVerdict DecideDownload(std::string_view address, std::string_view pageAddress,
                               const std::vector<std::string>& knownHosts, bool inputAllowance,
                               int running);

// The ending a data: address's image is saved with: ".png", ".jpg", ".gif" or ".webp" for
// its media type (case ignored, parameters allowed); empty for any other address.
std::string DataImageEnding(std::string_view address);

// The name a data: image is saved under: SafeDownloadName of the suggested one, with the
// image's ending appended unless it has one of that type's endings already (".jpeg" too),
// so the saved file opens as the image it is. Other addresses: SafeDownloadName alone.
std::string DataDownloadName(std::string_view suggested, std::string_view address);

} // namespace qev
