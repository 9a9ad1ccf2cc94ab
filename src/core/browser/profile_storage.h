#pragma once
// What the web profile keeps on disk, by the site that keeps it, and what to remove so that
// no foreign site keeps anything between runs and the profile stays bounded. The engine
// offers no per-site quota or per-site deletion, so the client reads its folders itself
// (through folder_tree.h, never leaving the profile folder) while the engine is not running.
//
// Per site, the engine keeps IndexedDB ("IndexedDB/<id>.indexeddb.leveldb" and ".blob"),
// Web SQL ("databases/<id>"), the File System API ("File System/<nnn>") and the Cache API ("Service
// Worker/CacheStorage/<hash>", the site named in its index.txt); <id> is the engine's file-name
// form of an origin, "http_host_port". Local storage and service-worker registrations sit in one
// LevelDB database for all sites each (key_store.h).
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace qev {

class PrivateFolder;

inline constexpr std::int64_t MiB = 1024 * 1024;

// One site's share of the profile.
struct OriginStorage {
    std::string origin; // "scheme://host[:port]"
    std::int64_t bytes = 0;
    std::vector<std::string> paths; // relative to the profile folder
};

struct ProfileStorage {
    std::int64_t totalBytes = 0;        // everything in the profile folder
    std::vector<OriginStorage> origins; // by origin; each path in exactly one
};

// The engine's file-name form "http_127.0.0.1_18381" as "http://127.0.0.1:18381" (port 0
// or none: the scheme's default, left out); "" when id is not that form.
std::string OriginFromIdentifier(std::string_view id);
// The origin a Cache API folder's index (index.txt) names; "" when it names none.
std::string OriginFromCacheIndex(std::string_view bytes);
// The host of "scheme://host[:port]" ("[::1]" keeps its brackets).
std::string OriginHost(std::string_view origin);

using IsOperatorHost = std::function<bool(std::string_view host)>;

// The File System API's folders ("File System/<nnn>", named by number) by the origin they
// are of, from that API's own database: read only while the engine does not hold the
// profile (a folder made later is no site's until the next start).
using FileSystemOrigins = std::map<std::string, std::string>;
FileSystemOrigins ReadFileSystemOrigins(const PrivateFolder& profile);

// Measures the profile folder.
ProfileStorage MeasureProfileStorage(const PrivateFolder& profile,
                                     const FileSystemOrigins& fileSystems = {});

struct ProfileLimits {
    std::int64_t startBytes = 1024 * MiB;   // cut back to this at start-up
    std::int64_t runningBytes = 2048 * MiB; // past this the writing page is stopped
};
// "N" MiB for both, or "N,M" (start, running); the defaults for anything else.
ProfileLimits ProfileLimitsFrom(std::string_view value);

struct StartupPlan {
    std::vector<OriginStorage> foreign; // every foreign site's storage
    std::vector<OriginStorage> cut;     // then the operator's, largest first, past the limit
    std::int64_t bytesBefore = 0, bytesAfter = 0;
};
// What start-up removes: every foreign site's storage, then, while the rest exceeds limit, the
// largest remaining site's.
StartupPlan PlanStartupCleanUp(const ProfileStorage& storage, const IsOperatorHost& isOperator,
                               std::int64_t limit);
// Removes what plan names from the profile, and the File System API's record of the sites
// it removed; false when something stayed.
bool CarryOut(const PrivateFolder& profile, const StartupPlan& plan);

// The origin a local-storage key is of ("META:", "METAACCESS:" or "_" before the origin, a
// zero byte after it in the last form); "" for the database's own keys.
std::string OriginOfLocalStorageKey(std::string_view key);
// The origin a service-worker database key registers ("INITDATA_UNIQUE_ORIGIN:"), or "".
std::string OriginOfWorkerKey(std::string_view key);

struct SharedCleanUp {
    int localStorageEntries = 0; // foreign sites' local storage entries removed
    bool workers = false;        // a foreign site had a service worker: all registrations went
    bool failed = false;         // a database could not be read or changed
};
// The databases the engine shares among sites: foreign sites' local storage goes entry by
// entry; a foreign site's service worker takes every registration with it (they are
// entangled in one database; the operator's pages register theirs again on their next
// visit). Run only while the engine does not hold the profile.
SharedCleanUp CleanSharedDatabases(const PrivateFolder& profile, const IsOperatorHost& isOperator);

// The origins whose storage grew from before to now, the largest growth first.
std::vector<std::string> GrowingOrigins(const ProfileStorage& before, const ProfileStorage& now);

} // namespace qev
