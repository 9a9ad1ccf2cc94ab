#include "portal_server.h"

#include "byte_range.h"
#include "http_text.h"
#include "portal_content.h"
#include "served_file.h"

#include <httplib.h>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace qev::portal {
namespace {

// Bytes read from a file per write to the socket: large files stream, never load whole.
constexpr std::size_t StreamChunk = 256 * 1024;
// A paced body goes out in pieces of about a twentieth of a second's worth, within these.
constexpr std::size_t MinPacedChunk = 1024;
constexpr std::size_t MaxPacedChunk = 64 * 1024;
// How long Start waits for its listening threads, in milliseconds.
constexpr int StartWaitSteps = 5000;

enum class HostKind { Portal, Game, Forum, Static };

const char* HostLabel(HostKind kind)
{
    switch (kind) {
    case HostKind::Portal: return "portal";
    case HostKind::Game: return "game";
    case HostKind::Forum: return "forum";
    case HostKind::Static: return "static";
    }
    return "?";
}

std::mutex logMutex;

void LogLine(const std::string& line)
{
    std::lock_guard lock(logMutex);
    std::fputs(line.c_str(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

// The body of a download: generated text or a regular file, read at any offset.
class ServedObject {
public:
    explicit ServedObject(std::string text) : text(std::move(text)), size(this->text.size()) {}
    ServedObject(int fd, std::uint64_t size) : fd(fd), size(size) {}
    ~ServedObject()
    {
        if (fd >= 0) ::close(fd);
    }
    ServedObject(const ServedObject&) = delete;
    ServedObject& operator=(const ServedObject&) = delete;

    std::uint64_t Size() const { return size; }

    // Fills `out` with `length` bytes from `offset`; false when the file ended early or failed.
    bool Read(std::uint64_t offset, char* out, std::size_t length) const
    {
        if (fd < 0) {
            if (offset > text.size() || length > text.size() - offset) return false;
            text.copy(out, length, static_cast<std::size_t>(offset));
            return true;
        }
        while (length > 0) {
            const ssize_t got = ::pread(fd, out, length, static_cast<off_t>(offset));
            if (got < 0 && errno == EINTR) continue;
            if (got <= 0) return false;
            out += got;
            offset += static_cast<std::uint64_t>(got);
            length -= static_cast<std::size_t>(got);
        }
        return true;
    }

    // Takes an open regular file (or -1, giving none).
    static std::shared_ptr<ServedObject> FromFile(int fd)
    {
        if (fd < 0) return nullptr;
        struct stat info {};
        if (::fstat(fd, &info) != 0) {
            ::close(fd);
            return nullptr;
        }
        return std::make_shared<ServedObject>(fd, static_cast<std::uint64_t>(info.st_size));
    }

private:
    std::string text;
    int fd = -1;
    std::uint64_t size = 0;
};

// One response streaming a whole or partial object, with the optional deliberate drop and
// the optional pace.
struct Transfer {
    std::shared_ptr<ServedObject> object;
    std::uint64_t first = 0;
    std::uint64_t dropAfter = 0; // 0: send everything
    std::uint64_t rate = 0;      // bytes per second; 0: as fast as the socket takes them
    std::chrono::steady_clock::time_point started;
    std::vector<char> buffer;
    std::string logTag;

    std::size_t Chunk() const
    {
        if (rate == 0) return StreamChunk;
        return static_cast<std::size_t>(
            std::clamp<std::uint64_t>(rate / 20, MinPacedChunk, MaxPacedChunk));
    }

    // Waits until `sent` bytes are due at the rate. A wait is a piece's worth, so a stopping
    // server, which ends a body between pieces, is not held up.
    void WaitForTurn(std::uint64_t sent)
    {
        if (rate == 0) return;
        if (sent == 0) started = std::chrono::steady_clock::now();
        std::this_thread::sleep_until(started + std::chrono::microseconds(sent * 1000000 / rate));
    }
};

bool IsPlainFileName(const std::string& name)
{
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
           name.find('\0') == std::string::npos;
}

std::size_t HeaderBytes(const httplib::Headers& headers)
{
    std::size_t bytes = 0;
    for (const auto& [name, value] : headers) bytes += name.size() + value.size() + 4;
    return bytes;
}

} // namespace

struct DemoPortal::Impl {
    struct Host {
        HostKind kind;
        int port;
        std::unique_ptr<httplib::Server> serverObject;
        httplib::Server& server;
        std::thread thread;
        explicit Host(std::unique_ptr<httplib::Server> made)
            : serverObject(std::move(made)), server(*serverObject)
        {
        }
    };

    PortalOptions options;
    std::string linkFallbackName; // host name for links when a request has no usable Host
    std::string packageName;      // file name the manifest offers; empty without an update
    std::string statement;        // served beside the package as its ".sig"
    std::vector<std::unique_ptr<Host>> hosts;
    // The game site's generated files, made once.
    std::shared_ptr<ServedObject> pack, music, reward;
    std::string packEtag;
    std::atomic<std::uint64_t> packRequests{0}, packFull{0}, packNotModified{0};

    Impl(PortalOptions o, std::string offeredStatement)
        : options(std::move(o)), statement(std::move(offeredStatement))
    {
        const std::string packText =
            PackScript(static_cast<std::size_t>(options.assetMiB) * BytesPerMiB);
        packEtag = StrongEtag(packText);
        pack = std::make_shared<ServedObject>(packText);
        music = std::make_shared<ServedObject>(MusicWav());
        reward = std::make_shared<ServedObject>(RewardData(RewardBytes));
        const std::string& bind = options.bindAddress;
        // A wildcard or IPv6 listen address is no name to put into links.
        const bool linkable = bind != "0.0.0.0" && bind.find(':') == std::string::npos;
        linkFallbackName = linkable ? bind : "127.0.0.1";
        if (!options.offerUpdateFile.empty()) {
            packageName = std::filesystem::path(options.offerUpdateFile).filename().string();
        }
        const HostKind kinds[] = {HostKind::Portal, HostKind::Game, HostKind::Forum,
                                  HostKind::Static};
        const int offsets[] = {0, GamePortOffset, ForumPortOffset, StaticPortOffset};
        for (int i = 0; i < 4; ++i) {
            std::unique_ptr<httplib::Server> server;
            if (Tls())
                server = std::make_unique<httplib::SSLServer>(options.tlsCertFile.c_str(),
                                                              options.tlsKeyFile.c_str());
            else
                server = std::make_unique<httplib::Server>();
            auto host = std::make_unique<Host>(std::move(server));
            host->kind = kinds[i];
            host->port = options.port + offsets[i];
            Configure(*host);
            hosts.push_back(std::move(host));
        }
    }

    bool Tls() const { return !options.tlsCertFile.empty(); }

    HostSet HostsFor(const httplib::Request& req) const
    {
        HostSet set;
        set.name = HostNameFromHeader(req.get_header_value("Host"), linkFallbackName);
        set.portalPort = options.port;
        set.gamePort = options.port + GamePortOffset;
        set.forumPort = options.port + ForumPortOffset;
        set.staticPort = options.port + StaticPortOffset;
        return set;
    }

    void Configure(Host& host)
    {
        const HostKind kind = host.kind;
        const int port = host.port;
        // Plain SO_REUSEADDR: the library's default also sets SO_REUSEPORT, which would let a
        // second portal share the ports and take a share of the requests unnoticed.
        host.server.set_socket_options([](socket_t sock) {
            int yes = 1;
            ::setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
        });
        host.server.set_pre_routing_handler(
            [this, kind](const httplib::Request& req, httplib::Response& res) {
                // Ranges are answered here, per object, so an unsatisfiable one gets its 416;
                // the library must not slice the body a second time. The request object itself
                // is not const, only the view the handler is given.
                const_cast<httplib::Request&>(req).ranges.clear();
                if (!RequestHeadWithinLimits(req.headers.size(), HeaderBytes(req.headers))) {
                    res.status = 431;
                    res.set_header("Connection", "close");
                    res.set_content("request header fields too large\n", "text/plain");
                    return httplib::Server::HandlerResponse::Handled;
                }
                Route(kind, req, res);
                if (options.rate > 0 && !res.body.empty() && req.method != "HEAD")
                    PaceBody(req, res);
                return httplib::Server::HandlerResponse::Handled;
            });
        host.server.set_logger([port](const httplib::Request& req, const httplib::Response& res) {
            std::string line = req.method + " :" + std::to_string(port) + " " + req.target;
            if (req.has_header("Range")) line += " [Range: " + req.get_header_value("Range") + "]";
            // Shows whether the client's page marking reached the game host.
            if (req.has_header("Cookie"))
                line += " [Cookie: " + req.get_header_value("Cookie") + "]";
            LogLine(LogSafe(line) + " -> " + std::to_string(res.status));
        });
    }

    void Route(HostKind kind, const httplib::Request& req, httplib::Response& res)
    {
        res.set_header("Cache-Control", "no-store");
        if (req.method != "GET" && req.method != "HEAD") {
            res.status = 405;
            res.set_header("Allow", "GET, HEAD");
            res.set_content("method not allowed\n", "text/plain");
            return;
        }
        const std::string rawPath = req.target.substr(0, req.target.find('?'));
        const std::string path = DecodeRequestPath(rawPath);
        const HostSet hostSet = HostsFor(req);

        if (path == StatsPath) {
            res.status = 200;
            res.set_content(StatsText(packRequests, packFull, packNotModified), "text/plain");
            return;
        }
        if (path == StoragePath) {
            Html(res, StoragePage());
            return;
        }
        if (path == StorageWorkerPath) {
            res.set_content(StorageWorker(), "text/javascript");
            return;
        }
        if (!options.filesDir.empty() && path.rfind(FilesFolder, 0) == 0) {
            const std::string name = path.substr(FilesFolder.size());
            if (IsPlainFileName(name)) {
                if (auto file = ServedObject::FromFile(OpenFileInFolder(options.filesDir, name))) {
                    ServeObject(req, res, std::move(file), "application/octet-stream");
                    return;
                }
            }
            NotFound(res, path);
            return;
        }

        switch (kind) {
        case HostKind::Portal: RoutePortal(req, res, path, hostSet); return;
        case HostKind::Game:
            if (path == "/" || path == "/play") {
                const std::string server = path == "/" ? "" : req.get_param_value("server");
                Html(res, GamePage(hostSet, server, CleanUserName(req.get_param_value("user"))));
                return;
            }
            if (path == HostilePath) {
                Html(res, HostilePage());
                return;
            }
            if (path == HostileAdPath) {
                Html(res, HostileAdPage());
                return;
            }
            if (path == CanvasPath) {
                Html(res, CanvasPage());
                return;
            }
            if (path == HostileBeatPath) {
                res.set_content("beat", "text/plain");
                return;
            }
            if (RouteGameFile(req, res, path)) return;
            break;
        case HostKind::Forum:
            if (path == "/") {
                Html(res, ForumPage(hostSet));
                return;
            }
            break;
        case HostKind::Static: RouteStatic(req, res, path, hostSet); return;
        }
        NotFound(res, path);
    }

    void RoutePortal(const httplib::Request& req, httplib::Response& res, const std::string& path,
                     const HostSet& hostSet)
    {
        if (path == "/") {
            res.set_redirect(std::string(LoginPath));
            res.set_header("Cache-Control", "no-store");
        } else if (path == LoginPath || path == std::string(LoginPath) + "/") {
            if (!req.has_param("user")) {
                const std::string hero = req.has_param("forget")
                                             ? std::string()
                                             : RememberedHero(req.get_header_value("Cookie"));
                if (hero.empty()) {
                    if (req.has_param("forget"))
                        res.set_header("Set-Cookie", ForgetRememberCookie());
                    Html(res, LoginPage({}));
                } else {
                    SignIn(res, hostSet, hero, true);
                }
                return;
            }
            const std::string user = CleanUserName(req.get_param_value("user"));
            if (user.empty()) {
                Html(res, LoginPage("Your hero needs a name."));
            } else {
                // A sign-in without the box ticked forgets whoever was remembered before.
                res.set_header("Set-Cookie", req.has_param("remember") ? RememberCookie(user)
                                                                       : ForgetRememberCookie());
                SignIn(res, hostSet, user, false);
            }
        } else if (path == TaskFeedPath) {
            const std::time_t now = std::time(nullptr);
            std::tm local{};
            localtime_r(&now, &local);
            res.status = 200;
            res.set_content(TaskFeedJson(local, hostSet), "application/json; charset=utf-8");
        } else if (path == TaskTipsPath) {
            int tid = 0;
            try {
                tid = std::stoi(req.get_param_value("tid"));
            } catch (const std::exception&) {
                tid = 0;
            }
            Html(res, TaskTipsPage(tid));
        } else if (path == LogoutPath) {
            res.set_header("Set-Cookie", ForgetRememberCookie());
            Html(res, LogoutPage(hostSet));
        } else if (path == ReportPath || path.rfind(std::string(ReportPath) + "&", 0) == 0) {
            // A report address without a query gets "&mac=..." straight after its path.
            res.status = 200;
            res.set_content("ok", "text/plain");
        } else {
            NotFound(res, path);
        }
    }

    // A fresh session, and the realms for the hero.
    static void SignIn(httplib::Response& res, const HostSet& hostSet, const std::string& user,
                       bool welcomeBack)
    {
        const std::string sid = NewSessionId();
        res.set_header("Set-Cookie", SessionCookie(sid));
        Html(res, RealmListPage(hostSet, user, sid, welcomeBack));
    }

    // The game site's script pack (cached by the browser, counted), music and downloads.
    bool RouteGameFile(const httplib::Request& req, httplib::Response& res, const std::string& path)
    {
        if (path == PackPath) {
            ++packRequests;
            res.headers.erase("Cache-Control");
            res.set_header("Cache-Control", "max-age=86400");
            res.set_header("ETag", packEtag);
            if (IfNoneMatchHits(req.get_header_value("If-None-Match"), packEtag)) {
                ++packNotModified;
                res.status = 304;
                return true;
            }
            ServeObject(req, res, pack, "text/javascript; charset=utf-8", 0);
            if (res.status == 200) ++packFull;
            return true;
        }
        if (path == MusicPath) {
            ServeObject(req, res, music, "audio/wav", 0);
            return true;
        }
        if (path == RewardPath || path == BrokenRewardPath) {
            const bool broken = path == BrokenRewardPath;
            res.set_header("Content-Disposition", broken ? "attachment; filename=\"broken.bin\""
                                                         : "attachment; filename=\"reward.bin\"");
            ServeObject(req, res, reward, "application/octet-stream",
                        broken ? BrokenRewardCut : options.dropEvery);
            return true;
        }
        return false;
    }

    // Sends a body made in full by a handler at the portal's pace.
    void PaceBody(const httplib::Request& req, httplib::Response& res)
    {
        std::string contentType = res.get_header_value("Content-Type");
        res.headers.erase("Content-Type");
        auto object = std::make_shared<ServedObject>(std::move(res.body));
        res.body.clear();
        const std::uint64_t length = object->Size();
        StreamObject(res, std::move(object), 0, length, 0, contentType, LogSafe(req.target));
    }

    void RouteStatic(const httplib::Request& req, httplib::Response& res, const std::string& path,
                     const HostSet& hostSet)
    {
        if (path == ManifestPath || path == StandbyManifestPath ||
            path == StandbyManifestPathWithSlash) {
            const ManifestVersion current{QEV_VERSION_MS, QEV_VERSION_LS};
            std::optional<ManifestItem> item;
            if (!packageName.empty()) {
                item = ManifestItem{hostSet.name + ":" + std::to_string(hostSet.staticPort),
                                    std::string(PackageFolder), packageName};
            }
            const std::string xml = UpdateManifestXml(item ? NextVersion(current) : current, item);
            ServeObject(req, res, std::make_shared<ServedObject>(xml), "text/xml");
            return;
        }
        if (!packageName.empty() && !statement.empty() &&
            path == std::string(PackageFolder) + packageName + ".sig") {
            ServeObject(req, res, std::make_shared<ServedObject>(statement), "text/plain");
            return;
        }
        if (!packageName.empty() && path.rfind(PackageFolder, 0) == 0 &&
            path.substr(PackageFolder.size()) == packageName) {
            if (auto file = ServedObject::FromFile(OpenRegularFile(options.offerUpdateFile))) {
                ServeObject(req, res, std::move(file), "application/octet-stream");
                return;
            }
        }
        NotFound(res, path);
    }

    void ServeObject(const httplib::Request& req, httplib::Response& res,
                     std::shared_ptr<ServedObject> object, const std::string& contentType)
    {
        ServeObject(req, res, std::move(object), contentType, options.dropEvery);
    }

    // dropEvery: close the connection after that many body bytes (0: never).
    void ServeObject(const httplib::Request& req, httplib::Response& res,
                     std::shared_ptr<ServedObject> object, const std::string& contentType,
                     std::uint64_t dropEvery)
    {
        const std::uint64_t total = object->Size();
        const RangeAnswer range = ResolveRange(req.get_header_value("Range"), total);
        res.set_header("Accept-Ranges", "bytes");
        if (range.outcome == RangeOutcome::Unsatisfiable) {
            res.status = 416;
            res.set_header("Content-Range", "bytes */" + std::to_string(total));
            res.set_content("", contentType);
            return;
        }
        if (range.outcome == RangeOutcome::Partial) {
            res.status = 206;
            res.set_header("Content-Range", "bytes " + std::to_string(range.first) + "-" +
                                                std::to_string(range.first + range.length - 1) +
                                                "/" + std::to_string(total));
        } else {
            res.status = 200;
        }
        if (range.length == 0) {
            // The library turns a zero-length provider into a chunked body; an empty object is
            // simply an empty body.
            res.set_content("", contentType);
            return;
        }
        const std::uint64_t dropAfter = dropEvery > 0 && dropEvery < range.length ? dropEvery : 0;
        StreamObject(res, std::move(object), range.first, range.length, dropAfter, contentType,
                     LogSafe(req.target));
    }

    void StreamObject(httplib::Response& res, std::shared_ptr<ServedObject> object,
                      std::uint64_t first, std::uint64_t length, std::uint64_t dropAfter,
                      const std::string& contentType, std::string logTag)
    {
        auto transfer = std::make_shared<Transfer>();
        transfer->object = std::move(object);
        transfer->first = first;
        transfer->dropAfter = dropAfter;
        transfer->rate = options.rate;
        transfer->logTag = std::move(logTag);
        res.set_content_provider(
            static_cast<std::size_t>(length), contentType,
            [transfer](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
                const std::size_t chunk = transfer->Chunk();
                std::size_t want = length < chunk ? length : chunk;
                bool drop = false;
                if (transfer->dropAfter > 0 && offset + want >= transfer->dropAfter) {
                    want = static_cast<std::size_t>(transfer->dropAfter - offset);
                    drop = true;
                }
                if (want > 0) {
                    transfer->WaitForTurn(offset);
                    transfer->buffer.resize(want);
                    if (!transfer->object->Read(transfer->first + offset, transfer->buffer.data(),
                                                want)) {
                        return false;
                    }
                    if (!sink.write(transfer->buffer.data(), want)) return false;
                }
                if (drop) {
                    LogLine("drop " + transfer->logTag + " after " +
                            std::to_string(transfer->dropAfter) + " body bytes");
                    return false;
                }
                return true;
            });
    }

    static void Html(httplib::Response& res, const std::string& page)
    {
        res.status = 200;
        res.set_content(page, "text/html; charset=utf-8");
    }

    static void NotFound(httplib::Response& res, const std::string& path)
    {
        res.status = 404;
        res.set_content(NotFoundPage(path), "text/html; charset=utf-8");
    }
};

DemoPortal::DemoPortal(PortalOptions options, std::string statement)
    : impl(std::make_unique<Impl>(std::move(options), std::move(statement)))
{
}

DemoPortal::~DemoPortal()
{
    Stop();
}

bool DemoPortal::Bind(std::string& error)
{
    for (auto& host : impl->hosts) {
        if (!host->server.is_valid()) {
            error = "cannot use the certificate and key given to --tls";
            return false;
        }
        if (!host->server.bind_to_port(impl->options.bindAddress, host->port)) {
            error = std::string("cannot listen on ") + impl->options.bindAddress + ":" +
                    std::to_string(host->port) + " (" + HostLabel(host->kind) + " host)";
            for (auto& other : impl->hosts) other->server.stop();
            return false;
        }
    }
    return true;
}

void DemoPortal::Start()
{
    for (auto& host : impl->hosts) {
        LogLine(std::string(HostLabel(host->kind)) + (impl->Tls() ? " https://" : " http://") +
                impl->options.bindAddress + ":" + std::to_string(host->port));
    }
    for (auto& host : impl->hosts) {
        Impl::Host* h = host.get();
        h->thread = std::thread([h] { h->server.listen_after_bind(); });
    }
    // A stop that comes before a host runs would be lost, so Start returns once all run.
    for (auto& host : impl->hosts) {
        for (int i = 0; i < StartWaitSteps && !host->server.is_running(); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
}

void DemoPortal::Stop()
{
    for (auto& host : impl->hosts) host->server.stop();
    for (auto& host : impl->hosts) {
        if (host->thread.joinable()) host->thread.join();
    }
}

} // namespace qev::portal
