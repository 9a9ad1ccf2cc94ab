#pragma once
// The machine's network adapters.
#include <array>
#include <vector>

namespace qev {

// The 6-byte hardware addresses of the network interfaces, loopback excluded, each
// interface once, in the order the system lists them. Empty when the query fails.
std::vector<std::array<unsigned char, 6>> GetAdapterAddresses();

} // namespace qev
