#include "core/remind/task_feed.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "core/platform/network_init.h"
#include "fake_http_server.h"

namespace qev {
namespace {

using test::FakeHttpServer;
using test::MakeReply;

class TaskFeed : public ::testing::Test {
protected:
    static void SetUpTestSuite() { InitNetwork(); }
    FakeHttpServer server;
};

// The page's values reach the portal as the page gave them, in the portal's order, at the
// feed's path; only what a request line cannot carry is escaped.
TEST_F(TaskFeed, AsksThePortalsPathWithTheSessionsValues)
{
    server.Enqueue(MakeReply(200, R"({"server_time":"12:00"})"));
    const std::atomic<bool> stop{false};
    const SessionInfo session{"Server 1", "http://g/play", "d 1", "s#1&x=2", "Mr X"};
    EXPECT_EQ(FetchTaskFeedFrom(server.host(), session, stop), R"({"server_time":"12:00"})");
    EXPECT_EQ(server.RequestLine(0),
              "GET /micro2/GetTasks?account=Mr%20X&sid=s%231&x=2&domain=d%201 HTTP/1.1");
}

// The login that asked may end while the portal trickles: the stop flag reaches the request.
TEST_F(TaskFeed, StopEndsTheRequestSoon)
{
    auto trickle = MakeReply(200, std::string(200, 'x'));
    trickle.writeSize = 1;
    trickle.pieceDelayMs = 200;
    server.Enqueue(trickle);
    std::atomic<bool> stop{false};
    std::string feed = "unset";
    std::thread worker([&] {
        feed = FetchTaskFeedFrom(server.host(), {"", "", "d", "s", "u"}, stop);
    });
    ASSERT_TRUE(server.WaitForRequests(1));
    const auto start = std::chrono::steady_clock::now();
    stop = true;
    worker.join();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(2500));
    EXPECT_EQ(feed, "");
}

} // namespace
} // namespace qev
