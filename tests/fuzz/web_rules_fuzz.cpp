// The zoom file can be edited by hand, and addresses and file names come from pages and
// feeds: none may crash the client, what the zoom memory writes must read back the same,
// and a saved download name keeps every rule whatever the page suggested.
#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "core/base/utf.h"
#include "core/browser/web_rules.h"

namespace {

// Every rule of a saved name, checked on its own rather than by repeating the steps.
bool IsSafeName(const std::string& name)
{
    if (name.empty() || name.size() > qev::MaxDownloadNameBytes) return false;
    if (name.front() == '.' || name.front() == ' ') return false;
    for (std::size_t i = 0; i < name.size();) {
        const char32_t c = qev::DecodeUtf8(name, i);
        if (c == qev::InvalidUtf8 || qev::IsReplacedInFileName(c)) return false;
    }
    std::string ending = name.substr(name.size() - std::min<std::size_t>(name.size(), 8));
    for (char& c : ending) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return ending != ".desktop" && ending.substr(1) != ".kdelnk";
}

} // namespace

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
    const std::string saved = qev::SafeDownloadName(text);
    if (!IsSafeName(saved) || qev::SafeDownloadName(saved) != saved) std::abort();
    return 0;
}
