// The zoom file can be edited by hand, and addresses and file names come from pages and
// feeds: none may crash the client, and what the zoom memory writes must read back the same.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "browser/web_rules.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    qev::ZoomMemory memory;
    memory.Read(text);
    const std::string written = memory.Text();
    qev::ZoomMemory again;
    again.Read(written);
    if (again.Text() != written) std::abort();
    if (qev::IsWebAddress(text) && text.find("//") == std::string_view::npos) std::abort();
    if (qev::AddressForLog(text).size() > 4 * 200) std::abort();
    const std::string numbered = qev::NumberedFileName(text, 7);
    if (numbered.size() != text.size() + 4) std::abort();
    return 0;
}
