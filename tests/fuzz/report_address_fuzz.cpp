// The report address comes from a file anyone with access to the program folder can edit.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "core/app/settings.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view value(reinterpret_cast<const char*>(data), size);
    const qev::ReportAddress a = qev::SplitReportAddress(value);
    if (a.host.size() + a.path.size() + a.query.size() > value.size()) std::abort();
    if (!a.query.empty() && a.query[0] != '?') std::abort();
    return 0;
}
