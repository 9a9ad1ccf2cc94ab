#include "browser/web_context.h"

#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QSaveFile>
#include <QStandardPaths>
#include <QWebEngineDownloadRequest>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineSettings>
#include <QWebEngineView>
#include <QWheelEvent>

#include "base/log.h"
#include "platform/private_folder.h"

namespace {

constexpr char RoleProperty[] = "qevPageRole";
constexpr char LastInputProperty[] = "qevLastInput";
constexpr char DeniedProperty[] = "qevDeniedFeatures";
constexpr char ProfileName[] = "qev";
// Progress lines are written at most this often, so a fast download does not flood the
// status bar's repaints.
constexpr qint64 ProgressLineMs = 250;
// The message over a page that stopped working.
constexpr int ReloadButtonWidth = 120;
constexpr int ReloadButtonHeight = 32;
constexpr int MessageGap = 8;
constexpr int MessageMinWidth = 240;
// Copies named " (1)" up to this; past it the download is refused rather than overwrite.
constexpr int MaxNumberedCopies = 999;

const char* RoleName(PageRole role)
{
    switch (role) {
    case PageRole::Login: return "login page";
    case PageRole::Reminder: return "reminder page";
    case PageRole::Game: return "game page";
    case PageRole::Popup: return "game pop-up";
    }
    return "page";
}

const char* FeatureName(QWebEnginePage::Feature feature)
{
    switch (feature) {
    case QWebEnginePage::Notifications: return "notifications";
    case QWebEnginePage::Geolocation: return "location";
    case QWebEnginePage::MediaAudioCapture: return "microphone";
    case QWebEnginePage::MediaVideoCapture: return "camera";
    case QWebEnginePage::MediaAudioVideoCapture: return "camera and microphone";
    case QWebEnginePage::MouseLock: return "pointer lock";
    case QWebEnginePage::DesktopVideoCapture: return "screen capture";
    case QWebEnginePage::DesktopAudioVideoCapture: return "screen capture with sound";
    }
    return "unknown feature";
}

const char* TerminationName(QWebEnginePage::RenderProcessTerminationStatus status)
{
    switch (status) {
    case QWebEnginePage::NormalTerminationStatus: return "normal exit";
    case QWebEnginePage::AbnormalTerminationStatus: return "abnormal exit";
    case QWebEnginePage::CrashedTerminationStatus: return "crashed";
    case QWebEnginePage::KilledTerminationStatus: return "killed";
    }
    return "unknown";
}

void Log(const QString& line)
{
    qev::WriteLog(line.toStdString());
}

QString ForLog(const QUrl& url)
{
    return QString::fromStdString(qev::AddressForLog(url.toString().toStdString()));
}

// Text for a log line: a name or folder a page had a hand in cannot start a line of its own.
QString Escaped(const QString& text)
{
    return QString::fromStdString(qev::AddressForLog(text.toStdString()));
}

bool GetsGameRights(PageRole role)
{
    return role == PageRole::Game || role == PageRole::Popup;
}

// home/qev/web through the checked walk (made 0700 where missing, never through a link,
// refused when another user could reach into it); "" with refusal saying why otherwise.
QString OpenWebFolder(const QString& home, QString& refusal)
{
    std::string whyNot;
    const auto folder = qev::PrivateFolder::Open(home.toStdString(), {"qev", "web"}, whyNot);
    if (!folder) refusal = QString::fromStdString(whyNot);
    return folder ? QString::fromStdString(folder->Path()) : QString();
}

// The web view the event was sent into (the view itself or its render widget), or null.
QWebEngineView* ViewUnder(QObject* watched)
{
    for (QObject* object = watched; object; object = object->parent())
        if (auto* view = qobject_cast<QWebEngineView*>(object)) return view;
    return nullptr;
}

// Brings a page back when its render process dies; a second death within a minute shows a
// message with a Reload button instead, so a page that kills its renderer does not loop.
class PageKeeper : public QObject {
public:
    PageKeeper(QWebEngineView* view, QWebEnginePage* page) : QObject(page), view_(view), page_(page)
    {
        connect(page, &QWebEnginePage::urlChanged, this, [this](const QUrl& url) {
            if (!url.isEmpty()) lastUrl_ = url;
        });
        connect(page, &QWebEnginePage::renderProcessTerminated, this,
                [this](QWebEnginePage::RenderProcessTerminationStatus status, int code) {
                    OnTerminated(status, code);
                });
    }

private:
    void OnTerminated(QWebEnginePage::RenderProcessTerminationStatus status, int code)
    {
        if (status == QWebEnginePage::NormalTerminationStatus) return;
        const qint64 now = QDateTime::currentMSecsSinceEpoch();
        const bool again = lastDeath_ != 0 && now - lastDeath_ < CWebContext::CrashLoopMs;
        lastDeath_ = now;
        Log(QStringLiteral("%1 render process ended (%2, code %3) at %4: %5")
                .arg(QString::fromLatin1(RoleName(RoleOf(page_))),
                     QString::fromLatin1(TerminationName(status)), QString::number(code),
                     ForLog(lastUrl_),
                     again ? QStringLiteral("second time within a minute, showing Reload")
                           : QStringLiteral("loading it again")));
        if (again)
            ShowMessage();
        else
            page_->load(lastUrl_);
    }

    // The message fills the view; its Reload button sits at the view's centre.
    void ShowMessage()
    {
        if (!view_) return;
        if (!message_) {
            message_ = new QWidget(view_);
            message_->setAutoFillBackground(true);
            text_ = new QLabel(QStringLiteral("This page stopped working."), message_);
            text_->setAlignment(Qt::AlignCenter);
            reload_ = new QPushButton(QStringLiteral("Reload"), message_);
            connect(reload_, &QPushButton::clicked, this, [this] {
                message_->hide();
                page_->load(lastUrl_);
            });
        }
        const QRect area = view_->rect();
        message_->setGeometry(area);
        // A small pane (a reminder's) has room for the button alone.
        text_->setVisible(area.width() >= MessageMinWidth);
        const QSize button(std::min(ReloadButtonWidth, area.width()),
                           std::min(ReloadButtonHeight, area.height()));
        reload_->setGeometry(
            QRect(area.center() - QPoint(button.width(), button.height()) / 2, button));
        text_->setGeometry(0, reload_->y() - MessageGap - ReloadButtonHeight, area.width(),
                           ReloadButtonHeight);
        message_->show();
        message_->raise();
    }

    QPointer<QWebEngineView> view_;
    QWebEnginePage* page_;
    QUrl lastUrl_;
    qint64 lastDeath_ = 0;
    QPointer<QWidget> message_;
    QLabel* text_ = nullptr; // children of message_
    QPushButton* reload_ = nullptr;
};

} // namespace

PageRole RoleOf(const QWebEnginePage* page)
{
    const QVariant role = page ? page->property(RoleProperty) : QVariant();
    return role.isValid() ? static_cast<PageRole>(role.toInt()) : PageRole::Login;
}

CWebContext::CWebContext(const QString& dataHome, const QString& cacheHome)
{
    ClaimFolders(dataHome, cacheHome);
    QFile zoomFile(zoomFile_);
    if (!zoomFile_.isEmpty() && zoomFile.open(QIODevice::ReadOnly))
        zoom_.Read(zoomFile.read(64 * 1024).toStdString());
    qApp->installEventFilter(this);
}

CWebContext::CWebContext()
{
    qApp->installEventFilter(this);
}

CWebContext::~CWebContext()
{
    qApp->removeEventFilter(this);
    for (const QPointer<QWidget>& popup : popups_) delete popup.data();
}

void CWebContext::ClaimFolders(const QString& dataHome, const QString& cacheHome)
{
    QString refusal;
    const QString storage = OpenWebFolder(dataHome, refusal);
    const QString dataFolder = QFileInfo(storage).path(); // qev/, checked with it
    if (!storage.isEmpty()) zoomFile_ = dataFolder + QStringLiteral("/zoom.ini");
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
        Log(QStringLiteral("web profile: %1; this run keeps no cookies or cache").arg(refusal));
        return;
    }
    storage_ = storage;
    cache_ = cache;
}

QWebEngineProfile* CWebContext::profile()
{
    if (profile_) return profile_;
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
    connect(profile_, &QWebEngineProfile::downloadRequested, this,
            &CWebContext::OnDownloadRequested);
    return profile_;
}

void CWebContext::Adopt(QWebEngineView* view, QWebEnginePage* page, PageRole role)
{
    page->setProperty(RoleProperty, static_cast<int>(role));
    QWebEngineSettings* settings = page->settings();
    const bool game = GetsGameRights(role);
    settings->setAttribute(QWebEngineSettings::FullScreenSupportEnabled, game);
    settings->setAttribute(QWebEngineSettings::PlaybackRequiresUserGesture, !game);

    connect(page, &QWebEnginePage::featurePermissionRequested, page,
            [page](const QUrl& origin, QWebEnginePage::Feature feature) {
                const PageRole role = RoleOf(page);
                if (feature == QWebEnginePage::MouseLock && GetsGameRights(role)) {
                    page->setFeaturePermission(origin, feature,
                                               QWebEnginePage::PermissionGrantedByUser);
                    return;
                }
                page->setFeaturePermission(origin, feature, QWebEnginePage::PermissionDeniedByUser);
                // One line per page and feature, however often the page asks.
                const int bit = 1 << static_cast<int>(feature);
                const int denied = page->property(DeniedProperty).toInt();
                if (denied & bit) return;
                page->setProperty(DeniedProperty, denied | bit);
                Log(QStringLiteral("%1 asked for %2 (%3): denied")
                        .arg(QString::fromLatin1(RoleName(role)),
                             QString::fromLatin1(FeatureName(feature)), ForLog(origin)));
            });

    if (role == PageRole::Game) {
        // The remembered zoom of a host is applied whenever the page arrives there.
        const auto applyZoom = [this, page] {
            const int percent = ZoomFor(page->url().host());
            if (qRound(page->zoomFactor() * 100) != percent) page->setZoomFactor(percent / 100.0);
        };
        connect(page, &QWebEnginePage::urlChanged, this, applyZoom);
        connect(page, &QWebEnginePage::loadFinished, this, applyZoom);
    }
    new PageKeeper(view, page);
}

int CWebContext::ZoomFor(const QString& host) const
{
    return zoom_.PercentFor(host.toStdString());
}

void CWebContext::RememberZoom(const QString& host, int percent)
{
    if (!zoom_.Set(host.toStdString(), percent) || zoomFile_.isEmpty()) return;
    QSaveFile file(zoomFile_);
    if (!file.open(QIODevice::WriteOnly)) return;
    file.write(QByteArray::fromStdString(zoom_.Text()));
    file.commit();
}

void CWebContext::StepZoom(QWebEngineView* view, int direction)
{
    QWebEnginePage* page = view->page();
    const QString host = page->url().host();
    const int percent = qev::NextZoomPercent(qRound(page->zoomFactor() * 100), direction);
    page->setZoomFactor(percent / 100.0);
    if (!host.isEmpty()) RememberZoom(host, percent);
}

bool CWebContext::eventFilter(QObject* watched, QEvent* event)
{
    const QEvent::Type type = event->type();
    if (type != QEvent::MouseButtonPress && type != QEvent::KeyPress &&
        type != QEvent::TouchBegin && type != QEvent::Wheel)
        return false;
    QWebEngineView* view = ViewUnder(watched);
    QWebEnginePage* page = view ? view->page() : nullptr;
    if (!page || !profile_ || page->profile() != profile_) return false;
    const PageRole role = RoleOf(page);
    if (type == QEvent::Wheel) {
        auto* wheel = static_cast<QWheelEvent*>(event);
        if (role != PageRole::Game || !(wheel->modifiers() & Qt::ControlModifier)) return false;
        const int delta = wheel->angleDelta().y();
        if (delta != 0) StepZoom(view, delta > 0 ? 1 : -1);
        return true;
    }
    page->setProperty(LastInputProperty, QDateTime::currentMSecsSinceEpoch());
    if (type == QEvent::KeyPress && role == PageRole::Game) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (!(key->modifiers() & Qt::ControlModifier)) return false;
        switch (key->key()) {
        case Qt::Key_Plus:
        case Qt::Key_Equal: StepZoom(view, 1); return true;
        case Qt::Key_Minus: StepZoom(view, -1); return true;
        case Qt::Key_0: StepZoom(view, 0); return true;
        default: return false;
        }
    }
    return false;
}

// ---- downloads ----

void CWebContext::OnDownloadRequested(QWebEngineDownloadRequest* download)
{
    QWebEnginePage* page = download->page();
    const QString what = ForLog(download->url());
    // The engine asks again for a download it takes up by itself after a break: that
    // download has failed, and is not resumed behind the player's back.
    if (downloads_.contains(download->id())) {
        download->cancel();
        return EndDownload(download->id(), false, QStringLiteral("the transfer broke off"));
    }
    const PageRole role = RoleOf(page);
    if (!page || !GetsGameRights(role)) {
        Log(QStringLiteral("download refused: %1 (a %2 gets no downloads)")
                .arg(what, QString::fromLatin1(RoleName(role))));
        return download->cancel();
    }
    const qint64 lastInput = page->property(LastInputProperty).toLongLong();
    if (lastInput == 0 || QDateTime::currentMSecsSinceEpoch() - lastInput > InputWindowMs) {
        Log(QStringLiteral("download refused: %1 (started by the %2 without a click or key)")
                .arg(what, QString::fromLatin1(RoleName(role))));
        return download->cancel();
    }

    // The page chooses the name and may aim it at the home folder's start-up files: the
    // name is made safe, and the home folder itself is never the download folder.
    const QString folder = QString::fromStdString(qev::ChooseDownloadFolder(
        QStandardPaths::writableLocation(QStandardPaths::DownloadLocation).toStdString(),
        QDir::homePath().toStdString()));
    const QString name =
        QString::fromStdString(qev::SafeDownloadName(download->suggestedFileName().toStdString()));
    // The first free name: no file of that name, and no other download heading there.
    const auto reserved = [this](const QString& candidate) {
        for (const Download& other : std::as_const(downloads_))
            if (!other.ended && other.finalName == candidate) return true;
        return false;
    };
    QString finalName;
    for (int n = 0; n <= MaxNumberedCopies && finalName.isEmpty(); ++n) {
        const QString candidate =
            QString::fromStdString(qev::NumberedFileName(name.toStdString(), n));
        if (!QFileInfo::exists(folder + QLatin1Char('/') + candidate) && !reserved(candidate))
            finalName = candidate;
    }
    if (folder.isEmpty() || finalName.isEmpty()) {
        Log(QStringLiteral("download refused: %1 (no free name in %2)").arg(what, Escaped(folder)));
        emit downloadStatus(QStringLiteral("Download failed: %1").arg(name));
        return download->cancel();
    }
    // The bytes arrive under a hidden name and take the final name only when complete, so
    // a cut or cancelled download never leaves a partial file under it.
    const QString partName = QStringLiteral(".%1.%2.part").arg(finalName).arg(download->id());
    download->setDownloadDirectory(folder);
    download->setDownloadFileName(partName);
    downloads_.insert(download->id(),
                      Download{folder, name, finalName, folder + QLatin1Char('/') + partName});
    FollowDownload(download);
    Log(QStringLiteral("download started: %1 to %2/%3")
            .arg(what, Escaped(folder), Escaped(finalName)));
    download->accept();
}

void CWebContext::FollowDownload(QWebEngineDownloadRequest* download)
{
    const quint32 id = download->id();
    auto lastLine = std::make_shared<qint64>(0);
    connect(download, &QWebEngineDownloadRequest::receivedBytesChanged, this,
            [this, download, id, lastLine] {
                const qint64 now = QDateTime::currentMSecsSinceEpoch();
                if (!downloads_.contains(id) || now - *lastLine < ProgressLineMs) return;
                *lastLine = now;
                const QString& finalName = downloads_[id].finalName;
                const qint64 total = download->totalBytes();
                const qint64 got = download->receivedBytes();
                emit downloadStatus(
                    total > 0
                        ? QStringLiteral("Downloading %1: %2 % (%3 of %4 KiB)")
                              .arg(finalName)
                              .arg(got * 100 / total)
                              .arg(got / 1024)
                              .arg(total / 1024)
                        : QStringLiteral("Downloading %1: %2 KiB").arg(finalName).arg(got / 1024));
            });
    connect(download, &QWebEngineDownloadRequest::stateChanged, this,
            [this, download, id](QWebEngineDownloadRequest::DownloadState state) {
                if (state == QWebEngineDownloadRequest::DownloadRequested ||
                    state == QWebEngineDownloadRequest::DownloadInProgress)
                    return;
                // An interrupted download is not taken up again: the engine would go on
                // retrying in the background.
                const QString reason = download->interruptReasonString();
                if (state == QWebEngineDownloadRequest::DownloadInterrupted) download->cancel();
                EndDownload(id, state == QWebEngineDownloadRequest::DownloadCompleted, reason);
            });
}

void CWebContext::EndDownload(quint32 id, bool complete, const QString& reason)
{
    if (!downloads_.contains(id) || downloads_[id].ended) return;
    Download& download = downloads_[id];
    download.ended = true; // its id stays known, so the engine cannot start it again
    if (!complete) {
        QFile::remove(download.partPath);
        Log(QStringLiteral("download failed: %1 (%2)").arg(Escaped(download.finalName), reason));
        emit downloadStatus(
            QStringLiteral("Download failed: %1 (%2)").arg(download.finalName, reason));
        return;
    }
    // The name was free when the download began; should a file have taken it since, the
    // next free one is used (rename never overwrites).
    QString target, savedName;
    for (int n = 0; n <= MaxNumberedCopies; ++n) {
        const QString candidate =
            QString::fromStdString(qev::NumberedFileName(download.name.toStdString(), n));
        const QString path = download.folder + QLatin1Char('/') + candidate;
        if (QFile::rename(download.partPath, path)) {
            target = path;
            savedName = candidate;
            break;
        }
        if (!QFileInfo::exists(path)) break; // the rename failed otherwise
    }
    if (target.isEmpty()) {
        QFile::remove(download.partPath);
        Log(QStringLiteral("download failed: %1 (could not be named)")
                .arg(Escaped(download.finalName)));
        emit downloadStatus(QStringLiteral("Download failed: %1").arg(download.finalName));
        return;
    }
    Log(QStringLiteral("download saved: %1/%2").arg(Escaped(download.folder), Escaped(savedName)));
    emit downloadStatus(QStringLiteral("Downloaded: %1").arg(target));
}
