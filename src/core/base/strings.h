#pragma once
// The string table: user-visible texts addressed by numeric id.
#include <string>

namespace qev {

enum StringId : int {
    IdsCaptionFont = 1, // "Verdana"
    IdsAskSwitchAccount = 2,
    IdsAskSwitchServers = 3,
    IdsAskQuit = 4,
    IdsDownloadFailed = 5, // "Download failed!"
    IdsOleInitFailed = 100,
    IdsProductAbbrev = 101,  // "QEV"
    IdsFrameCaption = 102,   // "Velmora Client"
    IdsCannotBeEmpty = 103,  // "Can not be empty"
    IdsInternetFailed = 104, // "Internet Connect Failed"
    // Web pages: a dead render process, an outside application, downloads, script dialogs.
    IdsPageStopped = 200,        // "This page stopped working."
    IdsReload = 201,             // "Reload"
    IdsAskOpenCaption = 202,     // "Open an outside application?"
    IdsAskOpenText = 203,        // scheme, address
    IdsDownloadFailedName = 204, // name
    IdsDownloadFailedWhy = 205,  // name, reason
    IdsDownloadingPart = 206,    // name, percent, KiB received, KiB in all
    IdsDownloadingKiB = 207,     // name, KiB received
    IdsDownloaded = 208,         // path
    IdsPageMessage = 209,        // host
    IdsStopPageDialogs = 210,    // "Don't let this page open more dialogs"
    IdsPopupBlocked = 211,       // "Pop-up blocked"
    // A pop-up off the operator's sites: its host.
    IdsOutsideSiteSecure = 220,
    IdsOutsideSite = 221,
    // A proxy that asks for a password: its host.
    IdsProxyLoginCaption = 230, // "Proxy password"
    IdsProxyLoginText = 231,    // host
    IdsProxyUser = 232,         // "User name:"
    IdsProxyPassword = 233,     // "Password:"
};

// The text of a string-table entry; empty for an id the table does not hold.
std::string LoadString(int id);

// The application's title, used as the caption of message boxes that name none.
std::string AppTitle();

} // namespace qev
