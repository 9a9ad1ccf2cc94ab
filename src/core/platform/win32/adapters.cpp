#include "core/platform/adapters.h"

#include <windows.h>
// windows.h first: the helper API's headers rely on its types.
#include <iphlpapi.h>

#include <cstring>
#include <vector>

namespace qev {

std::vector<std::array<unsigned char, 6>> GetAdapterAddresses()
{
    std::vector<std::array<unsigned char, 6>> out;
    ULONG size = 0;
    std::vector<unsigned char> buffer;
    DWORD result = ERROR_BUFFER_OVERFLOW;
    // The list can grow between the size query and the read: ask again until it fits.
    for (int attempt = 0; attempt < 4 && result == ERROR_BUFFER_OVERFLOW; ++attempt) {
        buffer.resize(size ? size : sizeof(IP_ADAPTER_INFO));
        size = static_cast<ULONG>(buffer.size());
        result = GetAdaptersInfo(reinterpret_cast<IP_ADAPTER_INFO*>(buffer.data()), &size);
    }
    if (result != ERROR_SUCCESS) return out;
    for (auto* it = reinterpret_cast<const IP_ADAPTER_INFO*>(buffer.data()); it; it = it->Next) {
        if (it->Type == MIB_IF_TYPE_LOOPBACK || it->AddressLength != 6) continue;
        std::array<unsigned char, 6> address{};
        std::memcpy(address.data(), it->Address, address.size());
        out.push_back(address);
    }
    return out;
}

} // namespace qev
