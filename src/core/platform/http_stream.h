#pragma once
// A pull-style HTTP GET: Open() sends the request and waits for the answer's head (status
// and raw header lines); Read() then hands out body bytes as the caller asks for them. At
// most a small amount is held in memory whatever the body size. Linux runs it over
// libcurl's multi interface (the transfer pauses while the caller is not reading), Windows
// over WinINet (platform/posix, platform/win32).
#include <atomic>
#include <cstddef>
#include <memory>
#include <string>
#include <vector>

namespace qev {

struct HttpStreamOptions {
    std::string host; // server name (no port)
    int port = 80;
    // https: certificates checked against the system's store (or caFile, for tests), and
    // redirects followed only to https. http: redirects followed to http and https.
    bool https = false;
    std::string caFile;
    std::string userName; // empty: none
    std::string password; // empty: none
    long connectTimeoutMs = 30000;
    long stallSeconds = 60; // a body that brings nothing this long counts as stopped
    // When set and true, every wait gives up at once (checked at least every pollMs).
    const std::atomic<bool>* cancel = nullptr;
    int pollMs = 100;
};

class HttpStream {
public:
    explicit HttpStream(HttpStreamOptions options);
    ~HttpStream();
    HttpStream(const HttpStream&) = delete;
    HttpStream& operator=(const HttpStream&) = delete;

    // Sends "GET objectPath" with the extra header lines (without "\r\n") and waits for
    // the final answer's head. 0 on success, else the HTTP stack's error code (the request
    // could not be sent, or no answer came).
    int Open(const std::string& objectPath, const std::vector<std::string>& headers);

    int status() const;
    // The final answer's status line and header lines, each ending in "\r\n", then "\r\n".
    const std::string& rawHeaders() const;

    // Up to n body bytes into out; blocks until some arrive. 0 means the body stopped:
    // it ended, the connection broke, it stalled, or the wait was cancelled.
    std::size_t Read(char* out, std::size_t n);
    // The HTTP stack's result of the transfer once it has ended (0 while running or
    // complete).
    int error() const;
    bool cancelled() const;
    // True once the body has ended as the transport says a body ends: a chunked body's
    // terminator, or the server's close without a fault. The only end a body without an
    // announced length has.
    bool EndedCleanly() const;
    // After a failed Open: one line for the log when the server's certificate or a redirect
    // was refused ("certificate refused (expired): https://..."), else "".
    const std::string& refusal() const;
    // After a failed Open: true when the server refused the connection (nothing listens).
    bool refused() const;

    void Close();

private:
    // The HTTP stack's handles and the answer received so far; one per platform.
    struct Transfer;

    HttpStreamOptions options_;
    std::unique_ptr<Transfer> transfer_;
};

} // namespace qev
