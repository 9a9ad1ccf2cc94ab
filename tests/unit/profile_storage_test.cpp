// The web profile's storage by site: read from the engine's folder names, never through a
// link or out of the profile, and cut back foreign sites first, then the largest.
#include <gtest/gtest.h>

#include <leveldb/db.h>

#include <filesystem>
#include <fstream>
#include <map>

#include "core/browser/profile_storage.h"
#include "core/platform/private_folder.h"
#include "sandbox.h"

using namespace qev;
namespace fs = std::filesystem;

namespace {

void Write(const fs::path& file, std::size_t bytes, const std::string& start = {})
{
    fs::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << start << std::string(bytes - start.size(), 'x');
}

bool IsOperator(std::string_view host)
{
    return host == "127.0.0.1";
}

using Keys = std::map<std::string, std::string>;

// keys into a new database at folder (none: the database's keys as they are).
Keys Database(const fs::path& folder, const Keys& keys = {})
{
    fs::create_directories(folder);
    leveldb::Options options;
    options.create_if_missing = true;
    leveldb::DB* raw = nullptr;
    EXPECT_TRUE(leveldb::DB::Open(options, folder.string(), &raw).ok()) << folder;
    std::unique_ptr<leveldb::DB> db(raw);
    for (const auto& [key, value] : keys) db->Put({}, key, value);
    Keys now;
    std::unique_ptr<leveldb::Iterator> it(db->NewIterator({}));
    for (it->SeekToFirst(); it->Valid(); it->Next())
        now[it->key().ToString()] = it->value().ToString();
    return now;
}

} // namespace

TEST(ProfileStorage, OriginsFromTheEnginesNames)
{
    const std::pair<const char*, const char*> rows[] = {
        {"http_127.0.0.1_18381", "http://127.0.0.1:18381"},
        {"https_pay.example.com_0", "https://pay.example.com"},
        {"https_pay.example.com_443", "https://pay.example.com"},
        {"http_[__1]_8080", "http://[::1]:8080"},
        {"http_a_b_8", ""}, // no host has a "_"
        {"ftp_example.com_21", ""},
        {"http_example.com", ""},
        {"http_example.com_99999", ""},
        {"http__80", ""},
        {"http_[__1z_8080", ""},
        {"http_a]_1", ""},
        {"http_../x_1", ""},
    };
    for (const auto& [id, origin] : rows) EXPECT_EQ(OriginFromIdentifier(id), origin) << id;
    // A cache the page named as an origin, then the index's own origin.
    const std::string index("\x0a\x0a\x0a\x08http://a\x12\x17http://127.0.0.2:18391/\x30\x03", 39);
    EXPECT_EQ(OriginFromCacheIndex(index), "http://127.0.0.2:18391");
    EXPECT_EQ(OriginFromCacheIndex(index.substr(0, 20)), "");
    EXPECT_EQ(OriginHost("http://[::1]:8080"), "[::1]");
    EXPECT_EQ(OriginHost("https://a.example"), "a.example");
    const std::pair<const char*, std::int64_t> limits[] = {
        {"64", 64}, {"64,128", 64}, {"", 1024}, {"0", 1024}, {"-5", 1024}, {"6x", 1024}};
    for (const auto& [text, start] : limits)
        EXPECT_EQ(ProfileLimitsFrom(text).startBytes, start * MiB) << text;
    EXPECT_EQ(ProfileLimitsFrom("64,128").runningBytes, 128 * MiB);
}

TEST(ProfileStorage, ForeignSitesGoThenTheLargestPastTheLimitNeverThroughALink)
{
    const test::Sandbox sandbox;
    const fs::path dir = sandbox.path();
    const fs::path web = dir / "data/qev/web", outside = dir / "outside";
    Write(web / "IndexedDB/http_127.0.0.1_18381.indexeddb.leveldb/000003.log", 3000);
    Write(web / "IndexedDB/http_127.0.0.1_18381.indexeddb.blob/1/00/1", 1000);
    Write(web / "IndexedDB/http_127.0.0.1_18380.indexeddb.leveldb/000003.log", 2000);
    Write(web / "databases/https_ads.example_0/1", 500);
    Write(web / "Service Worker/CacheStorage/0a1b/index.txt", 100,
          std::string("\x12\x12http://pay.test:80\x30\x03", 22));
    Write(web / "Service Worker/CacheStorage/0a1b/c/entry", 400);
    Write(web / "Local Storage/leveldb/000005.ldb", 700);
    Write(outside / "big", 90000);
    fs::create_directory_symlink(outside, web / "IndexedDB/http_evil.test_1.indexeddb.leveldb");
    fs::create_directory_symlink(outside, web / "Service Worker/CacheStorage/link");
    PlatformError why;
    const auto profile = PrivateFolder::Open((dir / "data").string(), {"qev", "web"}, &why);
    ASSERT_TRUE(profile) << why.text;

    const ProfileStorage storage = MeasureProfileStorage(*profile);
    EXPECT_EQ(storage.totalBytes, 7700);
    std::vector<std::pair<std::string, std::int64_t>> sites;
    for (const auto& site : storage.origins) sites.emplace_back(site.origin, site.bytes);
    const decltype(sites) expected = {{"http://127.0.0.1:18380", 2000},
                                      {"http://127.0.0.1:18381", 4000},
                                      {"http://evil.test:1", 0},
                                      {"http://pay.test", 500},
                                      {"https://ads.example", 500}};
    EXPECT_EQ(sites, expected);

    const struct {
        std::int64_t limit;
        std::size_t foreign, cut;
        std::int64_t after;
    } rows[] = {{7000, 3, 0, 6700}, {6700, 3, 0, 6700}, {6000, 3, 1, 2700}, {100, 3, 2, 700}};
    for (const auto& row : rows) {
        const StartupPlan plan = PlanStartupCleanUp(storage, IsOperator, row.limit);
        EXPECT_EQ(plan.foreign.size(), row.foreign) << row.limit;
        EXPECT_EQ(plan.cut.size(), row.cut) << row.limit;
        EXPECT_EQ(plan.bytesAfter, row.after) << row.limit;
        if (!plan.cut.empty()) {
            EXPECT_EQ(plan.cut[0].origin, "http://127.0.0.1:18381");
        }
    }
    EXPECT_TRUE(CarryOut(*profile, PlanStartupCleanUp(storage, IsOperator, 6000)));
    const ProfileStorage left = MeasureProfileStorage(*profile);
    ASSERT_EQ(left.origins.size(), 1u);
    EXPECT_EQ(left.origins[0].origin, "http://127.0.0.1:18380");
    EXPECT_EQ(left.totalBytes, 2700);
    EXPECT_EQ(fs::file_size(outside / "big"), 90000u); // the link went, not what it led to
    EXPECT_FALSE(
        fs::exists(fs::symlink_status(web / "IndexedDB/http_evil.test_1.indexeddb.leveldb")));
    EXPECT_TRUE(fs::exists(web / "Service Worker/CacheStorage/link")); // no site's: kept

    Write(web / "IndexedDB/http_127.0.0.1_18380.indexeddb.blob/1", 50);
    Write(web / "databases/http_127.0.0.1_18382/1", 10);
    const auto grown = GrowingOrigins(left, MeasureProfileStorage(*profile));
    EXPECT_EQ(grown,
              (std::vector<std::string>{"http://127.0.0.1:18380", "http://127.0.0.1:18382"}));
}

TEST(ProfileStorage, SharedDatabasesLoseForeignSitesOnly)
{
    const test::Sandbox sandbox;
    const fs::path dir = sandbox.path();
    const fs::path web = dir / "web";
    using namespace std::string_literals;
    const Keys ours = {{"VERSION", "1"},
                       {"META:http://127.0.0.1:18380", "m"},
                       {"_http://127.0.0.1:18380\0\x01k"s, "v"}};
    Keys local = ours;
    local.insert({{"META:https://pay.test", "m"},
                  {"METAACCESS:https://pay.test", "a"},
                  {"_https://pay.test\0\x01k"s, "v"},
                  {"_https://pay.test", "no zero byte: no site's"}});
    Database(web / "Local Storage/leveldb", local);
    Database(web / "Service Worker/Database", {{"INITDATA_UNIQUE_ORIGIN:https://pay.test/", ""}});
    Write(web / "Service Worker/ScriptCache/index", 10);
    PlatformError why;
    const auto profile = PrivateFolder::Open(dir.string(), {"web"}, &why);
    ASSERT_TRUE(profile) << why.text;

    const SharedCleanUp done = CleanSharedDatabases(*profile, IsOperator);
    EXPECT_EQ(done.localStorageEntries, 3);
    EXPECT_TRUE(done.workers);
    EXPECT_FALSE(done.failed);
    Keys kept = ours;
    kept["_https://pay.test"] = "no zero byte: no site's";
    EXPECT_EQ(Database(web / "Local Storage/leveldb"), kept);
    EXPECT_FALSE(fs::exists(web / "Service Worker/Database"));
    EXPECT_FALSE(fs::exists(web / "Service Worker/ScriptCache"));

    // The File System API's folders are known by its own record, which goes with them.
    Database(web / "File System/Origins", {{"ORIGIN:https_pay.test_0", "000"},
                                           {"ORIGIN:http_127.0.0.1_1", "001"},
                                           {"LAST_PATH", "001"}});
    Write(web / "File System/000/t/00/00000000", 300);
    Write(web / "File System/001/t/00/00000000", 200);
    const FileSystemOrigins fileSystems = ReadFileSystemOrigins(*profile);
    EXPECT_EQ(fileSystems,
              (FileSystemOrigins{{"000", "https://pay.test"}, {"001", "http://127.0.0.1:1"}}));
    const ProfileStorage storage = MeasureProfileStorage(*profile, fileSystems);
    ASSERT_EQ(storage.origins.size(), 2u);
    EXPECT_EQ(storage.origins[1].bytes, 300);
    EXPECT_TRUE(CarryOut(*profile, PlanStartupCleanUp(storage, IsOperator, 1 << 30)));
    EXPECT_EQ(Database(web / "File System/Origins"),
              (Keys{{"LAST_PATH", "001"}, {"ORIGIN:http_127.0.0.1_1", "001"}}));
    EXPECT_FALSE(fs::exists(web / "File System/000"));
    EXPECT_TRUE(fs::exists(web / "File System/001"));

    // Only the operator's workers: they stay.
    Database(web / "Service Worker/Database", {{"INITDATA_UNIQUE_ORIGIN:http://127.0.0.1:1/", ""}});
    EXPECT_FALSE(CleanSharedDatabases(*profile, IsOperator).workers);
    EXPECT_TRUE(fs::exists(web / "Service Worker/Database"));
}
