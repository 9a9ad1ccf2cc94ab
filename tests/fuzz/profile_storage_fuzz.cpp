// Any bytes as the names and records the engine leaves in the web profile (a cache index,
// database keys, folder names), which pages have a hand in: whatever is read from them is a
// well-formed http(s) origin, or nothing.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "core/browser/profile_storage.h"

namespace {

void CheckOrigin(const std::string& origin)
{
    if (origin.empty()) return;
    const auto at = origin.find("://");
    if (at == std::string::npos ||
        (origin.substr(0, at) != "http" && origin.substr(0, at) != "https"))
        std::abort();
    if (origin.find_first_of("/?#@\\ ", at + 3) != std::string::npos) std::abort();
    if (qev::OriginHost(origin).empty()) std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    CheckOrigin(qev::OriginFromCacheIndex(bytes));
    CheckOrigin(qev::OriginOfLocalStorageKey(bytes));
    CheckOrigin(qev::OriginOfWorkerKey(bytes));
    CheckOrigin(qev::OriginFromIdentifier(bytes));
    return 0;
}
