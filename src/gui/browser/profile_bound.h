#pragma once
// Keeps the web profile to the operator's sites and to a bounded size. The engine offers
// a cookie filter and nothing per site for storage (no quota, no per-site deletion), so:
// - the cookie filter refuses a foreign site's cookies wherever it is a third party (the
//   engine asks the same filter before a frame uses storage or registers a service worker);
// - at start-up, before the engine opens the profile, the foreign sites' storage folders and
//   cookies are removed from disk, then the largest sites' storage while the profile is
//   larger than its start-up limit (core/browser/profile_storage.h);
// - while the client runs, the profile is measured every second; past its running
//   limit the pages of the site whose storage grew are sent to about:blank.
// QEV_PROFILE_LIMIT_MIB sets the limits ("N" or "START,RUNNING" MiB) for tests.
#include <QList>
#include <QObject>
#include <QPointer>
#include <QThreadPool>
#include <QTimer>

#include <memory>

#include "core/browser/profile_storage.h"

class QWebEnginePage;
class QWebEngineProfile;

namespace qev {
class PrivateFolder;
}

class CProfileBound : public QObject {
    Q_OBJECT
public:
    // folder: the profile's storage folder, opened by the checked walk; null for a profile
    // off the record (its cookies are still filtered).
    CProfileBound(std::unique_ptr<qev::PrivateFolder> folder, qev::IsOperatorHost isOperator,
                  QObject* parent);
    ~CProfileBound() override;

    // Before the profile is made: removes what start-up removes (one log line when any).
    void CleanAtStart();
    // The profile once made: its cookie filter, and the watch over its size.
    void Watch(QWebEngineProfile* profile);
    // A page of the profile, which a growing site may have to leave.
    void AddPage(QWebEnginePage* page);

private:
    // Measures the profile on a thread of its own (a large profile takes a while), then
    // Judge(now) on this object's thread.
    void Sample();
    void Judge(qev::ProfileStorage now);
    int RemoveForeignCookies();

    std::unique_ptr<qev::PrivateFolder> folder_;
    bool measuring_ = false;
    qev::IsOperatorHost isOperator_;
    qev::ProfileLimits limits_;
    qev::FileSystemOrigins fileSystems_; // read at start-up, while the engine is not running
    qev::ProfileStorage last_;
    QTimer sampler_;
    QList<QPointer<QWebEnginePage>> pages_;
    // Last, so it goes first: its destruction waits for a measurement under way, whose
    // answer to this object is then dropped with this object's events.
    QThreadPool pool_;
};
