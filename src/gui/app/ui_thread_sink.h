#pragma once
// Hands download notices to a UI-thread object: the download thread waits while the
// handler runs on the object's thread, so the notice (and its chunk) stays valid.
#include <QObject>

#include "core/net/download_thread.h"

// A sink that runs handler on context's thread and blocks the calling thread until it has
// run; called on context's thread itself, it runs handler directly. When context is
// destroyed, or after DisableUiThreadSinks(context), a waiting sender is released without
// the handler running, and later calls do nothing.
qev::NoticeSink MakeUiThreadSink(QObject* context, const qev::NoticeSink& handler);

// Disables every sink made for context. Call it at shutdown, before the event loop stops
// serving context, so no download thread can stay blocked on it.
void DisableUiThreadSinks(QObject* context);
