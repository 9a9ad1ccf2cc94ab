#pragma once
// The update check and the hand-off to the updater. The current game's update sources are
// tried in their order, once each: a source's manifest is compared with this build; when
// it offers a newer one, the package's signed statement ("<package>.sig" beside it) is
// fetched and checked first, then the package itself, bounded by the signed size and
// checked against the signed SHA-256. A source that fails any step gives way to the next.
// Everything lands in this run's private folder, through open files; at exit, a sealed
// image of the verified bytes, checked once more, is started to install itself.
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "core/layout/layout.h"
#include "core/net/chunk_writer.h"
#include "core/net/download_thread.h"
#include "core/net/update_statement.h"
#include "core/platform/update_folder.h"

namespace qev {

// "h:p" → {"h", p}. Without a port, or with a number outside 1..65535, the port is 80;
// a colon followed by something else than digits is left in the host.
std::pair<std::string, int> SplitHostPort(std::string_view host);

// A source's host as the layout writes it: "h", "h:p", "http://h[:p]" or "https://h[:p]".
// Without a scheme it is http; without a port, 80 (443 over https); the rest as SplitHostPort.
struct SourceHost {
    bool https = false;
    std::string name;
    int port = 80;
};
SourceHost SplitSourceHost(std::string_view host);

// Posts the requests that start a one-object download on thread: a start (owner
// UpdateFlow::DownloadOwner, host "h" or "h:p", from byte 0, buffer startBufferSize) and,
// when growTo is not 0, a set-buffer request for growTo bytes.
// A source's path and file joined with exactly one '/' between them ("/a/" + "f" and
// "/a" + "f" both give "/a/f"); an empty path leaves the file as it is.
std::string JoinSourcePath(std::string_view path, std::string_view file);

// A name from outside, fit for one log line: every byte outside printable ASCII (and the
// backslash and quote) as \xNN, cut to 64 bytes without splitting an escape.
std::string LoggableName(std::string_view name);

// Why a manifest item may not be asked for, in a few words; "" when it may. The manifest
// comes over plain HTTP, so its items may name any mirror but must not aim a request at
// anything else: the item's port is the manifest source's (sourcePort), 80 or 443; its host
// is a plain name or address (no user part); its path starts with '/' and, like its file,
// holds no '?', '#', control character, escaped control byte or ".." segment.
std::string ManifestItemRefusal(const UpdateSource& item, int sourcePort);

// host may carry a scheme (SplitSourceHost); caFile as DownloadRequest's.
void PostDownloadStart(CHttpDownloadThread& thread, int id, const std::string& objectPath,
                       const std::string& host, const NoticeSink& sink, int startBufferSize,
                       int growTo, const std::string& caFile = {});

class UpdateFlow {
public:
    // The download kinds; the request ids also carry a serial, so that a download ended
    // early can never write into the file of the one that replaced it.
    static constexpr int ManifestDownload = 1;
    static constexpr int PackageDownload = 2;
    static constexpr int StatementDownload = 3;
    static constexpr int KindStride = 16;
    static constexpr int DownloadOwner = 1000;
    static constexpr int GrownBufferSize = 0x200000; // asked for right after the start
    static constexpr int ShutdownWaitMs = 3000;
    // The manifest is a few hundred bytes; one announced or grown past this is stopped and
    // discarded before it costs the user-interface thread time and memory.
    static constexpr int MaxManifestBytes = 1024 * 1024;
    // A download whose server cannot be reached rests without a word (it waits for a
    // request that never comes). The flow looks at its downloads this often and reports
    // a resting one to itself as kind 7 with this code, so the next source is tried.
    static constexpr int RestCheckMs = 100;
    static constexpr int RestingCode = 0x4000000;
    // The name the sealed image of a verified package goes by (Windows: "update" + it, in
    // this run's folder).
    static constexpr char SealedImageName[] = "qev.exe";

    explicit UpdateFlow(LayoutState& state);
    ~UpdateFlow(); // Shutdown(); this run's folder goes unless it holds a verified package
    UpdateFlow(const UpdateFlow&) = delete;
    UpdateFlow& operator=(const UpdateFlow&) = delete;

    // Removes the folders of runs that ended, makes this run's private folder and starts
    // the manifest download of the current game's first update source. False, with one
    // log line, when no check starts: no source, a program this user cannot replace (a
    // system-wide install), no valid key built in, or no private folder.
    bool CheckForUpdate();
    // Starts a download thread of the given kind for objectPath on host ("h" or "h:p");
    // 0, or -1 when a download of this kind is running (or the flow has been shut down).
    int StartDownload(int kind, const std::string& objectPath, const std::string& host);
    // Handles a notice of this flow's downloads (owner DownloadOwner, a current download;
    // others are ignored) and moves the check on. Returns 0.
    int OnDownloadNotice(const DownloadNotice& notice);
    // Reads the manifest at path into the layout and compares it with this build.
    bool IsBuildCurrent(const std::string& path);
    // At exit: when a verified package is waiting, seals a copy of its bytes, checks them
    // against the statement once more, and starts that sealed image with the "-u"
    // hand-over line. False, with one log line when something was wrong, when nothing
    // was started.
    bool LaunchUpdater();
    // The sink put into requests (e.g. one that hands notices to the UI thread). The
    // default calls OnDownloadNotice on the download thread.
    void SetNoticeSink(NoticeSink sink);
    // Ends every download thread promptly; afterwards no notice reaches this flow and no
    // download starts. A package still being checked is refused. Waits at most about
    // ShutdownWaitMs; safe at exit and repeatable.
    void Shutdown();

    bool IsDownloading(int kind) const;
    // This run's folder (ending with '/'), "" before the check made it.
    std::string TargetFolder() const;
    // True from CheckForUpdate until the check has ended one way or the other. Once it is
    // false, everything the check logged or showed has been logged or shown.
    bool IsChecking() const;
    // Why updates are off, in a few words for the player, when the check was refused for
    // something another user may have done to this user: a download folder another user
    // controls, or a built-in key that does not decode. "" otherwise, including a program
    // this user cannot replace (updated with the system's packages) and a check that runs.
    std::string OffReason() const;
    // What the player is told about the update in the game window's status bar; "" when
    // there is nothing to tell.
    std::string PlayerStatus() const;

    // The verified package's path in this run's folder, "" until one is verified. The
    // bytes that are installed come from the file held open since its download, never
    // from this path.
    std::string packagePath;

    // Seams, preset for the real program.
    std::uint32_t versionMS = QEV_VERSION_MS;
    std::uint32_t versionLS = QEV_VERSION_LS;
    DownloadTiming timing;
    std::string caFile;      // "" = the system's store
    std::string programPath; // "" = GetProgramPath()
    std::function<int(std::string_view, const SealedProgram&)> startProcess; // program.Start
    std::function<std::size_t(std::size_t count)> pickItem; // uniform random by default
    // Base64 Ed25519 key that must have signed the package's statement. Without a valid
    // one no update is ever fetched.
    std::string updatePublicKey = QEV_UPDATE_PUBLIC_KEY;
    std::string target = std::string(BuildTarget());

private:
    struct Gate {
        std::mutex mutex;
        std::condition_variable idle;
        bool open = true;
        int inFlight = 0;
    };
    struct Running {
        int serial = 0;
        std::shared_ptr<CHttpDownloadThread> thread;
    };
    // Shared with the thread that looks for resting downloads, which outlives nothing it
    // needs: it holds the threads and the gated sink, never the flow.
    struct RestWatch {
        std::mutex mutex;
        std::condition_variable wake;
        bool stop = false;
        bool started = false;
        std::vector<std::pair<DownloadNotice, std::shared_ptr<CHttpDownloadThread>>> watched;
    };
    void WatchForRest(const DownloadNotice& report, std::shared_ptr<CHttpDownloadThread> thread);
    // Where the check stands. Each stage names the download it waits for.
    enum class Stage { Idle, Manifest, Statement, Package, Ready, Over };

    NoticeSink GatedSink();
    void EndDownloads();
    // Ends the download of this kind at once; its remaining notices are ignored.
    void StopDownload(int kind);
    bool IsCurrent(int kind, int id) const;
    // The steps; noticeMutex_ is held.
    void StartSource();
    void OnManifestComplete(const DownloadNotice& notice);
    // The items a request may go to (ManifestItemRefusal); one log line for the others.
    std::vector<UpdateSource> UsableItems(const std::vector<UpdateSource>& items) const;
    void OnStatementComplete(const DownloadNotice& notice);
    void OnPackageComplete(const DownloadNotice& notice);
    // True when a carrying notice reaches past its bound (which was then dealt with).
    bool PastBound(int kind, const DownloadNotice& notice);
    // One log line, the source's files removed; then the next source.
    void RefusePackage(std::string_view reason);
    void SourceFailed();
    std::string SourceText() const;

    LayoutState& state_;
    std::shared_ptr<Gate> gate_ = std::make_shared<Gate>();
    std::shared_ptr<RestWatch> restWatch_ = std::make_shared<RestWatch>();
    NoticeSink sink_;
    mutable std::mutex mapMutex_;
    std::map<int, Running> downloads_; // by kind
    int nextSerial_ = 1;
    bool shutDown_ = false;
    // Notices of two downloads may arrive on two threads; stage_ is read and written under it.
    mutable std::recursive_mutex noticeMutex_;
    std::unique_ptr<UpdateFolder> folder_;
    DownloadFileWriter writer_;
    std::vector<UpdateSource> sources_;
    std::size_t source_ = 0;
    // The layout's manifest record before any manifest was read: each source starts there.
    std::uint32_t cleanMajor_ = 0, cleanMinor_ = 0;
    std::vector<UpdateSource> cleanItems_;
    Stage stage_ = Stage::Idle;
    std::string offReason_;
    BuildVersion manifestVersion_; // of the manifest that offered the package
    UpdateSource item_;            // the manifest item chosen
    std::string itemHost_;         // its host with the scheme it is fetched over
    std::string itemObject_;       // its object path on its host
    // A 404 for a name with blanks asks once more with '+' for each blank (UrlEncode), the
    // form some operators store it in; both forms decode to the same name.
    bool plusFormAsked_ = false;
    // On a 404 of the statement or package: switches to the '+' form and starts that
    // download again; false when there is nothing more to try.
    bool RetryInPlusForm(int kind);
    // The first write of the statement or package that failed: one log line, and the
    // check ends without asking the standby.
    void OnWriteFailed(int kind);
    std::string packageName_;   // the name it is stored under
    UpdateStatement statement_; // verified before the package is fetched
    OpenFile packageFile_;      // the verified package, open since its download
};

} // namespace qev
