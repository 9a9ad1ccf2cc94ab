#include "gui/base/startup_trace.h"

#include <QDateTime>
#include <QtGlobal>

#include <cstdio>
#include <mutex>
#include <set>
#include <string>

bool StartupTraceOn()
{
    static const bool on = qEnvironmentVariableIsSet("QEV_TRACE_FIRST_PAINT");
    return on;
}

void TraceStartupMark(const char* name)
{
    if (!StartupTraceOn()) return;
    static std::mutex mutex;
    static std::set<std::string> written;
    std::lock_guard lock(mutex);
    if (!written.insert(name).second) return;
    std::fprintf(stderr, "%s %lld\n", name,
                 static_cast<long long>(QDateTime::currentMSecsSinceEpoch()));
    std::fflush(stderr);
}
