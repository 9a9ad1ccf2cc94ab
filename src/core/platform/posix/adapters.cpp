#include "core/platform/adapters.h"

#include <ifaddrs.h>
#include <net/if.h>
#include <netpacket/packet.h>
#include <sys/socket.h>

#include <cstring>
#include <set>
#include <string>

namespace qev {

std::vector<std::array<unsigned char, 6>> GetAdapterAddresses()
{
    std::vector<std::array<unsigned char, 6>> out;
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) return out;
    std::set<std::string> seen;
    for (const ifaddrs* it = list; it; it = it->ifa_next) {
        if (!it->ifa_addr || it->ifa_addr->sa_family != AF_PACKET) continue;
        if (it->ifa_flags & IFF_LOOPBACK) continue;
        sockaddr_ll link{};
        std::memcpy(&link, it->ifa_addr, sizeof link);
        if (link.sll_halen != 6) continue;
        if (!seen.insert(it->ifa_name ? it->ifa_name : "").second) continue;
        std::array<unsigned char, 6> address{};
        std::memcpy(address.data(), link.sll_addr, address.size());
        out.push_back(address);
    }
    freeifaddrs(list);
    return out;
}

} // namespace qev
