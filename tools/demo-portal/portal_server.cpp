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

// One response streaming a whole or partial object, with the optional deliberate drop.
struct Transfer {
    std::shared_ptr<ServedObject> object;
    std::uint64_t first = 0;
    std::uint64_t dropAfter = 0; // 0: send everything
    std::vector<char> buffer;
    std::string logTag;
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
        httplib::Server server;
        std::thread thread;
    };

    PortalOptions options;
    std::string linkFallbackName; // host name for links when a request has no usable Host
    std::string packageName;      // file name the manifest offers; empty without an update
    std::string statement;        // served beside the package as its ".sig"
    std::vector<std::unique_ptr<Host>> hosts;

    Impl(PortalOptions o, std::string offeredStatement)
        : options(std::move(o)), statement(std::move(offeredStatement))
    {
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
            auto host = std::make_unique<Host>();
            host->kind = kinds[i];
            host->port = options.port + offsets[i];
            Configure(*host);
            hosts.push_back(std::move(host));
        }
    }

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
                Html(res, LoginPage({}));
                return;
            }
            const std::string user = CleanUserName(req.get_param_value("user"));
            if (user.empty()) {
                Html(res, LoginPage("Your hero needs a name."));
            } else {
                Html(res, RealmListPage(hostSet, user, NewSessionId()));
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
            Html(res, LogoutPage(hostSet));
        } else if (path == ReportPath || path.rfind(std::string(ReportPath) + "&", 0) == 0) {
            // A report address without a query gets "&mac=..." straight after its path.
            res.status = 200;
            res.set_content("ok", "text/plain");
        } else {
            NotFound(res, path);
        }
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
        auto transfer = std::make_shared<Transfer>();
        transfer->object = std::move(object);
        transfer->first = range.first;
        if (options.dropEvery > 0 && options.dropEvery < range.length) {
            transfer->dropAfter = options.dropEvery;
        }
        transfer->logTag = LogSafe(req.target);
        res.set_content_provider(
            static_cast<std::size_t>(range.length), contentType,
            [transfer](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
                std::size_t want = length < StreamChunk ? length : StreamChunk;
                bool drop = false;
                if (transfer->dropAfter > 0 && offset + want >= transfer->dropAfter) {
                    want = static_cast<std::size_t>(transfer->dropAfter - offset);
                    drop = true;
                }
                if (want > 0) {
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
        LogLine(std::string(HostLabel(host->kind)) + " http://" + impl->options.bindAddress + ":" +
                std::to_string(host->port));
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
