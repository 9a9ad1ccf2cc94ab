#include "core/net/proxy_login.h"

namespace qev {
namespace {

std::string Lower(std::string_view host)
{
    std::string out(host);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    return out;
}

} // namespace

ProxyDecision ProxyLoginRule::Fail(Proxy& proxy, const char* why)
{
    ProxyDecision out;
    if (!proxy.logged) out.logLine = why;
    proxy.logged = true;
    return out;
}

ProxyDecision ProxyLoginRule::OnChallenge(std::string_view host, const std::string& requestUrl,
                                          const std::optional<ProxyCredentials>& environment)
{
    Proxy& proxy = proxies_[Lower(host)];
    if (proxy.state == State::Fresh && environment) {
        proxy.state = State::Known;
        proxy.fromEnvironment = true;
        proxy.credentials = *environment;
    }
    switch (proxy.state) {
    case State::Fresh: proxy.state = State::Asking; return {ProxyAnswer::Ask, {}, nullptr};
    case State::Asking: return {ProxyAnswer::Wait, {}, nullptr};
    case State::Known:
        // Several requests may meet the proxy before it knows the answer; the same one
        // asked again means the proxy refused it.
        if (proxy.answered.insert(requestUrl).second)
            return {ProxyAnswer::Give, proxy.credentials, nullptr};
        return Refuse(proxy);
    case State::Refused: break;
    }
    return Fail(proxy, "asks for a password: none was given, the pages' requests through it fail");
}

ProxyDecision ProxyLoginRule::Refuse(Proxy& proxy)
{
    proxy.state = State::Refused;
    return Fail(proxy, proxy.fromEnvironment ? "refused the password from the environment: the "
                                               "pages' requests through it fail"
                                             : "refused the password the player gave: the pages' "
                                               "requests through it fail");
}

const char* ProxyLoginRule::OnRefused(std::string_view host)
{
    Proxy& proxy = proxies_[Lower(host)];
    return proxy.state == State::Known ? Refuse(proxy).logLine : nullptr;
}

void ProxyLoginRule::OnAnswer(std::string_view host, const std::optional<ProxyCredentials>& given)
{
    Proxy& proxy = proxies_[Lower(host)];
    if (proxy.state != State::Asking) return;
    proxy.state = given ? State::Known : State::Refused;
    if (given) proxy.credentials = *given;
}

} // namespace qev
