#pragma once
// What a page is for, which decides the rules it gets (page_rules.h) and its guard's
// answers (page_guard.h).
#include <QString>

// What a page is for.
enum class PageRole {
    Login,    // the login stack's pages: no full screen, no downloads
    Reminder, // a reminder's panes: the same
    Game,     // a game view of the main frame (game, homepage, forum tabs)
    Popup,    // a window a game page opened
};

// What a page of role is called in the log ("game page").
const char* RolePageName(PageRole role);
QString RoleName(PageRole role);
// Game pages and their pop-ups: full screen, sound, pointer lock, downloads.
bool GetsGameRights(PageRole role);
