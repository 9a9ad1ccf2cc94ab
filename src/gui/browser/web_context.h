#pragma once
// What every web page of the client shares: one profile (cookies, local storage, the disk
// cache) and its lock, and the parts that serve every page: the rules of each kind of page
// (page_rules.h, kept on the page's guard), the player's input and the zoom
// (input_watch.h), recovery from a dead render process (page_keeper.h) and the downloads
// (downloads.h). The application makes one and hands it to the windows that make pages.
#include <QLockFile>
#include <QObject>
#include <QPointer>
#include <QString>

#include <memory>
#include <string>
#include <vector>

#include "core/browser/operator_sites.h"
#include "core/browser/web_rules.h"
#include "gui/browser/page_guard.h"
#include "gui/browser/page_rules.h"

class CDownloads;
class CInputWatch;
class CProfileBound;
class CProxyLogin;
class QWebEnginePage;
class QWebEngineProfile;
class QUrl;
class QWebEngineView;
class QWidget;

namespace qev {
class PrivateFolder;
}

class CWebContext : public QObject {
    Q_OBJECT
public:
    // The profile keeps its storage in dataHome/qev/web and its cache in cacheHome/qev/web
    // (both mode 0700, reached through qev::PrivateFolder's checked walk), while this
    // process holds dataHome/qev/web.lock. When another copy holds the lock, or a folder
    // on the way is a link, another user's, or cannot be made, this run's profile is off
    // the record (and one log line says why). Zoom is remembered in dataHome/qev/zoom.ini.
    // The profile itself is made on first use: it starts the web engine, which must not
    // hold up the first paint. knownHosts: the operator's hosts ("host[:port]"), from which
    // pages may download besides their own, and the sites the panes keep to. The desktop's download
    // folder is looked up here and handed to the downloads.
    CWebContext(const QString& dataHome, const QString& cacheHome,
                std::vector<std::string> knownHosts);
    // Off the record, zoom not kept (tests).
    explicit CWebContext(std::vector<std::string> knownHosts = {});
    // Closes the pop-ups first: no page may outlive its profile.
    ~CWebContext() override;

    QWebEngineProfile* profile();
    // The sites every pane's main frame keeps to (made from knownHosts).
    const qev::OperatorSites& sites() const { return sites_; }
    // Whether the profile keeps cookies and cache between runs (known before it is made).
    bool persistent() const { return !storage_.isEmpty(); }

    // Sets page up for role: its settings, permissions, downloads, zoom, recovery from a
    // dead render process, its proxy's password requests, and its stop when its site fills the
    // profile (profile_bound.h). view shows page (setPage already done).
    void Adopt(QWebEngineView* view, QWebEnginePage* page, PageRole role);
    // Answers the pages' proxies that ask for a password; the player is asked through its
    // loginWanted.
    CProxyLogin* proxyLogin() const { return proxyLogin_; }
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

signals:
    // A line for the status bar: a download's progress, its final path or its failure.
    void downloadStatus(const QString& text);
    // A line for the status bar about a page's request ("Pop-up blocked").
    void pageStatus(const QString& text);

private:
    // Takes the lock and makes the folders; on failure, says why in the log and leaves the
    // profile off the record. Returns where zoom is remembered ("" when off the record).
    QString ClaimFolders(const QString& dataHome, const QString& cacheHome);
    // The parts every constructor makes.
    void MakeParts(const QString& zoomFile, std::vector<std::string> knownHosts);

    qev::OperatorSites sites_;
    std::unique_ptr<QLockFile> lock_;
    QString storage_, cache_;                           // empty: off the record
    std::unique_ptr<qev::PrivateFolder> storageFolder_; // storage_ as opened, until the bound
    QWebEngineProfile* profile_ = nullptr;              // child of this, made on first use
    CProfileBound* bound_ = nullptr;                    // child of this, made with the profile
    CInputWatch* input_ = nullptr;                      // children of this
    CDownloads* downloads_ = nullptr;
    CProxyLogin* proxyLogin_ = nullptr;
    QList<QPointer<QWidget>> popups_;
    // Pages dropped but not yet deleted: none may outlive the profile.
    QList<QPointer<QWebEnginePage>> dropped_;
};
