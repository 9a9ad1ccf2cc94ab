#pragma once
// A pull-style HTTP GET over libcurl's multi interface: Open() sends the request and waits
// for the answer's head (status and raw header lines); Read() then hands out body bytes as
// the caller asks for them. The transfer is paused while the caller is not reading, so at
// most a small amount is held in memory whatever the body size.
#include <atomic>
#include <cstddef>
#include <string>
#include <vector>

namespace qev {

struct HttpStreamOptions {
    std::string host; // server name (no port)
    int port = 80;
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
    // the final answer's head. 0 on success, else a libcurl error code (the request could
    // not be sent, or no answer came).
    int Open(const std::string& objectPath, const std::vector<std::string>& headers);

    int status() const { return status_; }
    // The final answer's status line and header lines, each ending in "\r\n", then "\r\n".
    const std::string& rawHeaders() const { return rawHeaders_; }

    // Up to n body bytes into out; blocks until some arrive. 0 means the body stopped:
    // it ended, the connection broke, it stalled, or the wait was cancelled.
    std::size_t Read(char* out, std::size_t n);
    // The libcurl result of the transfer once it has ended (0 while running or complete).
    int error() const { return error_; }
    bool cancelled() const;

    void Close();

private:
    static std::size_t OnHeader(char* data, std::size_t size, std::size_t count, void* self);
    static std::size_t OnBody(char* data, std::size_t size, std::size_t count, void* self);
    // Runs the transfer once and waits a little for activity; false once it has ended.
    bool Pump();

    HttpStreamOptions options_;
    void* multi_ = nullptr;
    void* easy_ = nullptr;
    void* headerList_ = nullptr;
    std::string url_;
    std::string userPassword_;
    std::string rawHeaders_;
    std::string block_; // header lines of the answer being received
    bool blockHasLocation_ = false;
    bool headDone_ = false;
    int status_ = 0;
    std::string pending_; // body bytes received but not yet read
    std::size_t pendingPos_ = 0;
    bool paused_ = false;
    bool ended_ = false;
    int error_ = 0;
};

} // namespace qev
