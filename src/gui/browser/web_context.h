#pragma once
// What every web page of the client shares: one profile (cookies, local storage, the disk
// cache), what each kind of page may do (full screen, sound, pointer lock, downloads,
// permissions), the zoom remembered per host, and the player's recent input on each page.
// The application makes one and hands it to the windows that make pages.
#include <QHash>
#include <QLockFile>
#include <QObject>
#include <QPointer>
#include <QString>

#include <memory>
#include <string>
#include <vector>

#include "browser/page_guard.h"
#include "browser/web_rules.h"

class QWebEngineDownloadRequest;
class QWebEnginePage;
class QWebEngineProfile;
class QUrl;
class QWebEngineView;
class QWidget;

// What a page is for.
enum class PageRole {
    Login,    // the login stack's pages: no full screen, no downloads
    Reminder, // a reminder's panes: the same
    Game,     // a game view of the main frame (game, homepage, forum tabs)
    Popup,    // a window a game page opened
};

class CWebContext : public QObject {
    Q_OBJECT
public:
    // A page whose render process ends twice within this long stops reloading itself.
    static constexpr qint64 CrashLoopMs = 60000;

    // The profile keeps its storage in dataHome/qev/web and its cache in cacheHome/qev/web
    // (both mode 0700, reached through qev::PrivateFolder's checked walk), while this
    // process holds dataHome/qev/web.lock. When another copy holds the lock, or a folder
    // on the way is a link, another user's, or cannot be made, this run's profile is off
    // the record (and one log line says why). Zoom is remembered in dataHome/qev/zoom.ini.
    // The profile itself is made on first use: it starts the web engine, which must not
    // hold up the first paint. knownHosts: the layout's hosts ("host[:port]"), from which
    // pages may download besides their own.
    CWebContext(const QString& dataHome, const QString& cacheHome,
                std::vector<std::string> knownHosts);
    // Off the record, zoom not kept (tests).
    explicit CWebContext(std::vector<std::string> knownHosts = {});
    // Closes the pop-ups first: no page may outlive its profile.
    ~CWebContext() override;

    QWebEngineProfile* profile();
    // Whether the profile keeps cookies and cache between runs (known before it is made).
    bool persistent() const { return !storage_.isEmpty(); }

    // Sets page up for role: its settings, permissions, downloads, zoom and recovery from a
    // dead render process. view shows page (setPage already done).
    void Adopt(QWebEngineView* view, QWebEnginePage* page, PageRole role);
    // A pop-up window is closed before the profile goes.
    void KeepPopup(QWidget* popup) { popups_.push_back(popup); }
    // Closes every game pop-up (the account they belong to has ended).
    void ClosePopups();
    // Drops page: its view must already show another page. The page is deleted once no
    // dialog of it is open, without asking the page whether it may go, and sends nothing
    // more meanwhile.
    void DropPage(QWebEnginePage* page);

    // Whether page may go to url (the engine's navigation callback of every page). A
    // desktop handler's address may instead have the player asked, after the callback.
    bool AllowNavigation(QWebEnginePage* page, const QUrl& url, bool isMainFrame);

    // Zoom of the pages of host, in percent; remembering writes zoom.ini at once.
    int ZoomFor(const QString& host) const;
    void RememberZoom(const QString& host, int percent);

signals:
    // A line for the status bar: a download's progress, its final path or its failure.
    void downloadStatus(const QString& text);
    // A line for the status bar about a page's request ("Pop-up blocked").
    void pageStatus(const QString& text);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Takes the lock and makes the folders; on failure, says why in the log and leaves the
    // profile off the record.
    void ClaimFolders(const QString& dataHome, const QString& cacheHome);
    void OnDownloadRequested(QWebEngineDownloadRequest* download);
    // Reports a download's progress and ends it with its last state.
    void FollowDownload(QWebEngineDownloadRequest* download);
    // A complete download takes its final name (or the next free copy of its name); any
    // other end removes its hidden file. Once per download.
    void EndDownload(quint32 id, bool complete, const QString& reason);
    // Asks the player whether the desktop's handler opens url, which page asked for.
    void AskToOpen(QWebEnginePage* page, const QUrl& url);
    // Applies a zoom step to the game page of view (direction as NextZoomPercent).
    void StepZoom(QWebEngineView* view, int direction);

    std::unique_ptr<QLockFile> lock_;
    QString storage_, cache_;              // empty: off the record
    QWebEngineProfile* profile_ = nullptr; // child of this, made on first use
    QString zoomFile_;
    qev::ZoomMemory zoom_;
    QList<QPointer<QWidget>> popups_;
    std::vector<std::string> knownHosts_;
    // Pages dropped but not yet deleted: none may outlive the profile.
    QList<QPointer<QWebEnginePage>> dropped_;
    // Every download this run accepted, by the engine's id. One under way holds its final
    // name, so two at once do not pick the same one.
    struct Download {
        QString folder, name, finalName;
        QString partPath; // where the bytes arrive
        bool ended = false;
        QPointer<CPageGuard> page; // counts its downloads under way
    };
    QHash<quint32, Download> downloads_;
};

// The role Adopt gave page (Login for a page never adopted).
PageRole RoleOf(const QWebEnginePage* page);
// What a page of role is called in the log ("game page").
const char* RolePageName(PageRole role);
