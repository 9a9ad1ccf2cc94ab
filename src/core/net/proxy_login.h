#pragma once
// What the pages do when a proxy asks them for a password (407), per proxy host, for one run.
// The environment's credentials for the proxy are given when there are any; otherwise the
// player is asked once, and requests that arrive meanwhile are let fail, to be reloaded once
// after the answer. A proxy that asks again for a request already answered, or whose load
// with the answer failed, refused the answer: it gets none more this run, nor does one whose
// question the player cancelled.
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>

#include "core/platform/proxy_env.h"

namespace qev {

enum class ProxyAnswer {
    Give, // answer the request with credentials
    Ask,  // let the request fail, ask the player (nothing is being asked yet)
    Wait, // let the request fail: the player is being asked; reload it after the answer
    Fail, // let the request fail; log why, when given
};

struct ProxyDecision {
    ProxyAnswer answer = ProxyAnswer::Fail;
    ProxyCredentials credentials;  // for Give
    const char* logLine = nullptr; // for the first Fail of a proxy: why its requests fail
};

class ProxyLoginRule {
public:
    // The proxy host asks for a password for requestUrl; environment: the credentials for
    // host there, if any.
    ProxyDecision OnChallenge(std::string_view host, const std::string& requestUrl,
                              const std::optional<ProxyCredentials>& environment);
    // The player's answer to Ask for host: the credentials typed (OK) or nullopt (Cancel).
    void OnAnswer(std::string_view host, const std::optional<ProxyCredentials>& given);
    // A load given host's credentials failed: the proxy refused them (the engine may retry
    // on its own instead of asking again). The log line for the first such refusal.
    const char* OnRefused(std::string_view host);

private:
    enum class State { Fresh, Asking, Known, Refused };
    struct Proxy {
        State state = State::Fresh;
        bool fromEnvironment = false, logged = false;
        ProxyCredentials credentials;
        std::set<std::string> answered; // request addresses given credentials
    };
    ProxyDecision Fail(Proxy& proxy, const char* why);
    ProxyDecision Refuse(Proxy& proxy);

    std::map<std::string, Proxy> proxies_; // by host in lower case
};

} // namespace qev
