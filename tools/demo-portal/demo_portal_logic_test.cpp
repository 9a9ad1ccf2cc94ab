// Checks of the demo portal's pure parts: range answers, codecs, options, and that the feed
// and manifest it serves read back through the client's own readers.
#include "byte_range.h"
#include "demo_signing.h"
#include "http_text.h"
#include "portal_content.h"
#include "portal_options.h"
#include "served_file.h"

#include "core/layout/json_reader.h"
#include "core/layout/update_manifest.h"
#include "core/net/update_statement.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <regex>

using namespace qev::portal;

TEST(ResolveRange, AnswersEachFormAsAServerShould)
{
    constexpr std::uint64_t big = 256ull * 1024 * 1024;
    struct Case {
        const char* header;
        std::uint64_t total;
        RangeOutcome outcome;
        std::uint64_t first, length;
    };
    const Case cases[] = {
        {"", 100, RangeOutcome::Whole, 0, 100},
        {"bytes=0-", 100, RangeOutcome::Partial, 0, 100},
        {"bytes=10-19", 100, RangeOutcome::Partial, 10, 10},
        {"bytes=99-", 100, RangeOutcome::Partial, 99, 1},
        {"bytes=90-200", 100, RangeOutcome::Partial, 90, 10},
        {"bytes=0-99999999999999999999999", 100, RangeOutcome::Partial, 0, 100},
        {"Bytes= 3-4", 100, RangeOutcome::Partial, 3, 2},
        {"bytes=-30", 100, RangeOutcome::Partial, 70, 30},
        {"bytes=-300", 100, RangeOutcome::Partial, 0, 100},
        {"bytes=100-", 100, RangeOutcome::Unsatisfiable, 0, 0},
        {"bytes=100-200", 100, RangeOutcome::Unsatisfiable, 0, 0},
        {"bytes=99999999999999999999999-", 100, RangeOutcome::Unsatisfiable, 0, 0},
        {"bytes=-0", 100, RangeOutcome::Unsatisfiable, 0, 0},
        {"bytes=0-", 0, RangeOutcome::Unsatisfiable, 0, 0},
        {"bytes=5-2", 100, RangeOutcome::Whole, 0, 100},
        {"bytes=0-5,10-20", 100, RangeOutcome::Whole, 0, 100},
        {"items=0-5", 100, RangeOutcome::Whole, 0, 100},
        {"bytes=abc-", 100, RangeOutcome::Whole, 0, 100},
        {"bytes=7", 100, RangeOutcome::Whole, 0, 100},
        {"bytes=268435455-", big, RangeOutcome::Partial, big - 1, 1},
        {"bytes=1000-1999", big, RangeOutcome::Partial, 1000, 1000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.header);
        const RangeAnswer answer = ResolveRange(c.header, c.total);
        EXPECT_EQ(answer.outcome, c.outcome);
        EXPECT_EQ(answer.first, c.first);
        EXPECT_EQ(answer.length, c.length);
    }
}

TEST(DecodeRequestPath, DecodesWhatTheClientEncodes)
{
    const std::pair<const char*, std::string> cases[] = {
        {"/p/my+package.bin", "/p/my package.bin"},
        {"/p/my%20package.bin", "/p/my package.bin"},
        {"/p/%41%2b%2F", "/p/A+/"},
        {"/p/%e4%b8%ad", "/p/\xe4\xb8\xad"},
        {"/p/100%", "/p/100%"},
        {"/p/%4", "/p/%4"},
        {"/p/%zz", "/p/%zz"},
        {"/p/%00x", std::string("/p/\0x", 5)},
    };
    for (const auto& [raw, decoded] : cases) EXPECT_EQ(DecodeRequestPath(raw), decoded) << raw;
}

TEST(TextCodecs, EscapeForTheirTarget)
{
    EXPECT_EQ(HtmlEscape("<a href=\"x\">&'"), "&lt;a href=&quot;x&quot;&gt;&amp;&#39;");
    EXPECT_EQ(QueryValueEncode("Al dric&x=1/\xc3\xa9"), "Al%20dric%26x%3D1%2F%C3%A9");
    EXPECT_EQ(JsonString("http://h/a\"b\\\n\x01"), "\"http:\\/\\/h\\/a\\\"b\\\\\\n\\u0001\"");
    EXPECT_EQ(LogSafe("GET /a\r\nX: \x80"), "GET /a\\x0D\\x0AX: \\x80");
    EXPECT_EQ(LogSafe(std::string(5000, 'a')).size(), 2003u);
}

TEST(HostNameFromHeader, KeepsOnlyPlainNames)
{
    const std::pair<const char*, const char*> cases[] = {
        {"127.0.0.1:18080", "127.0.0.1"},
        {"demo.example:80", "demo.example"},
        {"localhost", "localhost"},
        {"[::1]:18080", "[::1]"},
        {"", "fallback"},
        {":18080", "fallback"},
        {"evil.example\"><script>", "fallback"},
        {"a b", "fallback"},
        {"[::1", "fallback"},
        {"[zz]:1", "fallback"},
    };
    for (const auto& [header, name] : cases) {
        EXPECT_EQ(HostNameFromHeader(header, "fallback"), name) << header;
    }
}

TEST(CleanUserName, TrimsFiltersAndCuts)
{
    EXPECT_EQ(CleanUserName("  Aldric  "), "Aldric");
    EXPECT_EQ(CleanUserName("Al\tdr\x01ic\x7f"), "Aldric");
    EXPECT_EQ(CleanUserName("   "), "");
    EXPECT_EQ(CleanUserName(std::string(30, 'x')), std::string(24, 'x'));
    std::string accents;
    for (int i = 0; i < 30; ++i) accents += "\xc3\xa9";
    EXPECT_EQ(CleanUserName(accents), accents.substr(0, 48));
    EXPECT_EQ(CleanUserName("a\xff"), "a\xef\xbf\xbd");
}

TEST(PortalOptions, ParsesEveryOptionAndRejectsBadValues)
{
    PortalOptions options;
    std::string error;
    ASSERT_TRUE(
        ParsePortalOptions({"--port", "28080", "--offer-update", "/tmp/p.bin", "--files", "/tmp",
                            "--drop-every", "4096", "--bind", "0.0.0.0", "--secret-key", "/tmp/k",
                            "--rate", "500000", "--asset-mib", "8"},
                           options, error));
    EXPECT_EQ(options.port, 28080);
    EXPECT_EQ(options.offerUpdateFile, "/tmp/p.bin");
    EXPECT_EQ(options.secretKeyFile, "/tmp/k");
    EXPECT_EQ(options.filesDir, "/tmp");
    EXPECT_EQ(options.dropEvery, 4096u);
    EXPECT_EQ(options.bindAddress, "0.0.0.0");
    EXPECT_EQ(options.rate, 500000u);
    EXPECT_EQ(options.assetMiB, 8);
    PortalOptions defaults;
    ASSERT_TRUE(ParsePortalOptions({}, defaults, error));
    EXPECT_EQ(defaults.rate, 0u);
    EXPECT_EQ(defaults.assetMiB, 4);

    const std::vector<std::vector<std::string>> bad = {
        {"--port"},           {"--port", "0"},
        {"--port", "65533"},  {"--port", "80x"},
        {"--port", "-1"},     {"--drop-every", "0"},
        {"--drop-every", ""}, {"--files", ""},
        {"--verbose"},        {"18080"},
        {"--secret-key", ""}, {"--secret-key", "/tmp/k"},
        {"--rate", "0"},      {"--rate", "-5"},
        {"--rate", "1e6"},    {"--rate"},
        {"--asset-mib", "0"}, {"--asset-mib", "257"},
    };
    for (const auto& args : bad) {
        PortalOptions o;
        error.clear();
        EXPECT_FALSE(ParsePortalOptions(args, o, error)) << args[0];
        EXPECT_FALSE(error.empty());
    }
    PortalOptions last;
    ASSERT_TRUE(ParsePortalOptions({"--port", "65532"}, last, error));
    EXPECT_EQ(last.port, 65532);
}

TEST(RealmListPage, EveryLinkCarriesTheSessionAttributes)
{
    HostSet hosts;
    hosts.name = "127.0.0.1";
    hosts.gamePort = 28081;
    const std::string page = RealmListPage(hosts, "Al \"x\" & y", "0123abcd");
    const std::regex link("<a class=\"realm\" target=\"_game\" title=\"([^\"]+)\" "
                          "href=\"http://127\\.0\\.0\\.1:28081/"
                          "play\\?server=(s[0-9])&amp;user=Al%20%22x%22%20%26%20y\" "
                          "domain=\"[^\"]+\" sid=\"0123abcd\" user=\"Al &quot;x&quot; &amp; y\">");
    const auto count =
        std::distance(std::sregex_iterator(page.begin(), page.end(), link), std::sregex_iterator());
    EXPECT_EQ(count, static_cast<long>(Realms().size()));
    EXPECT_EQ(page.find("\"x\""), std::string::npos) << "raw quotes leaked into the page";
}

TEST(Cookies, RememberedHeroRoundTripsAndIsEscapedWhereShown)
{
    const std::pair<const char*, const char*> read[] = {
        {"remember=Aldric", "Aldric"},
        {"session=1f; remember=Al%20dric; korvel=1", "Al dric"},
        {"remember=\"Tess\"", "Tess"},
        {"xremember=Bob; remember_me=Bob", ""},
        {"remember=", ""},
        {"remember=%20%09%20", ""},
        {"", ""},
        {"remember=%3Cb%3E%26", "<b>&"},
    };
    for (const auto& [header, hero] : read) EXPECT_EQ(RememberedHero(header), hero) << header;

    for (const std::string name : {"Al \"x\"; y=1", "\xc3\x89lodie", "a,b\\c"}) {
        const std::string cookie = RememberCookie(name);
        ASSERT_EQ(cookie.rfind("remember=", 0), 0u) << cookie;
        const std::string pair = cookie.substr(0, cookie.find(';'));
        EXPECT_EQ(pair.find_first_of(" \",\\", 0), std::string::npos) << cookie;
        EXPECT_EQ(RememberedHero(pair), name);
        EXPECT_NE(cookie.find("; Max-Age=2592000; Path=/"), std::string::npos) << cookie;
    }
    EXPECT_EQ(SessionCookie("0123").find("Max-Age"), std::string::npos);
    EXPECT_EQ(SessionCookie("0123").find("Expires"), std::string::npos);

    const HostSet hosts;
    const std::string back = RealmListPage(hosts, "<b>Al</b>", "0123abcd", true);
    EXPECT_NE(
        back.find("<p id=\"greeting\" class=\"greeting\">Welcome back, &lt;b&gt;Al&lt;/b&gt;</p>"),
        std::string::npos);
    EXPECT_EQ(back.find("<b>"), std::string::npos);
    EXPECT_NE(back.find("href=\"/micro2?forget=1\""), std::string::npos)
        << "no way to another hero";
    const std::string fresh = RealmListPage(hosts, "Al", "0123abcd");
    EXPECT_EQ(fresh.find("id=\"greeting\""), std::string::npos);
    // Greeted or not, the realm list is the same.
    EXPECT_EQ(RealmListPage(hosts, "Al", "0123abcd", true).find("<div class=\"realms\">"),
              fresh.find("<div class=\"realms\">"));
}

TEST(IfNoneMatchHits, ComparesTagsWeaklyInAList)
{
    const std::string tag = "\"4-abc\"";
    const std::pair<const char*, bool> cases[] = {
        {"\"4-abc\"", true},
        {"W/\"4-abc\"", true},
        {"\"x\", \"4-abc\"", true},
        {" \"x\" ,\"4-abc\" ", true},
        {"*", true},
        {"", false},
        {"\"4-abd\"", false},
        {"4-abc", false},
        {"\"4-abc", false},
        {"\"x\",", false},
    };
    for (const auto& [header, hit] : cases) EXPECT_EQ(IfNoneMatchHits(header, tag), hit) << header;
}

// The pack, the music and the reward as a browser will read them.
TEST(GeneratedFiles, PackMusicAndRewardAreWhatTheyClaim)
{
    for (const std::size_t mib : {1u, 8u}) {
        const std::string pack = PackScript(mib * BytesPerMiB);
        ASSERT_EQ(pack.size(), mib * BytesPerMiB);
        const std::string end = "*/\nwindow.packLoaded = true;\n";
        ASSERT_EQ(pack.compare(pack.size() - end.size(), end.size(), end), 0);
        EXPECT_EQ(pack.find("*/"), pack.size() - end.size()) << "the comment ends early";
        EXPECT_EQ(pack.rfind("/*", 0), 0u);
        EXPECT_EQ(StrongEtag(pack), StrongEtag(PackScript(mib * BytesPerMiB)));
        EXPECT_TRUE(std::regex_match(StrongEtag(pack), std::regex("\"[0-9a-f]+-[0-9a-f]{16}\"")));
    }
    EXPECT_NE(StrongEtag(PackScript(BytesPerMiB)), StrongEtag(PackScript(2 * BytesPerMiB)));

    const std::string wav = MusicWav();
    auto u32 = [&wav](std::size_t at) {
        std::uint32_t v = 0;
        for (int i = 3; i >= 0; --i) v = v << 8 | static_cast<unsigned char>(wav[at + i]);
        return v;
    };
    auto u16 = [&wav](std::size_t at) {
        return static_cast<std::uint16_t>(static_cast<unsigned char>(wav[at]) |
                                          static_cast<unsigned char>(wav[at + 1]) << 8);
    };
    ASSERT_EQ(wav.size(), 44u + 16000u);
    EXPECT_EQ(wav.substr(0, 4), "RIFF");
    EXPECT_EQ(u32(4), wav.size() - 8);
    EXPECT_EQ(wav.substr(8, 8), "WAVEfmt ");
    EXPECT_EQ(u32(16), 16u);
    EXPECT_EQ(u16(20), 1);      // PCM
    EXPECT_EQ(u16(22), 1);      // mono
    EXPECT_EQ(u32(24), 8000u);  // samples per second
    EXPECT_EQ(u32(28), 16000u); // bytes per second
    EXPECT_EQ(u16(32), 2);      // block
    EXPECT_EQ(u16(34), 16);     // bits
    EXPECT_EQ(wav.substr(36, 4), "data");
    EXPECT_EQ(u32(40), 16000u);
    int loudest = 0;
    for (std::size_t at = 44; at < wav.size(); at += 2) {
        loudest = std::max(loudest, std::abs(static_cast<int>(static_cast<std::int16_t>(u16(at)))));
    }
    EXPECT_GT(loudest, 500) << "silent";
    EXPECT_LT(loudest, 8192) << "not quiet";

    const std::string reward = RewardData(RewardBytes);
    ASSERT_EQ(reward.size(), 262144u);
    for (const std::size_t i : {0u, 1u, 255u, 65536u, 262143u}) {
        EXPECT_EQ(static_cast<unsigned char>(reward[i]), (i * 31 + 7) & 0xff) << i;
    }
    EXPECT_EQ(StatsText(3, 2, 1), "pack.js requests=3 200=2 304=1");
}

TEST(NewSessionId, IsSixteenHexDigitsAndVaries)
{
    const std::string a = NewSessionId();
    EXPECT_TRUE(std::regex_match(a, std::regex("[0-9a-f]{16}")));
    EXPECT_NE(a, NewSessionId());
}

namespace {

struct FeedActivity {
    std::string number, start, over, url;
};

std::vector<FeedActivity> ReadFeed(const std::string& json, std::string& serverTime)
{
    qev::JsonReader reader;
    EXPECT_TRUE(qev::ParseJson(json.c_str(), reader));
    const qev::JsonNode* time = qev::FindMember(reader, "server_time");
    serverTime = time ? time->value : "";
    std::vector<FeedActivity> out;
    const qev::JsonNode* list = qev::FindMember(reader, "activities");
    if (!list) return out;
    for (const qev::JsonNode* item = list->firstChild; item; item = item->nextSibling) {
        auto text = [item](std::string_view key) {
            const qev::JsonNode* node = qev::FindChild(item, key);
            return node ? node->value : std::string();
        };
        out.push_back({text("activity_iNo"), text("activity_start"), text("activity_over"),
                       text("display_sUrl")});
    }
    return out;
}

std::tm At(int hour, int minute, int second)
{
    std::tm t{};
    t.tm_year = 2026 - 1900;
    t.tm_mon = 11;
    t.tm_mday = 8;
    t.tm_hour = hour;
    t.tm_min = minute;
    t.tm_sec = second;
    return t;
}

} // namespace

TEST(TaskFeedJson, PlacesActivitiesAroundNowAndReadsBackInTheClient)
{
    HostSet hosts;
    hosts.portalPort = 28080;
    const std::string json = TaskFeedJson(At(12, 0, 7), hosts);
    EXPECT_NE(
        json.find("\"display_sUrl\":\"http:\\/\\/127.0.0.1:28080\\/micro2\\/TaskTips?tid=1\""),
        std::string::npos)
        << json;

    std::string serverTime;
    const auto activities = ReadFeed(json, serverTime);
    EXPECT_EQ(serverTime, "2026-12-08 12:00:00") << "whole minutes, like the activities";
    ASSERT_EQ(activities.size(), 3u);
    const char* expected[][3] = {
        {"1", "12:10", "12:40"}, {"2", "11:55", "12:25"}, {"3", "15:00", "15:30"}};
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(activities[i].number, expected[i][0]);
        EXPECT_EQ(activities[i].start, expected[i][1]);
        EXPECT_EQ(activities[i].over, expected[i][2]);
    }
}

TEST(TaskFeedJson, TimesPastMidnightCountOnFrom24AndNoneBeforeIt)
{
    const HostSet hosts;
    std::string serverTime;
    const auto late = ReadFeed(TaskFeedJson(At(23, 55, 0), hosts), serverTime);
    ASSERT_EQ(late.size(), 3u);
    EXPECT_EQ(late[0].start, "24:05");
    EXPECT_EQ(late[1].over, "24:20");
    EXPECT_EQ(late[2].start, "26:55");
    const auto early = ReadFeed(TaskFeedJson(At(0, 2, 0), hosts), serverTime);
    ASSERT_EQ(early.size(), 3u);
    EXPECT_EQ(early[1].start, "00:00");
    EXPECT_EQ(early[1].over, "00:27");
}

// Where the offered package's statement comes from: a --secret-key file first, then an
// existing FILE.sig, then the built-in key, which the client of the same build trusts. A
// build without a built-in key must be handed one.
TEST(OfferedStatement, SignsWithTheGivenKeyOrTheSigFileOrTheBuildsOwnKey)
{
    char pattern[] = "/tmp/qev-offer-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const std::string dir = pattern;
    const std::string file = dir + "/qev next";
    std::ofstream(file, std::ios::binary) << "new build";
    const ManifestVersion next = NextVersion({QEV_VERSION_MS, QEV_VERSION_LS});
    const qev::BuildVersion nextBuild{next.major, next.minor};
    const qev::BuildVersion running{QEV_VERSION_MS, QEV_VERSION_LS};
    const auto facts = qev::MeasurePackageFile(file);
    ASSERT_TRUE(facts);
    std::string error;

    const auto builtIn = OfferedStatement(file, next, "", error);
    if (*DemoSecretKeyText() != '\0') {
        const auto buildKey = qev::DecodePublicKey(QEV_UPDATE_PUBLIC_KEY);
        ASSERT_TRUE(buildKey);
        ASSERT_TRUE(builtIn) << error;
        EXPECT_EQ(qev::VerifyUpdateStatement(*builtIn, *buildKey, *facts, nextBuild, running),
                  qev::StatementCheck::Good);
    } else {
        EXPECT_FALSE(builtIn);
        EXPECT_NE(error.find("--secret-key"), std::string::npos) << error;
    }

    const qev::SecretSeed seed = qev::NewSecretSeed();
    const std::string keyText = qev::FormatSecretKeyFile(seed, "a key of the operator's");
    const std::string keyFile = dir + "/operator.key";
    std::ofstream(keyFile, std::ios::binary) << keyText;
    std::ofstream(file + ".sig", std::ios::binary) << "operator's own";
    const auto given = OfferedStatement(file, next, keyFile, error);
    ASSERT_TRUE(given) << error;
    EXPECT_EQ(
        qev::VerifyUpdateStatement(*given, qev::PublicKeyOf(seed), *facts, nextBuild, running),
        qev::StatementCheck::Good);
    const auto published = OfferedStatement(file, next, "", error);
    ASSERT_TRUE(published);
    EXPECT_EQ(*published, "operator's own");

    // Key files that sign nothing, and a package that cannot be read.
    std::ofstream(dir + "/comments.key", std::ios::binary) << "# only a comment\n";
    std::ofstream(dir + "/huge.key", std::ios::binary)
        << keyText << std::string(70000, '#') << "\n"; // a key, but far too large a file
    struct Case {
        const char* name;
        std::string package, keyFile;
    } const cases[] = {
        {"missing key file", file, dir + "/missing.key"},
        {"key file without a key", file, dir + "/comments.key"},
        {"oversized key file", file, dir + "/huge.key"},
        {"key file is a folder", file, dir},
        {"missing package", dir + "/gone", keyFile},
    };
    for (const auto& c : cases) {
        error.clear();
        EXPECT_FALSE(OfferedStatement(c.package, next, c.keyFile, error)) << c.name;
        EXPECT_FALSE(error.empty()) << c.name;
    }
    std::filesystem::remove_all(dir);
}

TEST(UpdateManifest, ReadsBackThroughTheClientsReader)
{
    EXPECT_EQ(NextVersion({2, 65537}).minor, 65538u);
    EXPECT_EQ(NextVersion({2, UINT32_MAX}).major, 3u);
    EXPECT_EQ(NextVersion({2, UINT32_MAX}).minor, 0u);

    const std::string path = ::testing::TempDir() + "demo_portal_manifest.xml";
    auto readBack = [&](const std::string& xml) {
        std::ofstream(path, std::ios::binary) << xml;
        qev::LayoutDocument doc;
        EXPECT_EQ(qev::ReadUpdateManifest(doc, path), 1);
        return doc;
    };

    const auto current = readBack(UpdateManifestXml({QEV_VERSION_MS, QEV_VERSION_LS}, {}));
    EXPECT_EQ(current.major, QEV_VERSION_MS);
    EXPECT_EQ(current.minor, QEV_VERSION_LS);
    EXPECT_TRUE(current.manifestItems.empty());
    EXPECT_TRUE(
        qev::IsVersionCurrent(QEV_VERSION_MS, QEV_VERSION_LS, current.major, current.minor));

    const ManifestItem item{"127.0.0.1:28083", std::string(PackageFolder), "my \"new\" & qev.bin"};
    const auto offered =
        readBack(UpdateManifestXml(NextVersion({QEV_VERSION_MS, QEV_VERSION_LS}), item));
    EXPECT_FALSE(
        qev::IsVersionCurrent(QEV_VERSION_MS, QEV_VERSION_LS, offered.major, offered.minor));
    ASSERT_EQ(offered.manifestItems.size(), 1u);
    EXPECT_EQ(offered.manifestItems[0].host, item.host);
    EXPECT_EQ(offered.manifestItems[0].path, item.path);
    EXPECT_EQ(offered.manifestItems[0].file, item.file);
    std::remove(path.c_str());
}

// A FIFO in the files folder held a worker until some writer came; a link led out of the
// folder. Only regular files inside it are served, and refusing takes no time.
TEST(ServedFile, RegularFilesInsideTheFolderOnly)
{
    namespace fs = std::filesystem;
    char pattern[] = "/tmp/qev-served-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const fs::path root = pattern;
    fs::create_directory(root / "files");
    std::ofstream(root / "files" / "plain.bin") << "bytes";
    std::ofstream(root / "secret") << "outside";
    ASSERT_EQ(mkfifo((root / "files" / "pipe").c_str(), 0600), 0);
    fs::create_symlink(root / "secret", root / "files" / "out");
    fs::create_symlink("plain.bin", root / "files" / "alias");
    fs::create_directory(root / "files" / "sub");
    const std::string folder = (root / "files").string();

    const struct {
        const char* name;
        bool served;
    } cases[] = {
        {"plain.bin", true}, {"pipe", false},    {"out", false}, {"alias", false},
        {"sub", false},      {"missing", false}, {"..", false},  {"../secret", false},
    };
    const auto start = std::chrono::steady_clock::now();
    for (const auto& c : cases) {
        const int fd = OpenFileInFolder(folder, c.name);
        EXPECT_EQ(fd >= 0, c.served) << c.name;
        if (fd >= 0) {
            char text[8] = {};
            EXPECT_EQ(::read(fd, text, sizeof text), 5) << c.name;
            ::close(fd);
        }
    }
    const int pipe = OpenRegularFile((root / "files" / "pipe").string());
    EXPECT_LT(pipe, 0);
    const int named = OpenRegularFile((root / "files" / "alias").string());
    EXPECT_GE(named, 0); // the operator's own --offer-update path may be a link
    if (named >= 0) ::close(named);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
    fs::remove_all(root);
}

TEST(ServedFile, RequestHeadLimits)
{
    EXPECT_TRUE(RequestHeadWithinLimits(10, 600));
    EXPECT_TRUE(RequestHeadWithinLimits(MaxRequestHeaders, MaxRequestHeaderBytes));
    EXPECT_FALSE(RequestHeadWithinLimits(MaxRequestHeaders + 1, 1000));
    EXPECT_FALSE(RequestHeadWithinLimits(3, MaxRequestHeaderBytes + 1));
}
