#include "core/net/update_flow.h"

#include <random>

#include "core/base/log.h"
#include "core/base/message.h"
#include "core/base/state_trace.h"
#include "core/base/strings.h"
#include "core/base/url_codec.h"
#include "core/layout/update_manifest.h"
#include "core/layout/xml_text.h"
#include "core/platform/files.h"
#include "core/platform/process.h"

namespace qev {
namespace {

const char* KindName(int kind)
{
    return kind == UpdateFlow::ManifestDownload    ? "manifest"
           : kind == UpdateFlow::StatementDownload ? "statement"
                                                   : "package";
}

} // namespace

UpdateFlow::UpdateFlow(LayoutState& state) : state_(state)
{
    startProcess = [](std::string_view line, const SealedProgram& program) {
        return program.Start(line);
    };
    pickItem = [](std::size_t count) {
        static std::mt19937 rng(std::random_device{}());
        return std::uniform_int_distribution<std::size_t>(0, count - 1)(rng);
    };
    SetNoticeSink(nullptr);
}

UpdateFlow::~UpdateFlow()
{
    Shutdown();
    std::lock_guard lock(noticeMutex_);
    downloads_.SetFolder(nullptr);
    // A folder without a verified package has nothing the hand-over needs.
    if (folder_ && stage_ != Stage::Ready) folder_->RemoveAll();
}

const char* UpdateFlow::StageName(Stage stage)
{
    switch (stage) {
    case Stage::Idle: return "Idle";
    case Stage::Manifest: return "Manifest";
    case Stage::Statement: return "Statement";
    case Stage::Package: return "Package";
    case Stage::Ready: return "Ready";
    case Stage::Over: return "Over";
    }
    return "?";
}

void UpdateFlow::EnterStage(Stage next, std::string_view why)
{
    if (next != stage_) TraceTransition("update check", StageName(stage_), StageName(next), why);
    stage_ = next;
}

void UpdateFlow::SetNoticeSink(NoticeSink sink)
{
    if (!sink) sink = [this](const DownloadNotice& n) { OnDownloadNotice(n); };
    downloads_.SetSink(std::move(sink));
}

std::string UpdateFlow::TargetFolder() const
{
    std::lock_guard lock(noticeMutex_);
    return folder_ ? folder_->Path() : std::string();
}

bool UpdateFlow::IsChecking() const
{
    // Under the lock: a notice moves the stage and logs or shows what it found in one
    // step, so whoever sees the check ended also sees all it said.
    std::lock_guard lock(noticeMutex_);
    return stage_ == Stage::Manifest || stage_ == Stage::Statement || stage_ == Stage::Package;
}

std::string UpdateFlow::OffReason() const
{
    std::lock_guard lock(noticeMutex_);
    return offReason_;
}

bool UpdateFlow::CheckForUpdate()
{
    const GameEntry* game = state_.GetCurrentGame();
    if (!game || game->updateSources.empty()) return false;
    {
        std::lock_guard lock(noticeMutex_);
        offReason_.clear();
    }
    const std::string program = programPath.empty() ? GetProgramPath() : programPath;
    if (program.empty()) {
        // Another copy already put a new build in its place: that one checks next time.
        WriteLog("update check skipped: the program was replaced while it ran");
        return false;
    }
    // A program the user cannot replace belongs to the system's package manager, which
    // updates it; fetching a build that could never be installed only costs the user.
    if (!CanReplaceFile(program)) {
        WriteLog("update check skipped: " + program +
                 " cannot be replaced by this user (updates come with the system's packages)");
        return false;
    }
    if (!DecodePublicKey(updatePublicKey)) {
        WriteLog("update check skipped: the built-in update key is not a public key");
        std::lock_guard lock(noticeMutex_);
        offReason_ = "the built-in update key does not decode";
        return false;
    }
    PlatformError error;
    auto folder = UpdateFolder::CreateForRun(&error);
    if (!folder) {
        WriteLog("update check skipped: no private download folder (" + error.text + ")");
        std::lock_guard lock(noticeMutex_);
        offReason_ = FolderOffReason(error.text);
        return false;
    }
    // Only now that the walk to the root held, and through the root it opened.
    std::string left;
    folder->RemoveAbandonedRunFolders(left);
    if (!left.empty()) WriteLog("update clean-up: " + left);
    std::lock_guard lock(noticeMutex_);
    if (folder_) folder_->RemoveAll(); // a second check starts over
    folder_ = std::move(folder);
    downloads_.SetFolder(folder_.get());
    downloads_.ReadKept();
    sources_ = game->updateSources;
    source_ = 0;
    StartSource();
    return true;
}

int UpdateFlow::StartDownload(int kind, const std::string& objectPath, const std::string& host)
{
    return downloads_.Start(kind, objectPath, host, timing, caFile);
}

std::string UpdateFlow::SourceText() const
{
    if (source_ >= sources_.size()) return {};
    const UpdateSource& s = sources_[source_];
    return LoggableName(s.host) + LoggableName(JoinSourcePath(s.path, s.file));
}

void UpdateFlow::StartSource()
{
    EnterStage(Stage::Manifest, "source " + std::to_string(source_ + 1));
    const UpdateSource& s = sources_[source_];
    if (StartDownload(ManifestDownload, JoinSourcePath(s.path, s.file), s.host) != 0)
        EnterStage(Stage::Over, "shut down meanwhile");
}

void UpdateFlow::SourceFailed(std::string_view why)
{
    downloads_.Writer().DiscardAll(); // every download of this source has ended or been stopped
    packageFile_.Close();
    packagePath_.clear();
    if (downloads_.HasEnded()) {
        EnterStage(Stage::Over, "shut down");
        return;
    }
    if (++source_ < sources_.size()) {
        TraceTransition("update check", StageName(stage_), "next source", why);
        StartSource();
        return;
    }
    WriteLog("update check: no update source served an update");
    EnterStage(Stage::Over, why);
}

void UpdateFlow::RefusePackage(std::string_view reason)
{
    WriteLog("update package refused: " + std::string(reason));
    downloads_.Stop(StatementDownload);
    downloads_.Stop(PackageDownload);
    SourceFailed(reason);
}

void UpdateFlow::DownloadFailed(int kind)
{
    if (kind == ManifestDownload)
        SourceFailed("manifest download failed");
    else
        RefusePackage(std::string(KindName(kind)) + " download failed");
}

int UpdateFlow::OnDownloadNotice(const DownloadNotice& notice)
{
    if (notice.owner != DownloadOwner) return 0;
    const int kind = notice.id % UpdateDownloads::KindStride;
    std::lock_guard lock(noticeMutex_);
    if (!downloads_.IsCurrent(kind, notice.id)) return 0; // ended early, or not this flow's
    const Stage waitsFor = kind == ManifestDownload    ? Stage::Manifest
                           : kind == StatementDownload ? Stage::Statement
                                                       : Stage::Package;
    switch (notice.kind) {
    case NoticeOpened:
    case NoticeChunk:
    case NoticeComplete:
        if (notice.kind == NoticeOpened && notice.code == 404 && stage_ == waitsFor &&
            RetryInPlusForm(kind))
            return 0;
        if (notice.kind == NoticeOpened && notice.code != 0) return 0; // its end follows
        if (stage_ == waitsFor && !PastBound(kind, notice)) OnCarrying(kind, notice);
        return 0;
    case NoticeDone:
        downloads_.Writer().Discard(notice.id); // what was not taken is of no use any more
        downloads_.Forget(kind);                // the thread ends on its own
        // Ended without moving the check on: this source could not serve it.
        if (stage_ == waitsFor) DownloadFailed(kind);
        return 0;
    case NoticeError: {
        if (notice.code != ReconnectFailedCode && notice.code != UpdateDownloads::RestingCode)
            return 0;
        // The download has given up (it rests without ending). Reported once the last
        // source has failed too; before that the next one is tried.
        const bool last = source_ + 1 >= sources_.size();
        const bool waiting = stage_ == waitsFor;
        downloads_.Stop(kind);
        downloads_.Writer().Discard(notice.id);
        if (waiting) DownloadFailed(kind);
        if (last && notice.code == ReconnectFailedCode) ShowMessage(LoadString(IdsDownloadFailed));
        return 0;
    }
    default: return 0;
    }
}

void UpdateFlow::OnCarrying(int kind, const DownloadNotice& notice)
{
    DownloadFileWriter& writer = downloads_.Writer();
    if (kind == PackageDownload) downloads_.NoteValidator(notice.validator);
    writer.OnNotice(notice);
    if (kind != ManifestDownload && !writer.Intact(notice.id)) {
        OnWriteFailed(kind);
        return;
    }
    if (notice.kind != NoticeComplete) return;
    if (kind == ManifestDownload)
        OnManifestComplete(notice);
    else if (kind == StatementDownload)
        OnStatementComplete(notice);
    else
        OnPackageComplete(notice);
}

bool UpdateFlow::PastBound(int kind, const DownloadNotice& notice)
{
    // Checked before anything is written: a hostile server must not fill the disk.
    const auto past = [&](std::int64_t bound) {
        return notice.expectedEnd > bound || notice.received > bound;
    };
    if (kind == ManifestDownload && past(MaxManifestBytes)) {
        downloads_.Writer().Discard(notice.id);
        downloads_.Stop(ManifestDownload);
        WriteLog(XmlRefusalText("update manifest", XmlRefusal::TooLarge));
        SourceFailed("manifest too large");
        return true;
    }
    if (kind == StatementDownload && past(static_cast<std::int64_t>(MaxStatementBytes))) {
        downloads_.Writer().Discard(notice.id);
        RefusePackage(DescribeStatementCheck(StatementCheck::Malformed));
        return true;
    }
    if (kind == PackageDownload && past(statement_.size)) {
        downloads_.Writer().Discard(notice.id);
        RefusePackage("package larger than signed");
        return true;
    }
    return false;
}

void UpdateFlow::OnManifestComplete(const DownloadNotice& notice)
{
    DownloadFileWriter& writer = downloads_.Writer();
    const bool intact = writer.Intact(notice.id);
    const std::string text = ReadHead(writer.File(notice.id), MaxManifestBytes);
    writer.Discard(notice.id); // read once; nothing else needs it
    downloads_.Stop(ManifestDownload);
    // Each source's manifest is read over the layout's own record: a second manifest must
    // not add its items to the first one's, nor inherit its version.
    LayoutDocument manifest;
    manifest.major = state_.layout.major;
    manifest.minor = state_.layout.minor;
    manifest.manifestItems = state_.layout.manifestItems;
    bool hasGame = false;
    if (!intact || !ReadUpdateManifestText(manifest, text, &hasGame) || !hasGame) {
        SourceFailed("no usable manifest");
        return;
    }
    // A current build found ends the check: no other source is asked.
    if (IsVersionCurrent(versionMS, versionLS, manifest.major, manifest.minor)) {
        EnterStage(Stage::Over, "this build is current");
        return;
    }
    const std::vector<UpdateSource> items =
        UsableItems(manifest.manifestItems, SplitSourceHost(sources_[source_].host).port);
    if (items.empty()) {
        SourceFailed("no usable item");
        return;
    }
    item_ = items[pickItem(items.size()) % items.size()];
    manifestVersion_ = {manifest.major, manifest.minor};
    plusFormAsked_ = false;
    std::string refusal;
    const ItemRequest request = PlanItemRequest(item_, sources_[source_].host, refusal);
    itemHost_ = request.host;
    itemObject_ = request.object;
    packageName_ = request.name;
    if (!refusal.empty()) {
        RefusePackage(refusal);
        return;
    }
    // The statement first: nothing of the package is fetched before it holds.
    EnterStage(Stage::Statement, "a newer build offered");
    if (StartDownload(StatementDownload, itemObject_ + std::string(StatementSuffix), itemHost_) !=
        0)
        RefusePackage("statement download failed");
}

void UpdateFlow::OnWriteFailed(int kind)
{
    // A full or failing disk is not the server's fault: the standby would fail alike, so
    // the check ends here, and at once rather than after the rest has been fetched.
    downloads_.Stop(StatementDownload);
    downloads_.Stop(PackageDownload);
    downloads_.Writer().DiscardAll();
    packageFile_.Close();
    packagePath_.clear();
    WriteLog(std::string("update package refused: ") + KindName(kind) + " could not be written");
    EnterStage(Stage::Over, "write failed");
}

bool UpdateFlow::RetryInPlusForm(int kind)
{
    if (kind == ManifestDownload || plusFormAsked_) return false;
    if (item_.file.find(' ') == std::string::npos) return false;
    plusFormAsked_ = true;
    itemObject_ = item_.path + UrlEncode(item_.file);
    downloads_.Stop(kind);
    const std::string object =
        kind == StatementDownload ? itemObject_ + std::string(StatementSuffix) : itemObject_;
    if (StartDownload(kind, object, itemHost_) != 0) DownloadFailed(kind);
    return true;
}

void UpdateFlow::OnStatementComplete(const DownloadNotice& notice)
{
    DownloadFileWriter& writer = downloads_.Writer();
    const bool intact = writer.Intact(notice.id);
    const std::string text = ReadHead(writer.File(notice.id), MaxStatementBytes);
    writer.Discard(notice.id);
    downloads_.Stop(StatementDownload);
    if (!intact) {
        RefusePackage("statement download failed");
        return;
    }
    const auto key = DecodePublicKey(updatePublicKey);
    const StatementCheck check =
        key ? VerifyStatementBeforeFetch(text, *key, packageName_, manifestVersion_,
                                         {versionMS, versionLS}, target, &statement_)
            : StatementCheck::BadSignature;
    if (check != StatementCheck::Good) {
        RefusePackage(DescribeStatementCheck(check));
        return;
    }
    EnterStage(Stage::Package, "statement verified");
    downloads_.TakeKept(
        KeptRecord(itemHost_, itemObject_, packageName_, statement_.size, statement_.sha256),
        *folder_, packageName_);
    if (StartDownload(PackageDownload, itemObject_, itemHost_) != 0)
        RefusePackage("package download failed");
}

void UpdateFlow::OnPackageComplete(const DownloadNotice& notice)
{
    DownloadFileWriter& writer = downloads_.Writer();
    downloads_.Stop(PackageDownload);
    if (!writer.Intact(notice.id)) {
        writer.Discard(notice.id);
        RefusePackage("package could not be written");
        return;
    }
    const auto facts = MeasureOpenFile(*writer.File(notice.id), packageName_);
    const StatementCheck check =
        facts ? CheckPackageAgainst(statement_, *facts) : StatementCheck::WrongFile;
    if (check != StatementCheck::Good) {
        writer.Discard(notice.id);
        RefusePackage(DescribeStatementCheck(check));
        return;
    }
    packageFile_ = writer.Take(notice.id);
    packagePath_ = folder_->Path() + packageName_;
    WriteLog("update " + FormatBuildVersion(statement_.version) + " served by " + SourceText());
    EnterStage(Stage::Ready, "package verified");
}

std::string UpdateFlow::PlayerStatus() const
{
    std::lock_guard lock(noticeMutex_);
    // A verified package installs itself at exit (LaunchUpdater): a player who keeps the
    // client open for days learns here that closing it updates it.
    if (stage_ == Stage::Ready)
        return "Version " + FormatBuildVersion(statement_.version) +
               " is ready: it installs when you close the client";
    // Another user may have switched this player's updates off for good; the log says more.
    if (!offReason_.empty()) return "Updates off: " + offReason_ + " (see the log)";
    return "";
}

bool UpdateFlow::IsBuildCurrent(const std::string& path)
{
    ReadUpdateManifest(state_.layout, path);
    return IsVersionCurrent(versionMS, versionLS, state_.layout.major, state_.layout.minor);
}

bool UpdateFlow::LaunchUpdater()
{
    std::lock_guard lock(noticeMutex_);
    if (stage_ != Stage::Ready || packagePath_.empty() || !packageFile_.IsOpen() || !folder_)
        return false;
    const std::string program = programPath.empty() ? GetProgramPath() : programPath;
    if (program.empty()) {
        // Another copy installed a build meanwhile: its path is no longer this program's,
        // and the next start checks again from the new build.
        WriteLog("update not started: the program was replaced while it ran");
        return false;
    }
    PlatformError error;
    // The image's own name is short and fixed: a package's name may run to 200 bytes, and
    // Windows starts no program whose path reaches its old path limit.
    const auto sealed =
        SealedProgram::Seal(packageFile_, statement_.size, SealedImageName, *folder_, &error);
    if (!sealed) {
        WriteLog("update not started: " + error.text);
        return false;
    }
    // The bytes that start are the sealed ones: checked here, after they can no longer
    // change, against what the statement signed.
    const auto facts = MeasureOpenFile(sealed->Image(), packageName_);
    if (!facts || CheckPackageAgainst(statement_, *facts) != StatementCheck::Good) {
        WriteLog("update package refused: changed after it was verified");
        return false;
    }
    const std::string line =
        FormatHandOverCommandLine("-u", CurrentProcessId(), packagePath_, program);
    if (const std::optional<int> pid = startProcess(line, *sealed); !pid || *pid <= 0) {
        WriteLog("update not started: the sealed copy could not be started");
        return false;
    }
    return true;
}

void UpdateFlow::Shutdown()
{
    downloads_.EndAll();
    // A package whose statement or bytes never arrived (an unreachable host) is not kept.
    std::lock_guard lock(noticeMutex_);
    if (stage_ == Stage::Package)
        downloads_.Keep(
            KeptRecord(itemHost_, itemObject_, packageName_, statement_.size, statement_.sha256),
            *folder_, packageName_);
    if (stage_ == Stage::Statement) RefusePackage("statement download failed");
    if (stage_ == Stage::Package) RefusePackage("package download failed");
    if (stage_ != Stage::Ready) EnterStage(Stage::Over, "shut down");
    downloads_.Writer().DiscardAll();
}

} // namespace qev
