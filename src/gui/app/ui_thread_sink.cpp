#include "gui/app/ui_thread_sink.h"

#include <QMetaObject>
#include <QThread>

#include <condition_variable>
#include <memory>
#include <mutex>

namespace {

struct SinkState {
    std::mutex mutex;
    std::condition_variable changed;
    bool disabled = false;

    void Disable()
    {
        {
            std::lock_guard lock(mutex);
            disabled = true;
        }
        changed.notify_all();
    }
};

// One notice on its way to the UI thread.
struct PendingCall {
    bool started = false;
    bool done = false;
};

// Lives as a child of the context: its destruction (with the context) disables the
// sinks, and it receives the posted calls, so they vanish with it.
class SinkGuard : public QObject {
public:
    SinkGuard(QObject* parent, std::shared_ptr<SinkState> state)
        : QObject(parent), state(std::move(state))
    {
        setObjectName(QStringLiteral("qev-ui-thread-sink"));
    }
    ~SinkGuard() override { state->Disable(); }

    const std::shared_ptr<SinkState> state;
};

} // namespace

qev::NoticeSink MakeUiThreadSink(QObject* context, const qev::NoticeSink& handler)
{
    if (!context || !handler) return {};
    auto state = std::make_shared<SinkState>();
    auto* guard = new SinkGuard(context, state);
    QThread* const uiThread = context->thread();

    return [state, guard, uiThread, handler](const qev::DownloadNotice& notice) {
        if (QThread::currentThread() == uiThread) {
            if (!state->disabled) handler(notice);
            return;
        }
        auto call = std::make_shared<PendingCall>();
        std::unique_lock lock(state->mutex);
        if (state->disabled) return;
        // Posted under the lock: the guard cannot be destroyed meanwhile, because its
        // destructor takes the same lock before anything else.
        QMetaObject::invokeMethod(
            guard,
            [state, call, handler, &notice] {
                {
                    std::lock_guard inner(state->mutex);
                    if (state->disabled) return;
                    call->started = true;
                }
                handler(notice);
                {
                    std::lock_guard inner(state->mutex);
                    call->done = true;
                }
                state->changed.notify_all();
            },
            Qt::QueuedConnection);
        // A call already running is waited for even after a disable: it reads the notice.
        state->changed.wait(lock,
                            [&] { return call->done || (state->disabled && !call->started); });
    };
}

void DisableUiThreadSinks(QObject* context)
{
    if (!context) return;
    // The guard has no meta-object of its own (Qt 6.8 refuses to look one up by type).
    for (QObject* child : context->findChildren<QObject*>(QStringLiteral("qev-ui-thread-sink"),
                                                          Qt::FindDirectChildrenOnly))
        if (auto* guard = dynamic_cast<SinkGuard*>(child)) guard->state->Disable();
}
