// qev-fetch [--buffer BYTES] [--stall-seconds N] [--retry-ms N] [--ca-file PEM] URL DIR
// Downloads URL into DIR the way the update flow does (same thread, notices and chunk
// writer; the file is named after the URL's decoded last segment), printing one line per
// notice. Exit status 0 when the object completed and was written whole, 1 otherwise,
// 2 for a usage error. --stall-seconds and --retry-ms shorten the thread's waits (a
// silent body, the pause before reconnecting), for soak runs against a hostile server;
// --ca-file trusts a test's own certificate authority instead of the system's store.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

#include "core/base/log.h"
#include "core/base/url_codec.h"
#include "core/net/chunk_writer.h"
#include "core/net/download_thread.h"
#include "core/net/update_downloads.h"
#include "core/platform/files.h"
#include "core/platform/network_init.h"

namespace {

constexpr int FetchId = 1;

int Usage()
{
    std::fprintf(stderr, "usage: qev-fetch [--buffer BYTES] [--stall-seconds N] [--retry-ms N] "
                         "[--ca-file PEM] http[s]://HOST[:PORT]/PATH DIR\n");
    return 2;
}

// "http[s]://host[:port]/path?query" → host with port (and "https://" when so), and the
// object path (at least "/").
bool SplitUrl(const std::string& url, std::string& host, std::string& object)
{
    bool https = false;
    const std::string rest(qev::StripHttpScheme(url, https));
    if (rest.size() == url.size()) return false; // no scheme
    const auto end = rest.find_first_of("/?");
    host = (https ? "https://" : "") + rest.substr(0, end);
    object = end == std::string::npos ? "/" : rest.substr(end);
    if (!object.empty() && object[0] == '?') object = "/" + object;
    return end != 0 && !rest.empty();
}

} // namespace

int main(int argc, char** argv)
{
    int bufferSize = 0;
    std::string caFile;
    qev::DownloadTiming timing;
    int argi = 1;
    // A positive decimal of at most max, or -1.
    const auto number = [](const char* text, long max) {
        char* end = nullptr;
        errno = 0;
        const long value = std::strtol(text, &end, 10);
        return errno != 0 || *end != '\0' || value <= 0 || value > max ? -1L : value;
    };
    while (argi + 1 < argc && std::strncmp(argv[argi], "--", 2) == 0) {
        const std::string option = argv[argi];
        long value = -1;
        if (option == "--buffer") {
            value = number(argv[argi + 1], qev::MaxBufferSize);
            bufferSize = static_cast<int>(value);
        } else if (option == "--stall-seconds") {
            value = number(argv[argi + 1], 3600);
            timing.stallSeconds = value;
        } else if (option == "--ca-file") {
            caFile = argv[argi + 1];
            value = caFile.empty() ? -1 : 1;
        } else if (option == "--retry-ms") {
            value = number(argv[argi + 1], 60000);
            timing.retryWaitMs = static_cast<int>(value);
        }
        if (value < 0) return Usage();
        argi += 2;
    }
    if (argc - argi != 2) return Usage();
    std::string host, object;
    if (!SplitUrl(argv[argi], host, object)) return Usage();
    std::string dir = argv[argi + 1];
    if (dir.empty()) return Usage();
    if (dir.back() != '/') dir += '/';

    qev::SetLogFolderSource(qev::GetLogFolder);
    const auto folder = qev::UpdateFolder::OpenPlain(dir);
    if (!folder) {
        std::fprintf(stderr, "qev-fetch: cannot open the folder %s\n", dir.c_str());
        return 1;
    }
    if (!qev::InitNetwork()) return 1;
    qev::DownloadFileWriter writer(folder.get());
    qev::CHttpDownloadThread thread(timing);
    std::mutex mutex;
    bool complete = false;
    const qev::NoticeSink sink = [&](const qev::DownloadNotice& n) {
        std::lock_guard lock(mutex);
        std::printf("kind=%d code=%d received=%d expectedEnd=%d chunk=%d\n", n.kind, n.code,
                    n.received, n.expectedEnd, n.chunkLength);
        writer.OnNotice(n);
        // The first failed write ends the download: the rest could not be kept either.
        const bool carries = n.kind == qev::NoticeChunk || n.kind == qev::NoticeComplete;
        if (carries && !writer.Intact(n.id)) thread.RequestExit();
        if (n.kind == qev::NoticeComplete)
            complete = !writer.TargetPath(n).empty() && writer.Intact(n.id);
    };

    // Without --buffer: the update flow's own sizes (default, then grown to 2 MiB).
    qev::PostDownloadStart(thread, FetchId, object, host, sink, bufferSize,
                           bufferSize ? 0 : qev::UpdateDownloads::GrownBufferSize, caFile);
    // The thread ends after the task is done; resting without a task means it gave up
    // (an unreachable server reports nothing more).
    while (!thread.WaitIdle(60000)) {
    }
    thread.RequestExit();
    thread.WaitFinished(5000);
    std::fflush(stdout);
    std::lock_guard lock(mutex);
    return complete ? 0 : 1;
}
