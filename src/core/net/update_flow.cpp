#include "net/update_flow.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <random>
#include <vector>

#include "app/log.h"
#include "app/message.h"
#include "app/strings.h"
#include "app/update_modes.h"
#include "layout/update_manifest.h"
#include "layout/xml_text.h"
#include "net/url_codec.h"
#include "platform/files.h"
#include "platform/process.h"

namespace qev {

std::pair<std::string, int> SplitHostPort(std::string_view host)
{
    const auto colon = host.rfind(':');
    if (colon == std::string_view::npos) return {std::string(host), 80};
    const std::string_view digits = host.substr(colon + 1);
    long port = 0;
    for (const char c : digits) {
        if (c < '0' || c > '9') return {std::string(host), 80}; // not a port at all
        port = std::min(port * 10 + (c - '0'), 100000L);
    }
    if (port < 1 || port > 65535) port = 80;
    return {std::string(host.substr(0, colon)), static_cast<int>(port)};
}

void PostDownloadStart(CHttpDownloadThread& thread, int id, const std::string& objectPath,
                       const std::string& host, const NoticeSink& sink, int startBufferSize,
                       int growTo)
{
    auto [name, port] = SplitHostPort(host);
    DownloadRequest start;
    start.id = id;
    start.kind = StartRequest;
    start.owner = UpdateFlow::DownloadOwner;
    start.host = name;
    start.port = port;
    start.objects = {objectPath};
    start.rangeStart = 0;
    start.rangeEnd = -1;
    start.bufferSize = startBufferSize;
    start.notifySink = sink;
    thread.Post(std::move(start));
    if (growTo == 0) return;
    DownloadRequest grow;
    grow.id = id;
    grow.kind = SetBufferRequest;
    grow.bufferSize = growTo;
    grow.notifySink = sink;
    thread.Post(std::move(grow));
}

UpdateFlow::UpdateFlow(LayoutState& state) : state_(state)
{
    startProcess = [](std::string_view line, const std::string& app) {
        return StartProcess(line, app);
    };
    pickItem = [](std::size_t count) {
        static std::mt19937 rng(std::random_device{}());
        return std::uniform_int_distribution<std::size_t>(0, count - 1)(rng);
    };
}

UpdateFlow::~UpdateFlow()
{
    Shutdown();
}

void UpdateFlow::SetNoticeSink(NoticeSink sink)
{
    sink_ = std::move(sink);
}

NoticeSink UpdateFlow::GatedSink()
{
    NoticeSink inner = sink_;
    if (!inner) inner = [this](const DownloadNotice& n) { OnDownloadNotice(n); };
    // The gate lets Shutdown cut every thread off from this flow, including threads that
    // outlive it.
    return [gate = gate_, inner](const DownloadNotice& n) {
        {
            std::lock_guard lock(gate->mutex);
            if (!gate->open) return;
            ++gate->inFlight;
        }
        struct Leave {
            Gate& g;
            ~Leave()
            {
                std::lock_guard lock(g.mutex);
                --g.inFlight;
                g.idle.notify_all();
            }
        } leave{*gate};
        inner(n);
    };
}

std::string UpdateFlow::TargetFolder() const
{
    return GetTempFolder();
}

bool UpdateFlow::CheckForUpdate()
{
    const GameEntry* game = state_.GetCurrentGame();
    if (!game || game->updateSources.empty()) return false;
    // A program the user cannot replace belongs to the system's package manager, which
    // updates it; fetching a build that could never be installed only costs the user.
    const std::string program = programPath.empty() ? GetProgramPath() : programPath;
    if (!CanReplaceFile(program)) {
        WriteLog("update check skipped: " + program +
                 " cannot be replaced by this user (updates come with the system's packages)");
        return false;
    }
    const UpdateSource& source = game->updateSources.front();
    StartDownload(ManifestDownload, source.path + source.file, source.host);
    return true;
}

int UpdateFlow::StartDownload(int id, const std::string& objectPath, const std::string& host)
{
    std::lock_guard lock(mapMutex_);
    if (shutDown_ || downloads_.count(id)) return -1;
    if (id == PackageDownload) packageHost_ = host;
    auto thread = std::make_unique<CHttpDownloadThread>(timing);
    PostDownloadStart(*thread, id, objectPath, host, GatedSink(), 0, GrownBufferSize);
    downloads_[id] = std::move(thread);
    return 0;
}

bool UpdateFlow::IsDownloading(int id) const
{
    std::lock_guard lock(mapMutex_);
    return downloads_.count(id) != 0;
}

int UpdateFlow::OnDownloadNotice(const DownloadNotice& notice)
{
    if (notice.owner != DownloadOwner) return 0;
    std::lock_guard lock(noticeMutex_);
    if (notice.id == StatementDownload) {
        OnStatementNotice(notice);
        return 0;
    }
    if (notice.id == ManifestDownload) {
        const bool carries = notice.kind == NoticeOpened || notice.kind == NoticeChunk ||
                             notice.kind == NoticeComplete;
        if (carries && manifestDiscarded_) return 0;
        if (carries &&
            (notice.expectedEnd > MaxManifestBytes || notice.received > MaxManifestBytes)) {
            DiscardManifest(notice);
            return 0;
        }
    }
    switch (notice.kind) {
    case NoticeOpened:
    case NoticeChunk:
        writer_.SetFolder(TargetFolder());
        writer_.OnNotice(notice);
        break;
    case NoticeComplete: {
        writer_.SetFolder(TargetFolder());
        writer_.OnNotice(notice);
        const std::string target = writer_.TargetPath(notice);
        // A refused name or a failed write leaves no usable file: the download failed.
        if (target.empty() || !writer_.Intact(notice.id)) break;
        if (notice.id == ManifestDownload) {
            if (IsBuildCurrent(target)) break;
            const auto& items = state_.layout.manifestItems;
            if (items.empty()) break;
            const UpdateSource item = items[pickItem(items.size()) % items.size()];
            manifestVersion_ = {state_.layout.major, state_.layout.minor};
            StartDownload(PackageDownload, item.path + UrlEncode(item.file), item.host);
        } else if (notice.id == PackageDownload) {
            OnPackageComplete(target, notice.objectPath);
        }
        break;
    }
    case NoticeDone: {
        writer_.Forget(notice.id);
        std::lock_guard mapLock(mapMutex_);
        downloads_.erase(notice.id); // the thread ends on its own
        break;
    }
    case NoticeError:
        if (notice.code == ReconnectFailedCode) ShowMessage(LoadString(IdsDownloadFailed));
        break;
    default: break;
    }
    return 0;
}

void UpdateFlow::OnPackageComplete(const std::string& target, const std::string& objectPath)
{
    if (updatePublicKey.empty()) {
        if (!unverifiedLogged_) WriteLog("update not verified");
        unverifiedLogged_ = true;
        packagePath = target;
        return;
    }
    // The statement is published beside the package: same host, same path, ".sig" added.
    pendingPackage_ = target;
    pendingStatement_ = target + std::string(StatementSuffix);
    verification_ = Verification::Waiting;
    DeleteFile(pendingStatement_); // an old one must not stand in for a failed download
    if (StartDownload(StatementDownload, objectPath + std::string(StatementSuffix), packageHost_) !=
        0)
        RefusePackage("statement download failed");
}

void UpdateFlow::OnStatementNotice(const DownloadNotice& notice)
{
    if (notice.kind == NoticeDone) {
        writer_.Forget(notice.id);
        {
            std::lock_guard mapLock(mapMutex_);
            downloads_.erase(notice.id);
        }
        if (verification_ == Verification::Waiting) RefusePackage("statement download failed");
        return;
    }
    if (verification_ != Verification::Waiting) return; // refused: write nothing more
    switch (notice.kind) {
    case NoticeOpened:
    case NoticeChunk:
    case NoticeComplete:
        if (notice.kind == NoticeOpened && notice.code != 0) return; // its end follows
        // Checked before anything is written: a hostile server must not fill the disk.
        if (notice.expectedEnd > static_cast<int>(MaxStatementBytes) ||
            notice.received > static_cast<int>(MaxStatementBytes)) {
            RefusePackage(DescribeStatementCheck(StatementCheck::Malformed));
            return;
        }
        writer_.SetFolder(TargetFolder());
        writer_.OnNotice(notice);
        if (notice.kind != NoticeComplete) return;
        if (const std::string target = writer_.TargetPath(notice);
            target == pendingStatement_ && writer_.Intact(notice.id))
            VerifyPackage(target);
        else
            RefusePackage("statement download failed");
        return;
    case NoticeError:
        if (notice.code != ReconnectFailedCode) return;
        RefusePackage("statement download failed");
        ShowMessage(LoadString(IdsDownloadFailed));
        return;
    default: return;
    }
}

void UpdateFlow::VerifyPackage(const std::string& statementPath)
{
    std::string text(MaxStatementBytes + 1, '\0');
    {
        std::ifstream in(statementPath, std::ios::binary);
        in.read(text.data(), static_cast<std::streamsize>(text.size()));
        text.resize(static_cast<std::size_t>(in.gcount()));
    }
    const auto facts = MeasurePackageFile(pendingPackage_);
    if (!facts) {
        RefusePackage("package unreadable");
        return;
    }
    const auto key = DecodePublicKey(updatePublicKey);
    const StatementCheck check =
        key ? VerifyUpdateStatement(text, *key, *facts, manifestVersion_, {versionMS, versionLS})
            : StatementCheck::BadSignature;
    if (check != StatementCheck::Good) {
        RefusePackage(DescribeStatementCheck(check));
        return;
    }
    DeleteFile(pendingStatement_); // done with; the hand-over cleans up the package
    verification_ = Verification::Done;
    packagePath = pendingPackage_;
}

void UpdateFlow::RefusePackage(std::string_view reason)
{
    WriteLog("update package refused: " + std::string(reason));
    DeleteFile(pendingPackage_);
    DeleteFile(pendingStatement_);
    verification_ = Verification::Done;
    packagePath.clear();
    // The statement's download may still run (an oversized one): end it, nothing of it is
    // wanted any more.
    std::lock_guard mapLock(mapMutex_);
    if (auto it = downloads_.find(StatementDownload); it != downloads_.end()) {
        it->second->RequestExit();
        downloads_.erase(it);
    }
}

void UpdateFlow::DiscardManifest(const DownloadNotice& notice)
{
    manifestDiscarded_ = true;
    writer_.SetFolder(TargetFolder());
    if (const std::string target = writer_.TargetPath(notice); !target.empty())
        std::remove(target.c_str());
    writer_.Forget(notice.id);
    WriteLog(XmlRefusalText("update manifest", XmlRefusal::TooLarge));
    std::lock_guard mapLock(mapMutex_);
    if (const auto it = downloads_.find(notice.id); it != downloads_.end()) {
        it->second->RequestExit(); // its last notices no longer reach the file
        downloads_.erase(it);
    }
}

bool UpdateFlow::IsBuildCurrent(const std::string& path)
{
    ReadUpdateManifest(state_.layout, path);
    return IsVersionCurrent(versionMS, versionLS, state_.layout.major, state_.layout.minor);
}

bool UpdateFlow::LaunchUpdater()
{
    if (packagePath.empty()) return false;
    const std::string program = programPath.empty() ? GetProgramPath() : programPath;
    const std::string temp = GetTempFolder();
    if (temp.empty()) return false;
    const auto slash = packagePath.rfind('/');
    const std::string name =
        slash == std::string::npos ? packagePath : packagePath.substr(slash + 1);
    const std::string copy = temp + "update" + name;
    // Starting a stale or missing copy would be worse than not updating this time.
    if (!CopyFileOver(packagePath, copy)) return false;
    if (!MakeOwnerExecutable(copy)) return false;
    const std::string line =
        FormatHandOverCommandLine("-u", CurrentProcessId(), packagePath, program);
    startProcess(line, copy);
    return true;
}

void UpdateFlow::Shutdown()
{
    EndDownloads();
    // A package whose statement never arrived (an unreachable host) is not kept.
    std::lock_guard lock(noticeMutex_);
    if (verification_ == Verification::Waiting) RefusePackage("statement download failed");
}

void UpdateFlow::EndDownloads()
{
    std::vector<std::unique_ptr<CHttpDownloadThread>> threads;
    {
        std::lock_guard lock(mapMutex_);
        shutDown_ = true;
        for (auto& [id, thread] : downloads_) threads.push_back(std::move(thread));
        downloads_.clear();
    }
    {
        std::lock_guard lock(gate_->mutex);
        gate_->open = false;
    }
    for (auto& t : threads) t->RequestExit();

    // Bounded: a notice in flight may be waiting for the very thread that shuts down (a
    // sink that hands notices to the UI thread). Such a thread is left to end on its own;
    // it can no longer reach this flow.
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(ShutdownWaitMs);
    {
        std::unique_lock lock(gate_->mutex);
        gate_->idle.wait_until(lock, deadline, [&] { return gate_->inFlight == 0; });
    }
    for (auto& t : threads) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        t->WaitFinished(static_cast<int>(std::max<long long>(0, left.count())));
    }
}

} // namespace qev
