#include "fake_http_server.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <chrono>
#include <stdexcept>

namespace qev::test {
namespace {

std::string Trim(std::string_view s)
{
    const auto b = s.find_first_not_of(" \t");
    if (b == std::string_view::npos) return {};
    const auto e = s.find_last_not_of(" \t");
    return std::string(s.substr(b, e - b + 1));
}

const char* Reason(int status)
{
    switch (status) {
    case 200: return "OK";
    case 206: return "Partial Content";
    case 301: return "Moved Permanently";
    case 302: return "Found";
    case 404: return "Not Found";
    case 416: return "Range Not Satisfiable";
    case 500: return "Internal Server Error";
    default: return "Status";
    }
}

bool SameLetters(std::string_view a, std::string_view b)
{
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) ==
               std::tolower(static_cast<unsigned char>(y));
    });
}

} // namespace

std::string FakeRequest::HeaderLine(std::string_view name) const
{
    std::size_t pos = raw.find("\r\n");
    while (pos != std::string::npos && pos + 2 < raw.size()) {
        const std::size_t start = pos + 2;
        const std::size_t end = raw.find("\r\n", start);
        const std::string_view line(raw.data() + start,
                                    (end == std::string::npos ? raw.size() : end) - start);
        const auto colon = line.find(':');
        if (colon == name.size() && SameLetters(line.substr(0, colon), name))
            return std::string(line);
        pos = end;
    }
    return {};
}

std::string FakeRequest::Header(std::string_view name) const
{
    const std::string line = HeaderLine(name);
    return line.empty() ? line : Trim(std::string_view(line).substr(name.size() + 1));
}

FakeReply MakeReply(int status, std::string body)
{
    FakeReply reply;
    reply.status = status;
    reply.body = std::move(body);
    return reply;
}

FakeReply RangeReply(const std::string& content, const FakeRequest& request)
{
    FakeReply reply;
    const std::string range = request.Header("Range");
    long long first = -1, last = -1;
    if (range.rfind("bytes=", 0) == 0) {
        const std::string bounds = range.substr(6);
        const auto dash = bounds.find('-');
        if (dash != std::string::npos && dash > 0) {
            try {
                first = std::stoll(bounds.substr(0, dash));
                if (dash + 1 < bounds.size()) last = std::stoll(bounds.substr(dash + 1));
            } catch (const std::exception&) {
                first = last = -1; // unreadable: answer as if there were no Range
            }
        }
    }
    const auto size = static_cast<long long>(content.size());
    if (first < 0) {
        reply.body = content;
        return reply;
    }
    if (first >= size) {
        reply.status = 416;
        reply.headers.push_back("Content-Range: bytes */" + std::to_string(size));
        return reply;
    }
    if (last < 0 || last >= size) last = size - 1;
    reply.status = 206;
    reply.body =
        content.substr(static_cast<std::size_t>(first), static_cast<std::size_t>(last - first + 1));
    reply.headers.push_back("Content-Range: bytes " + std::to_string(first) + "-" +
                            std::to_string(last) + "/" + std::to_string(size));
    return reply;
}

FakeReply WrongStartReply(const std::string& content, long long start)
{
    const auto size = static_cast<long long>(content.size());
    start = std::clamp(start, 0LL, size > 0 ? size - 1 : 0);
    FakeReply reply;
    reply.status = 206;
    reply.body = content.substr(static_cast<std::size_t>(start));
    reply.headers.push_back("Content-Range: bytes " + std::to_string(start) + "-" +
                            std::to_string(size - 1) + "/" + std::to_string(size));
    return reply;
}

FakeHttpServer::FakeHttpServer(int port) : port_(port)
{
    listenFd_ = ListenOnLoopback(port_);
    if (listenFd_ == NoSocket || !MakeWakePair(wakePipe_))
        throw std::runtime_error("fake server: socket");
    handler_ = [](const FakeRequest&) { return MakeReply(404); };
    acceptThread_ = std::thread([this] { AcceptLoop(); });
}

FakeHttpServer::~FakeHttpServer()
{
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    Wake(wakePipe_[1]);
    acceptThread_.join();
    for (auto& c : connections_) c.thread.join();
    CloseSocket(listenFd_);
    CloseSocket(wakePipe_[0]);
    CloseSocket(wakePipe_[1]);
}

std::string FakeHttpServer::host() const
{
    return "127.0.0.1:" + std::to_string(port_);
}

void FakeHttpServer::Enqueue(FakeReply reply)
{
    std::lock_guard lock(mutex_);
    queue_.push_back(std::move(reply));
}

void FakeHttpServer::SetHandler(Handler handler)
{
    std::lock_guard lock(mutex_);
    handler_ = std::move(handler);
}

std::vector<FakeRequest> FakeHttpServer::Requests() const
{
    std::lock_guard lock(mutex_);
    return requests_;
}

std::size_t FakeHttpServer::RequestCount() const
{
    std::lock_guard lock(mutex_);
    return requests_.size();
}

std::string FakeHttpServer::RequestLine(std::size_t i) const
{
    std::lock_guard lock(mutex_);
    if (i >= requests_.size()) return {};
    return requests_[i].raw.substr(0, requests_[i].raw.find("\r\n"));
}

bool FakeHttpServer::WaitForRequests(std::size_t n, int timeoutMs) const
{
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                             [&] { return requests_.size() >= n; });
}

std::size_t FakeHttpServer::BodyBytesSent() const
{
    std::lock_guard lock(mutex_);
    return bodyBytesSent_;
}

bool FakeHttpServer::SleepUnlessStopped(int ms)
{
    std::unique_lock lock(mutex_);
    return !changed_.wait_for(lock, std::chrono::milliseconds(ms), [&] { return stopping_; });
}

void FakeHttpServer::AcceptLoop()
{
    for (;;) {
        const int ready = WaitReadable(listenFd_, wakePipe_[0], -1);
        if (ready == 2 || ready < 0) return;
        if (ready != 1) continue;
        const Socket fd = AcceptConnection(listenFd_);
        if (fd == NoSocket) continue;
        std::lock_guard lock(mutex_);
        // A long soak opens thousands of connections: join the ended ones as we go.
        for (auto it = connections_.begin(); it != connections_.end();) {
            if (!it->done->load()) {
                ++it;
                continue;
            }
            it->thread.join();
            it = connections_.erase(it);
        }
        auto done = std::make_shared<std::atomic<bool>>(false);
        connections_.push_back({std::thread([this, fd, done] {
                                    Serve(fd);
                                    CloseSocket(fd);
                                    done->store(true);
                                }),
                                done});
    }
}

void FakeHttpServer::Serve(Socket fd)
{
    std::string head;
    char buffer[4096];
    while (head.find("\r\n\r\n") == std::string::npos) {
        if (WaitReadable(fd, wakePipe_[0], 10000) != 1) return;
        const long n = Receive(fd, buffer, sizeof buffer);
        if (n <= 0) return;
        head.append(buffer, static_cast<std::size_t>(n));
    }
    head.resize(head.find("\r\n\r\n") + 4);
    FakeRequest request;
    request.raw = head;
    const std::string line = head.substr(0, head.find("\r\n"));
    const auto sp1 = line.find(' ');
    const auto sp2 = line.find(' ', sp1 == std::string::npos ? 0 : sp1 + 1);
    if (sp1 != std::string::npos) {
        request.method = line.substr(0, sp1);
        request.target =
            line.substr(sp1 + 1, sp2 == std::string::npos ? std::string::npos : sp2 - sp1 - 1);
    }

    FakeReply reply;
    {
        std::unique_lock lock(mutex_);
        requests_.push_back(request);
        if (!queue_.empty()) {
            reply = std::move(queue_.front());
            queue_.pop_front();
        } else {
            Handler handler = handler_;
            lock.unlock();
            reply = handler(request);
        }
    }
    changed_.notify_all();

    if (reply.delayMs > 0 && !SleepUnlessStopped(reply.delayMs)) return;
    std::string out = "HTTP/1.1 " + std::to_string(reply.status) + " " + Reason(reply.status) +
                      "\r\nConnection: close\r\n";
    if (reply.lengthHeader)
        out += "Content-Length: " +
               std::to_string(static_cast<long>(reply.body.size()) + reply.missingBytes) + "\r\n";
    if (reply.chunked) {
        out += "Transfer-Encoding: chunked\r\n";
        std::string encoded;
        const std::size_t size = reply.writeSize ? reply.writeSize : reply.body.size();
        for (std::size_t at = 0; at < reply.body.size(); at += size) {
            const std::string piece = reply.body.substr(at, size);
            char hex[20];
            const auto end = std::to_chars(hex, hex + sizeof hex, piece.size(), 16).ptr;
            encoded += std::string(hex, end) + "\r\n" + piece + "\r\n";
        }
        reply.body = encoded + "0\r\n\r\n";
        reply.writeSize = 0;
    }
    for (const auto& h : reply.headers) out += h + "\r\n";
    out += "\r\n";
    if (!SendAll(fd, out.data(), out.size())) return;

    std::size_t toSend = reply.body.size();
    if (reply.closeAfter >= 0)
        toSend = std::min(toSend, static_cast<std::size_t>(reply.closeAfter));
    const std::size_t piece = reply.writeSize ? reply.writeSize : toSend;
    for (std::size_t done = 0; done < toSend;) {
        const std::size_t n = std::min(piece, toSend - done);
        if (done > 0 && reply.pieceDelayMs > 0 && !SleepUnlessStopped(reply.pieceDelayMs)) return;
        if (!SendAll(fd, reply.body.data() + done, n)) return;
        done += n;
        {
            std::lock_guard lock(mutex_);
            bodyBytesSent_ += n;
        }
        changed_.notify_all();
    }
    if (reply.holdMs > 0) SleepUnlessStopped(reply.holdMs);
    ShutdownBoth(fd);
}

} // namespace qev::test
