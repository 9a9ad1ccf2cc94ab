#pragma once
// The update check and the hand-off to the updater. The current game's update sources are
// tried in their order, once each: a source's manifest is compared with this build; when
// it offers a newer one, the package's signed statement ("<package>.sig" beside it) is
// fetched and checked first, then the package itself, bounded by the signed size and
// checked against the signed SHA-256. A source that fails any step gives way to the next.
// Everything lands in this run's private folder, through open files; at exit, a sealed
// image of the verified bytes, checked once more, is started to install itself.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/layout/layout.h"
#include "core/net/download_thread.h"
#include "core/net/update_checks.h"
#include "core/net/update_downloads.h"
#include "core/net/update_statement.h"
#include "core/platform/update_folder.h"

namespace qev {

class UpdateFlow {
public:
    // The download kinds.
    static constexpr int ManifestDownload = 1;
    static constexpr int PackageDownload = UpdateDownloads::ResumableKind;
    static constexpr int StatementDownload = 3;
    static constexpr int DownloadOwner = UpdateDownloads::Owner;
    // The manifest is a few hundred bytes; one announced or grown past this is stopped and
    // discarded before it costs the user-interface thread time and memory.
    static constexpr int MaxManifestBytes = 1024 * 1024;
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
    // UpdateDownloads::ShutdownWaitMs; safe at exit and repeatable.
    void Shutdown();
    // What the player is told about the update in the game window's status bar; "" when
    // there is nothing to tell.
    std::string PlayerStatus() const;

    // Seams, preset for the real program.
    std::uint32_t versionMS = QEV_VERSION_MS;
    std::uint32_t versionLS = QEV_VERSION_LS;
    DownloadTiming timing;
    std::string caFile;      // "" = the system's store
    std::string programPath; // "" = GetProgramPath()
    // program.Start: the new process id, nothing when it did not start.
    std::function<std::optional<int>(std::string_view, const SealedProgram&)> startProcess;
    std::function<std::size_t(std::size_t count)> pickItem; // uniform random by default
    // Base64 Ed25519 key that must have signed the package's statement. Without a valid
    // one no update is ever fetched.
    std::string updatePublicKey = QEV_UPDATE_PUBLIC_KEY;
    std::string target = std::string(BuildTarget());

private:
    friend struct UpdateFlowProbe; // the tests' view of the private state

    // Where the check stands. Each waiting stage names the download it waits for.
    enum class Stage { Idle, Manifest, Statement, Package, Ready, Over };
    static const char* StageName(Stage stage);
    // The one place the stage changes; the change is traced with why.
    void EnterStage(Stage next, std::string_view why);

    bool IsDownloading(int kind) const { return downloads_.IsRunning(kind); }
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

    // The steps; noticeMutex_ is held.
    void StartSource();
    // Handles a carrying notice (opened, chunk, complete) of a download the stage waits for.
    void OnCarrying(int kind, const DownloadNotice& notice);
    void OnManifestComplete(const DownloadNotice& notice);
    void OnStatementComplete(const DownloadNotice& notice);
    void OnPackageComplete(const DownloadNotice& notice);
    // True when a carrying notice reaches past its bound (which was then dealt with).
    bool PastBound(int kind, const DownloadNotice& notice);
    // On a 404 of the statement or package: switches to the '+' form and starts that
    // download again; false when there is nothing more to try.
    bool RetryInPlusForm(int kind);
    // The first write of the statement or package that failed: one log line, and the
    // check ends without asking the standby.
    void OnWriteFailed(int kind);
    // The download of kind could not serve this source: the next one is tried.
    void DownloadFailed(int kind);
    // One log line, the source's files removed; then the next source.
    void RefusePackage(std::string_view reason);
    void SourceFailed(std::string_view why);
    std::string SourceText() const;

    LayoutState& state_;
    // Notices of two downloads may arrive on two threads; stage_ is read and written under it.
    mutable std::recursive_mutex noticeMutex_;
    std::unique_ptr<UpdateFolder> folder_;
    UpdateDownloads downloads_; // after folder_: its writer points into it
    std::vector<UpdateSource> sources_;
    std::size_t source_ = 0;
    Stage stage_ = Stage::Idle;
    std::string offReason_;
    BuildVersion manifestVersion_; // of the manifest that offered the package
    UpdateSource item_;            // the manifest item chosen
    std::string itemHost_;         // its host with the scheme it is fetched over
    std::string itemObject_;       // its object path on its host
    // A 404 for a name with blanks asks once more with '+' for each blank (UrlEncode), the
    // form some operators store it in; both forms decode to the same name.
    bool plusFormAsked_ = false;
    std::string packageName_;   // the name the package is stored under
    UpdateStatement statement_; // verified before the package is fetched
    OpenFile packageFile_;      // the verified package, open since its download
    // The verified package's path in this run's folder, "" until one is verified. The
    // bytes that are installed come from the file held open since its download, never
    // from this path.
    std::string packagePath_;
};

} // namespace qev
