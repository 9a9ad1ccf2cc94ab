#pragma once
// The resumable download thread: one worker per download task. Requests are posted to its
// queue; it connects, sends GET with a Range header, fills a memory buffer and reports each
// full buffer, the completion and every state change as a DownloadNotice to the task's
// sink, synchronously (the thread waits while the sink runs). A body that stops early is
// reconnected and resumed from the received position.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace qev {

struct DownloadNotice;
// Receives the notices; runs on the download thread unless it hands the call elsewhere
// (and then waits for it). The notice and its chunk are valid only during the call.
using NoticeSink = std::function<void(const DownloadNotice&)>;

enum DownloadRequestKind : int {
    StartRequest = 1,
    PauseRequest = 2,
    StopRequest = 3,
    SetValueRequest = 4,
    SetBufferRequest = 5,
};

struct DownloadRequest {
    int id = 0;
    int kind = 0;
    int owner = 0; // copied into every notice of the task
    std::string host;
    std::string userName; // empty: none
    std::string password; // empty: none
    std::vector<std::string> objects;
    int port = 0; // 0: the scheme's own (80, or 443 over https)
    bool https = false;
    std::string caFile; // a PEM bundle trusted instead of the system's store (tests)
    int bufferSize = 0;
    int rangeStart = 0;
    int rangeEnd = -1; // -1: up to the end
    // For a resume from rangeStart of bytes kept from before: sent as If-Range.
    std::string validator;
    NoticeSink notifySink;
    int value = 0;
    std::uint16_t initialFlags = 0;
};

// Notice kinds. Several kinds serve two purposes (a reply and a step), as listed.
enum DownloadNoticeKind : int {
    NoticeStartRefused = 0, // a start arrived while a task exists (code BusyCode)
    NoticeConnect = 1,      // connected (200) or gave up connecting (the failing code)
    NoticeOpened = 2,       // object opened (0 or the HTTP status); also the pause reply
    NoticeStep = 3,         // a reading step ended without error; also the stop reply
    NoticeChunk = 4,        // the buffer is full (or flushed); also the set-value reply
    NoticeComplete = 5,     // the object is complete; also the set-buffer reply (no task)
    NoticeDone = 6,         // the object list is empty: the task is done
    NoticeError = 7,        // a reading step failed, or reconnecting failed
};

inline constexpr int ConnectedCode = 200;
inline constexpr int ConnectFailedCode = 500;
inline constexpr int NoTaskCode = 5003;
inline constexpr int BusyCode = 5006;
inline constexpr int EmptyReadCode = 0x400000;       // the body stopped before its end
inline constexpr int ReconnectFailedCode = 0x800000; // five reconnects failed
// The announced length does not fit a 32-bit signed position (or is negative): the
// object is dropped instead of wrapping.
inline constexpr int LengthOutOfRangeCode = 0x1000000;
// A 206 answer whose Content-Range does not start at the asked position, for the second
// time in one object: its bytes belong elsewhere, so the object is given up.
inline constexpr int RangeMismatchCode = 0x2000000;

// expectedEnd is 0 while the length of the object being read is not known (a chunked or
// close-delimited body); its completion notice then gives the length it turned out to have.
struct DownloadNotice {
    int id = 0;
    int owner = 0;
    int kind = 0;
    int code = 0;
    int expectedEnd = 0;
    int chunkLength = 0;
    const char* chunk = nullptr;
    std::string objectPath;
    int stepBytes = 0;
    int received = 0;
    int stepMillis = 0;
    std::string validator; // the object's validator so far (a resume's If-Range), or ""
};

inline constexpr int DefaultBufferSize = 0x40000;
inline constexpr int MinBufferSize = 0x8000;
inline constexpr int MaxBufferSize = 0x800000;
inline constexpr int ConnectAttempts = 5;
// Reopening an object costs no network until the request is sent, so a server that keeps
// dropping (or promises more than it sends) would be reopened forever: this many reopens
// in a row that bring no new byte end the task as failed connects do.
inline constexpr int BarrenReopenLimit = 5;
// A 206 that starts elsewhere than asked reopens the object from byte 0 once; the next
// one fails the object.
inline constexpr int RangeMismatchLimit = 2;
inline constexpr int MaxReadBytes = 4096;

// Durations, injectable so tests need not sit through real waits.
struct DownloadTiming {
    int retryWaitMs = 1000; // between connect attempts, and after an empty read
    int minStepMs = 2;      // reading steps are at least this far apart
    long connectTimeoutMs = 30000;
    long stallSeconds = 60; // a body silent this long counts as stopped
    // A server that refuses connections (restarting, say) is asked again for this long in
    // all, the pauses doubling from retryWaitMs; then the open fails as any other.
    int refusedWaitMs = 120000;
};

// The task a thread works on; at most one per thread. Its state is the flags word, which
// the thread changes only through one setter (traced, see core/base/state_trace.h).
struct DownloadTask {
    static constexpr std::uint32_t Ready = 0x10000;   // next step opens the first object
    static constexpr std::uint32_t Reading = 0x20000; // a request is open
    static constexpr std::uint32_t PauseRequested = 0x40000;
    static constexpr std::uint32_t Paused = 0x80000; // nothing happens any more
    static constexpr std::uint32_t StopRequested = 0x100000;
    static constexpr std::uint32_t Reconnect = 0x400000; // next step reconnects
    static constexpr std::uint32_t Failed = 0x800000;    // reconnecting failed
    static constexpr std::uint32_t Busy = Reading | PauseRequested | Paused | StopRequested;

    // The start request as it came; rangeStart moves to where the next open reads from,
    // objects loses each object that ended, and validator becomes the first answer's
    // strong ETag, else its Last-Modified: a resume sends it as If-Range, so a file
    // replaced meanwhile comes whole (200) instead of spliced.
    DownloadRequest request;
    std::uint32_t flags = 0;
    std::vector<char> buffer; // its size is the buffer size
    int fill = 0, received = 0, expectedEnd = 0, stepBytes = 0, stepMillis = 0;
    // False while a body without an announced length is read (expectedEnd is then 0): it
    // is complete only when its transfer ended cleanly, and a cut cannot be resumed.
    bool lengthKnown = true;
    bool connected = false; // a connection object exists
    // Per object, so that a server misbehaving for good ends the object in bounded time.
    bool reopened = false; // the open transfer resumes after a drop
    bool progress = false; // the open transfer brought a byte past bestReceived
    int bestReceived = 0;  // the furthest position any transfer of the object reached
    int barrenReopens = 0; // reopens in a row that brought no new byte
    int rangeMismatches = 0;
    int refusedWaitedMs = 0, refusedPauseMs = 0; // refused connections since the last answer
};

class HttpStream;

// The download worker. The object is a handle: the thread keeps its own state and ends on
// its own (after the task is done, or after RequestExit); destroying the handle neither
// stops nor waits for it.
class CHttpDownloadThread {
public:
    explicit CHttpDownloadThread(DownloadTiming timing = {});
    ~CHttpDownloadThread();
    CHttpDownloadThread(const CHttpDownloadThread&) = delete;
    CHttpDownloadThread& operator=(const CHttpDownloadThread&) = delete;

    // Queues a request; the thread handles requests in order, between steps.
    void Post(DownloadRequest request);
    // Asks the thread to end soon: waits and transfers give up, the buffered bytes are
    // flushed as a last chunk notice, the task is destroyed. Safe from any thread.
    void RequestExit();
    // Waits up to timeoutMs for the thread to end; true when it has. Do not call this
    // from a thread the sink waits for while a notice may be on its way.
    bool WaitFinished(int timeoutMs) const;
    bool Finished() const;
    // Waits up to timeoutMs until the thread waits for a request with nothing to do
    // (no task, or a task that cannot go on by itself) or has ended; true when so.
    bool WaitIdle(int timeoutMs) const;

    struct State;

private:
    std::shared_ptr<State> state_;
};

} // namespace qev
