#include "core/platform/win32/internet.h"

#include <cstdlib>
#include <vector>

#include "core/platform/win32/wide.h"

namespace qev::win32 {

void SetTimeout(HINTERNET handle, DWORD option, unsigned long ms)
{
    if (ms == 0) return;
    DWORD value = ms;
    InternetSetOptionW(handle, option, &value, sizeof value);
}

std::string RawHeaders(HINTERNET request)
{
    DWORD bytes = 0;
    HttpQueryInfoW(request, HTTP_QUERY_RAW_HEADERS_CRLF, nullptr, &bytes, nullptr);
    if (bytes == 0) return {};
    std::vector<wchar_t> buffer(bytes / sizeof(wchar_t) + 1, L'\0');
    if (!HttpQueryInfoW(request, HTTP_QUERY_RAW_HEADERS_CRLF, buffer.data(), &bytes, nullptr))
        return {};
    return Narrow(std::wstring_view(buffer.data(), bytes / sizeof(wchar_t)));
}

long long NumberHeader(HINTERNET request, DWORD query)
{
    wchar_t buffer[32] = {};
    DWORD bytes = sizeof buffer - sizeof(wchar_t);
    if (!HttpQueryInfoW(request, query, buffer, &bytes, nullptr)) return -1;
    wchar_t* end = nullptr;
    const long long value = std::wcstoll(buffer, &end, 10);
    return end != buffer && value >= 0 ? value : -1;
}

} // namespace qev::win32
