#pragma once
// Small pieces both WinINet users share.
#include <windows.h>
// windows.h first: wininet.h relies on its types.
#include <wininet.h>

#include <string>
#include <string_view>

namespace qev::win32 {

// Closes a WinINet handle when it goes out of scope.
class InternetHandle {
public:
    InternetHandle() = default;
    explicit InternetHandle(HINTERNET handle) : handle_(handle) {}
    ~InternetHandle() { Reset(); }
    InternetHandle(const InternetHandle&) = delete;
    InternetHandle& operator=(const InternetHandle&) = delete;
    void Reset(HINTERNET handle = nullptr)
    {
        if (handle_) InternetCloseHandle(handle_);
        handle_ = handle;
    }
    HINTERNET get() const { return handle_; }
    explicit operator bool() const { return handle_ != nullptr; }

private:
    HINTERNET handle_ = nullptr;
};

// Sets one of the session's time-outs (milliseconds; 0 leaves WinINet's default).
void SetTimeout(HINTERNET handle, DWORD option, unsigned long ms);

// The answer's raw head (status line and header lines, each ending in "\r\n", then
// "\r\n"), as UTF-8; empty when it cannot be had.
std::string RawHeaders(HINTERNET request);

// The numeric value of a header of the answer (HTTP_QUERY_*), or -1 without one.
long long NumberHeader(HINTERNET request, DWORD query);

} // namespace qev::win32
