#include "core/platform/http_stream.h"

#include <curl/curl.h>
#include <strings.h>

#include <algorithm>
#include <cstdlib>

#include "core/platform/posix/curl_refusal.h"

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

struct HttpStream::Transfer {
    CURLM* multi = nullptr;
    CURL* easy = nullptr;
    curl_slist* headerList = nullptr;
    std::string url;
    std::string userPassword;
    std::string rawHeaders;
    std::string block; // header lines of the answer being received
    bool blockHasLocation = false;
    bool headDone = false;
    int status = 0;
    std::string pending; // body bytes received but not yet read
    std::size_t pendingPos = 0;
    bool paused = false;
    bool ended = false;
    int error = 0;
    std::string refusal;
    bool refused = false;
    int pollMs = 100;

    ~Transfer()
    {
        if (multi && easy) curl_multi_remove_handle(multi, easy);
        if (easy) curl_easy_cleanup(easy);
        if (multi) curl_multi_cleanup(multi);
        curl_slist_free_all(headerList);
    }

    static std::size_t OnHeader(char* data, std::size_t size, std::size_t count, void* self);
    static std::size_t OnBody(char* data, std::size_t size, std::size_t count, void* self);
    // Runs the transfer once and waits a little for activity; false once it has ended.
    bool Pump();
};

#include "core/platform/http_stream_common.inc"

std::size_t HttpStream::Transfer::OnHeader(char* data, std::size_t size, std::size_t count,
                                           void* self)
{
    auto* s = static_cast<Transfer*>(self);
    const std::size_t n = size * count;
    if (s->headDone) return n; // trailers of a chunked body
    const std::string line(data, n);
    if (line.rfind("HTTP/", 0) == 0) {
        s->block = line;
        s->blockHasLocation = false;
    } else if (line == "\r\n" || line == "\n") {
        s->block += line;
        const int code = StatusOfLine(s->block.substr(0, s->block.find('\n')));
        // 1xx heads and redirects that will be followed are not the answer.
        const bool followed = code >= 300 && code < 400 && s->blockHasLocation;
        if (code >= 200 && !followed) {
            s->headDone = true;
            s->status = code;
            s->rawHeaders = s->block;
        }
    } else {
        s->block += line;
        if (strncasecmp(line.c_str(), "Location:", 9) == 0) s->blockHasLocation = true;
    }
    return n;
}

std::size_t HttpStream::Transfer::OnBody(char* data, std::size_t size, std::size_t count,
                                         void* self)
{
    auto* s = static_cast<Transfer*>(self);
    const std::size_t n = size * count;
    if (s->pending.size() - s->pendingPos >= PendingHighWater) {
        // The reader is behind: let the socket hold the rest until it catches up.
        s->paused = true;
        return CURL_WRITEFUNC_PAUSE;
    }
    s->pending.append(data, n);
    return n;
}

int HttpStream::Open(const std::string& objectPath, const std::vector<std::string>& headers)
{
    Close();
    transfer_ = std::make_unique<Transfer>();
    Transfer& t = *transfer_;
    t.pollMs = options_.pollMs;
    t.multi = curl_multi_init();
    t.easy = curl_easy_init();
    if (!t.multi || !t.easy) return CURLE_FAILED_INIT;
    t.url = (options_.https ? "https://" : "http://") + options_.host + ":" +
            std::to_string(options_.port) + objectPath;
    for (const auto& h : headers) t.headerList = curl_slist_append(t.headerList, h.c_str());

    CURL* easy = t.easy;
    curl_easy_setopt(easy, CURLOPT_URL, t.url.c_str());
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, t.headerList);
    curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &Transfer::OnHeader);
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, &t);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &Transfer::OnBody);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, &t);
    curl_easy_setopt(easy, CURLOPT_BUFFERSIZE, ReceiveBufferBytes);
    curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(easy, CURLOPT_MAXREDIRS, MaxRedirects);
    posix::SetSchemesAndTrust(easy, options_.https, options_.caFile);
    curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, options_.connectTimeoutMs);
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_TIME, options_.stallSeconds);
    if (!options_.userName.empty()) {
        t.userPassword = options_.userName + ":" + options_.password;
        curl_easy_setopt(easy, CURLOPT_USERPWD, t.userPassword.c_str());
    }
    if (curl_multi_add_handle(t.multi, t.easy) != CURLM_OK) return CURLE_FAILED_INIT;

    while (!t.headDone) {
        if (cancelled()) return CURLE_ABORTED_BY_CALLBACK;
        if (!t.Pump()) break;
    }
    if (t.headDone) return 0;
    t.refusal = posix::DescribeCurlRefusal(t.easy, static_cast<CURLcode>(t.error));
    t.refused = t.error == CURLE_COULDNT_CONNECT;
    return t.error != 0 ? t.error : CURLE_GOT_NOTHING;
}

bool HttpStream::Transfer::Pump()
{
    int running = 0;
    curl_multi_perform(multi, &running);
    int left = 0;
    while (CURLMsg* msg = curl_multi_info_read(multi, &left)) {
        if (msg->msg == CURLMSG_DONE) {
            ended = true;
            error = msg->data.result;
        }
    }
    if (ended) return false;
    if (pendingPos < pending.size()) return true;
    curl_multi_poll(multi, nullptr, 0, pollMs, nullptr);
    return true;
}

std::size_t HttpStream::Read(char* out, std::size_t n)
{
    if (!transfer_ || !transfer_->easy || n == 0) return 0;
    Transfer& t = *transfer_;
    while (t.pendingPos >= t.pending.size()) {
        t.pending.clear();
        t.pendingPos = 0;
        if (cancelled()) return 0;
        if (t.paused) {
            t.paused = false;
            curl_easy_pause(t.easy, CURLPAUSE_CONT);
            continue;
        }
        if (t.ended) return 0;
        t.Pump();
    }
    const std::size_t take = std::min(n, t.pending.size() - t.pendingPos);
    std::copy_n(t.pending.data() + t.pendingPos, take, out);
    t.pendingPos += take;
    return take;
}

} // namespace qev
