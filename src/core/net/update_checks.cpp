#include "core/net/update_checks.h"

#include <algorithm>

#include "core/base/log.h"
#include "core/base/url_codec.h"
#include "core/net/chunk_writer.h"
#include "core/net/update_statement.h"

namespace qev {

std::pair<std::string, int> SplitHostPort(std::string_view host)
{
    const auto colon = host.rfind(':');
    if (colon == std::string_view::npos) return {std::string(host), 80};
    const std::string_view digits = host.substr(colon + 1);
    long port = 0;
    for (const char c : digits) {
        if (c < '0' || c > '9') return {std::string(host), 80}; // not a port at all
        port = std::min(port * 10 + (c - '0'), 100000L);
    }
    if (port < 1 || port > 65535) port = 80;
    return {std::string(host.substr(0, colon)), static_cast<int>(port)};
}

SourceHost SplitSourceHost(std::string_view host)
{
    SourceHost out;
    const std::string_view rest = StripHttpScheme(host, out.https);
    auto [name, port] = SplitHostPort(rest);
    out.name = std::move(name);
    out.port = port;
    // SplitHostPort's 80 stands for "no port given" unless ":80" was written.
    const bool written80 = rest.size() >= 3 && rest.substr(rest.size() - 3) == ":80";
    if (out.https && port == 80 && !written80) out.port = 443;
    return out;
}

std::string JoinSourcePath(std::string_view path, std::string_view file)
{
    if (path.empty()) return std::string(file);
    const bool slashAfter = path.back() == '/';
    const bool slashBefore = !file.empty() && file.front() == '/';
    if (slashAfter && slashBefore) file.remove_prefix(1);
    return std::string(path) + (slashAfter || slashBefore ? "" : "/") + std::string(file);
}

std::string LoggableName(std::string_view name)
{
    constexpr std::size_t MaxLogged = 64;
    return EscapeForLog(name, "\\\"", false, MaxLogged);
}

namespace {

bool IsHexDigit(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// A host name or IPv4 address ("a-1.example_b"), or an IPv6 address in brackets.
bool IsPlainHost(std::string_view host)
{
    if (host.size() > 2 && host.front() == '[' && host.back() == ']') {
        for (const char c : host.substr(1, host.size() - 2))
            if (!IsHexDigit(c) && c != ':' && c != '.') return false;
        return true;
    }
    if (host.empty()) return false;
    for (const char c : host) {
        const bool alnum =
            (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
        if (!alnum && c != '-' && c != '.' && c != '_') return false;
    }
    return true;
}

bool IsControlByte(char c)
{
    const auto byte = static_cast<unsigned char>(c);
    return byte < 0x20 || byte == 0x7F;
}

// Why part (an item's path or file) must not reach a request line, "" when it may.
// Segments are split at '\\' too: some servers take it for '/'.
std::string UrlPartRefusal(std::string_view part)
{
    for (const char c : part) {
        if (IsControlByte(c)) return "a control character";
        if (c == '?' || c == '#') return "a query or fragment";
    }
    for (std::size_t start = 0; start <= part.size();) {
        const std::size_t end = std::min(part.find_first_of("/\\", start), part.size());
        const std::string segment = UrlDecode(part.substr(start, end - start));
        if (segment == "..") return "a \"..\" segment";
        if (std::any_of(segment.begin(), segment.end(), IsControlByte))
            return "an escaped control byte";
        start = end + 1;
    }
    return {};
}

} // namespace

std::string ManifestItemRefusal(const UpdateSource& item, int sourcePort)
{
    // A user part would make the rest of the "host" a user name and let the item name
    // another host; anything but a plain name could reach into the path.
    if (item.host.find('@') != std::string::npos) return "a host with a user part";
    const auto [host, port] = SplitHostPort(item.host);
    if (!IsPlainHost(host)) return "not a plain host";
    // Mirrors serve where the manifest's own server does, or on the web's ports: never a
    // service of the player's network that listens elsewhere.
    if (port != sourcePort && port != 80 && port != 443)
        return "port " + std::to_string(port) + " is not the source's";
    // The path follows the port in the address: without its '/', it would go on naming
    // the host.
    if (item.path.empty() || item.path.front() != '/') return "a path not starting with '/'";
    for (const char c : item.path)
        if (c == ' ' || static_cast<unsigned char>(c) >= 0x80)
            return "a path with blanks or bytes past ASCII";
    if (std::string why = UrlPartRefusal(item.path); !why.empty()) return "a path with " + why;
    if (std::string why = UrlPartRefusal(item.file); !why.empty()) return "a file with " + why;
    return {};
}

std::vector<UpdateSource> UsableItems(const std::vector<UpdateSource>& items, int sourcePort)
{
    std::vector<UpdateSource> usable;
    std::string first;
    std::size_t refused = 0;
    for (const UpdateSource& item : items) {
        const std::string why = ManifestItemRefusal(item, sourcePort);
        if (why.empty())
            usable.push_back(item);
        else if (refused++ == 0)
            first = why + ": " + LoggableName(item.host) + " " + LoggableName(item.path) + " " +
                    LoggableName(item.file);
    }
    if (refused > 0)
        WriteLog("update item refused, " + first +
                 (refused > 1 ? " (and " + std::to_string(refused - 1) + " more)" : ""));
    return usable;
}

std::string FolderOffReason(const std::string& refusal)
{
    return refusal.find("another user") != std::string::npos
               ? "another user controls the update folder"
               : std::string();
}

ItemRequest PlanItemRequest(const UpdateSource& item, std::string_view sourceHost,
                            std::string& refusal)
{
    const bool https = SplitHostPort(item.host).second == 443 || SplitSourceHost(sourceHost).https;
    ItemRequest request{
        (https ? "https://" : "") + item.host, item.path + EncodePathSegment(item.file), {}};
    request.name = TargetFileName(request.object);
    refusal.clear();
    if (request.name.empty())
        refusal = "unusable file name \"" + LoggableName(item.file) + "\"";
    else if (request.name.size() > MaxInstallableNameBytes)
        refusal = DescribeStatementCheck(StatementCheck::NameTooLong);
    return request;
}

} // namespace qev
