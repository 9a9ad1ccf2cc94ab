#include "core/net/update_downloads.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "core/net/update_checks.h"

namespace qev {

void PostDownloadStart(CHttpDownloadThread& thread, int id, const std::string& objectPath,
                       const std::string& host, const NoticeSink& sink, int startBufferSize,
                       int growTo, const std::string& caFile, int rangeStart,
                       const std::string& validator)
{
    SourceHost source = SplitSourceHost(host);
    DownloadRequest start;
    start.id = id;
    start.kind = StartRequest;
    start.owner = UpdateDownloads::Owner;
    start.host = std::move(source.name);
    start.port = source.port;
    start.https = source.https;
    start.caFile = caFile;
    start.objects = {objectPath};
    start.rangeStart = rangeStart;
    start.validator = validator;
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

UpdateDownloads::~UpdateDownloads()
{
    EndAll();
}

NoticeSink UpdateDownloads::GatedSink() const
{
    // The gate lets EndAll cut every thread off from the check, including threads that
    // outlive it.
    return [gate = gate_, inner = sink_](const DownloadNotice& n) {
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
        if (inner) inner(n);
    };
}

int UpdateDownloads::Start(int kind, const std::string& objectPath, const std::string& host,
                           const DownloadTiming& timing, const std::string& caFile)
{
    std::lock_guard lock(mapMutex_);
    if (ended_ || running_.count(kind)) return -1;
    Running running;
    running.serial = nextSerial_++;
    running.thread = std::make_shared<CHttpDownloadThread>(timing);
    const int id = kind + KindStride * running.serial;
    int from = 0;
    std::string validator;
    if (kind == ResumableKind) {
        packageId_ = id;
        packageValidator_.clear();
        if (resumeFrom_ > 0 && resumeFile_.IsOpen()) {
            from = static_cast<int>(resumeFrom_);
            validator = packageValidator_ = resumeValidator_; // kept again if no byte comes
            writer_.Adopt(id, resumeName_, std::move(resumeFile_));
        }
        resumeFrom_ = 0;
    }
    PostDownloadStart(*running.thread, id, objectPath, host, GatedSink(), 0, GrownBufferSize,
                      caFile, from, validator);
    DownloadNotice resting;
    resting.id = id;
    resting.owner = Owner;
    resting.kind = NoticeError;
    resting.code = RestingCode;
    resting.objectPath = objectPath;
    WatchForRest(resting, running.thread);
    running_[kind] = std::move(running);
    return 0;
}

void UpdateDownloads::WatchForRest(const DownloadNotice& report,
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
                const bool resting = !ended && it->second->WaitIdle(0);
                if (resting) rests.push_back(it->first);
                it = ended || resting ? list.erase(it) : it + 1;
            }
            lock.unlock();
            for (const DownloadNotice& n : rests) sink(n); // the gate drops it after EndAll
            lock.lock();
        }
    }).detach();
}

bool UpdateDownloads::IsRunning(int kind) const
{
    std::lock_guard lock(mapMutex_);
    return running_.count(kind) != 0;
}

bool UpdateDownloads::IsCurrent(int kind, int id) const
{
    std::lock_guard lock(mapMutex_);
    const auto it = running_.find(kind);
    return it != running_.end() && it->second.serial == id / KindStride;
}

void UpdateDownloads::Stop(int kind)
{
    std::lock_guard lock(mapMutex_);
    if (const auto it = running_.find(kind); it != running_.end()) {
        it->second.thread->RequestExit(); // its last notices no longer count
        running_.erase(it);
    }
}

void UpdateDownloads::Forget(int kind)
{
    std::lock_guard lock(mapMutex_);
    running_.erase(kind);
}

bool UpdateDownloads::HasEnded() const
{
    std::lock_guard lock(mapMutex_);
    return ended_;
}

void UpdateDownloads::EndAll()
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
        ended_ = true;
        for (auto& [kind, running] : running_) threads.push_back(std::move(running.thread));
        running_.clear();
    }
    {
        std::lock_guard lock(gate_->mutex);
        gate_->open = false;
    }
    for (auto& t : threads) t->RequestExit();

    // Bounded: a notice in flight may be waiting for the very thread that shuts down (a
    // sink that hands notices to the UI thread). Such a thread is left to end on its own;
    // it can no longer reach the check.
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

namespace {

constexpr char PartialFile[] = "package";
constexpr char PartialRecordFile[] = "package.rec";

std::int64_t Now()
{
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

} // namespace

PartialPackage KeptRecord(const std::string& host, const std::string& object,
                          const std::string& name, std::uint32_t size, const Sha256Digest& sha256)
{
    static constexpr char Digits[] = "0123456789abcdef";
    PartialPackage p{host, object, name, size, {}, {}, 0};
    for (const unsigned char b : sha256) {
        p.sha256 += Digits[b >> 4];
        p.sha256 += Digits[b & 15];
    }
    return p;
}

void UpdateDownloads::ReadKept()
{
    // Without it every package starts from its first byte.
    partial_ = UpdateFolder::OpenPartial(false);
    kept_.reset();
    if (!partial_) return;
    const OpenFile record = partial_->OpenExisting(PartialRecordFile);
    if (record.IsOpen()) kept_ = ParsePartialRecord(ReadHead(&record, MaxPartialRecordBytes));
    const std::int64_t now = Now();
    if (!kept_ || kept_->savedAt > now || now - kept_->savedAt > PartialKeepSeconds) DropKept();
}

void UpdateDownloads::DropKept()
{
    kept_.reset();
    if (!partial_) return;
    partial_->RemoveFile(PartialFile);
    partial_->RemoveFile(PartialRecordFile);
}

void UpdateDownloads::TakeKept(const PartialPackage& wanted, UpdateFolder& folder,
                               const std::string& name)
{
    resumeFrom_ = 0;
    if (!kept_) return;
    OpenFile file = partial_->OpenExisting(PartialFile);
    const std::int64_t from =
        file.IsOpen() ? PartialResumeFrom(*kept_, file.Size(), wanted, Now()) : 0;
    // The open file follows the move: it is the same file under its new name.
    if (from > 0 && partial_->MoveInto(PartialFile, folder, name)) {
        resumeFrom_ = from;
        resumeValidator_ = kept_->validator;
        resumeFile_ = std::move(file);
        resumeName_ = name;
    }
    DropKept(); // taken, or of another statement
}

void UpdateDownloads::Keep(PartialPackage wanted, UpdateFolder& folder, const std::string& name)
{
    const OpenFile* file = writer_.File(packageId_);
    if (!file || !writer_.Intact(packageId_) || packageValidator_.empty()) return;
    if (!partial_) partial_ = UpdateFolder::OpenPartial(true);
    if (!partial_) return;
    wanted.validator = packageValidator_;
    wanted.savedAt = Now();
    const std::int64_t size = file->Size();
    const std::string record = FormatPartialRecord(wanted);
    if (size <= 0 || size >= wanted.size || record.empty()) return;
    writer_.Take(packageId_).Close(); // closed before the move; the bytes stay
    DropKept();
    if (!folder.MoveInto(name, *partial_, PartialFile)) return;
    OpenFile out = partial_->CreateFile(PartialRecordFile);
    if (!out.IsOpen() || !out.WriteAt(0, record.data(), record.size())) DropKept();
}

} // namespace qev
