#pragma once
// A scripted HTTP/1.1 server for tests: listens on 127.0.0.1 at a free port, answers each
// request with the reply a test scripted, and records every raw request head so a test can
// assert exactly what was sent (the Range line, say). One request per connection.
//
//   qev::test::FakeHttpServer server;
//   server.Enqueue(qev::test::MakeReply(404, "<html>no</html>"));
//   HttpGetText("", "/x", server.host());
//   EXPECT_EQ(server.RequestLine(0), "GET /x HTTP/1.1");
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "socket_io.h"

namespace qev::test {

struct FakeRequest {
    std::string raw;    // the request head as received, "\r\n" line ends, blank line included
    std::string method; // "GET"
    std::string target; // "/path?query"
    // Value of the first header with that name (case ignored), trimmed; "" when absent.
    std::string Header(std::string_view name) const;
    // The whole header line "Name: value" as sent (without "\r\n"); "" when absent.
    std::string HeaderLine(std::string_view name) const;
};

struct FakeReply {
    int status = 200;
    std::vector<std::string> headers; // extra "Name: value" lines
    std::string body;
    bool lengthHeader = true;  // send "Content-Length: <body size>"
    long closeAfter = -1;      // close after this many body bytes (-1: send it all)
    int delayMs = 0;           // wait before answering at all
    int holdMs = 0;            // after the cut (closeAfter), keep the line open this long
    std::size_t writeSize = 0; // send the body in pieces of this size (0: one write)
    int pieceDelayMs = 0;      // wait this long before each piece after the first (a trickle)
    long missingBytes = 0;     // Content-Length counts this many bytes more than are sent
    // Sent with "Transfer-Encoding: chunked", one chunk per piece (writeSize); closeAfter
    // then counts the encoded bytes, so a cut leaves the terminator out.
    bool chunked = false;
};

// A reply with that status and body and the defaults otherwise.
FakeReply MakeReply(int status, std::string body = {});

// The reply to a GET of content: 206 with Content-Range for "Range: bytes=a-[b]" inside
// it, 416 past its end, else 200 with all of it.
FakeReply RangeReply(const std::string& content, const FakeRequest& request);

// A 206 that answers from position start of content whatever the Range asked for, with a
// Content-Range saying so (a server that resumes at the wrong place).
FakeReply WrongStartReply(const std::string& content, long long start);

class FakeHttpServer {
public:
    using Handler = std::function<FakeReply(const FakeRequest&)>;

    explicit FakeHttpServer(int port = 0); // 0: a free port; else that one (a restart)
    ~FakeHttpServer();
    FakeHttpServer(const FakeHttpServer&) = delete;
    FakeHttpServer& operator=(const FakeHttpServer&) = delete;

    int port() const { return port_; }
    // "127.0.0.1:<port>", ready for a host argument.
    std::string host() const;

    // Replies used in order, one per request; when none is queued the handler answers
    // (default: 404 with an empty body).
    void Enqueue(FakeReply reply);
    void SetHandler(Handler handler);

    // Raw heads of the requests received so far, in arrival order.
    std::vector<FakeRequest> Requests() const;
    std::size_t RequestCount() const;
    // The request line ("GET /x HTTP/1.1") of request i; "" when there is none.
    std::string RequestLine(std::size_t i) const;
    // Waits until at least n requests have arrived; false after timeoutMs.
    bool WaitForRequests(std::size_t n, int timeoutMs = 5000) const;
    // Body bytes sent so far over all connections.
    std::size_t BodyBytesSent() const;

private:
    void AcceptLoop();
    void Serve(Socket fd);
    bool SleepUnlessStopped(int ms);

    Socket listenFd_ = NoSocket;
    Socket wakePipe_[2] = {NoSocket, NoSocket};
    int port_ = 0;
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    bool stopping_ = false;
    std::deque<FakeReply> queue_;
    Handler handler_;
    std::vector<FakeRequest> requests_;
    std::size_t bodyBytesSent_ = 0;
    struct Connection {
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> done;
    };
    std::vector<Connection> connections_; // finished ones are joined as new ones come
    std::thread acceptThread_;
};

} // namespace qev::test
