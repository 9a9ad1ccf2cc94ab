#include "core/net/proxy_login.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>

namespace qev {
namespace {

const ProxyCredentials Env{"proxy.example", "env", "e"}, Typed{"proxy.example", "me", "pw"};

// One run a row: "ok" / "cancel" is the player's answer, "x" a load given it that failed; a
// challenge is the request's address, "+" when the environment has credentials, then what it gets:
// G given, A ask, W wait, F fail, L fail with the proxy's one log line.
TEST(ProxyLoginRule, AsksOncePerProxyAndRun)
{
    for (const char* run : {"a+G b+G a+L c+F a+F", "aA bW aW ok aG bG", "aA ok aG aL bF ok cF",
                            "aA cancel aL b+F", "aA ok aG x bF aF"}) {
        ProxyLoginRule rule;
        std::istringstream steps(run);
        for (std::string step; steps >> step;) {
            SCOPED_TRACE(std::string(run) + ": " + step);
            if (step == "ok" || step == "cancel") {
                rule.OnAnswer("Proxy.Example", step == "ok" ? std::optional(Typed) : std::nullopt);
                continue;
            }
            if (step == "x") { // a load given the answer failed
                EXPECT_TRUE(rule.OnRefused("proxy.example"));
                continue;
            }
            const bool env = step[1] == '+';
            const auto d = rule.OnChallenge("proxy.example", step.substr(0, 1),
                                            env ? std::optional(Env) : std::nullopt);
            EXPECT_EQ(d.logLine ? 'L' : "GAWF"[static_cast<int>(d.answer)], step.back());
            if (d.answer == ProxyAnswer::Give) {
                EXPECT_EQ(d.credentials.user, env ? "env" : "me");
            }
        }
        EXPECT_EQ(rule.OnChallenge("other.example", "a", std::nullopt).answer, ProxyAnswer::Ask);
    }
}

// The client's own requests take the player's credentials only for the proxy the
// environment names for them, never over the environment's own.
TEST(ProxyLoginRule, PlayerCredentialsForTheClientsRequests)
{
    SetPlayerProxyCredentials(Typed);
    const struct {
        const char *http, *https;
        bool https_request, added;
    } cases[] = {
        {"http://Proxy.example:3128", "", false, true},
        {"", "proxy.example:3128", true, true},
        {"http://proxy.example:3128", "http://proxy.example:8080", false, true},
        {"http://u:p@proxy.example:3128", "", false, false},
        {"http://proxy.example:3128", "http://other.example:3128", false, false},
        {"http://other.example:3128", "", false, false},
        {"http://proxy.example:3128", "", true, false},
        {"", "", false, false},
    };
    for (const auto& c : cases) {
        setenv("http_proxy", c.http, 1);
        setenv("https_proxy", c.https, 1);
        EXPECT_EQ(PlayerProxyCredentialsForRequest(c.https_request).has_value(), c.added)
            << c.http << " " << c.https;
    }
    unsetenv("http_proxy");
    unsetenv("https_proxy");
}

} // namespace
} // namespace qev
