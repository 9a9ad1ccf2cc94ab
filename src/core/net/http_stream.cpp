#include "net/http_stream.h"

#include <curl/curl.h>
#include <strings.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace qev {
namespace {

// Body bytes held for the reader before the transfer is paused.
constexpr std::size_t PendingHighWater = 128 * 1024;
constexpr long ReceiveBufferBytes = 64 * 1024;
constexpr long MaxRedirects = 10;

int StatusOfLine(const std::string& line)
{
    // "HTTP/1.1 206 Partial Content"
    const auto space = line.find(' ');
    if (space == std::string::npos) return 0;
    return std::atoi(line.c_str() + space + 1);
}

} // namespace

HttpStream::HttpStream(HttpStreamOptions options) : options_(std::move(options)) {}

HttpStream::~HttpStream()
{
    Close();
}

bool HttpStream::cancelled() const
{
    return options_.cancel && options_.cancel->load();
}

std::size_t HttpStream::OnHeader(char* data, std::size_t size, std::size_t count, void* self)
{
    auto* s = static_cast<HttpStream*>(self);
    const std::size_t n = size * count;
    if (s->headDone_) return n; // trailers of a chunked body
    const std::string line(data, n);
    if (line.rfind("HTTP/", 0) == 0) {
        s->block_ = line;
        s->blockHasLocation_ = false;
    } else if (line == "\r\n" || line == "\n") {
        s->block_ += line;
        const int code = StatusOfLine(s->block_.substr(0, s->block_.find('\n')));
        // 1xx heads and redirects that will be followed are not the answer.
        const bool followed = code >= 300 && code < 400 && s->blockHasLocation_;
        if (code >= 200 && !followed) {
            s->headDone_ = true;
            s->status_ = code;
            s->rawHeaders_ = s->block_;
        }
    } else {
        s->block_ += line;
        if (strncasecmp(line.c_str(), "Location:", 9) == 0) s->blockHasLocation_ = true;
    }
    return n;
}

std::size_t HttpStream::OnBody(char* data, std::size_t size, std::size_t count, void* self)
{
    auto* s = static_cast<HttpStream*>(self);
    const std::size_t n = size * count;
    if (s->pending_.size() - s->pendingPos_ >= PendingHighWater) {
        // The reader is behind: let the socket hold the rest until it catches up.
        s->paused_ = true;
        return CURL_WRITEFUNC_PAUSE;
    }
    s->pending_.append(data, n);
    return n;
}

int HttpStream::Open(const std::string& objectPath, const std::vector<std::string>& headers)
{
    Close();
    multi_ = curl_multi_init();
    easy_ = curl_easy_init();
    if (!multi_ || !easy_) return CURLE_FAILED_INIT;
    url_ = "http://" + options_.host + ":" + std::to_string(options_.port) + objectPath;
    curl_slist* list = nullptr;
    for (const auto& h : headers) list = curl_slist_append(list, h.c_str());
    headerList_ = list;

    CURL* easy = easy_;
    curl_easy_setopt(easy, CURLOPT_URL, url_.c_str());
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, list);
    curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &HttpStream::OnHeader);
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, this);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &HttpStream::OnBody);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, this);
    curl_easy_setopt(easy, CURLOPT_BUFFERSIZE, ReceiveBufferBytes);
    curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(easy, CURLOPT_MAXREDIRS, MaxRedirects);
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http");
    curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, "http");
    curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, options_.connectTimeoutMs);
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_TIME, options_.stallSeconds);
    if (!options_.userName.empty()) {
        userPassword_ = options_.userName + ":" + options_.password;
        curl_easy_setopt(easy, CURLOPT_USERPWD, userPassword_.c_str());
    }
    if (curl_multi_add_handle(multi_, easy_) != CURLM_OK) return CURLE_FAILED_INIT;

    while (!headDone_) {
        if (cancelled()) return CURLE_ABORTED_BY_CALLBACK;
        if (!Pump()) break;
    }
    if (headDone_) return 0;
    return error_ != 0 ? error_ : CURLE_GOT_NOTHING;
}

bool HttpStream::Pump()
{
    int running = 0;
    curl_multi_perform(multi_, &running);
    int left = 0;
    while (CURLMsg* msg = curl_multi_info_read(multi_, &left)) {
        if (msg->msg == CURLMSG_DONE) {
            ended_ = true;
            error_ = msg->data.result;
        }
    }
    if (ended_) return false;
    if (pendingPos_ < pending_.size()) return true;
    curl_multi_poll(multi_, nullptr, 0, options_.pollMs, nullptr);
    return true;
}

std::size_t HttpStream::Read(char* out, std::size_t n)
{
    if (!easy_ || n == 0) return 0;
    while (pendingPos_ >= pending_.size()) {
        pending_.clear();
        pendingPos_ = 0;
        if (cancelled()) return 0;
        if (paused_) {
            paused_ = false;
            curl_easy_pause(easy_, CURLPAUSE_CONT);
            continue;
        }
        if (ended_) return 0;
        Pump();
    }
    const std::size_t take = std::min(n, pending_.size() - pendingPos_);
    std::memcpy(out, pending_.data() + pendingPos_, take);
    pendingPos_ += take;
    return take;
}

void HttpStream::Close()
{
    if (multi_ && easy_) curl_multi_remove_handle(multi_, easy_);
    if (easy_) curl_easy_cleanup(easy_);
    if (multi_) curl_multi_cleanup(multi_);
    curl_slist_free_all(static_cast<curl_slist*>(headerList_));
    easy_ = multi_ = headerList_ = nullptr;
    rawHeaders_.clear();
    block_.clear();
    blockHasLocation_ = headDone_ = paused_ = ended_ = false;
    status_ = error_ = 0;
    pending_.clear();
    pendingPos_ = 0;
}

} // namespace qev
