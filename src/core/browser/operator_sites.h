#pragma once
// Which web addresses belong to the operator. The client has no address bar, so the player
// cannot see where a pane is: the client keeps its panes on these sites itself.
//
// A host is the operator's when it is one of the layout's hosts, or shares a registrable
// domain (public suffix list, private section included) with one of them, or is one of the
// build's extra operator sites (QEV_OPERATOR_SITES). An IP literal or a one-label host
// matches only itself. Ports never matter; http and https both count.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qev {

// The host an http or https address leads to, the way the web engine reads the address
// (any number of slashes after the scheme, userinfo up to the last '@', percent-escapes,
// IDN, IPv4 in any of its numeric forms), in the form hosts compare in: lowercase ASCII
// without a trailing dot, IPv4 as four decimals, IPv6 as "[...]" in its shortest form.
// Nothing for another scheme, an address whose host the engine would not accept, or one
// with a backslash before its path (the engine and Qt read those as different hosts).
std::optional<std::string> WebAddressHost(std::string_view address);

// host (as an address carries it, percent-escapes included) in that form; nothing when it
// is no host.
std::optional<std::string> NormalHost(std::string_view host);

class OperatorSites {
public:
    // hosts: the layout's hosts and the build's extra sites, each "host", "host:port" or
    // "scheme://host[:port]" as written in the layout.
    explicit OperatorSites(const std::vector<std::string>& hosts);

    // True for an http or https address whose host is the operator's; false for every other
    // address (another scheme, no host, a userinfo-only trick such as "http://portal@evil/").
    bool IsOperatorAddress(std::string_view address) const;
    // host: as an address carries it (any case, a trailing dot, "[v6]", IDN in either form).
    bool IsOperatorHost(std::string_view host) const;

private:
    bool Matches(const std::string& normalHost) const;

    std::vector<std::string> exact_;   // normalised hosts that match only themselves
    std::vector<std::string> domains_; // registrable domains whose every host matches
};

// The hosts of the build: the layout's four (QEV_PORTAL_HOST ...) and QEV_OPERATOR_SITES.
std::vector<std::string> BuildOperatorHosts();

} // namespace qev
