#pragma once
// What the client keeps for each page it shows: the page's role, the player's recent input
// on the page's view, the page's refusals (kept to one log line a minute per kind) and its
// script dialogs. A child of the page: it lasts as long as the page object, through a
// render process that died and came back, and a page made to replace it starts afresh.
#include <QObject>
#include <QPointer>
#include <QString>

#include "core/browser/dialog_gate.h"
#include "core/browser/input_allowance.h"
#include "core/browser/refusal_limiter.h"
#include "gui/browser/page_role.h"

class QDialog;
class QWebEnginePage;

class CPageGuard : public QObject {
    Q_OBJECT
public:
    CPageGuard(QWebEnginePage* page, PageRole role);
    // The guard of page; null for a page the web context never adopted.
    static CPageGuard* Of(const QWebEnginePage* page);

    PageRole role() const { return role_; }
    QWebEnginePage* page() const { return page_; }

    // A mouse press or a key other than Esc on the page's view.
    void OnInput();
    bool HasAllowance(qev::AllowanceKind kind) const;
    bool SpendAllowance(qev::AllowanceKind kind);
    // Writes line to the log unless a line of this kind was written for the page within
    // the last minute; the next line says how many were kept quiet.
    void Refused(const char* kind, const QString& line);

    // A main-frame navigation went ahead (the page's dialog gate stays as it was).
    void OnNavigation() { navigated_ = true; }
    bool navigated() const { return navigated_; }

    // Script dialogs (alert, confirm, prompt) of the page. Reminder panes get none; other
    // pages show them modal to their own window, with a box to stop more, and answer them
    // quietly after two in a row without input. False: cancelled or answered quietly.
    bool RunDialog(int kind, const QString& text, const QString& defaultValue, QString* result);
    bool dialogOpen() const { return !dialog_.isNull(); }
    // The player's own command reloads or replaces the page: its dialogs show again, the
    // player's "no more dialogs" included.
    void ResetDialogs() { dialogs_.Reset(); }
    // Closes an open dialog of the page; true when there was one.
    bool CloseDialog();
    // The page is no longer wanted: deleted once no dialog of it is open. True when a
    // dialog was open (it is closing).
    bool DeleteWhenIdle();

    // The page's downloads under way.
    int runningDownloads = 0;

private:
    QWebEnginePage* page_;
    PageRole role_;
    qev::InputAllowance allowance_;
    qev::RefusalLimiter refusals_;
    qev::DialogGate dialogs_;
    QPointer<QDialog> dialog_;
    bool deleteWhenIdle_ = false;
    bool navigated_ = false;
};

// The dialog kinds RunDialog takes.
enum ScriptDialogKind { ScriptAlert, ScriptConfirm, ScriptPrompt };
