#include "core/remind/task_feed.h"

#include "core/platform/http_get.h"

namespace qev {

std::string TaskFeedQuery(const SessionInfo& session)
{
    return "?account=" + session.user + "&sid=" + session.sid + "&domain=" + session.domain;
}

std::string FetchTaskFeed(const SessionInfo& session, const std::atomic<bool>& stop)
{
    return FetchTaskFeedFrom(QEV_PORTAL_HOST, session, stop);
}

std::string FetchTaskFeedFrom(const std::string& host, const SessionInfo& session,
                              const std::atomic<bool>& stop)
{
    return HttpGetText(TaskFeedQuery(session), std::string(TaskFeedPath), host, {}, &stop);
}

} // namespace qev
