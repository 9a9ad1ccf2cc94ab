#include "core/platform/http_get.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>

#include "core/base/log.h"
#include "core/base/url_codec.h"
#include "core/base/utf.h"
#include "core/platform/win32/internet.h"
#include "core/platform/win32/wide.h"

namespace qev {
namespace {

using win32::InternetHandle;

// The whole request, from connecting to the last body byte, gets this long (the caller's
// worker thread waits for it).
constexpr auto TextDeadline = std::chrono::milliseconds(HttpDeadlineMs);
// The read size the request reads its body in.
constexpr DWORD ReadPiece = 2048;
// INTERNET_FLAG_IGNORE_REDIRECT_TO_HTTP: a redirect from https down to http is followed.
constexpr DWORD RequestFlags = INTERNET_FLAG_IGNORE_REDIRECT_TO_HTTP;
constexpr INTERNET_PORT DefaultPort = 80;

std::string Failed(const char* format)
{
    const DWORD error = GetLastError();
    if (std::getenv("QEV_DEBUG_HTTP")) {
        std::fprintf(stderr, format, static_cast<int>(error));
        std::fputc('\n', stderr);
    }
    return {};
}

// Ends the blocking calls of a request at the deadline, or soon after stop is set, by
// closing the internet handle under them; WinINet makes the pending call fail.
class DeadlineWatch {
public:
    // How often the stop flag is looked at while the request waits.
    static constexpr auto StopPoll = std::chrono::milliseconds(100);

    DeadlineWatch(HINTERNET internet, std::chrono::steady_clock::duration limit,
                  const std::atomic<bool>* stop)
        : thread_([this, internet, limit, stop] {
              const auto deadline = std::chrono::steady_clock::now() + limit;
              std::unique_lock lock(mutex_);
              for (;;) {
                  const auto now = std::chrono::steady_clock::now();
                  const auto wait =
                      stop ? std::min<std::chrono::steady_clock::duration>(StopPoll, deadline - now)
                           : deadline - now;
                  if (wake_.wait_for(lock, wait, [this] { return done_; })) return;
                  if (std::chrono::steady_clock::now() >= deadline || (stop && stop->load())) {
                      expired_ = true;
                      InternetCloseHandle(internet);
                      return;
                  }
              }
          })
    {
    }
    ~DeadlineWatch() { Stop(); }
    // Stops watching; true when the deadline had passed or the stop came (the handle is
    // closed).
    bool Stop()
    {
        {
            std::lock_guard lock(mutex_);
            done_ = true;
        }
        wake_.notify_all();
        if (thread_.joinable()) thread_.join();
        return expired_;
    }

private:
    std::mutex mutex_;
    std::condition_variable wake_;
    bool done_ = false;
    bool expired_ = false;
    std::thread thread_;
};

// WinINet turns a '\' in the object name into '/', which would change the value a server
// reads; sent as "%5C" it arrives as given.
std::string SendableOverWinInet(const std::string& pathAndQuery)
{
    std::string out;
    for (const char c : EscapeRequestTarget(pathAndQuery)) {
        if (c == '\\')
            out += "%5C";
        else
            out += c;
    }
    return out;
}

} // namespace

// The certificates of https hosts are checked against the Windows store; a PEM file to
// trust instead (trust.caFile) is a Linux-side option for tests.
std::string HttpGetText(const std::string& query, const std::string& path, const std::string& host,
                        const HttpTrust& /*trust*/, const std::atomic<bool>* stop)
{
    const auto stopped = [stop] { return stop && stop->load(); };
    const auto deadline = std::chrono::steady_clock::now() + TextDeadline;
    bool https = false;
    const std::string bare(StripHttpScheme(host, https));
    std::string server = bare;
    INTERNET_PORT port = https ? INTERNET_DEFAULT_HTTPS_PORT : DefaultPort;
    if (const auto colon = bare.rfind(':'); colon != std::string::npos) {
        const long value = std::strtol(bare.c_str() + colon + 1, nullptr, 10);
        if (value > 0 && value < 65536) port = static_cast<INTERNET_PORT>(value);
        server.resize(colon);
    }

    // No agent string, the system's proxy settings.
    HINTERNET rawInternet =
        InternetOpenW(nullptr, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
    if (!rawInternet) return Failed("InternetOpen Failed with error %d ");
    const auto limitMs = static_cast<unsigned long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(TextDeadline).count());
    win32::SetTimeout(rawInternet, INTERNET_OPTION_CONNECT_TIMEOUT, limitMs);
    win32::SetTimeout(rawInternet, INTERNET_OPTION_SEND_TIMEOUT, limitMs);
    win32::SetTimeout(rawInternet, INTERNET_OPTION_RECEIVE_TIMEOUT, limitMs);
    DeadlineWatch watch(rawInternet, deadline - std::chrono::steady_clock::now(), stop);
    // Closing the internet handle closes what hangs below it; the watch closes it at the
    // deadline, and otherwise it is closed here after the request and the connection.
    struct CloseUnlessExpired {
        DeadlineWatch& watch;
        HINTERNET internet;
        ~CloseUnlessExpired()
        {
            if (!watch.Stop()) InternetCloseHandle(internet);
        }
    } closeInternet{watch, rawInternet};

    InternetHandle connection(InternetConnectW(rawInternet, win32::Widen(server).c_str(), port,
                                               nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0));
    if (!connection) return Failed("InternetConnect Failed with error %d ");
    const std::wstring object = win32::Widen(SendableOverWinInet(path + query));
    // A request that starts on https stays there: no redirect down to http.
    const DWORD flags = https ? INTERNET_FLAG_SECURE : RequestFlags;
    InternetHandle request(HttpOpenRequestW(connection.get(), L"GET", object.c_str(), nullptr,
                                            nullptr, nullptr, flags, 0));
    if (!request) return Failed("HttpOpenRequest Failed with error %d ");
    if (!HttpSendRequestW(request.get(), nullptr, 0, nullptr, 0))
        return Failed("HttpSendRequest Failed with error %d ");
    if (stopped()) return {};
    // A proxy that asks for a password answers with its own page: never a feed.
    if (win32::NumberHeader(request.get(), HTTP_QUERY_STATUS_CODE) == ProxyAuthStatus) {
        WriteLog(std::string("web request ") + ProxyAuthRefusal);
        return {};
    }

    // A body that ends before its announced length is a broken answer, not a short text.
    const long long announced = win32::NumberHeader(request.get(), HTTP_QUERY_CONTENT_LENGTH);
    std::string body;
    bool full = false;
    for (;;) {
        char piece[ReadPiece];
        DWORD got = 0;
        // Ask only for what has arrived: a read of a full piece would wait for all of it.
        DWORD available = 0;
        if (!InternetQueryDataAvailable(request.get(), &available, 0, 0)) return {};
        const DWORD want = available == 0 ? 1 : std::min<DWORD>(available, ReadPiece);
        if (!InternetReadFile(request.get(), piece, want, &got)) return {};
        // A trickle keeps every read short, so the watch's close may never cut one off
        // (Wine does not end a waiting read that way either): the loop looks at the clock.
        if (std::chrono::steady_clock::now() >= deadline || stopped()) return {};
        if (got == 0) break;
        const std::size_t room = HttpTextLimit - body.size();
        body.append(piece, std::min<std::size_t>(got, room));
        if (got >= room) {
            full = true;
            break;
        }
    }
    if (std::chrono::steady_clock::now() >= deadline) return {};
    if (!full && announced >= 0 && static_cast<long long>(body.size()) < announced) return {};
    if (const auto zero = body.find('\0'); zero != std::string::npos) body.resize(zero);
    return SanitizeUtf8(body);
}

} // namespace qev
