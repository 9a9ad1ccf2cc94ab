#include "core/base/strings.h"

namespace qev {

std::string LoadString(int id)
{
    switch (id) {
    case IdsCaptionFont: return "Verdana";
    case IdsAskSwitchAccount:
        return "Do you wish to return to the interface where you can switch account?";
    case IdsAskSwitchServers:
        return "Do you wish to return to the interface where you can switch servers?";
    case IdsAskQuit: return "Are you sure you want to quit the micro-client?";
    case IdsDownloadFailed: return "Download failed!";
    case IdsOleInitFailed:
        return "OLE initialization failed.  Make sure that the OLE libraries are the correct "
               "version.";
    case IdsProductAbbrev: return "QEV";
    case IdsFrameCaption: return "Velmora Client";
    case IdsCannotBeEmpty: return "Can not be empty";
    case IdsInternetFailed: return "Internet Connect Failed";
    case IdsPageStopped: return "This page stopped working.";
    case IdsReload: return "Reload";
    case IdsAskOpenCaption: return "Open an outside application?";
    case IdsAskOpenText:
        return "This page wants to open a \"%1:\" address with an application of your "
               "desktop:\n\n%2\n\nOpen it?";
    case IdsDownloadFailedName: return "Download failed: %1";
    case IdsDownloadFailedWhy: return "Download failed: %1 (%2)";
    case IdsDownloadingPart: return "Downloading %1: %2 % (%3 of %4 KiB)";
    case IdsDownloadingKiB: return "Downloading %1: %2 KiB";
    case IdsDownloaded: return "Downloaded: %1";
    case IdsPageMessage: return "Message from %1";
    case IdsStopPageDialogs: return "Don't let this page open more dialogs";
    case IdsPopupBlocked: return "Pop-up blocked";
    case IdsOutsideSiteSecure: return "Outside site: %1 \u2014 connection encrypted (https)";
    case IdsOutsideSite: return "Outside site: %1 \u2014 not secure (http)";
    case IdsProxyLoginCaption: return "Proxy password";
    case IdsProxyLoginText:
        return "The proxy %1 asks for a user name and password before it lets the pages "
               "through. You are asked once while the client runs.";
    case IdsProxyUser: return "User name:";
    case IdsProxyPassword: return "Password:";
    default: return {};
    }
}

std::string AppTitle()
{
    return LoadString(IdsProductAbbrev);
}

} // namespace qev
