#include "gui/browser/downloads.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QWebEngineDownloadRequest>
#include <QWebEnginePage>

#include <memory>

#include "core/browser/download_origin.h"
#include "core/browser/web_rules.h"
#include "gui/base/ui_text.h"
#include "gui/browser/page_rules.h"

namespace {

// Progress lines are written at most this often, so a fast download does not flood the
// status bar's repaints.
constexpr qint64 ProgressLineMs = 250;
// Copies named " (1)" up to this; past it the download is refused rather than overwrite.
constexpr int MaxNumberedCopies = 999;

// What a tried name turned out to be.
enum class NameTry { Taken, Took, GiveUp };

// Tries name, "name (1)" ... "name (999)" in turn; the one tryName took, or empty.
template <class TryName> QString FirstNumbered(const QString& name, TryName tryName)
{
    for (int n = 0; n <= MaxNumberedCopies; ++n) {
        QString candidate = QString::fromStdString(qev::NumberedFileName(name.toStdString(), n));
        switch (tryName(candidate)) {
        case NameTry::Took: return candidate;
        case NameTry::GiveUp: return {};
        case NameTry::Taken: break;
        }
    }
    return {};
}

} // namespace

CDownloads::CDownloads(QString userFolder, QString home, std::vector<std::string> knownHosts,
                       QObject* parent)
    : QObject(parent), userFolder_(std::move(userFolder)), home_(std::move(home)),
      knownHosts_(std::move(knownHosts))
{
}

bool CDownloads::Allowed(QWebEngineDownloadRequest* download, CPageGuard* guard)
{
    QWebEnginePage* page = download->page();
    const QString what = ForLog(download->url());
    const PageRole role = RoleOf(page);
    if (!guard || !GetsGameRights(role)) {
        if (guard)
            guard->Refused("download",
                           QStringLiteral("download refused: %1 (a %2 gets no downloads)")
                               .arg(what, RoleName(role)));
        else
            WebLog(QStringLiteral("download refused: %1 (from no page)").arg(what));
        return false;
    }
    QString why;
    switch (qev::DecideDownload(
        download->url().toString().toStdString(), page->url().toString().toStdString(), knownHosts_,
        guard->HasAllowance(qev::AllowanceKind::Download), guard->runningDownloads)) {
    case qev::DownloadVerdict::Accept: return true;
    case qev::DownloadVerdict::ForeignOrigin:
        why = QStringLiteral("not from the %1's host or one of the client's").arg(RoleName(role));
        break;
    case qev::DownloadVerdict::TooMany:
        why = QStringLiteral("%1 of the %2's downloads under way")
                  .arg(qev::MaxRunningDownloads)
                  .arg(RoleName(role));
        break;
    case qev::DownloadVerdict::NotAnImage:
        why = QStringLiteral("a data: address other than a png, jpeg, gif or webp image");
        break;
    case qev::DownloadVerdict::NoAllowance:
        why = QStringLiteral("started by the %1 without a click or key").arg(RoleName(role));
        break;
    }
    guard->Refused("download", QStringLiteral("download refused: %1 (%2)").arg(what, why));
    return false;
}

QString CDownloads::FreeName(const QString& folder, const QString& name) const
{
    const auto reserved = [this](const QString& candidate) {
        for (const Download& other : std::as_const(downloads_))
            if (!other.ended && other.finalName == candidate) return true;
        return false;
    };
    return FirstNumbered(name, [&](const QString& candidate) {
        const bool taken =
            QFileInfo::exists(folder + QLatin1Char('/') + candidate) || reserved(candidate);
        return taken ? NameTry::Taken : NameTry::Took;
    });
}

void CDownloads::OnRequested(QWebEngineDownloadRequest* download)
{
    // The engine asks again for a download it takes up by itself after a break: that
    // download has failed, and is not resumed behind the player's back.
    if (downloads_.contains(download->id())) {
        download->cancel();
        return End(download->id(), false, QStringLiteral("the transfer broke off"));
    }
    CPageGuard* guard = CPageGuard::Of(download->page());
    if (!Allowed(download, guard)) return download->cancel();

    // The page chooses the name and may aim it at the home folder's start-up files: the
    // name is made safe, and the home folder itself is never the download folder.
    const QString what = ForLog(download->url());
    const QString folder = QString::fromStdString(
        qev::ChooseDownloadFolder(userFolder_.toStdString(), home_.toStdString()));
    const QString name = QString::fromStdString(qev::DataDownloadName(
        download->suggestedFileName().toStdString(), download->url().toString().toStdString()));
    const QString finalName = folder.isEmpty() ? QString() : FreeName(folder, name);
    if (finalName.isEmpty()) {
        WebLog(
            QStringLiteral("download refused: %1 (no free name in %2)").arg(what, LogText(folder)));
        emit status(UiText(qev::IdsDownloadFailedName).arg(name));
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
    Follow(download);
    WebLog(QStringLiteral("download started: %1 to %2/%3")
               .arg(what, LogText(folder), LogText(finalName)));
    download->accept();
}

void CDownloads::Follow(QWebEngineDownloadRequest* download)
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
                emit status(total > 0
                                ? UiText(qev::IdsDownloadingPart)
                                      .arg(finalName)
                                      .arg(got * 100 / total)
                                      .arg(got / 1024)
                                      .arg(total / 1024)
                                : UiText(qev::IdsDownloadingKiB).arg(finalName).arg(got / 1024));
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
                End(id, state == QWebEngineDownloadRequest::DownloadCompleted, reason);
            });
}

void CDownloads::End(quint32 id, bool complete, const QString& reason)
{
    if (!downloads_.contains(id) || downloads_[id].ended) return;
    Download& download = downloads_[id];
    download.ended = true; // its id stays known, so the engine cannot start it again
    if (download.page) --download.page->runningDownloads;
    if (!complete) {
        QFile::remove(download.partPath);
        WebLog(QStringLiteral("download failed: %1 (%2)").arg(LogText(download.finalName), reason));
        emit status(UiText(qev::IdsDownloadFailedWhy).arg(download.finalName, reason));
        return;
    }
    // The name was free when the download began; should a file have taken it since, the
    // next free one is used (rename never overwrites).
    const QString savedName = FirstNumbered(download.name, [&](const QString& candidate) {
        const QString path = download.folder + QLatin1Char('/') + candidate;
        if (QFile::rename(download.partPath, path)) return NameTry::Took;
        return QFileInfo::exists(path) ? NameTry::Taken : NameTry::GiveUp; // failed otherwise
    });
    if (savedName.isEmpty()) {
        QFile::remove(download.partPath);
        WebLog(QStringLiteral("download failed: %1 (could not be named)")
                   .arg(LogText(download.finalName)));
        emit status(UiText(qev::IdsDownloadFailedName).arg(download.finalName));
        return;
    }
    WebLog(
        QStringLiteral("download saved: %1/%2").arg(LogText(download.folder), LogText(savedName)));
    emit status(UiText(qev::IdsDownloaded).arg(download.folder + QLatin1Char('/') + savedName));
}
