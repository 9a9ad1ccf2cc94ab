// Raw response headers from any server go through the length parser and the header lookup.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "core/net/http_headers.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view raw(reinterpret_cast<const char*>(data), size);
    volatile std::int64_t length = qev::ParseLengthHeaders(raw);
    volatile std::int64_t start = qev::ParseContentRangeStart(raw);
    volatile bool strong = qev::ParseLength(raw).known && qev::FindHeader(raw, "ETag").has_value();
    (void)length;
    (void)start;
    (void)strong;
    return 0;
}
