// The record of a kept partial package, read back from disk.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "core/net/partial_package.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    // What is read is what would be written.
    if (const auto p = qev::ParsePartialRecord(text); p && qev::FormatPartialRecord(*p) != text)
        std::abort();
    return 0;
}
