#pragma once
// What each kind of page may do: its settings, the addresses it may go to, the features and
// handlers it may have. The rules are kept per page on its CPageGuard (its role, the
// player's recent input, its refusals).
#include <QString>

#include "gui/browser/page_role.h"

class QObject;
class QUrl;
class QWebEnginePage;

// The role page was adopted with (Login for a page never adopted).
PageRole RoleOf(const QWebEnginePage* page);

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
