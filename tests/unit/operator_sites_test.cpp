#include "core/browser/operator_sites.h"

#include <gtest/gtest.h>

namespace qev {
namespace {

TEST(OperatorSites, AddressesLeadWhereTheEngineGoes)
{
    const OperatorSites sites({"127.0.0.1:18180", "https://portal.example.com:8443", "localhost",
                               "[::1]:8080", "a.github.io", "xn--bcher-kva.de"});
    const struct {
        const char* address;
        bool operatorSite;
    } cases[] = {
        {"http://portal.example.com/", true},
        {" HTTPS://Portal.Example.COM.:99/x ", true},
        {"http://www.example.com/", true}, // same registrable domain
        {"http://user:pw@portal.example.com/", true},
        {"http:\\\\portal.example.com\\x", false}, // read differently by Qt and the engine
        {"http://portal.example.com\\@evil.com/", false},
        {"http://%70ortal%2eexample.com/", true},
        {"http://portal\xEF\xBC\x8E"
         "example.com/",
         true}, // full-width dot
        {"http://portal.example.com.evil.com/", false},
        {"http://portal@evil.com/", false},
        {"http://evil.com/portal.example.com", false},
        {"http://evil.com?@portal.example.com", false},
        {"http://evil.com#@portal.example.com", false},
        {"http://evil.com\\@portal.example.com/", false},
        {"http://evil-example.com/", false},
        {"http://ex\xD0\xB0mple.com/", false}, // Cyrillic a
        {"http://portal.example.com:99999/", false},
        {"http://portal.example.com:8a/", false},
        {"ftp://portal.example.com/", false},
        {"javascript://portal.example.com/%0aalert(1)", false},
        {"portal.example.com", false},
        {"http://a.github.io/", true},
        {"http://b.github.io/", false},
        {"http://github.io/", false},
        {"http://127.0.0.1:1/", true}, // any port
        {"http://127.1/", true},
        {"http://0x7f.0.0.1/", true},
        {"http://127.0.0.2/", false},
        {"http://0.1/", false},
        {"http://localhost:5/", true},
        {"http://foo.localhost/", false},
        {"http://[::1]/", true},
        {"http://[0:0::0:1]:9/", true},
        {"http://[::2]/", false},
        {"http://[::1/", false},
        {"http://[::1]x/", false},
        {"http://b\xC3\xBC"
         "cher.de/",
         true},
        {"http://shop.B\xC3\x9C"
         "CHER.de/",
         true},
        {"http://b%C3%BCcher.de/", true},
        {"http://bucher.de/", false},
        {"http://%zzportal.example.com/", false},
        {"http://portal..example.com/", false},
        {"http:///", false},
        {"", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(sites.IsOperatorAddress(c.address), c.operatorSite) << c.address;

    EXPECT_TRUE(sites.IsOperatorHost("Portal.Example.com."));
    EXPECT_TRUE(sites.IsOperatorHost("[0::1]"));
    EXPECT_TRUE(sites.IsOperatorHost("xn--bcher-kva.de"));
    EXPECT_FALSE(sites.IsOperatorHost("portal.example.com:8443"));
    EXPECT_FALSE(sites.IsOperatorHost(""));
    EXPECT_EQ(WebAddressHost("http://[1:0:0:2:0:0:0:3]/"), "[1:0:0:2::3]");
    EXPECT_EQ(WebAddressHost("http://[::ffff:1.2.3.4]/"), "[::ffff:102:304]");
    EXPECT_EQ(WebAddressHost("http://2130706433/"), "127.0.0.1");
}

TEST(OperatorSites, TheBuildsHostsAreTheOperators)
{
    const OperatorSites sites(BuildOperatorHosts());
    for (const char* host : {QEV_PORTAL_HOST, QEV_GAME_HOST, QEV_FORUM_HOST, QEV_STATIC_HOST})
        EXPECT_TRUE(sites.IsOperatorAddress(std::string("http://") + host + "/")) << host;
    EXPECT_FALSE(sites.IsOperatorAddress("http://evil.example/"));
}

} // namespace
} // namespace qev
