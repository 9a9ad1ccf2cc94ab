#include "browser/web_context.h"

#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QKeyEvent>
#include <QDesktopServices>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSaveFile>
#include <QStandardPaths>
#include <QWebEngineDownloadRequest>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineRegisterProtocolHandlerRequest>
#include <QWebEngineSettings>
#include <QWebEngineView>
#include <QWheelEvent>

#include "base/log.h"
#include "browser/download_origin.h"
#include "browser/scheme_rules.h"
#include "platform/private_folder.h"

namespace {

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
// How much of an address the question about a desktop handler shows.
constexpr int QuestionAddressChars = 120;

QString RoleName(PageRole role)
{
    return QString::fromLatin1(RolePageName(role));
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
                .arg(RoleName(RoleOf(page_)), QString::fromLatin1(TerminationName(status)),
                     QString::number(code), ForLog(lastUrl_),
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
    const CPageGuard* guard = CPageGuard::Of(page);
    return guard ? guard->role() : PageRole::Login;
}

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

CWebContext::CWebContext(const QString& dataHome, const QString& cacheHome,
                         std::vector<std::string> knownHosts)
    : knownHosts_(std::move(knownHosts))
{
    ClaimFolders(dataHome, cacheHome);
    QFile zoomFile(zoomFile_);
    if (!zoomFile_.isEmpty() && zoomFile.open(QIODevice::ReadOnly))
        zoom_.Read(zoomFile.read(64 * 1024).toStdString());
    qApp->installEventFilter(this);
}

CWebContext::CWebContext(std::vector<std::string> knownHosts) : knownHosts_(std::move(knownHosts))
{
    qApp->installEventFilter(this);
}

CWebContext::~CWebContext()
{
    qApp->removeEventFilter(this);
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
    CPageGuard* guard = CPageGuard::Of(page);
    if (!guard) return false;
    const PageRole role = guard->role();
    const qev::SchemeVerdict verdict = qev::DecideScheme(
        url.toString().toStdString(), page->url().toString().toStdString(), GetsGameRights(role),
        guard->HasAllowance(qev::AllowanceKind::SchemeQuestion));
    if (verdict == qev::SchemeVerdict::Load) {
        if (isMainFrame) guard->OnNavigation();
        return true;
    }
    if (verdict == qev::SchemeVerdict::Ask) {
        guard->SpendAllowance(qev::AllowanceKind::SchemeQuestion);
        // Asked once the engine's callback has returned: a dialog inside it would run the
        // page's events under the engine's feet.
        QMetaObject::invokeMethod(
            this,
            [this, page = QPointer<QWebEnginePage>(page), url] {
                if (page) AskToOpen(page, url);
            },
            Qt::QueuedConnection);
        return false;
    }
    guard->Refused("address",
                   QStringLiteral("%1 address refused: %2").arg(RoleName(role), ForLog(url)));
    // A pop-up with nothing to show goes, once the engine is done with its page.
    if (role == PageRole::Popup && isMainFrame && !guard->navigated())
        if (QWebEngineView* view = QWebEngineView::forPage(page))
            QMetaObject::invokeMethod(view, &QWidget::close, Qt::QueuedConnection);
    return false;
}

void CWebContext::AskToOpen(QWebEnginePage* page, const QUrl& url)
{
    QWebEngineView* view = QWebEngineView::forPage(page);
    const QString who = RoleName(RoleOf(page)); // the page may go while the box is open
    QString shown = ForLog(url);
    if (shown.size() > QuestionAddressChars)
        shown = shown.left(QuestionAddressChars) + QStringLiteral("...");
    QMessageBox box(QMessageBox::Question, QStringLiteral("Open an outside application?"),
                    QStringLiteral("This page wants to open a \"%1:\" address with an "
                                   "application of your desktop:\n\n%2\n\nOpen it?")
                        .arg(url.scheme().left(40), shown),
                    QMessageBox::Yes | QMessageBox::No, view ? view->window() : nullptr);
    box.setTextFormat(Qt::PlainText);
    box.setDefaultButton(QMessageBox::No);
    box.setEscapeButton(QMessageBox::No);
    box.setWindowModality(Qt::WindowModal);
    const bool open = box.exec() == QMessageBox::Yes;
    Log(QStringLiteral("%1 asked to open %2: %3")
            .arg(who, ForLog(url), open ? QStringLiteral("opened") : QStringLiteral("declined")));
    if (open) QDesktopServices::openUrl(url);
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
    new CPageGuard(page, role);
    QWebEngineSettings* settings = page->settings();
    const bool game = GetsGameRights(role);
    settings->setAttribute(QWebEngineSettings::FullScreenSupportEnabled, game);
    settings->setAttribute(QWebEngineSettings::PlaybackRequiresUserGesture, !game);
    // Windows open only from the player's click; the engine's own check comes first, the
    // client's (an input it saw on the view) after.
    settings->setAttribute(QWebEngineSettings::JavascriptCanOpenWindows, false);
    // Panes never hand an address to a desktop handler. Game pages have every such address
    // brought to AllowNavigation, which refuses it or asks the player.
    settings->setUnknownUrlSchemePolicy(game ? QWebEngineSettings::AllowAllUnknownUrlSchemes
                                             : QWebEngineSettings::DisallowUnknownUrlSchemes);
    connect(page, &QWebEnginePage::registerProtocolHandlerRequested, page,
            [page](QWebEngineRegisterProtocolHandlerRequest request) {
                request.reject();
                if (CPageGuard* guard = CPageGuard::Of(page))
                    guard->Refused("handler",
                                   QStringLiteral("%1 handler for %2: refused")
                                       .arg(RoleName(guard->role()), request.scheme().left(40)));
            });

    connect(page, &QWebEnginePage::featurePermissionRequested, page,
            [page](const QUrl& origin, QWebEnginePage::Feature feature) {
                CPageGuard* guard = CPageGuard::Of(page);
                const PageRole role = RoleOf(page);
                // The pointer is the player's to give: one lock per click or key, so a
                // page cannot take it back after Esc.
                if (feature == QWebEnginePage::MouseLock && GetsGameRights(role) && guard &&
                    guard->SpendAllowance(qev::AllowanceKind::PointerLock)) {
                    page->setFeaturePermission(origin, feature,
                                               QWebEnginePage::PermissionGrantedByUser);
                    return;
                }
                page->setFeaturePermission(origin, feature, QWebEnginePage::PermissionDeniedByUser);
                if (guard)
                    guard->Refused(FeatureName(feature),
                                   QStringLiteral("%1 asked for %2 (%3): denied")
                                       .arg(RoleName(role),
                                            QString::fromLatin1(FeatureName(feature)),
                                            ForLog(origin)));
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
    auto* key = type == QEvent::KeyPress ? static_cast<QKeyEvent*>(event) : nullptr;
    // Esc is the player's way out (of full screen, of the pointer lock): it allows nothing.
    if (CPageGuard* guard = CPageGuard::Of(page); guard && (!key || key->key() != Qt::Key_Escape))
        guard->OnInput();
    if (key && role == PageRole::Game) {
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
    CPageGuard* guard = CPageGuard::Of(page);
    if (!guard || !GetsGameRights(role)) {
        if (guard)
            guard->Refused("download",
                           QStringLiteral("download refused: %1 (a %2 gets no downloads)")
                               .arg(what, RoleName(role)));
        else
            Log(QStringLiteral("download refused: %1 (from no page)").arg(what));
        return download->cancel();
    }
    switch (qev::DecideDownload(
        download->url().toString().toStdString(), page->url().toString().toStdString(), knownHosts_,
        guard->HasAllowance(qev::AllowanceKind::Download), guard->runningDownloads)) {
    case qev::DownloadVerdict::Accept: break;
    case qev::DownloadVerdict::ForeignOrigin:
        guard->Refused("download", QStringLiteral("download refused: %1 (not from the %2's "
                                                  "host or one of the client's)")
                                       .arg(what, RoleName(role)));
        return download->cancel();
    case qev::DownloadVerdict::TooMany:
        guard->Refused("download", QStringLiteral("download refused: %1 (%2 of the %3's "
                                                  "downloads under way)")
                                       .arg(what)
                                       .arg(qev::MaxRunningDownloads)
                                       .arg(RoleName(role)));
        return download->cancel();
    case qev::DownloadVerdict::NoAllowance:
        guard->Refused("download", QStringLiteral("download refused: %1 (started by the %2 "
                                                  "without a click or key)")
                                       .arg(what, RoleName(role)));
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
    downloads_.insert(download->id(), Download{folder, name, finalName,
                                               folder + QLatin1Char('/') + partName, false, guard});
    guard->SpendAllowance(qev::AllowanceKind::Download);
    ++guard->runningDownloads;
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
    if (download.page) --download.page->runningDownloads;
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
