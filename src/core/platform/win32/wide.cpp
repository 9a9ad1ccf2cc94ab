#include "core/platform/win32/wide.h"

#include <windows.h>

#include <algorithm>

namespace qev::win32 {

std::wstring Widen(std::string_view utf8)
{
    if (utf8.empty()) return {};
    const int size = static_cast<int>(utf8.size());
    const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, nullptr, 0);
    std::wstring out(static_cast<std::size_t>(std::max(n, 0)), L'\0');
    if (n > 0) MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, out.data(), n);
    return out;
}

std::string Narrow(std::wstring_view utf16)
{
    if (utf16.empty()) return {};
    const int size = static_cast<int>(utf16.size());
    const int n = WideCharToMultiByte(CP_UTF8, 0, utf16.data(), size, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(std::max(n, 0)), '\0');
    if (n > 0) WideCharToMultiByte(CP_UTF8, 0, utf16.data(), size, out.data(), n, nullptr, nullptr);
    return out;
}

std::wstring WidePath(std::string_view utf8Path)
{
    std::wstring out = Widen(utf8Path);
    std::replace(out.begin(), out.end(), L'/', L'\\');
    return out;
}

std::string CorePath(std::wstring_view utf16Path)
{
    std::string out = Narrow(utf16Path);
    std::replace(out.begin(), out.end(), '\\', '/');
    return out;
}

} // namespace qev::win32
