#include "gui/browser/profile_bound.h"

#include <QUrl>
#include <QWebEngineCookieStore>
#include <QWebEnginePage>
#include <QWebEngineProfile>

#include <sqlite3.h>

#include <cstdlib>

#include "core/platform/private_folder.h"
#include "gui/browser/page_guard.h"
#include "gui/browser/page_rules.h"

namespace {

// A page that writes 100 MiB a second passes the limit by about that much.
constexpr int SampleMs = 1000;
constexpr char LimitVariable[] = "QEV_PROFILE_LIMIT_MIB";
// More than the engine's own files (history, icons) grow by in a second.
constexpr std::int64_t UnnamedGrowthBytes = qev::MiB;

QString Mib(std::int64_t bytes)
{
    return QString::number(static_cast<double>(bytes) / qev::MiB, 'f', 1) + QStringLiteral(" MiB");
}

// The origin of url as the storage folders name it.
std::string OriginOf(const QUrl& url)
{
    const int port = url.port();
    std::string origin = url.scheme().toStdString() + "://" + url.host().toStdString();
    if (url.host().contains(QLatin1Char(':')))
        origin = url.scheme().toStdString() + "://[" + url.host().toStdString() + "]";
    if (port >= 0 && !(url.scheme() == QLatin1String("http") && port == 80) &&
        !(url.scheme() == QLatin1String("https") && port == 443))
        origin += ":" + std::to_string(port);
    return origin;
}

// host as the operator's sites take it: an IPv6 literal in brackets (the engine and QUrl give
// it without).
std::string SiteHost(std::string host)
{
    return host.find(':') != std::string::npos && host[0] != '[' ? "[" + host + "]" : host;
}

} // namespace

CProfileBound::CProfileBound(std::unique_ptr<qev::PrivateFolder> folder,
                             qev::IsOperatorHost isOperator, QObject* parent)
    : QObject(parent), folder_(std::move(folder)), isOperator_(std::move(isOperator)),
      limits_(qev::ProfileLimitsFrom(qgetenv(LimitVariable).toStdString()))
{
    pool_.setMaxThreadCount(1);
    sampler_.setInterval(SampleMs);
    connect(&sampler_, &QTimer::timeout, this, &CProfileBound::Sample);
}

CProfileBound::~CProfileBound() = default;

void CProfileBound::CleanAtStart()
{
    if (!folder_) return;
    const int cookies = RemoveForeignCookies();
    const qev::SharedCleanUp shared = qev::CleanSharedDatabases(*folder_, isOperator_);
    fileSystems_ = qev::ReadFileSystemOrigins(*folder_);
    const qev::ProfileStorage storage = qev::MeasureProfileStorage(*folder_, fileSystems_);
    const qev::StartupPlan plan = qev::PlanStartupCleanUp(storage, isOperator_, limits_.startBytes);
    if (plan.foreign.empty() && plan.cut.empty() && cookies == 0 &&
        shared.localStorageEntries == 0 && !shared.workers && !shared.failed)
        return;
    const bool ok = qev::CarryOut(*folder_, plan) && !shared.failed;
    QString line = QStringLiteral("web profile at start: removed foreign sites' storage (%1 "
                                  "sites, %2 local storage entries%3) and cookies (%4)")
                       .arg(plan.foreign.size())
                       .arg(shared.localStorageEntries)
                       .arg(shared.workers ? QStringLiteral(", every service worker") : QString())
                       .arg(cookies);
    if (!plan.cut.empty())
        line += QStringLiteral("; %1 over its limit of %2: removed the storage of %3 more sites, "
                               "largest first (%4)")
                    .arg(Mib(plan.bytesBefore), Mib(limits_.startBytes))
                    .arg(plan.cut.size())
                    .arg(LogText(QString::fromStdString(plan.cut.front().origin)));
    line += QStringLiteral("; %1 left").arg(Mib(plan.bytesAfter));
    if (!ok) line += QStringLiteral(" (some of it could not be removed)");
    WebLog(line);
}

int CProfileBound::RemoveForeignCookies()
{
    // The engine keeps cookies in an SQLite database it opens only when it starts; the
    // profile folder is this user's alone, and the file is never opened through a link.
    const std::string path = folder_->Path() + "/Cookies";
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOFOLLOW, nullptr) !=
        SQLITE_OK) {
        sqlite3_close(db);
        return 0;
    }
    std::vector<std::string> foreign;
    sqlite3_stmt* hosts = nullptr;
    if (sqlite3_prepare_v2(db, "SELECT DISTINCT host_key FROM cookies", -1, &hosts, nullptr) ==
        SQLITE_OK) {
        while (sqlite3_step(hosts) == SQLITE_ROW) {
            const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(hosts, 0));
            std::string host = text ? text : "";
            // A domain cookie's host has a leading dot.
            if (!isOperator_(SiteHost(host.empty() || host[0] != '.' ? host : host.substr(1))))
                foreign.push_back(std::move(host));
        }
    }
    sqlite3_finalize(hosts);
    int removed = 0;
    sqlite3_stmt* drop = nullptr;
    if (!foreign.empty() && sqlite3_prepare_v2(db, "DELETE FROM cookies WHERE host_key = ?", -1,
                                               &drop, nullptr) == SQLITE_OK) {
        for (const std::string& host : foreign) {
            sqlite3_bind_text(drop, 1, host.c_str(), -1, SQLITE_TRANSIENT);
            if (sqlite3_step(drop) == SQLITE_DONE) removed += sqlite3_changes(db);
            sqlite3_reset(drop);
        }
    }
    sqlite3_finalize(drop);
    sqlite3_close(db);
    return removed;
}

void CProfileBound::Watch(QWebEngineProfile* profile)
{
    // A foreign site as a third party gets no cookies, and (the engine asks the same
    // filter) no storage and no service worker; as the page itself (a payment provider's
    // pop-up) it keeps them until the next start.
    auto isOperator = isOperator_;
    profile->cookieStore()->setCookieFilter(
        [isOperator](const QWebEngineCookieStore::FilterRequest& request) {
            return !request.thirdParty || isOperator(SiteHost(request.origin.host().toStdString()));
        });
    if (!folder_) return;
    last_ = qev::MeasureProfileStorage(*folder_, fileSystems_);
    sampler_.start();
}

void CProfileBound::AddPage(QWebEnginePage* page)
{
    pages_.removeAll(nullptr);
    pages_.push_back(page);
}

void CProfileBound::Sample()
{
    if (measuring_) return;
    measuring_ = true;
    pool_.start([this] {
        // folder_ and fileSystems_ do not change after the start.
        qev::ProfileStorage now = qev::MeasureProfileStorage(*folder_, fileSystems_);
        QMetaObject::invokeMethod(
            this, [this, now = std::move(now)]() mutable { Judge(std::move(now)); },
            Qt::QueuedConnection);
    });
}

void CProfileBound::Judge(qev::ProfileStorage now)
{
    measuring_ = false;
    const std::vector<std::string> growing = qev::GrowingOrigins(last_, now);
    const std::int64_t growth = now.totalBytes - last_.totalBytes;
    last_ = std::move(now);
    // Growth no site's folder shows is in a store the engine opened this run (a File System
    // API folder made since the start): every page may be the writer.
    if (last_.totalBytes <= limits_.runningBytes ||
        (growing.empty() && growth < UnnamedGrowthBytes))
        return;
    // The site that grew most; a frame of it writes through the page that shows it, which
    // the engine does not tell: its own pages, else the pages of its host, else every page.
    const std::string writer =
        growing.empty() ? std::string("a store of no known site") : growing.front();
    const std::string host = qev::OriginHost(writer);
    QList<QWebEnginePage*> stopped;
    for (const auto match : {0, 1, 2}) {
        for (const QPointer<QWebEnginePage>& page : std::as_const(pages_)) {
            if (!page || page->url().scheme() == QLatin1String("about")) continue;
            const QUrl url = page->url();
            if (match == 2 || (match == 0 && OriginOf(url) == writer) ||
                (match == 1 && url.host().toStdString() == host))
                stopped.push_back(page);
        }
        if (!stopped.isEmpty()) break;
    }
    for (QWebEnginePage* page : stopped) {
        const QString line =
            QStringLiteral("web profile: %1 over its limit of %2 while %3 writes; %4 stopped")
                .arg(Mib(last_.totalBytes), Mib(limits_.runningBytes),
                     LogText(QString::fromStdString(writer)), ForLog(page->url()));
        // A page that comes back and writes again is told of once a minute.
        if (CPageGuard* guard = CPageGuard::Of(page))
            guard->Refused("profile", line);
        else
            WebLog(line);
        page->load(QUrl(QStringLiteral("about:blank")));
    }
}
