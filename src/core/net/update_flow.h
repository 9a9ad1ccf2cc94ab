#pragma once
// The update check and the hand-off to the updater: fetch the manifest of the current
// game's first update source, compare its version with this build, fetch the package when
// newer, then its signed statement ("<package>.sig" beside it), and only when that holds
// start, at exit, a copy of the package that installs it.
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "layout/layout.h"
#include "net/chunk_writer.h"
#include "net/download_thread.h"
#include "net/update_statement.h"

namespace qev {

// "h:p" → {"h", p}. Without a port, or with a number outside 1..65535, the port is 80;
// a colon followed by something else than digits is left in the host.
std::pair<std::string, int> SplitHostPort(std::string_view host);

// Posts the requests that start a one-object download on thread: a start (owner
// UpdateFlow::DownloadOwner, host "h" or "h:p", from byte 0, buffer startBufferSize) and,
// when growTo is not 0, a set-buffer request for growTo bytes.
void PostDownloadStart(CHttpDownloadThread& thread, int id, const std::string& objectPath,
                       const std::string& host, const NoticeSink& sink, int startBufferSize,
                       int growTo);

class UpdateFlow {
public:
    static constexpr int ManifestDownload = 1;
    static constexpr int PackageDownload = 2;
    static constexpr int StatementDownload = 3;
    static constexpr int DownloadOwner = 1000;
    static constexpr int GrownBufferSize = 0x200000; // asked for right after the start
    static constexpr int ShutdownWaitMs = 3000;

    explicit UpdateFlow(LayoutState& state);
    ~UpdateFlow(); // Shutdown()
    UpdateFlow(const UpdateFlow&) = delete;
    UpdateFlow& operator=(const UpdateFlow&) = delete;

    // Starts the manifest download of the current game's first update source (its path
    // and file joined as they are). False when there is no such source, or when this user
    // cannot replace the program file (a system-wide install; one log line, no download).
    bool CheckForUpdate();
    // Starts a download thread for objectPath on host ("h" or "h:p"); 0, or -1 when this
    // id is already running (or the flow has been shut down).
    int StartDownload(int id, const std::string& objectPath, const std::string& host);
    // Handles a notice of this flow's downloads (owner DownloadOwner; others are ignored):
    // writes chunks, checks the manifest, starts the package and then its statement,
    // verifies them and only then records packagePath, shows "Download failed!" when
    // reconnecting failed. A refused package is deleted with its statement and logged in
    // one line. Returns 0.
    int OnDownloadNotice(const DownloadNotice& notice);
    // Reads the manifest at path into the layout and compares it with this build.
    bool IsBuildCurrent(const std::string& path);
    // At exit: when a package is waiting, copies it to the temporary folder as "update" +
    // its name, makes that executable and starts it with the "-u" hand-over line. False
    // when nothing was started.
    bool LaunchUpdater();
    // The sink put into requests (e.g. one that hands notices to the UI thread). The
    // default calls OnDownloadNotice on the download thread.
    void SetNoticeSink(NoticeSink sink);
    // Ends every download thread promptly; afterwards no notice reaches this flow and no
    // download starts. A package still waiting for its statement is refused. Waits at most
    // about ShutdownWaitMs; safe at exit and repeatable.
    void Shutdown();

    bool IsDownloading(int id) const;
    std::string TargetFolder() const;

    // The completed package, "" until one is complete.
    std::string packagePath;

    // Seams, preset for the real program.
    std::uint32_t versionMS = QEV_VERSION_MS;
    std::uint32_t versionLS = QEV_VERSION_LS;
    DownloadTiming timing;
    std::string programPath;                                               // "" = GetProgramPath()
    std::function<int(std::string_view, const std::string&)> startProcess; // StartProcess
    std::function<std::size_t(std::size_t count)> pickItem; // uniform random by default
    // Base64 Ed25519 key that must have signed the package's statement; "" installs
    // packages unchecked (and says so in the log once).
    std::string updatePublicKey = QEV_UPDATE_PUBLIC_KEY;

private:
    struct Gate {
        std::mutex mutex;
        std::condition_variable idle;
        bool open = true;
        int inFlight = 0;
    };
    NoticeSink GatedSink();
    void EndDownloads();
    // The statement's part of OnDownloadNotice; noticeMutex_ is held.
    void OnStatementNotice(const DownloadNotice& notice);
    void OnPackageComplete(const std::string& target, const std::string& objectPath);
    void VerifyPackage(const std::string& statementPath);
    // Refuses the waiting package: one log line, package and statement deleted.
    void RefusePackage(std::string_view reason);

    // Where a package stands between its download and packagePath.
    enum class Verification { None, Waiting, Done };

    LayoutState& state_;
    std::shared_ptr<Gate> gate_ = std::make_shared<Gate>();
    NoticeSink sink_;
    mutable std::mutex mapMutex_;
    std::map<int, std::unique_ptr<CHttpDownloadThread>> downloads_;
    bool shutDown_ = false;
    std::mutex noticeMutex_; // notices of two downloads may arrive on two threads
    DownloadFileWriter writer_;
    BuildVersion manifestVersion_; // of the manifest that offered the package
    std::string packageHost_;      // the package's host, where its statement lives too
    std::string pendingPackage_;   // complete but not yet verified
    std::string pendingStatement_; // where its statement lands
    Verification verification_ = Verification::None;
    bool unverifiedLogged_ = false;
};

} // namespace qev
