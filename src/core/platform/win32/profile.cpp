#include "core/platform/profile.h"

#include <windows.h>

#include <vector>

#include "core/platform/win32/wide.h"

namespace qev {

std::string ReadProfileString(const std::string& path, const char* section, const char* key,
                              std::size_t maxChars)
{
    std::vector<wchar_t> buffer(maxChars + 1, L'\0');
    const DWORD n = GetPrivateProfileStringW(
        win32::Widen(section).c_str(), win32::Widen(key).c_str(), L"", buffer.data(),
        static_cast<DWORD>(buffer.size()), win32::WidePath(path).c_str());
    return win32::Narrow(std::wstring_view(buffer.data(), n));
}

} // namespace qev
