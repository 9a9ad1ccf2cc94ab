#include "base/strings.h"

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
    default: return {};
    }
}

std::string AppTitle()
{
    return LoadString(IdsProductAbbrev);
}

} // namespace qev
