#pragma once
// Where the task feed comes from: the portal's path, the query a login's session makes, and
// the request itself. ActivitySchedule::ParseTaskFeed reads what it gives.
#include <atomic>
#include <string>
#include <string_view>

#include "core/browser/session_info.h"

namespace qev {

// The feed's path on the portal host (the demo portal serves the same).
inline constexpr std::string_view TaskFeedPath = "/micro2/GetTasks";

// The task-feed query of a session: "?account=<user>&sid=<sid>&domain=<domain>", the values
// joined exactly as the page gave them (the portal expects them unescaped; the request
// escapes only what cannot travel in a request line).
std::string TaskFeedQuery(const SessionInfo& session);

// GETs the session's feed from the portal (QEV_PORTAL_HOST) with HttpGetText, so with its
// deadline, its proxy rules and its log lines for a refused redirect, certificate or proxy
// password. Any failure gives "" (the schedule then has no activities). Blocks: call it on a
// worker (BackgroundTextRequest); setting stop from another thread ends it within about a
// second, with "".
std::string FetchTaskFeed(const SessionInfo& session, const std::atomic<bool>& stop);
// The same from another host ("host[:port]", or with an http:// or https:// scheme).
std::string FetchTaskFeedFrom(const std::string& host, const SessionInfo& session,
                              const std::atomic<bool>& stop);

} // namespace qev
