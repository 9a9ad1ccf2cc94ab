#include "core/net/download_thread.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <thread>

#include "core/base/log.h"
#include "core/base/state_trace.h"
#include "core/net/http_headers.h"
#include "core/platform/http_get.h"
#include "core/platform/http_stream.h"

namespace qev {
namespace {

using Clock = std::chrono::steady_clock;

int Tick()
{
    return static_cast<int>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now().time_since_epoch())
            .count());
}

} // namespace

struct CHttpDownloadThread::State {
    explicit State(DownloadTiming t) : timing(t) {}

    const DownloadTiming timing;
    // Shared with other threads.
    mutable std::mutex mutex;
    mutable std::condition_variable changed;
    std::deque<DownloadRequest> queue;
    std::atomic<bool> exitRequested{false};
    bool idle = false;
    bool finished = false;

    // The download thread's own.
    std::unique_ptr<DownloadTask> task;
    std::unique_ptr<HttpStream> request; // the open request, if any
    bool quit = false;
    int lastStepEnd = 0;
    // The last reading step filled the whole buffer: the next may follow at once.
    bool lastStepFull = false;

    void Run();
    void OnDownloadRequest(DownloadRequest& r);
    int ConnectTask();
    // ConnectTask up to ConnectAttempts times, a retry wait after each failure:
    // ConnectedCode, the last failure's code, or 0 when an exit was asked meanwhile.
    int ConnectWithRetries();
    void CloseTask();
    // One step of the task, chosen by its flags; 1 when the next step may follow at once.
    int StepDownload();
    // The steps, one per state.
    int StepPauseStop();
    int StepReconnect();
    int StepReady();
    int StepReading();
    // Opening the first object: sends its GET from rangeStart, then acts on the answer's
    // head. Each returns what the step returns.
    int OpenObject();
    int OnOpenFailed();             // the request went unanswered
    int OnRangeMismatch();          // a 206 that starts elsewhere than asked
    int OnAnswer(int status);       // any other answer: reading starts, or the object is dropped
    void TakeValidator(int status); // of an answer that is read
    // A reading step: fills the buffer as far as the step may, then reports it.
    void ReadStep();
    // Reads what the object has for this step; error becomes EmptyReadCode when the body
    // stopped before its end. False when the thread is exiting (nothing to report).
    bool FillBuffer(int& error);
    // Sends the step's notice: a full buffer, the object complete, a failed read (after
    // flushing what was read) or a plain step.
    void ReportStep(int error);
    void ExitInstance();

    // Waits ms unless an exit is requested; false when it was.
    bool Wait(int ms);
    static void Send(const NoticeSink& sink, const DownloadNotice& notice);
    void Reply(const DownloadRequest& r, int kind, int code);
    DownloadNotice TaskNotice(int kind, int code) const;
    std::string FirstObject() const
    {
        return task && !task->request.objects.empty() ? task->request.objects.front()
                                                      : std::string();
    }
    void CloseRequest() { request.reset(); }
    // Drops the first object and what was counted for it.
    void NextObject();
    // Ends the task as five failed reconnects do: kind 7 ReconnectFailedCode, thread ends.
    void FailTask();
    // The one place the task's flags change; the change is traced with why.
    void SetFlags(std::uint32_t flags, std::string_view why);
};

void CHttpDownloadThread::State::SetFlags(std::uint32_t flags, std::string_view why)
{
    static constexpr FlagName Names[] = {
        {DownloadTask::Ready, "Ready"},
        {DownloadTask::Reading, "Reading"},
        {DownloadTask::PauseRequested, "PauseRequested"},
        {DownloadTask::Paused, "Paused"},
        {DownloadTask::StopRequested, "StopRequested"},
        {DownloadTask::Reconnect, "Reconnect"},
        {DownloadTask::Failed, "Failed"},
    };
    if (StateTraceOn() && flags != task->flags)
        TraceTransition("download " + std::to_string(task->request.id),
                        FlagNames(task->flags, Names), FlagNames(flags, Names), why);
    task->flags = flags;
}

void CHttpDownloadThread::State::NextObject()
{
    auto& t = *task;
    if (!t.request.objects.empty()) t.request.objects.erase(t.request.objects.begin());
    t.reopened = t.progress = false;
    t.bestReceived = t.barrenReopens = t.rangeMismatches = 0;
    t.refusedWaitedMs = t.refusedPauseMs = 0;
    t.request.validator.clear();
}

void CHttpDownloadThread::State::FailTask()
{
    SetFlags(DownloadTask::Failed, "reconnecting failed");
    Send(task->request.notifySink, TaskNotice(NoticeError, ReconnectFailedCode));
    CloseTask();
    quit = true;
}

void CHttpDownloadThread::State::Send(const NoticeSink& sink, const DownloadNotice& notice)
{
    if (!sink) return;
    try {
        sink(notice);
    } catch (...) {
        // A receiver's failure must not end the download thread.
    }
}

void CHttpDownloadThread::State::Reply(const DownloadRequest& r, int kind, int code)
{
    DownloadNotice notice;
    notice.id = r.id;
    notice.kind = kind;
    notice.code = code;
    const bool matches = task && task->request.id == r.id && code != NoTaskCode && code != BusyCode;
    Send(matches ? task->request.notifySink : r.notifySink, notice);
}

DownloadNotice CHttpDownloadThread::State::TaskNotice(int kind, int code) const
{
    DownloadNotice notice;
    notice.id = task->request.id;
    notice.owner = task->request.owner;
    notice.kind = kind;
    notice.code = code;
    notice.objectPath = FirstObject();
    notice.validator = task->request.validator;
    return notice;
}

bool CHttpDownloadThread::State::Wait(int ms)
{
    std::unique_lock lock(mutex);
    return !changed.wait_for(lock, std::chrono::milliseconds(ms),
                             [&] { return exitRequested.load(); });
}

void CHttpDownloadThread::State::Run()
{
    lastStepEnd = Tick();
    for (;;) {
        DownloadRequest next;
        bool have = false;
        {
            std::lock_guard lock(mutex);
            if (!queue.empty()) {
                next = std::move(queue.front());
                queue.pop_front();
                have = true;
            }
        }
        if (exitRequested) break;
        if (have) {
            OnDownloadRequest(next);
            if (quit) break;
            continue;
        }
        // Reading steps keep their minimum spacing by waiting it out rather than spinning
        // through steps that read nothing.
        if (task && (task->flags & DownloadTask::Reading) &&
            !(task->flags & (DownloadTask::PauseRequested | DownloadTask::StopRequested |
                             DownloadTask::Reconnect))) {
            const int wait = lastStepFull ? 0 : timing.minStepMs - (Tick() - lastStepEnd);
            if (wait > 0) {
                std::unique_lock lock(mutex);
                changed.wait_for(lock, std::chrono::milliseconds(wait),
                                 [&] { return !queue.empty() || exitRequested.load(); });
                continue;
            }
        }
        const int more = StepDownload();
        if (quit || exitRequested) break;
        if (more) continue;
        std::unique_lock lock(mutex);
        idle = true;
        changed.notify_all();
        changed.wait(lock, [&] { return !queue.empty() || exitRequested.load(); });
        idle = false;
    }
    ExitInstance();
    std::lock_guard lock(mutex);
    finished = true;
    changed.notify_all();
}

void CHttpDownloadThread::State::OnDownloadRequest(DownloadRequest& r)
{
    switch (r.kind) {
    case StartRequest: {
        if (task) {
            Reply(r, NoticeStartRefused, BusyCode);
            return;
        }
        task = std::make_unique<DownloadTask>();
        task->request = r;
        SetFlags(r.initialFlags, "started");
        const bool sizeOk = r.bufferSize >= MinBufferSize && r.bufferSize <= MaxBufferSize;
        task->buffer.resize(static_cast<std::size_t>(sizeOk ? r.bufferSize : DefaultBufferSize));
        if (task->request.objects.empty()) return;
        const int result = ConnectWithRetries();
        if (result == 0) return;
        if (result == ConnectedCode) {
            SetFlags(task->flags | DownloadTask::Ready, "connected");
            Send(task->request.notifySink, TaskNotice(NoticeConnect, ConnectedCode));
            return;
        }
        Send(task->request.notifySink, TaskNotice(NoticeConnect, result));
        CloseTask();
        quit = true;
        return;
    }
    case PauseRequest:
    case StopRequest:
    case SetValueRequest: {
        if (!task || task->request.id != r.id) {
            Reply(r, r.kind, NoTaskCode);
            return;
        }
        if (r.kind == PauseRequest)
            SetFlags(task->flags | DownloadTask::PauseRequested, "pause asked");
        if (r.kind == StopRequest)
            SetFlags(task->flags | DownloadTask::StopRequested, "stop asked");
        if (r.kind == SetValueRequest) task->request.value = r.value;
        Reply(r, r.kind, 0);
        return;
    }
    case SetBufferRequest: {
        if (!task || task->request.id != r.id) {
            Reply(r, SetBufferRequest, NoTaskCode);
            return;
        }
        // The buffer only grows, and never past the maximum; the filled part is kept.
        if (r.bufferSize > static_cast<int>(task->buffer.size()) && r.bufferSize <= MaxBufferSize)
            task->buffer.resize(static_cast<std::size_t>(r.bufferSize));
        return;
    }
    default: return;
    }
}

int CHttpDownloadThread::State::ConnectTask()
{
    if (!task) return ConnectFailedCode;
    if (task->flags & DownloadTask::Busy) return ConnectedCode;
    // Connecting only records where to go and does not touch the network: an
    // unreachable server shows up when a request is sent.
    task->connected =
        !task->request.host.empty() && task->request.port >= 0 && task->request.port <= 65535;
    return task->connected ? ConnectedCode : ConnectFailedCode;
}

int CHttpDownloadThread::State::ConnectWithRetries()
{
    int result = ConnectFailedCode;
    for (int attempt = 1; attempt <= ConnectAttempts; ++attempt) {
        task->connected = false;
        if ((result = ConnectTask()) == ConnectedCode) break;
        if (!Wait(timing.retryWaitMs)) return 0;
    }
    return result;
}

void CHttpDownloadThread::State::CloseTask()
{
    CloseRequest();
    if (!task) return;
    task->connected = false;
    SetFlags(0, "closed");
}

int CHttpDownloadThread::State::StepDownload()
{
    // The first row whose flags the task has chooses the step: a pause or stop comes before
    // anything else, a reconnect before opening, opening before reading. A task with none
    // of them (paused, failed, or resting after a failed open) waits for a request.
    static constexpr struct {
        std::uint32_t flags;
        int (State::*step)();
    } steps[] = {
        {DownloadTask::PauseRequested | DownloadTask::StopRequested, &State::StepPauseStop},
        {DownloadTask::Reconnect, &State::StepReconnect},
        {DownloadTask::Ready, &State::StepReady},
        {DownloadTask::Reading, &State::StepReading},
    };
    if (!task) return 0;
    for (const auto& row : steps)
        if (task->flags & row.flags) return (this->*row.step)();
    return 0;
}

int CHttpDownloadThread::State::StepPauseStop()
{
    auto& t = *task;
    // A pause asked for together with a stop is taken first; the stop waits for the next
    // step.
    if (t.flags & DownloadTask::PauseRequested) {
        SetFlags((t.flags & ~(DownloadTask::Reading | DownloadTask::PauseRequested)) |
                     DownloadTask::Paused,
                 "paused");
        return 0;
    }
    SetFlags((t.flags & ~(DownloadTask::Reading | DownloadTask::StopRequested)) |
                 DownloadTask::Paused,
             "stopped");
    CloseTask();
    return 0;
}

int CHttpDownloadThread::State::StepReconnect()
{
    auto& t = *task;
    if (t.reopened && !t.progress && ++t.barrenReopens >= BarrenReopenLimit) {
        FailTask();
        return 0;
    }
    const int result = ConnectWithRetries();
    if (result == 0) return 0;
    if (result != ConnectedCode) {
        FailTask();
        return 0;
    }
    SetFlags(DownloadTask::Ready, "reconnected");
    t.reopened = true;
    Send(t.request.notifySink, TaskNotice(NoticeConnect, ConnectedCode));
    return 1;
}

int CHttpDownloadThread::State::StepReady()
{
    auto& t = *task;
    if (t.request.objects.empty()) {
        DownloadNotice done;
        done.id = t.request.id;
        done.owner = t.request.owner;
        done.kind = NoticeDone;
        done.chunkLength = t.fill;
        Send(t.request.notifySink, done);
        CloseTask();
        quit = true;
        return 0;
    }
    return OpenObject();
}

int CHttpDownloadThread::State::OpenObject()
{
    auto& t = *task;
    t.fill = t.received = t.stepBytes = t.stepMillis = t.expectedEnd = 0;
    t.lengthKnown = true;
    t.progress = false;
    HttpStreamOptions options;
    options.host = t.request.host;
    options.port = t.request.port != 0 ? t.request.port : t.request.https ? 443 : 80;
    options.https = t.request.https;
    options.caFile = t.request.caFile;
    options.userName = t.request.userName;
    options.password = t.request.password;
    options.connectTimeoutMs = timing.connectTimeoutMs;
    options.stallSeconds = timing.stallSeconds;
    options.cancel = &exitRequested;
    request = std::make_unique<HttpStream>(options);
    std::vector<std::string> headers{
        t.request.rangeEnd >= 0 ? "Range: bytes=" + std::to_string(t.request.rangeStart) + "-" +
                                      std::to_string(t.request.rangeEnd)
                                : "Range: bytes=" + std::to_string(t.request.rangeStart) + "-"};
    if (t.request.rangeStart > 0 && !t.request.validator.empty())
        headers.push_back("If-Range: " + t.request.validator);
    if (request->Open(t.request.objects.front(), headers) != 0) {
        // A refused certificate or redirect would otherwise end the download without a word.
        if (!request->refusal().empty()) WriteLog("download " + request->refusal());
        return OnOpenFailed();
    }
    const int status = request->status();
    // A proxy's own page is never the object: the answer drops it like any error status.
    if (status == ProxyAuthStatus) WriteLog(std::string("download ") + ProxyAuthRefusal);
    if (status == 206 && ParseContentRangeStart(request->rawHeaders()) != t.request.rangeStart)
        return OnRangeMismatch();
    return OnAnswer(status);
}

int CHttpDownloadThread::State::OnOpenFailed()
{
    auto& t = *task;
    if (request && request->refused() && t.refusedWaitedMs < timing.refusedWaitMs) {
        // A server being restarted refuses for a while: it is waited out, ever more
        // patiently, before the download gives up on it.
        const int pause = std::min(t.refusedPauseMs > 0 ? t.refusedPauseMs * 2 : timing.retryWaitMs,
                                   timing.refusedWaitMs - t.refusedWaitedMs);
        t.refusedPauseMs = pause;
        t.refusedWaitedMs += pause;
        CloseRequest();
        if (!Wait(pause)) return 0;
        SetFlags(DownloadTask::Ready, "refused, asking again"); // the same object, same position
        return 1;
    }
    if (t.reopened) {
        // A resume that finds no server is a reopen without a new byte.
        CloseRequest();
        if (!Wait(timing.retryWaitMs)) return 0;
        SetFlags(DownloadTask::Reconnect, "no server for the resume");
        return 1;
    }
    // The server could not be reached or sent no answer: the task rests until the next
    // request.
    CloseTask();
    ConnectTask();
    return 0;
}

int CHttpDownloadThread::State::OnRangeMismatch()
{
    auto& t = *task;
    // These bytes belong at another position than the one asked for: none of them is
    // written. The object starts over from byte 0, once.
    CloseRequest();
    if (++t.rangeMismatches >= RangeMismatchLimit) {
        DownloadNotice failed = TaskNotice(NoticeError, RangeMismatchCode);
        failed.received = t.request.rangeStart;
        NextObject();
        SetFlags(DownloadTask::Ready, "range mismatch, object dropped");
        Send(t.request.notifySink, failed);
        return 1;
    }
    t.request.rangeStart = 0;
    SetFlags(DownloadTask::Ready, "range mismatch, from byte 0");
    return 1;
}

void CHttpDownloadThread::State::TakeValidator(int status)
{
    auto& t = *task;
    t.refusedWaitedMs = t.refusedPauseMs = 0; // a server answered
    const std::string& raw = request->rawHeaders();
    // A weak ETag says nothing about the bytes, so it cannot vouch for a splice.
    std::string_view found;
    if (const auto etag = FindHeader(raw, "ETag");
        etag && !etag->empty() && etag->substr(0, 2) != "W/")
        found = *etag;
    else if (const auto modified = FindHeader(raw, "Last-Modified"))
        found = *modified;
    // Sent back in a request header: nothing that could end the line or start another.
    if (std::any_of(found.begin(), found.end(),
                    [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; }))
        found = {};
    // A whole object (200) brings its own validator or none; a part keeps the first one's.
    if (status == 200 || !found.empty()) t.request.validator = std::string(found);
}

int CHttpDownloadThread::State::OnAnswer(int status)
{
    auto& t = *task;
    const bool ok = status == 200 || status == 206;
    // A server that ignores the Range sends the whole object with 200: it then starts at 0,
    // not at rangeStart.
    if (status == 200 && t.request.rangeStart > 0) t.request.rangeStart = 0;
    if (ok) TakeValidator(status);
    const LengthInfo length = ParseLength(request->rawHeaders());
    t.lengthKnown = length.known;
    // A Content-Range total is already an absolute end; a Content-Length is what remains.
    // Without either, the body runs to its end and the length shows only then.
    const std::int64_t end = !length.known             ? 0
                             : length.fromContentRange ? length.length
                                                       : t.request.rangeStart + length.length;
    if (ok && length.known && (end < t.request.rangeStart || end > INT_MAX)) {
        Send(t.request.notifySink, TaskNotice(NoticeError, LengthOutOfRangeCode));
        NextObject();
        CloseRequest();
        SetFlags(DownloadTask::Ready, "length out of range");
        return 1;
    }
    t.expectedEnd = static_cast<int>(std::clamp<std::int64_t>(end, INT_MIN, INT_MAX));
    t.received = t.request.rangeStart;
    DownloadNotice opened = TaskNotice(NoticeOpened, ok ? 0 : status);
    opened.expectedEnd = t.expectedEnd;
    opened.received = t.received;
    if (ok) {
        SetFlags(DownloadTask::Reading, "answered");
    } else {
        NextObject();
        CloseRequest();
    }
    Send(t.request.notifySink, opened);
    return 1;
}

int CHttpDownloadThread::State::StepReading()
{
    ReadStep();
    return 1;
}

void CHttpDownloadThread::State::ReadStep()
{
    if (!request) return;
    int error = 0;
    if (FillBuffer(error)) ReportStep(error);
}

bool CHttpDownloadThread::State::FillBuffer(int& error)
{
    auto& t = *task;
    int now = Tick();
    t.stepBytes = 0;
    // The spacing keeps a trickling body from spinning the thread through steps that carry
    // a few bytes each; a step that filled the buffer was no such step, and waiting after
    // it only leaves the line idle.
    if (lastStepFull || now - lastStepEnd >= timing.minStepMs) {
        const auto bufferSize = static_cast<int>(t.buffer.size());
        for (;;) {
            // Never ask past the object's end: a complete object is recognised at once,
            // without waiting for the read that finds nothing more. Without a length, a
            // position must still fit the notices' int.
            const int left = t.lengthKnown ? t.expectedEnd - t.received : INT_MAX - t.received;
            const auto n =
                std::min({static_cast<unsigned>(left), static_cast<unsigned>(bufferSize - t.fill),
                          static_cast<unsigned>(MaxReadBytes)});
            if (n == 0) {
                if (left == 0 && !t.lengthKnown) error = LengthOutOfRangeCode;
                break;
            }
            const std::size_t got = request->Read(t.buffer.data() + t.fill, n);
            if (got > 0) {
                t.received += static_cast<int>(got);
                t.fill += static_cast<int>(got);
                t.stepBytes += static_cast<int>(got);
                if (t.received > t.bestReceived) {
                    t.bestReceived = t.received;
                    t.progress = true;
                    t.barrenReopens = 0;
                }
                now = Tick();
                t.stepMillis = now - lastStepEnd;
                continue;
            }
            if (request->cancelled()) return false; // exiting: the exit flush takes the buffer
            if (!t.lengthKnown && request->EndedCleanly()) {
                // The only end such a body has: now its length is known.
                t.lengthKnown = true;
                t.expectedEnd = t.received;
                break;
            }
            if (!Wait(timing.retryWaitMs)) return false;
            now = Tick();
            // Without a length there is no telling that the same object answers a resume:
            // a cut starts it over.
            t.request.rangeStart = t.lengthKnown ? t.received : 0;
            SetFlags((t.flags | DownloadTask::Reconnect) & ~DownloadTask::Ready, "body stopped");
            error = EmptyReadCode;
            break;
        }
    }
    lastStepEnd = now;
    lastStepFull = t.fill == static_cast<int>(t.buffer.size());
    return true;
}

void CHttpDownloadThread::State::ReportStep(int error)
{
    auto& t = *task;
    if (error == LengthOutOfRangeCode) {
        // A body without a length that runs past what a position can hold is dropped.
        Send(t.request.notifySink, TaskNotice(NoticeError, LengthOutOfRangeCode));
        NextObject();
        CloseRequest();
        t.fill = 0;
        SetFlags(DownloadTask::Ready, "length out of range");
        return;
    }
    DownloadNotice notice = TaskNotice(error ? NoticeError : NoticeStep, error);
    notice.expectedEnd = t.expectedEnd;
    notice.chunkLength = t.fill;
    notice.chunk = t.buffer.data();
    notice.stepBytes = t.stepBytes;
    notice.received = t.received;
    notice.stepMillis = t.stepMillis;
    if (t.fill == static_cast<int>(t.buffer.size())) {
        notice.kind = NoticeChunk;
        Send(t.request.notifySink, notice);
        t.fill = 0;
    } else if (t.lengthKnown && t.received == t.expectedEnd) {
        notice.kind = NoticeComplete;
        Send(t.request.notifySink, notice);
        SetFlags(DownloadTask::Ready, "object complete");
        NextObject();
        t.fill = 0;
        CloseRequest();
    } else {
        if (error && t.fill > 0) {
            // The resume starts at received, so what the buffer holds must reach the
            // receiver now or the file would keep a gap.
            DownloadNotice flush = notice;
            flush.kind = NoticeChunk;
            flush.code = 0;
            Send(t.request.notifySink, flush);
            t.fill = 0;
            notice.chunkLength = 0;
        }
        Send(t.request.notifySink, notice);
        if (error) {
            SetFlags(DownloadTask::Reconnect, "read failed");
            CloseRequest();
        }
    }
}

void CHttpDownloadThread::State::ExitInstance()
{
    if (task && task->fill > 0) {
        DownloadNotice flush = TaskNotice(NoticeChunk, 0);
        flush.expectedEnd = task->expectedEnd;
        flush.chunkLength = task->fill;
        flush.chunk = task->buffer.data();
        flush.received = task->received;
        Send(task->request.notifySink, flush);
        task->fill = 0;
    }
    request.reset();
    task.reset();
}

CHttpDownloadThread::CHttpDownloadThread(DownloadTiming timing)
    : state_(std::make_shared<State>(timing))
{
    std::thread([state = state_] { state->Run(); }).detach();
}

CHttpDownloadThread::~CHttpDownloadThread() = default;

void CHttpDownloadThread::Post(DownloadRequest request)
{
    {
        std::lock_guard lock(state_->mutex);
        state_->queue.push_back(std::move(request));
    }
    state_->changed.notify_all();
}

void CHttpDownloadThread::RequestExit()
{
    {
        std::lock_guard lock(state_->mutex);
        state_->exitRequested = true;
    }
    state_->changed.notify_all();
}

bool CHttpDownloadThread::WaitFinished(int timeoutMs) const
{
    std::unique_lock lock(state_->mutex);
    return state_->changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                    [&] { return state_->finished; });
}

bool CHttpDownloadThread::Finished() const
{
    std::lock_guard lock(state_->mutex);
    return state_->finished;
}

bool CHttpDownloadThread::WaitIdle(int timeoutMs) const
{
    std::unique_lock lock(state_->mutex);
    return state_->changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
        return state_->finished || (state_->idle && state_->queue.empty());
    });
}

} // namespace qev
