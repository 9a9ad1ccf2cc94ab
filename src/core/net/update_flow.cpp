#include "core/net/update_flow.h"

#include <algorithm>
#include <chrono>
#include <random>
#include <thread>
#include <vector>

#include "core/base/log.h"
#include "core/base/message.h"
#include "core/base/strings.h"
#include "core/base/url_codec.h"
#include "core/layout/update_manifest.h"
#include "core/layout/xml_text.h"
#include "core/platform/files.h"
#include "core/platform/process.h"

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

SourceHost SplitSourceHost(std::string_view host)
{
    SourceHost out;
    const std::string_view rest = StripHttpScheme(host, out.https);
    auto [name, port] = SplitHostPort(rest);
    out.name = std::move(name);
    out.port = port;
    // SplitHostPort's 80 stands for "no port given" unless ":80" was written.
    const bool written80 = rest.size() >= 3 && rest.substr(rest.size() - 3) == ":80";
    if (out.https && port == 80 && !written80) out.port = 443;
    return out;
}

std::string JoinSourcePath(std::string_view path, std::string_view file)
{
    if (path.empty()) return std::string(file);
    const bool slashAfter = path.back() == '/';
    const bool slashBefore = !file.empty() && file.front() == '/';
    if (slashAfter && slashBefore) file.remove_prefix(1);
    return std::string(path) + (slashAfter || slashBefore ? "" : "/") + std::string(file);
}

std::string LoggableName(std::string_view name)
{
    constexpr std::size_t MaxLogged = 64;
    return EscapeForLog(name, "\\\"", false, MaxLogged);
}

namespace {

bool IsHexDigit(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// A host name or IPv4 address ("a-1.example_b"), or an IPv6 address in brackets.
bool IsPlainHost(std::string_view host)
{
    if (host.size() > 2 && host.front() == '[' && host.back() == ']') {
        for (const char c : host.substr(1, host.size() - 2))
            if (!IsHexDigit(c) && c != ':' && c != '.') return false;
        return true;
    }
    if (host.empty()) return false;
    for (const char c : host) {
        const bool alnum =
            (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
        if (!alnum && c != '-' && c != '.' && c != '_') return false;
    }
    return true;
}

bool IsControlByte(char c)
{
    const auto byte = static_cast<unsigned char>(c);
    return byte < 0x20 || byte == 0x7F;
}

// Why part (an item's path or file) must not reach a request line, "" when it may.
// Segments are split at '\\' too: some servers take it for '/'.
std::string UrlPartRefusal(std::string_view part)
{
    for (const char c : part) {
        if (IsControlByte(c)) return "a control character";
        if (c == '?' || c == '#') return "a query or fragment";
    }
    for (std::size_t start = 0; start <= part.size();) {
        const std::size_t end = std::min(part.find_first_of("/\\", start), part.size());
        const std::string segment = UrlDecode(part.substr(start, end - start));
        if (segment == "..") return "a \"..\" segment";
        if (std::any_of(segment.begin(), segment.end(), IsControlByte))
            return "an escaped control byte";
        start = end + 1;
    }
    return {};
}

} // namespace

std::string ManifestItemRefusal(const UpdateSource& item, int sourcePort)
{
    // A user part would make the rest of the "host" a user name and let the item name
    // another host; anything but a plain name could reach into the path.
    if (item.host.find('@') != std::string::npos) return "a host with a user part";
    const auto [host, port] = SplitHostPort(item.host);
    if (!IsPlainHost(host)) return "not a plain host";
    // Mirrors serve where the manifest's own server does, or on the web's ports: never a
    // service of the player's network that listens elsewhere.
    if (port != sourcePort && port != 80 && port != 443)
        return "port " + std::to_string(port) + " is not the source's";
    // The path follows the port in the address: without its '/', it would go on naming
    // the host.
    if (item.path.empty() || item.path.front() != '/') return "a path not starting with '/'";
    for (const char c : item.path)
        if (c == ' ' || static_cast<unsigned char>(c) >= 0x80)
            return "a path with blanks or bytes past ASCII";
    if (std::string why = UrlPartRefusal(item.path); !why.empty()) return "a path with " + why;
    if (std::string why = UrlPartRefusal(item.file); !why.empty()) return "a file with " + why;
    return {};
}

void PostDownloadStart(CHttpDownloadThread& thread, int id, const std::string& objectPath,
                       const std::string& host, const NoticeSink& sink, int startBufferSize,
                       int growTo, const std::string& caFile)
{
    SourceHost source = SplitSourceHost(host);
    DownloadRequest start;
    start.id = id;
    start.kind = StartRequest;
    start.owner = UpdateFlow::DownloadOwner;
    start.host = std::move(source.name);
    start.port = source.port;
    start.https = source.https;
    start.caFile = caFile;
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
    startProcess = [](std::string_view line, const SealedProgram& program) {
        return program.Start(line);
    };
    pickItem = [](std::size_t count) {
        static std::mt19937 rng(std::random_device{}());
        return std::uniform_int_distribution<std::size_t>(0, count - 1)(rng);
    };
}

UpdateFlow::~UpdateFlow()
{
    Shutdown();
    std::lock_guard lock(noticeMutex_);
    writer_.SetFolder(nullptr);
    // A folder without a verified package has nothing the hand-over needs.
    if (folder_ && stage_ != Stage::Ready) folder_->RemoveAll();
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

namespace {

// The player's reason when the download folder was refused because of another user (a
// folder above it that others can write, or one that is not this user's): updates then
// stay off at every start until the player moves the cache. "" for any other failure.
std::string FolderOffReason(const std::string& whyNot)
{
    return whyNot.find("another user") != std::string::npos
               ? "another user controls the update folder"
               : std::string();
}

} // namespace

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
    std::string whyNot;
    auto folder = UpdateFolder::CreateForRun(whyNot);
    if (!folder) {
        WriteLog("update check skipped: no private download folder (" + whyNot + ")");
        std::lock_guard lock(noticeMutex_);
        offReason_ = FolderOffReason(whyNot);
        return false;
    }
    // Only now that the walk to the root held, and through the root it opened.
    std::string left;
    folder->RemoveAbandonedRunFolders(left);
    if (!left.empty()) WriteLog("update clean-up: " + left);
    std::lock_guard lock(noticeMutex_);
    if (folder_) folder_->RemoveAll(); // a second check starts over
    folder_ = std::move(folder);
    writer_.SetFolder(folder_.get());
    sources_ = game->updateSources;
    source_ = 0;
    cleanMajor_ = state_.layout.major;
    cleanMinor_ = state_.layout.minor;
    cleanItems_ = state_.layout.manifestItems;
    StartSource();
    return true;
}

int UpdateFlow::StartDownload(int kind, const std::string& objectPath, const std::string& host)
{
    std::lock_guard lock(mapMutex_);
    if (shutDown_ || downloads_.count(kind)) return -1;
    Running running;
    running.serial = nextSerial_++;
    running.thread = std::make_shared<CHttpDownloadThread>(timing);
    const int id = kind + KindStride * running.serial;
    PostDownloadStart(*running.thread, id, objectPath, host, GatedSink(), 0, GrownBufferSize,
                      caFile);
    DownloadNotice resting;
    resting.id = id;
    resting.owner = DownloadOwner;
    resting.kind = NoticeError;
    resting.code = RestingCode;
    resting.objectPath = objectPath;
    WatchForRest(resting, running.thread);
    downloads_[kind] = std::move(running);
    return 0;
}

void UpdateFlow::WatchForRest(const DownloadNotice& report,
                              std::shared_ptr<CHttpDownloadThread> thread)
{
    std::lock_guard lock(restWatch_->mutex);
    restWatch_->watched.emplace_back(report, std::move(thread));
    if (restWatch_->started) return;
    restWatch_->started = true;
    std::thread([watch = restWatch_, sink = GatedSink()] {
        std::unique_lock lock(watch->mutex);
        while (!watch->wake.wait_for(lock, std::chrono::milliseconds(RestCheckMs),
                                     [&] { return watch->stop; })) {
            std::vector<DownloadNotice> rests;
            auto& list = watch->watched;
            for (auto it = list.begin(); it != list.end();) {
                const bool ended = it->second->Finished();
                const bool rests_ = !ended && it->second->WaitIdle(0);
                if (rests_) rests.push_back(it->first);
                it = ended || rests_ ? list.erase(it) : it + 1;
            }
            lock.unlock();
            for (const DownloadNotice& n : rests) sink(n); // the gate drops it after shutdown
            lock.lock();
        }
    }).detach();
}

bool UpdateFlow::IsDownloading(int kind) const
{
    std::lock_guard lock(mapMutex_);
    return downloads_.count(kind) != 0;
}

bool UpdateFlow::IsCurrent(int kind, int id) const
{
    std::lock_guard lock(mapMutex_);
    const auto it = downloads_.find(kind);
    return it != downloads_.end() && it->second.serial == id / KindStride;
}

void UpdateFlow::StopDownload(int kind)
{
    std::lock_guard lock(mapMutex_);
    if (const auto it = downloads_.find(kind); it != downloads_.end()) {
        it->second.thread->RequestExit(); // its last notices no longer count
        downloads_.erase(it);
    }
}

std::string UpdateFlow::SourceText() const
{
    if (source_ >= sources_.size()) return {};
    const UpdateSource& s = sources_[source_];
    return LoggableName(s.host) + LoggableName(JoinSourcePath(s.path, s.file));
}

void UpdateFlow::StartSource()
{
    // Each source starts from a clean manifest record: a second manifest must not add
    // its items to the first one's, nor inherit its version.
    state_.layout.major = cleanMajor_;
    state_.layout.minor = cleanMinor_;
    state_.layout.manifestItems = cleanItems_;
    stage_ = Stage::Manifest;
    const UpdateSource& s = sources_[source_];
    if (StartDownload(ManifestDownload, JoinSourcePath(s.path, s.file), s.host) != 0)
        stage_ = Stage::Over; // shut down meanwhile
}

void UpdateFlow::SourceFailed()
{
    writer_.DiscardAll(); // every download of this source has ended or been stopped
    packageFile_.Close();
    packagePath.clear();
    if (shutDown_) {
        stage_ = Stage::Over;
        return;
    }
    if (++source_ < sources_.size()) {
        StartSource();
        return;
    }
    WriteLog("update check: no update source served an update");
    stage_ = Stage::Over;
}

void UpdateFlow::RefusePackage(std::string_view reason)
{
    WriteLog("update package refused: " + std::string(reason));
    StopDownload(StatementDownload);
    StopDownload(PackageDownload);
    SourceFailed();
}

int UpdateFlow::OnDownloadNotice(const DownloadNotice& notice)
{
    if (notice.owner != DownloadOwner) return 0;
    const int kind = notice.id % KindStride;
    std::lock_guard lock(noticeMutex_);
    if (!IsCurrent(kind, notice.id)) return 0; // ended early, or not this flow's
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
        if (stage_ != waitsFor || PastBound(kind, notice)) return 0;
        writer_.OnNotice(notice);
        if (kind != ManifestDownload && !writer_.Intact(notice.id)) {
            OnWriteFailed(kind);
            return 0;
        }
        if (notice.kind != NoticeComplete) return 0;
        if (kind == ManifestDownload)
            OnManifestComplete(notice);
        else if (kind == StatementDownload)
            OnStatementComplete(notice);
        else
            OnPackageComplete(notice);
        return 0;
    case NoticeDone: {
        writer_.Discard(notice.id); // what was not taken is of no use any more
        {
            std::lock_guard mapLock(mapMutex_);
            downloads_.erase(kind); // the thread ends on its own
        }
        // Ended without moving the check on: this source could not serve it.
        if (stage_ != waitsFor) return 0;
        if (kind == ManifestDownload)
            SourceFailed();
        else if (kind == StatementDownload)
            RefusePackage("statement download failed");
        else
            RefusePackage("package download failed");
        return 0;
    }
    case NoticeError: {
        if (notice.code != ReconnectFailedCode && notice.code != RestingCode) return 0;
        // The download has given up (it rests without ending). Reported once the last
        // source has failed too; before that the next one is tried.
        const bool last = source_ + 1 >= sources_.size();
        const bool waiting = stage_ == waitsFor;
        StopDownload(kind);
        writer_.Discard(notice.id);
        if (waiting) {
            if (kind == ManifestDownload)
                SourceFailed();
            else
                RefusePackage(kind == StatementDownload ? "statement download failed"
                                                        : "package download failed");
        }
        if (last && notice.code == ReconnectFailedCode) ShowMessage(LoadString(IdsDownloadFailed));
        return 0;
    }
    default: return 0;
    }
}

bool UpdateFlow::PastBound(int kind, const DownloadNotice& notice)
{
    // Checked before anything is written: a hostile server must not fill the disk.
    const auto past = [&](std::int64_t bound) {
        return notice.expectedEnd > bound || notice.received > bound;
    };
    if (kind == ManifestDownload && past(MaxManifestBytes)) {
        writer_.Discard(notice.id);
        StopDownload(ManifestDownload);
        WriteLog(XmlRefusalText("update manifest", XmlRefusal::TooLarge));
        SourceFailed();
        return true;
    }
    if (kind == StatementDownload && past(static_cast<std::int64_t>(MaxStatementBytes))) {
        writer_.Discard(notice.id);
        RefusePackage(DescribeStatementCheck(StatementCheck::Malformed));
        return true;
    }
    if (kind == PackageDownload && past(statement_.size)) {
        writer_.Discard(notice.id);
        RefusePackage("package larger than signed");
        return true;
    }
    return false;
}

namespace {

// The first bytes of an open file, at most limit + 1 of them (so that "too long" shows).
std::string ReadHead(const OpenFile* file, std::size_t limit)
{
    std::string text(limit + 1, '\0');
    std::size_t got = 0;
    while (file && got < text.size()) {
        const std::int64_t n =
            file->ReadAt(static_cast<std::int64_t>(got), text.data() + got, text.size() - got);
        if (n <= 0) break;
        got += static_cast<std::size_t>(n);
    }
    text.resize(got);
    return text;
}

} // namespace

std::vector<UpdateSource> UpdateFlow::UsableItems(const std::vector<UpdateSource>& items) const
{
    const int sourcePort = SplitSourceHost(sources_[source_].host).port;
    std::vector<UpdateSource> usable;
    std::string first;
    std::size_t refused = 0;
    for (const UpdateSource& item : items) {
        const std::string why = ManifestItemRefusal(item, sourcePort);
        if (why.empty())
            usable.push_back(item);
        else if (refused++ == 0)
            first = why + ": " + LoggableName(item.host) + " " + LoggableName(item.path) + " " +
                    LoggableName(item.file);
    }
    // One line per manifest however many items it holds.
    if (refused > 0)
        WriteLog("update item refused, " + first +
                 (refused > 1 ? " (and " + std::to_string(refused - 1) + " more)" : ""));
    return usable;
}

void UpdateFlow::OnManifestComplete(const DownloadNotice& notice)
{
    const bool intact = writer_.Intact(notice.id);
    const std::string text = ReadHead(writer_.File(notice.id), MaxManifestBytes);
    writer_.Discard(notice.id); // read once; nothing else needs it
    bool hasGame = false;
    if (!intact || !ReadUpdateManifestText(state_.layout, text, &hasGame) || !hasGame) {
        StopDownload(ManifestDownload);
        SourceFailed();
        return;
    }
    // A current build found ends the check: no other source is asked.
    if (IsVersionCurrent(versionMS, versionLS, state_.layout.major, state_.layout.minor)) {
        stage_ = Stage::Over;
        return;
    }
    const std::vector<UpdateSource> items = UsableItems(state_.layout.manifestItems);
    if (items.empty()) {
        StopDownload(ManifestDownload);
        SourceFailed();
        return;
    }
    item_ = items[pickItem(items.size()) % items.size()];
    // An item on the web's https port is fetched over https; any other over its source's
    // scheme (the item itself names none).
    const bool https =
        SplitHostPort(item_.host).second == 443 || SplitSourceHost(sources_[source_].host).https;
    itemHost_ = (https ? "https://" : "") + item_.host;
    manifestVersion_ = {state_.layout.major, state_.layout.minor};
    itemObject_ = item_.path + EncodePathSegment(item_.file);
    plusFormAsked_ = false;
    packageName_ = TargetFileName(itemObject_);
    StopDownload(ManifestDownload);
    if (packageName_.empty()) {
        RefusePackage("unusable file name \"" + LoggableName(item_.file) + "\"");
        return;
    }
    if (packageName_.size() > MaxInstallableNameBytes) {
        RefusePackage(DescribeStatementCheck(StatementCheck::NameTooLong));
        return;
    }
    // The statement first: nothing of the package is fetched before it holds.
    stage_ = Stage::Statement;
    if (StartDownload(StatementDownload, itemObject_ + std::string(StatementSuffix), itemHost_) !=
        0)
        RefusePackage("statement download failed");
}

void UpdateFlow::OnWriteFailed(int kind)
{
    // A full or failing disk is not the server's fault: the standby would fail alike, so
    // the check ends here, and at once rather than after the rest has been fetched.
    StopDownload(StatementDownload);
    StopDownload(PackageDownload);
    writer_.DiscardAll();
    packageFile_.Close();
    packagePath.clear();
    WriteLog(std::string("update package refused: ") +
             (kind == PackageDownload ? "package" : "statement") + " could not be written");
    stage_ = Stage::Over;
}

bool UpdateFlow::RetryInPlusForm(int kind)
{
    if (kind == ManifestDownload || plusFormAsked_) return false;
    if (item_.file.find(' ') == std::string::npos) return false;
    plusFormAsked_ = true;
    itemObject_ = item_.path + UrlEncode(item_.file);
    StopDownload(kind);
    const std::string object =
        kind == StatementDownload ? itemObject_ + std::string(StatementSuffix) : itemObject_;
    if (StartDownload(kind, object, itemHost_) != 0)
        RefusePackage(kind == StatementDownload ? "statement download failed"
                                                : "package download failed");
    return true;
}

void UpdateFlow::OnStatementComplete(const DownloadNotice& notice)
{
    const bool intact = writer_.Intact(notice.id);
    const std::string text = ReadHead(writer_.File(notice.id), MaxStatementBytes);
    writer_.Discard(notice.id);
    StopDownload(StatementDownload);
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
    stage_ = Stage::Package;
    if (StartDownload(PackageDownload, itemObject_, itemHost_) != 0)
        RefusePackage("package download failed");
}

void UpdateFlow::OnPackageComplete(const DownloadNotice& notice)
{
    StopDownload(PackageDownload);
    if (!writer_.Intact(notice.id)) {
        writer_.Discard(notice.id);
        RefusePackage("package could not be written");
        return;
    }
    const auto facts = MeasureOpenFile(*writer_.File(notice.id), packageName_);
    const StatementCheck check =
        facts ? CheckPackageAgainst(statement_, *facts) : StatementCheck::WrongFile;
    if (check != StatementCheck::Good) {
        writer_.Discard(notice.id);
        RefusePackage(DescribeStatementCheck(check));
        return;
    }
    packageFile_ = writer_.Take(notice.id);
    packagePath = folder_->Path() + packageName_;
    WriteLog("update " + FormatBuildVersion(statement_.version) + " served by " + SourceText());
    stage_ = Stage::Ready;
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
    if (stage_ != Stage::Ready || packagePath.empty() || !packageFile_.IsOpen() || !folder_)
        return false;
    const std::string program = programPath.empty() ? GetProgramPath() : programPath;
    if (program.empty()) {
        // Another copy installed a build meanwhile: its path is no longer this program's,
        // and the next start checks again from the new build.
        WriteLog("update not started: the program was replaced while it ran");
        return false;
    }
    std::string whyNot;
    // The image's own name is short and fixed: a package's name may run to 200 bytes, and
    // Windows starts no program whose path reaches its old path limit.
    const auto sealed =
        SealedProgram::Seal(packageFile_, statement_.size, SealedImageName, *folder_, whyNot);
    if (!sealed) {
        WriteLog("update not started: " + whyNot);
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
        FormatHandOverCommandLine("-u", CurrentProcessId(), packagePath, program);
    if (startProcess(line, *sealed) <= 0) {
        WriteLog("update not started: the sealed copy could not be started");
        return false;
    }
    return true;
}

void UpdateFlow::Shutdown()
{
    EndDownloads();
    // A package whose statement or bytes never arrived (an unreachable host) is not kept.
    std::lock_guard lock(noticeMutex_);
    if (stage_ == Stage::Statement) RefusePackage("statement download failed");
    if (stage_ == Stage::Package) RefusePackage("package download failed");
    if (stage_ != Stage::Ready) stage_ = Stage::Over;
    writer_.DiscardAll();
}

void UpdateFlow::EndDownloads()
{
    {
        std::lock_guard lock(restWatch_->mutex);
        restWatch_->stop = true;
        restWatch_->watched.clear();
    }
    restWatch_->wake.notify_all();
    std::vector<std::shared_ptr<CHttpDownloadThread>> threads;
    {
        std::lock_guard lock(mapMutex_);
        shutDown_ = true;
        for (auto& [kind, running] : downloads_) threads.push_back(std::move(running.thread));
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
