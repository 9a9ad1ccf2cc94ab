#include "net/http_get.h"

#include <gtest/gtest.h>

#include "fake_http_server.h"
#include "net/network_init.h"

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

TEST_F(HttpGet, BrokenOffBodyKeepsWhatArrived)
{
    auto reply = MakeReply(200, "complete text");
    reply.closeAfter = 8;
    server.Enqueue(reply);
    EXPECT_EQ(HttpGetText("", "/cut", server.host()), "complete");
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
