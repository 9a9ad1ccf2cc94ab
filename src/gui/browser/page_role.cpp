#include "gui/browser/page_role.h"

const char* RolePageName(PageRole role)
{
    switch (role) {
    case PageRole::Login: return "login page";
    case PageRole::Reminder: return "reminder page";
    case PageRole::Game: return "game page";
    case PageRole::Popup: return "game pop-up";
    }
    return "page";
}

QString RoleName(PageRole role)
{
    return QString::fromLatin1(RolePageName(role));
}

bool GetsGameRights(PageRole role)
{
    return role == PageRole::Game || role == PageRole::Popup;
}
