#pragma once
// Text at the Windows boundary: the core speaks UTF-8 with '/' between path parts, the
// system calls take UTF-16 with '\'.
#include <string>
#include <string_view>

namespace qev::win32 {

std::wstring Widen(std::string_view utf8);
std::string Narrow(std::wstring_view utf16);

// A core path for a system call: UTF-16, '/' turned into '\'.
std::wstring WidePath(std::string_view utf8Path);
// A path from a system call for the core: UTF-8, '\' turned into '/'.
std::string CorePath(std::wstring_view utf16Path);

} // namespace qev::win32
