#include "core/platform/http_get.h"

#include <curl/curl.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/base/log.h"
#include "core/base/url_codec.h"
#include "core/platform/posix/curl_refusal.h"
#include "core/base/utf.h"

namespace qev {
namespace {

void DebugLog(const char* format, int code)
{
    if (!std::getenv("QEV_DEBUG_HTTP")) return;
    std::fprintf(stderr, format, code);
    std::fputc('\n', stderr);
}

struct Body {
    std::string bytes;
    bool full = false;
};

std::size_t WriteBody(char* data, std::size_t size, std::size_t count, void* user)
{
    auto* body = static_cast<Body*>(user);
    const std::size_t n = size * count;
    const std::size_t room = HttpTextLimit - body->bytes.size();
    if (n > room) {
        // Keep what fits, then end the transfer by taking less than was offered.
        body->bytes.append(data, room);
        body->full = true;
        return 0;
    }
    body->bytes.append(data, n);
    return n;
}

int StopWhenAsked(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t)
{
    const auto* stop = static_cast<const std::atomic<bool>*>(user);
    return stop->load() ? 1 : 0;
}

// Which of the four request steps a libcurl failure corresponds to, for the diagnostics.
const char* StepText(CURLcode code)
{
    switch (code) {
    case CURLE_UNSUPPORTED_PROTOCOL:
    case CURLE_URL_MALFORMAT: return "HttpOpenRequest Failed with error %d ";
    case CURLE_COULDNT_RESOLVE_PROXY:
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_CONNECT:
    case CURLE_OPERATION_TIMEDOUT: return "InternetConnect Failed with error %d ";
    default: return "HttpSendRequest Failed with error %d ";
    }
}

} // namespace

std::string HttpGetText(const std::string& query, const std::string& path, const std::string& host,
                        const HttpTrust& trust, const std::atomic<bool>* stop)
{
    CURL* curl = curl_easy_init();
    if (!curl) {
        DebugLog("InternetOpen Failed with error %d ", 0);
        return {};
    }
    // libcurl refuses a blank or a control byte in a URL and reads '#' as the fragment: those
    // would drop the request or cut the query short.
    bool https = false;
    const std::string_view bare = StripHttpScheme(host, https);
    const std::string url =
        (https ? "https://" : "http://") + std::string(bare) + EscapeRequestTarget(path + query);
    Body body;
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(curl, CURLOPT_MAXREDIRS, HttpMaxRedirects);
    posix::SetSchemesAndTrust(curl, https, trust.caFile);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, HttpConnectTimeoutSeconds);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, HttpStallSeconds);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, HttpDeadlineMs);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, WriteBody);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &body);
    if (stop) {
        // libcurl asks at least about once a second, also while nothing arrives.
        curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
        curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, StopWhenAsked);
        curl_easy_setopt(curl, CURLOPT_XFERINFODATA, const_cast<std::atomic<bool>*>(stop));
    }

    const CURLcode code = curl_easy_perform(curl);
    if (const std::string refusal = posix::DescribeCurlRefusal(curl, code); !refusal.empty())
        WriteLog("web request " + refusal);
    long status = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    curl_easy_cleanup(curl);
    // A proxy that asks for a password answers with its own page: never a feed.
    if (status == ProxyAuthStatus) {
        WriteLog(std::string("web request ") + ProxyAuthRefusal);
        return {};
    }

    // Only a body that arrived whole is an answer: one that broke off, came up short of its
    // Content-Length or missed the deadline would hand half a feed to its reader, and a
    // redirect that could not be followed (a refused scheme, an untrusted certificate) is
    // no answer either. A body stopped at the size limit is kept.
    if (code != CURLE_OK && !(code == CURLE_WRITE_ERROR && body.full)) {
        DebugLog(StepText(code), static_cast<int>(code));
        return {};
    }
    if (const auto zero = body.bytes.find('\0'); zero != std::string::npos) body.bytes.resize(zero);
    return SanitizeUtf8(body.bytes);
}

} // namespace qev
