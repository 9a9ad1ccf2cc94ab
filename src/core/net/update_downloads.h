#pragma once
// The update check's downloads: at most one download thread per kind of object, the gate
// that cuts every thread off from the check when it ends, the watcher that reports a
// download resting on an unreachable server, the files the chunks land in, and the one
// unfinished package kept between runs.
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "core/net/chunk_writer.h"
#include "core/net/download_thread.h"
#include "core/net/partial_package.h"
#include "core/net/update_statement.h"
#include "core/platform/update_folder.h"

namespace qev {

// Posts the requests that start a one-object download on thread: a start (owner
// UpdateDownloads::Owner, host "h", "h:p" or with a scheme as SplitSourceHost reads it,
// buffer startBufferSize) and, when growTo is not 0, a set-buffer request for growTo bytes.
// caFile, rangeStart and validator as DownloadRequest's.
void PostDownloadStart(CHttpDownloadThread& thread, int id, const std::string& objectPath,
                       const std::string& host, const NoticeSink& sink, int startBufferSize,
                       int growTo, const std::string& caFile = {}, int rangeStart = 0,
                       const std::string& validator = {});

// The first bytes of an open file, at most limit + 1 of them (so that "too long" shows).
std::string ReadHead(const OpenFile* file, std::size_t limit);

// The record of the package wanted now, as a kept one is compared with it: where it is
// fetched from, the name it is stored under, its signed size and hash (hex).
PartialPackage KeptRecord(const std::string& host, const std::string& object,
                          const std::string& name, std::uint32_t size, const Sha256Digest& sha256);

class UpdateDownloads {
public:
    // The request ids carry the kind and a serial, so that a download ended early can never
    // write into the file of the one that replaced it.
    static constexpr int KindStride = 16;
    static constexpr int Owner = 1000;
    static constexpr int GrownBufferSize = 0x200000; // asked for right after the start
    static constexpr int ShutdownWaitMs = 3000;
    // A download whose server cannot be reached rests without a word (it waits for a
    // request that never comes). The watcher looks at the downloads this often and reports
    // a resting one as kind 7 (NoticeError) with this code, so the next source is tried.
    static constexpr int RestCheckMs = 100;
    static constexpr int RestingCode = 0x4000000;
    // The kind whose download may resume the kept package.
    static constexpr int ResumableKind = 2;

    UpdateDownloads() = default;
    ~UpdateDownloads(); // EndAll()
    UpdateDownloads(const UpdateDownloads&) = delete;
    UpdateDownloads& operator=(const UpdateDownloads&) = delete;

    // Where the notices that pass the gate go; set before the first Start.
    void SetSink(NoticeSink sink) { sink_ = std::move(sink); }
    // The folder the chunks are written into (nullptr: none).
    void SetFolder(UpdateFolder* folder) { writer_.SetFolder(folder); }
    DownloadFileWriter& Writer() { return writer_; }

    // Starts a download of this kind for objectPath on host; a download of ResumableKind
    // picks up what TakeKept moved into the folder. 0, or -1 when a download of this kind
    // runs or EndAll was called.
    int Start(int kind, const std::string& objectPath, const std::string& host,
              const DownloadTiming& timing, const std::string& caFile);
    bool IsRunning(int kind) const;
    // True when id is the running download of kind (not one ended early).
    bool IsCurrent(int kind, int id) const;
    // Ends the download of this kind at once; its remaining notices are not current.
    void Stop(int kind);
    // Forgets the download of this kind, which ends on its own.
    void Forget(int kind);
    // True once EndAll was called.
    bool HasEnded() const;
    // Ends every download thread promptly; afterwards no notice passes the gate and no
    // download starts. Waits at most about ShutdownWaitMs; repeatable.
    void EndAll();

    // The resumable download's validator as its notices carry it.
    void NoteValidator(const std::string& validator) { packageValidator_ = validator; }

    // The kept package: read at the check's start (dropped when unreadable or too old)...
    void ReadKept();
    // ...moved into folder under name before the package download when it fits wanted...
    void TakeKept(const PartialPackage& wanted, UpdateFolder& folder, const std::string& name);
    // ...and kept again, when the run ends during the package download, from folder.
    void Keep(PartialPackage wanted, UpdateFolder& folder, const std::string& name);

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
    // needs: it holds the threads and the gated sink, never this object.
    struct RestWatch {
        std::mutex mutex;
        std::condition_variable wake;
        bool stop = false;
        bool started = false;
        std::vector<std::pair<DownloadNotice, std::shared_ptr<CHttpDownloadThread>>> watched;
    };
    NoticeSink GatedSink() const;
    void WatchForRest(const DownloadNotice& report, std::shared_ptr<CHttpDownloadThread> thread);
    void DropKept();

    NoticeSink sink_;
    std::shared_ptr<Gate> gate_ = std::make_shared<Gate>();
    std::shared_ptr<RestWatch> restWatch_ = std::make_shared<RestWatch>();
    mutable std::mutex mapMutex_;
    std::map<int, Running> running_; // by kind
    int nextSerial_ = 1;
    bool ended_ = false;
    DownloadFileWriter writer_;

    // The unfinished package kept between runs (partial_, when this run could lock it).
    std::unique_ptr<UpdateFolder> partial_;
    std::optional<PartialPackage> kept_;
    int packageId_ = 0;            // the resumable download's id
    std::string packageValidator_; // the validator its answers carried
    std::int64_t resumeFrom_ = 0;  // where the next package download starts, and from what
    std::string resumeValidator_;
    OpenFile resumeFile_;
    std::string resumeName_;
};

} // namespace qev
