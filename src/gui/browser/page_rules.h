#pragma once
// What each kind of page may do: its settings, the addresses it may go to, the features and
// handlers it may have. The rules are kept per page on its CPageGuard (its role, the
// player's recent input, its refusals).
#include <QString>

class QObject;
class QUrl;
class QWebEnginePage;

// What a page is for.
enum class PageRole {
    Login,    // the login stack's pages: no full screen, no downloads
    Reminder, // a reminder's panes: the same
    Game,     // a game view of the main frame (game, homepage, forum tabs)
    Popup,    // a window a game page opened
};

// The role page was adopted with (Login for a page never adopted).
PageRole RoleOf(const QWebEnginePage* page);
// What a page of role is called in the log ("game page").
const char* RolePageName(PageRole role);
QString RoleName(PageRole role);
// Game pages and their pop-ups: full screen, sound, pointer lock, downloads.
bool GetsGameRights(PageRole role);

// Gives page its guard for role, its settings, and answers its feature and handler
// requests.
void ApplyPageRules(QWebEnginePage* page, PageRole role);
// Whether page may go to url (the engine's navigation callback of every page). A desktop
// handler's address may instead have the player asked, after the callback.
bool AllowPageNavigation(QWebEnginePage* page, const QUrl& url, bool isMainFrame);

// Log lines: one line written, an address or a text a page had a hand in that cannot start
// a line of its own.
void WebLog(const QString& line);
QString ForLog(const QUrl& url);
QString LogText(const QString& text);
