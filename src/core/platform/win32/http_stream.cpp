#include "core/platform/http_stream.h"

#include <condition_variable>
#include <mutex>
#include <thread>

#include "core/platform/win32/internet.h"
#include "core/platform/win32/wide.h"

namespace qev {
namespace {

// Context value of the request (nothing listens to status callbacks).
constexpr DWORD_PTR RequestContext = 1;
// A download always asks the server, never WinINet's cache.
constexpr DWORD RequestFlags = INTERNET_FLAG_RELOAD;

} // namespace

// WinINet's calls block; a watcher thread turns a cancel request into closing the handles,
// which on Windows makes the pending call (connect, send or read) fail at once. (Wine lets
// a read already waiting run on until data or its time-out.)
struct HttpStream::Transfer {
    HINTERNET internet = nullptr;
    HINTERNET connection = nullptr;
    HINTERNET request = nullptr;
    std::string rawHeaders;
    int status = 0;
    int error = 0;
    std::string refusal;
    bool refused = false;
    bool ended = false;

    std::mutex mutex;
    std::condition_variable wake;
    bool closing = false;
    bool cancelledByWatch = false;
    std::thread watcher;

    void Watch(const std::atomic<bool>* cancel, int pollMs)
    {
        if (!cancel) return;
        watcher = std::thread([this, cancel, pollMs] {
            std::unique_lock lock(mutex);
            while (!closing) {
                if (cancel->load()) {
                    cancelledByWatch = true;
                    for (HINTERNET h : {request, connection, internet})
                        if (h) InternetCloseHandle(h);
                    return;
                }
                wake.wait_for(lock, std::chrono::milliseconds(pollMs));
            }
        });
    }

    ~Transfer()
    {
        {
            std::lock_guard lock(mutex);
            closing = true;
        }
        wake.notify_all();
        if (watcher.joinable()) watcher.join();
        if (cancelledByWatch) return;
        if (request) InternetCloseHandle(request);
        if (connection) InternetCloseHandle(connection);
        if (internet) InternetCloseHandle(internet);
    }

    // Handles are set under the lock, so the watcher never closes a half-stored one.
    // The call's error survives the locking, for Fail().
    HINTERNET Keep(HINTERNET& slot, HINTERNET handle)
    {
        const DWORD error = GetLastError();
        {
            std::lock_guard lock(mutex);
            slot = handle;
        }
        SetLastError(error);
        return handle;
    }

    int Fail()
    {
        error = static_cast<int>(GetLastError());
        if (error == 0) error = ERROR_INTERNET_OPERATION_CANCELLED;
        refused = error == ERROR_INTERNET_CANNOT_CONNECT;
        ended = true;
        return error;
    }
};

#include "core/platform/http_stream_common.inc"

int HttpStream::Open(const std::string& objectPath, const std::vector<std::string>& headers)
{
    Close();
    if (cancelled()) return ERROR_INTERNET_OPERATION_CANCELLED;
    transfer_ = std::make_unique<Transfer>();
    Transfer& t = *transfer_;
    if (!t.Keep(t.internet,
                InternetOpenW(nullptr, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0)))
        return t.Fail();
    win32::SetTimeout(t.internet, INTERNET_OPTION_CONNECT_TIMEOUT,
                      static_cast<unsigned long>(options_.connectTimeoutMs));
    win32::SetTimeout(t.internet, INTERNET_OPTION_RECEIVE_TIMEOUT,
                      static_cast<unsigned long>(options_.stallSeconds * 1000));
    t.Watch(options_.cancel, options_.pollMs);

    const std::wstring user = win32::Widen(options_.userName);
    const std::wstring password = win32::Widen(options_.password);
    const HINTERNET connection = InternetConnectW(
        t.internet, win32::Widen(options_.host).c_str(), static_cast<INTERNET_PORT>(options_.port),
        user.empty() ? nullptr : user.c_str(), password.empty() ? nullptr : password.c_str(),
        INTERNET_SERVICE_HTTP, 0, 0);
    if (!t.Keep(t.connection, connection)) return t.Fail();
    // WinINet checks https certificates against the Windows store and refuses a redirect
    // from https to http by itself; one from http to https is let through.
    const DWORD flags = RequestFlags | INTERNET_FLAG_IGNORE_REDIRECT_TO_HTTPS |
                        (options_.https ? INTERNET_FLAG_SECURE : 0);
    const HINTERNET request = HttpOpenRequestW(connection, L"GET", win32::Widen(objectPath).c_str(),
                                               nullptr, nullptr, nullptr, flags, RequestContext);
    if (!t.Keep(t.request, request)) return t.Fail();
    for (const auto& line : headers) {
        const std::wstring header = win32::Widen(line + "\r\n");
        if (!HttpAddRequestHeadersW(t.request, header.c_str(), static_cast<DWORD>(header.size()),
                                    HTTP_ADDREQ_FLAG_ADD_IF_NEW))
            return t.Fail();
    }
    if (!HttpSendRequestW(t.request, nullptr, 0, nullptr, 0)) {
        const DWORD why = GetLastError();
        if (why == ERROR_INTERNET_INVALID_CA || why == ERROR_INTERNET_SEC_CERT_DATE_INVALID ||
            why == ERROR_INTERNET_SEC_CERT_CN_INVALID)
            t.refusal = std::string("certificate refused (") +
                        (why == ERROR_INTERNET_SEC_CERT_DATE_INVALID ? "expired"
                         : why == ERROR_INTERNET_SEC_CERT_CN_INVALID ? "it names another host"
                                                                     : "untrusted") +
                        "): " + options_.host;
        if (why == ERROR_INTERNET_HTTPS_TO_HTTP_ON_REDIR)
            t.refusal = "redirect refused (scheme not allowed): " + options_.host;
        SetLastError(why);
        return t.Fail();
    }
    const long long status = win32::NumberHeader(t.request, HTTP_QUERY_STATUS_CODE);
    t.rawHeaders = win32::RawHeaders(t.request);
    if (status <= 0 || t.rawHeaders.empty()) return t.Fail();
    t.status = static_cast<int>(status);
    return 0;
}

std::size_t HttpStream::Read(char* out, std::size_t n)
{
    if (!transfer_ || !transfer_->request || transfer_->ended || n == 0) return 0;
    Transfer& t = *transfer_;
    if (cancelled()) return 0;
    DWORD got = 0;
    const auto ask = static_cast<DWORD>(std::min<std::size_t>(n, 1u << 30));
    if (!InternetReadFile(t.request, out, ask, &got)) {
        t.Fail();
        return 0;
    }
    if (got == 0) t.ended = true;
    return got;
}

} // namespace qev
