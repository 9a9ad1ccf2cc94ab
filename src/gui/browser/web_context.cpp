#include "gui/browser/web_context.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QWidget>
#include <QWebEnginePage>
#include <QWebEngineProfile>

#include "core/browser/operator_sites.h"
#include "core/platform/private_folder.h"
#include "gui/browser/downloads.h"
#include "gui/browser/input_watch.h"
#include "gui/browser/page_keeper.h"
#include "gui/browser/profile_bound.h"
#include "gui/browser/proxy_auth.h"

namespace {

constexpr char ProfileName[] = "qev";

// home/qev/web through the checked walk (made 0700 where missing, never through a link,
// refused when another user could reach into it); "" with refusal saying why otherwise.
// kept: the folder as opened, for the profile's bound.
QString OpenWebFolder(const QString& home, QString& refusal,
                      std::unique_ptr<qev::PrivateFolder>* kept = nullptr)
{
    qev::PlatformError error;
    auto folder = qev::PrivateFolder::Open(home.toStdString(), {"qev", "web"}, &error);
    if (!folder) refusal = QString::fromStdString(error.text);
    QString path = folder ? QString::fromStdString(folder->Path()) : QString();
    if (kept) *kept = std::move(folder);
    return path;
}

} // namespace

CWebContext::CWebContext(const QString& dataHome, const QString& cacheHome,
                         std::vector<std::string> knownHosts)
    : sites_(knownHosts)
{
    MakeParts(ClaimFolders(dataHome, cacheHome), std::move(knownHosts));
}

CWebContext::CWebContext(std::vector<std::string> knownHosts) : sites_(knownHosts)
{
    MakeParts(QString(), std::move(knownHosts));
}

void CWebContext::MakeParts(const QString& zoomFile, std::vector<std::string> knownHosts)
{
    // Input is watched from here on, on every page of the profile (see input_watch.h).
    input_ = new CInputWatch(zoomFile, this);
    downloads_ = new CDownloads(QStandardPaths::writableLocation(QStandardPaths::DownloadLocation),
                                QDir::homePath(), std::move(knownHosts), this);
    connect(downloads_, &CDownloads::status, this, &CWebContext::downloadStatus);
    proxyLogin_ = new CProxyLogin(this);
}

CWebContext::~CWebContext()
{
    delete input_;
    for (const QPointer<QWidget>& popup : popups_) delete popup.data();
    for (const QPointer<QWebEnginePage>& page : dropped_) delete page.data();
}

void CWebContext::ClosePopups()
{
    for (const QPointer<QWidget>& popup : std::as_const(popups_))
        if (popup) popup->close();
}

void CWebContext::DropPage(QWebEnginePage* page)
{
    CPageGuard* guard = CPageGuard::Of(page);
    if (!guard) return;
    // No longer owned by its view (which would delete it at once, dialog open or not),
    // and discarded: its scripts stop, nothing more is sent, and no "leave this page?"
    // question is asked.
    page->setParent(nullptr);
    dropped_.removeAll(nullptr);
    dropped_.push_back(page);
    guard->DeleteWhenIdle();
}

bool CWebContext::AllowNavigation(QWebEnginePage* page, const QUrl& url, bool isMainFrame)
{
    return AllowPageNavigation(page, url, isMainFrame);
}

QString CWebContext::ClaimFolders(const QString& dataHome, const QString& cacheHome)
{
    QString refusal;
    std::unique_ptr<qev::PrivateFolder> storageFolder;
    const QString storage = OpenWebFolder(dataHome, refusal, &storageFolder);
    const QString dataFolder = QFileInfo(storage).path(); // qev/, checked with it
    QString zoomFile = storage.isEmpty() ? QString() : dataFolder + QStringLiteral("/zoom.ini");
    const QString cache = storage.isEmpty() ? QString() : OpenWebFolder(cacheHome, refusal);
    if (!cache.isEmpty()) {
        lock_ = std::make_unique<QLockFile>(dataFolder + QStringLiteral("/web.lock"));
        // Held for the whole run, however long: never taken over because of its age (a
        // lock whose process is gone is still taken over).
        lock_->setStaleLockTime(0);
        if (!lock_->tryLock(0)) {
            refusal = lock_->error() == QLockFile::LockFailedError
                          ? QStringLiteral("another copy of the client uses %1").arg(storage)
                          : QStringLiteral("%1 cannot be locked").arg(lock_->fileName());
            lock_.reset();
        }
    }
    if (!refusal.isEmpty()) {
        WebLog(QStringLiteral("web profile: %1; this run keeps no cookies or cache").arg(refusal));
        return zoomFile;
    }
    storage_ = storage;
    cache_ = cache;
    storageFolder_ = std::move(storageFolder);
    return zoomFile;
}

QWebEngineProfile* CWebContext::profile()
{
    if (profile_) return profile_;
    // Kept to the operator's sites and bounded; what start-up removes goes before the
    // engine opens the folder.
    bound_ = new CProfileBound(
        std::move(storageFolder_),
        [this](std::string_view host) { return sites_.IsOperatorHost(host); }, this);
    bound_->CleanAtStart();
    if (storage_.isEmpty()) {
        profile_ = new QWebEngineProfile(this); // off the record
    } else {
        profile_ = new QWebEngineProfile(QString::fromLatin1(ProfileName), this);
        profile_->setPersistentStoragePath(storage_);
        profile_->setCachePath(cache_);
        profile_->setHttpCacheType(QWebEngineProfile::DiskHttpCache);
        // Cookies as the site sets them: a session cookie still ends with the client.
        profile_->setPersistentCookiesPolicy(QWebEngineProfile::AllowPersistentCookies);
    }
#if QT_VERSION >= QT_VERSION_CHECK(6, 8, 0)
    // Qt 6.8 would remember answers (on disk for a stored profile) and answer later requests
    // itself: every request reaches the page rules, as on 6.4, so a pointer lock stays one per
    // click and every refusal is logged.
    profile_->setPersistentPermissionsPolicy(
        QWebEngineProfile::PersistentPermissionsPolicy::AskEveryTime);
#endif
    connect(profile_, &QWebEngineProfile::downloadRequested, downloads_, &CDownloads::OnRequested);
    input_->Watch(profile_);
    bound_->Watch(profile_);
    return profile_;
}

void CWebContext::Adopt(QWebEngineView* view, QWebEnginePage* page, PageRole role)
{
    ApplyPageRules(page, role);
    proxyLogin_->Watch(page);
    if (role == PageRole::Game) input_->KeepZoom(page);
    if (bound_) bound_->AddPage(page);
    new CPageKeeper(view, page);
}
