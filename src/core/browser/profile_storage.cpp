#include "core/browser/profile_storage.h"

#include <algorithm>
#include <charconv>
#include <set>

#include "core/platform/folder_tree.h"
#include "core/platform/key_store.h"

namespace qev {
namespace {

constexpr std::string_view IndexedDbFolder = "IndexedDB";
constexpr std::string_view WebSqlFolder = "databases";
constexpr std::string_view CacheApiFolder = "Service Worker/CacheStorage";
constexpr std::string_view FileSystemFolder = "File System";
constexpr char FileSystemDatabase[] = "File System/Origins";
constexpr std::string_view FileSystemKey = "ORIGIN:";
constexpr char LocalStorageDatabase[] = "Local Storage/leveldb";
constexpr char WorkerDatabase[] = "Service Worker/Database";
constexpr char WorkerScripts[] = "Service Worker/ScriptCache";
constexpr std::string_view IndexedDbEndings[] = {".indexeddb.leveldb", ".indexeddb.blob"};
// A cache index is small; its origin comes first.
constexpr std::size_t CacheIndexBytes = 64 * 1024;

bool EndsWith(std::string_view s, std::string_view end)
{
    return s.size() >= end.size() && s.substr(s.size() - end.size()) == end;
}

bool IsHostChar(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
           c == '-' || c == '[' || c == ']' || c == ':';
}

// A name or IPv4 literal, or an IPv6 literal in brackets.
bool IsHost(std::string_view host)
{
    if (host.empty()) return false;
    if (host.front() != '[') return host.find_first_of("[]:") == std::string_view::npos;
    const std::string_view inside = host.substr(1, host.size() - 2);
    return host.size() > 2 && host.back() == ']' &&
           inside.find_first_not_of("0123456789abcdefABCDEF:.") == std::string_view::npos;
}

// "" when host is none.
std::string DefaultPortLess(std::string_view scheme, std::string_view host, std::string_view port)
{
    if (!IsHost(host)) return {};
    std::string origin = std::string(scheme) + "://" + std::string(host);
    const bool defaultPort = port.empty() || port == "0" || (scheme == "http" && port == "80") ||
                             (scheme == "https" && port == "443");
    if (!defaultPort) origin += ":" + std::string(port);
    return origin;
}

// origin when it is "http(s)://host[:port]" with at most a "/" more, with the default port left
// out.
std::string ValidOrigin(std::string_view origin)
{
    const auto at = origin.find("://");
    if (at == std::string_view::npos) return {};
    const std::string_view scheme = origin.substr(0, at);
    std::string_view hostPort = origin.substr(at + 3);
    if (!hostPort.empty() && hostPort.back() == '/') hostPort.remove_suffix(1); // as GURL has it
    if ((scheme != "http" && scheme != "https") || hostPort.empty() ||
        !std::all_of(hostPort.begin(), hostPort.end(), IsHostChar))
        return {};
    const auto colon = hostPort.rfind(':');
    const bool hasPort = colon != std::string_view::npos && hostPort.back() != ']';
    const std::string_view port = hasPort ? hostPort.substr(colon + 1) : std::string_view();
    if (!std::all_of(port.begin(), port.end(), [](char c) { return c >= '0' && c <= '9'; }) ||
        port.size() > 5 || (hasPort && colon == 0))
        return {};
    return DefaultPortLess(scheme, hasPort ? hostPort.substr(0, colon) : hostPort, port);
}

} // namespace

std::string OriginFromIdentifier(std::string_view id)
{
    const auto first = id.find('_');
    const auto last = id.rfind('_');
    if (first == std::string_view::npos || last == first) return {};
    const std::string_view scheme = id.substr(0, first);
    if (scheme != "http" && scheme != "https") return {};
    const std::string_view port = id.substr(last + 1);
    int number = 0;
    const auto [end, error] = std::from_chars(port.data(), port.data() + port.size(), number);
    if (port.empty() || error != std::errc() || end != port.data() + port.size() || number < 0 ||
        number > 65535)
        return {};
    std::string host(id.substr(first + 1, last - first - 1));
    // An IPv6 literal keeps its brackets; its colons were written as underscores.
    if (!host.empty() && host.front() == '[') std::replace(host.begin(), host.end(), '_', ':');
    if (host.empty() || !std::all_of(host.begin(), host.end(), IsHostChar)) return {};
    return DefaultPortLess(scheme, host, port);
}

std::string OriginFromCacheIndex(std::string_view bytes)
{
    // The index is a protocol buffer: its caches (field 1, named by the page, so never read
    // for an origin), then the origin (field 2), then plain numbers.
    std::size_t at = 0;
    const auto varint = [&](std::uint64_t& value) {
        value = 0;
        for (int shift = 0; at < bytes.size() && shift < 64; shift += 7) {
            const auto byte = static_cast<unsigned char>(bytes[at++]);
            value |= std::uint64_t{byte & 0x7Fu} << shift;
            if (!(byte & 0x80)) return true;
        }
        return false;
    };
    for (std::uint64_t tag = 0, value = 0; at < bytes.size();) {
        if (!varint(tag)) return {};
        switch (tag & 7) {
        case 0:
            if (!varint(value)) return {};
            break;
        case 1: at += 8; break;
        case 5: at += 4; break;
        case 2:
            if (!varint(value) || value > bytes.size() - at) return {};
            if (tag >> 3 == 2) return ValidOrigin(bytes.substr(at, value));
            at += value;
            break;
        default: return {};
        }
    }
    return {};
}

std::string OriginHost(std::string_view origin)
{
    const auto at = origin.find("://");
    if (at == std::string_view::npos) return {};
    std::string_view rest = origin.substr(at + 3);
    if (!rest.empty() && rest.front() == '[')
        return std::string(rest.substr(0, rest.find(']') + 1));
    return std::string(rest.substr(0, rest.find(':')));
}

FileSystemOrigins ReadFileSystemOrigins(const PrivateFolder& profile)
{
    FileSystemOrigins origins;
    ReadKeyStore(profile, FileSystemDatabase, [&](std::string_view key, std::string_view value) {
        if (key.substr(0, FileSystemKey.size()) != FileSystemKey || value.empty() ||
            value.find_first_not_of("0123456789") != std::string_view::npos)
            return;
        std::string origin = OriginFromIdentifier(key.substr(FileSystemKey.size()));
        if (!origin.empty()) origins[std::string(value)] = std::move(origin);
    });
    return origins;
}

ProfileStorage MeasureProfileStorage(const PrivateFolder& profile,
                                     const FileSystemOrigins& fileSystems)
{
    ProfileStorage storage;
    std::map<std::string, OriginStorage> byOrigin;
    const auto add = [&](std::string origin, const std::string& folder, const TreeEntry& entry) {
        if (origin.empty()) return;
        OriginStorage& site = byOrigin[origin];
        site.origin = std::move(origin);
        site.bytes += entry.bytes;
        site.paths.push_back(folder + "/" + entry.name);
    };
    std::vector<TreeEntry> entries;
    if (ListTree(profile, "", entries))
        for (const TreeEntry& entry : entries) storage.totalBytes += entry.bytes;
    if (ListTree(profile, std::string(IndexedDbFolder), entries))
        for (const TreeEntry& entry : entries)
            for (const std::string_view ending : IndexedDbEndings)
                if (EndsWith(entry.name, ending))
                    add(OriginFromIdentifier(std::string_view(entry.name)
                                                 .substr(0, entry.name.size() - ending.size())),
                        std::string(IndexedDbFolder), entry);
    if (ListTree(profile, std::string(WebSqlFolder), entries))
        for (const TreeEntry& entry : entries)
            if (entry.folder)
                add(OriginFromIdentifier(entry.name), std::string(WebSqlFolder), entry);
    if (!fileSystems.empty() && ListTree(profile, std::string(FileSystemFolder), entries))
        for (const TreeEntry& entry : entries)
            if (const auto it = fileSystems.find(entry.name);
                entry.folder && it != fileSystems.end())
                add(it->second, std::string(FileSystemFolder), entry);
    const std::string cacheFolder(CacheApiFolder);
    if (ListTree(profile, cacheFolder, entries))
        for (const TreeEntry& entry : entries)
            if (entry.folder)
                add(OriginFromCacheIndex(ReadTreeFile(
                        profile, cacheFolder + "/" + entry.name + "/index.txt", CacheIndexBytes)),
                    cacheFolder, entry);
    for (auto& [origin, site] : byOrigin) storage.origins.push_back(std::move(site));
    return storage;
}

ProfileLimits ProfileLimitsFrom(std::string_view value)
{
    ProfileLimits limits;
    const auto comma = value.find(',');
    const auto read = [](std::string_view text, std::int64_t& to) {
        std::int64_t mib = 0;
        const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), mib);
        if (text.empty() || error != std::errc() || end != text.data() + text.size() || mib <= 0 ||
            mib > (std::int64_t{1} << 40))
            return false;
        to = mib * MiB;
        return true;
    };
    ProfileLimits given;
    const bool ok = comma == std::string_view::npos
                        ? read(value, given.startBytes) && read(value, given.runningBytes)
                        : read(value.substr(0, comma), given.startBytes) &&
                              read(value.substr(comma + 1), given.runningBytes);
    return ok ? given : limits;
}

StartupPlan PlanStartupCleanUp(const ProfileStorage& storage, const IsOperatorHost& isOperator,
                               std::int64_t limit)
{
    StartupPlan plan;
    plan.bytesBefore = plan.bytesAfter = storage.totalBytes;
    std::vector<OriginStorage> kept;
    for (const OriginStorage& site : storage.origins) {
        if (isOperator(OriginHost(site.origin))) {
            kept.push_back(site);
        } else {
            plan.foreign.push_back(site);
            plan.bytesAfter -= site.bytes;
        }
    }
    std::stable_sort(kept.begin(), kept.end(), [](const OriginStorage& a, const OriginStorage& b) {
        return a.bytes > b.bytes;
    });
    for (const OriginStorage& site : kept) {
        if (plan.bytesAfter <= limit) break;
        plan.cut.push_back(site);
        plan.bytesAfter -= site.bytes;
    }
    return plan;
}

bool CarryOut(const PrivateFolder& profile, const StartupPlan& plan)
{
    bool ok = true;
    std::set<std::string> gone;
    for (const auto* sites : {&plan.foreign, &plan.cut})
        for (const OriginStorage& site : *sites) {
            for (const std::string& path : site.paths) ok = RemoveTree(profile, path) && ok;
            gone.insert(site.origin);
        }
    // The File System API would look for a removed site's folder by its record.
    if (!gone.empty())
        PruneKeyStore(profile, FileSystemDatabase, [&](std::string_view key, std::string_view) {
            return key.substr(0, FileSystemKey.size()) == FileSystemKey &&
                   gone.count(OriginFromIdentifier(key.substr(FileSystemKey.size()))) > 0;
        });
    return ok;
}

std::vector<std::string> GrowingOrigins(const ProfileStorage& before, const ProfileStorage& now)
{
    std::map<std::string, std::int64_t> was;
    for (const OriginStorage& site : before.origins) was[site.origin] = site.bytes;
    std::vector<std::pair<std::int64_t, std::string>> grown;
    for (const OriginStorage& site : now.origins) {
        const auto it = was.find(site.origin);
        const std::int64_t growth = site.bytes - (it == was.end() ? 0 : it->second);
        if (growth > 0) grown.emplace_back(growth, site.origin);
    }
    std::stable_sort(grown.begin(), grown.end(),
                     [](const auto& a, const auto& b) { return a.first > b.first; });
    std::vector<std::string> origins;
    origins.reserve(grown.size());
    for (auto& [growth, origin] : grown) origins.push_back(std::move(origin));
    return origins;
}

std::string OriginOfLocalStorageKey(std::string_view key)
{
    for (const std::string_view prefix : {"META:", "METAACCESS:"})
        if (key.substr(0, prefix.size()) == prefix) return ValidOrigin(key.substr(prefix.size()));
    if (key.empty() || key[0] != '_') return {};
    const auto end = key.find('\0');
    return end == std::string_view::npos ? std::string() : ValidOrigin(key.substr(1, end - 1));
}

std::string OriginOfWorkerKey(std::string_view key)
{
    constexpr std::string_view Prefix = "INITDATA_UNIQUE_ORIGIN:";
    return key.substr(0, Prefix.size()) == Prefix ? ValidOrigin(key.substr(Prefix.size()))
                                                  : std::string();
}

SharedCleanUp CleanSharedDatabases(const PrivateFolder& profile, const IsOperatorHost& isOperator)
{
    SharedCleanUp done;
    const auto foreign = [&](const std::string& origin) {
        return !origin.empty() && !isOperator(OriginHost(origin));
    };
    const int removed = PruneKeyStore(profile, LocalStorageDatabase, [&](auto key, auto) {
        return foreign(OriginOfLocalStorageKey(key));
    });
    done.localStorageEntries = std::max(removed, 0);
    std::vector<TreeEntry> there;
    done.failed = removed < 0 && ListTree(profile, LocalStorageDatabase, there) && !there.empty();
    bool foreignWorker = false;
    ReadKeyStore(profile, WorkerDatabase, [&](auto key, auto) {
        foreignWorker = foreignWorker || foreign(OriginOfWorkerKey(key));
    });
    if (foreignWorker) {
        done.workers = true;
        done.failed = !RemoveTree(profile, WorkerDatabase) || done.failed;
        RemoveTree(profile, WorkerScripts); // a cache: the engine rebuilds it
    }
    return done;
}

} // namespace qev
