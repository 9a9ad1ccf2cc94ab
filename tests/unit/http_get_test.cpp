#include "core/platform/http_get.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>
#include <vector>

#include "core/net/background_request.h"
#include "core/platform/proxy_env.h"
#include "core/platform/network_init.h"
#include "fake_http_server.h"
#include "sandbox.h"

namespace qev {
namespace {

using test::FakeHttpServer;
using test::MakeReply;

class HttpGet : public ::testing::Test {
protected:
    static void SetUpTestSuite() { InitNetwork(); }
    FakeHttpServer server;
};

TEST_F(HttpGet, JoinsPathAndQueryAsTheyAre)
{
    server.Enqueue(MakeReply(200, "feed"));
    server.Enqueue(MakeReply(200, "plain"));
    EXPECT_EQ(HttpGetText("?account=a&sid=S1&domain=d", "/micro2/GetTasks", server.host()), "feed");
    EXPECT_EQ(HttpGetText("", "/report.php", server.host()), "plain");
    EXPECT_EQ(server.RequestLine(0), "GET /micro2/GetTasks?account=a&sid=S1&domain=d HTTP/1.1");
    EXPECT_EQ(server.RequestLine(1), "GET /report.php HTTP/1.1");
}

// What libcurl cannot send (a blank, a control byte, '#', which it would take for the
// fragment) is escaped; everything else reaches the server byte for byte.
TEST_F(HttpGet, RequestTargetCarriesEveryValue)
{
    const struct {
        std::string query, path, target;
    } cases[] = {
        {"?account=Mr Blank&sid=S 1&domain=a b", "/micro2/GetTasks",
         "/micro2/GetTasks?account=Mr%20Blank&sid=S%201&domain=a%20b"},
        {"?a=x#y&b=%41&c=d=e?f", "/p", "/p?a=x%23y&b=%41&c=d=e?f"},
        {std::string("?t=\t\x01\x7f\0", 7), "/p", "/p?t=%09%01%7F%00"},
        {"?n=\xc3\xa9", "/dir/my page.php", "/dir/my%20page.php?n=%C3%A9"},
        {"?q='\"<>{}|\\^`[]~!$*()+,;:@", "/p", "/p?q='\"<>{}|\\^`[]~!$*()+,;:@"},
        {"&mac=001A2B3C4D5E", "/report.php", "/report.php&mac=001A2B3C4D5E"},
    };
    for (const auto& c : cases) {
        server.Enqueue(MakeReply(200, "sent"));
        const std::size_t before = server.RequestCount();
        EXPECT_EQ(HttpGetText(c.query, c.path, server.host()), "sent") << c.query;
        ASSERT_EQ(server.RequestCount(), before + 1) << c.query;
        EXPECT_EQ(server.RequestLine(before), "GET " + c.target + " HTTP/1.1") << c.query;
    }
}

#ifndef _WIN32 // WinINet takes its proxy from the system's settings, not http_proxy
// Only a proxy's 407 is a failure (with its log line); the proxy's credentials go with the
// request, and another error page stays a body.
TEST_F(HttpGet, ProxyAskingForAPasswordGivesNothing)
{
    const test::Sandbox root;
    std::string line, more;
    setenv("XDG_STATE_HOME", root.path().c_str(), 1);
    setenv("http_proxy", ("http://u:pw@" + server.host()).c_str(), 1);
    server.Enqueue(MakeReply(407, "<html>proxy login</html>"));
    server.Enqueue(MakeReply(502, "<html>bad gateway</html>"));
    EXPECT_EQ(HttpGetText("?a=1", "/feed", "feed.example"), "");
    EXPECT_EQ(HttpGetText("?a=1", "/feed", "feed.example"), "<html>bad gateway</html>");
    unsetenv("XDG_STATE_HOME"); // tests run without either
    unsetenv("http_proxy");
    EXPECT_EQ(server.RequestLine(0), "GET http://feed.example/feed?a=1 HTTP/1.1");
    EXPECT_EQ(server.Requests().at(0).Header("Proxy-Authorization"), "Basic dTpwdw==");
    std::ifstream log(root / "qev/qev.log");
    EXPECT_TRUE(std::getline(log, line) && !std::getline(log, more));
    EXPECT_EQ(line, std::string("web request ") + ProxyAuthRefusal);
}
#endif

TEST(ProxyCredentials, FromTheEnvironmentsForm)
{
    const auto c = ParseProxyCredentials("http://qev%40home:p+w@d@Proxy.example:3128/");
    ASSERT_TRUE(c);
    EXPECT_TRUE(c->host == "Proxy.example" && c->user == "qev@home" && c->password == "p+w@d");
    EXPECT_EQ(ParseProxyCredentials("u:p@[::1]:8080").value_or(ProxyCredentials{}).host, "::1");
    EXPECT_FALSE(ParseProxyCredentials("http://proxy.example:3128"));
}

TEST_F(HttpGet, BodyTextRules)
{
    const struct {
        int status;
        std::string body, text;
    } cases[] = {
        {404, "<html>Not here</html>", "<html>Not here</html>"}, // error pages are bodies too
        {200, "", ""},
        {200, std::string("before\0after", 12), "before"},
        {200, "ok \xff\xfe end \xc3", "ok \xef\xbf\xbd\xef\xbf\xbd end \xef\xbf\xbd"},
        {200, "\xe4\xbd\xa0\xe5\xa5\xbd", "\xe4\xbd\xa0\xe5\xa5\xbd"},
        {500, "oops", "oops"},
    };
    for (const auto& c : cases) {
        server.Enqueue(MakeReply(c.status, c.body));
        EXPECT_EQ(HttpGetText("", "/t", server.host()), c.text) << c.status << " " << c.body;
    }
}

TEST_F(HttpGet, BodyIsCutAtFourMebibytes)
{
    std::string big(HttpTextLimit + 100000, 'x');
    big[HttpTextLimit - 1] = 'y';
    server.Enqueue(MakeReply(200, big));
    const std::string text = HttpGetText("", "/big", server.host());
    ASSERT_EQ(text.size(), HttpTextLimit);
    EXPECT_EQ(text.back(), 'y');
}

TEST_F(HttpGet, FollowsRedirects)
{
    auto redirect = MakeReply(302);
    redirect.headers.push_back("Location: /there");
    server.Enqueue(redirect);
    server.Enqueue(MakeReply(200, "arrived"));
    EXPECT_EQ(HttpGetText("?q", "/here", server.host()), "arrived");
    EXPECT_EQ(server.RequestLine(1), "GET /there HTTP/1.1");
}

// Half a task feed is worse than none: a body is only an answer when it arrived whole.
TEST_F(HttpGet, BodyCutShortIsAFailure)
{
    const struct {
        const char* name;
        long closeAfter;
        long missingBytes;
        bool lengthHeader;
        const char* text;
    } cases[] = {
        {"whole", -1, 0, true, "complete text"},
        {"cut before its Content-Length", 8, 0, true, ""},
        {"Content-Length promises more", -1, 5, true, ""},
        {"no length: ends when the line closes", -1, 0, false, "complete text"},
    };
    for (const auto& c : cases) {
        auto reply = MakeReply(200, "complete text");
        reply.closeAfter = c.closeAfter;
        reply.missingBytes = c.missingBytes;
        reply.lengthHeader = c.lengthHeader;
        server.Enqueue(reply);
        EXPECT_EQ(HttpGetText("", "/cut", server.host()), c.text) << c.name;
    }
}

// A trickle of a byte every 200 ms is never a stall, but it must not hold the UI thread
// for the 40 s the body would take. Takes about 20 s.
TEST_F(HttpGet, TrickleEndsAtTheDeadline)
{
    auto reply = MakeReply(200, std::string(200, 'x'));
    reply.writeSize = 1;
    reply.pieceDelayMs = 200;
    server.Enqueue(reply);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(HttpGetText("", "/slow", server.host()), "");
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_GE(took, std::chrono::milliseconds(HttpDeadlineMs - 500));
    EXPECT_LT(took, std::chrono::milliseconds(HttpDeadlineMs + 3000));
    EXPECT_LT(server.BodyBytesSent(), 200u);
}

// The client's requests run on workers that must end when the player leaves: a server that
// has not answered yet, and one that trickles, both let go soon after the stop, and the
// answer is "" even when the whole body arrives meanwhile.
TEST_F(HttpGet, BackgroundRequestStopsSoonAndGivesNothing)
{
    auto silent = MakeReply(200, "late");
    silent.delayMs = 15000;
    auto trickle = MakeReply(200, std::string(200, 'x'));
    trickle.writeSize = 1;
    trickle.pieceDelayMs = 200;
    std::vector<test::FakeReply> replies = {trickle};
#ifndef _WIN32
    // The Windows side ends a waiting request by closing its handle, which Wine (where its
    // tests run) does not carry out on a request still waiting for its answer.
    replies.push_back(silent);
#endif
    for (const test::FakeReply& reply : replies) {
        server.Enqueue(reply);
        std::atomic<bool> answered{false};
        std::string answer = "unset";
        const std::size_t before = server.RequestCount();
        auto start = std::chrono::steady_clock::now();
        {
            BackgroundTextRequest request(
                [this](const std::atomic<bool>& stop) {
                    return HttpGetText("", "/slow", server.host(), {}, &stop);
                },
                [&](std::string text) {
                    answer = std::move(text);
                    answered = true;
                });
            while (server.RequestCount() == before &&
                   std::chrono::steady_clock::now() - start < std::chrono::seconds(5))
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            EXPECT_FALSE(request.finished());
            start = std::chrono::steady_clock::now();
        }
        const auto took = std::chrono::steady_clock::now() - start;
        EXPECT_LT(took, std::chrono::milliseconds(2500));
        EXPECT_TRUE(answered);
        EXPECT_EQ(answer, "");
    }
    // Not stopped: the answer arrives as it would on the calling thread.
    server.Enqueue(MakeReply(200, "feed"));
    std::string answer;
    {
        BackgroundTextRequest request(
            [this](const std::atomic<bool>& stop) {
                return HttpGetText("", "/feed", server.host(), {}, &stop);
            },
            [&](std::string text) { answer = std::move(text); });
        const auto start = std::chrono::steady_clock::now();
        while (!request.finished() &&
               std::chrono::steady_clock::now() - start < std::chrono::seconds(5))
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_EQ(answer, "feed");
}

TEST(HttpGetFailures, UnreachableOrUnknownHostGivesEmpty)
{
    InitNetwork();
    int freePort = 0;
    {
        FakeHttpServer gone;
        freePort = gone.port();
    }
    EXPECT_EQ(HttpGetText("", "/", "127.0.0.1:" + std::to_string(freePort)), "");
    EXPECT_EQ(HttpGetText("", "/", "no-such-host.invalid"), "");
    EXPECT_EQ(HttpGetText("", "/", ""), "");
}

} // namespace
} // namespace qev
