// Every address a page hands over or navigates to is read for its host: no address may
// crash the client, a host read once reads the same again, and no address outside the
// operator's registrable domain counts as theirs.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "core/browser/operator_sites.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view address(reinterpret_cast<const char*>(data), size);
    static const qev::OperatorSites sites({"portal.example.com", "127.0.0.1:80", "[::1]"});
    const std::optional<std::string> host = qev::WebAddressHost(address);
    if (!host) {
        if (sites.IsOperatorAddress(address)) std::abort();
        return 0;
    }
    if (host->empty() || qev::NormalHost(*host) != host) std::abort();
    if (qev::WebAddressHost("https://" + *host + ":1/") != host) std::abort();
    if (sites.IsOperatorAddress(address)) {
        const std::string_view h = *host;
        const bool inDomain =
            h == "example.com" || (h.size() > 12 && h.substr(h.size() - 12) == ".example.com");
        if (!inDomain && h != "127.0.0.1" && h != "[::1]") std::abort();
    }
    return 0;
}
