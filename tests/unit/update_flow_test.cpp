#include "net/update_flow.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <thread>

#include "app/message.h"
#include "fake_http_server.h"
#include "net/network_init.h"
#include "net/update_statement.h"
#include "platform/files.h"
#include "platform/process.h"

namespace qev {
namespace {

namespace fs = std::filesystem;
using test::FakeHttpServer;
using test::FakeRequest;
using test::MakeReply;
using test::RangeReply;

std::string ReadAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string Manifest(const std::string& major, const std::string& minor,
                     const std::string& items = {})
{
    return "<config><game major=\"" + major + "\" minor=\"" + minor + "\">" + items +
           "</game></config>";
}

class UpdateFlowTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { InitNetwork(); }
    void SetUp() override
    {
        char pattern[] = "/tmp/qev-flow-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        root_ = pattern;
        const char* old = std::getenv("TMPDIR");
        oldTmp_ = old ? old : "";
        hadTmp_ = old != nullptr;
        setenv("TMPDIR", root_.c_str(), 1);
        const char* oldState = std::getenv("XDG_STATE_HOME");
        oldState_ = oldState ? oldState : "";
        hadState_ = oldState != nullptr;
        setenv("XDG_STATE_HOME", root_.c_str(), 1); // the log lands in root_/qev/qev.log
        temp_ = GetTempFolder();
        ASSERT_FALSE(temp_.empty());

        GameEntry game;
        game.name = "g";
        game.updateSources.push_back({server_.host(), "/update/", "update.xml"});
        game.updateSources.push_back({"standby.invalid", "/update/", "update2.xml"});
        state_.layout.games["g"] = game;
        state_.SelectGame("g");
        flow_.versionMS = 2;
        flow_.versionLS = 0x00010001; // 0.2.1.1
        flow_.updatePublicKey = EncodePublicKey(PublicKeyOf(Seed(1)));
        flow_.timing.retryWaitMs = 20;
        flow_.timing.connectTimeoutMs = 2000;
        server_.SetHandler([this](const FakeRequest& r) {
            std::lock_guard lock(filesMutex_);
            if (const auto special = replies_.find(r.target); special != replies_.end())
                return special->second;
            const auto it = files_.find(r.target);
            return it == files_.end() ? MakeReply(404) : RangeReply(it->second, r);
        });
    }
    void TearDown() override
    {
        flow_.Shutdown();
        if (hadTmp_)
            setenv("TMPDIR", oldTmp_.c_str(), 1);
        else
            unsetenv("TMPDIR");
        if (hadState_)
            setenv("XDG_STATE_HOME", oldState_.c_str(), 1);
        else
            unsetenv("XDG_STATE_HOME");
        fs::remove_all(root_);
    }
    void Put(const std::string& target, const std::string& content)
    {
        std::lock_guard lock(filesMutex_);
        files_[target] = content;
    }
    static SecretSeed Seed(unsigned char first)
    {
        SecretSeed seed{};
        for (std::size_t i = 0; i < seed.size(); ++i)
            seed[i] = static_cast<unsigned char>(first + i);
        return seed;
    }
    static PackageFacts Facts(const std::string& content, const std::string& name)
    {
        Sha256Hasher hasher;
        hasher.Update(content.data(), content.size());
        return {name, content.size(), hasher.Final()};
    }
    // Publishes content at target with its statement beside it (version 0.2.1.2 unless
    // told), naming the file the client stores it as.
    void PutSigned(const std::string& target, const std::string& content, const std::string& name,
                   BuildVersion version = {2, 0x00010002})
    {
        Put(target, content);
        Put(target + ".sig", MakeUpdateStatement(Seed(1), version, Facts(content, name)));
    }
    std::vector<std::string> LogLines()
    {
        std::ifstream in(root_ + "/qev/qev.log");
        std::vector<std::string> lines;
        for (std::string line; std::getline(in, line);) lines.push_back(line);
        return lines;
    }
    // Waits until no download is running.
    bool Settle(int timeoutMs = 5000)
    {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (std::chrono::steady_clock::now() < end) {
            if (!flow_.IsDownloading(UpdateFlow::ManifestDownload) &&
                !flow_.IsDownloading(UpdateFlow::PackageDownload) &&
                !flow_.IsDownloading(UpdateFlow::StatementDownload))
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return false;
    }

    std::string root_, temp_, oldTmp_, oldState_;
    bool hadTmp_ = false, hadState_ = false;
    FakeHttpServer server_;
    std::mutex filesMutex_;
    std::map<std::string, std::string> files_;
    std::map<std::string, test::FakeReply> replies_; // answered as they are
    LayoutState state_;
    UpdateFlow flow_{state_};
};

TEST_F(UpdateFlowTest, NoSourceNoCheck)
{
    state_.layout.games["g"].updateSources.clear();
    EXPECT_FALSE(flow_.CheckForUpdate());
    state_.currentGameName = "other";
    EXPECT_FALSE(flow_.CheckForUpdate());
    EXPECT_EQ(server_.RequestCount(), 0u);
}

// A program this user cannot replace is left to the system's package manager: one log line,
// no download at all.
TEST_F(UpdateFlowTest, ProgramTheUserCannotReplaceIsNotUpdated)
{
    const char* oldState = std::getenv("XDG_STATE_HOME");
    const std::string savedState = oldState ? oldState : "";
    setenv("XDG_STATE_HOME", root_.c_str(), 1);
    Put("/update/update.xml", Manifest("9", "0"));
    flow_.programPath = "/proc/version"; // a place where no one can make a sibling
    EXPECT_FALSE(flow_.CheckForUpdate());
    EXPECT_FALSE(flow_.IsDownloading(UpdateFlow::ManifestDownload));
    const std::string log = ReadAll(root_ + "/qev/qev.log");
    if (oldState)
        setenv("XDG_STATE_HOME", savedState.c_str(), 1);
    else
        unsetenv("XDG_STATE_HOME");
    EXPECT_EQ(server_.RequestCount(), 0u);
    EXPECT_NE(log.find("update check skipped: /proc/version cannot be replaced"), std::string::npos)
        << log;
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 1) << log;
}

TEST_F(UpdateFlowTest, CurrentBuildFetchesOnlyTheManifest)
{
    const std::string manifest =
        Manifest("2", "65536", "<item host=\"x\" path=\"/p/\" file=\"f\"/>");
    Put("/update/update.xml", manifest);
    ASSERT_TRUE(flow_.CheckForUpdate());
    ASSERT_TRUE(Settle());
    EXPECT_EQ(server_.RequestCount(), 1u);
    EXPECT_EQ(server_.RequestLine(0), "GET /update/update.xml HTTP/1.1");
    EXPECT_EQ(ReadAll(temp_ + "update.xml"), manifest);
    EXPECT_TRUE(flow_.packagePath.empty());
}

TEST_F(UpdateFlowTest, NewerBuildFetchesThePackageUnderItsDecodedName)
{
    const std::string package = std::string(3 * 1024 * 1024 + 17, 'P') + "end";
    Put("/update/update.xml", Manifest("2", "65538",
                                       "<item host=\"" + server_.host() +
                                           "\" path=\"/pkg/\" file=\"qev setup 2.bin\"/>"));
    PutSigned("/pkg/qev+setup+2.bin", package, "qev setup 2.bin");
    // An older, longer file of the same name must not leave its tail behind.
    std::ofstream(temp_ + "qev setup 2.bin") << std::string(4 * 1024 * 1024, 'o');
    ASSERT_TRUE(flow_.CheckForUpdate());
    ASSERT_TRUE(Settle());
    ASSERT_EQ(server_.RequestCount(), 3u);
    EXPECT_EQ(server_.RequestLine(1), "GET /pkg/qev+setup+2.bin HTTP/1.1");
    // The statement lies beside the package, on the same host.
    EXPECT_EQ(server_.RequestLine(2), "GET /pkg/qev+setup+2.bin.sig HTTP/1.1");
    EXPECT_EQ(flow_.packagePath, temp_ + "qev setup 2.bin");
    EXPECT_TRUE(ReadAll(flow_.packagePath) == package);
    EXPECT_FALSE(FileExists(temp_ + "qev setup 2.bin.sig")); // done with
    EXPECT_TRUE(LogLines().empty());
}

// Every way a package can fail its statement ends the same: no packagePath, package and
// statement deleted, one log line naming the check.
TEST_F(UpdateFlowTest, PackageFailingItsStatementIsRefusedAndDeleted)
{
    const std::string good = "new build " + std::string(300000, 'n');
    const std::string signedGood =
        MakeUpdateStatement(Seed(1), {2, 0x00010002}, Facts(good, "qev next"));
    std::string flipped = good;
    flipped[100000] ^= 0x20;
    auto held = MakeReply(200, signedGood);
    held.closeAfter = 10; // the statement never completes: refused at shutdown
    held.holdMs = 20000;
    const struct {
        const char* name;
        std::string package;
        std::optional<std::string> statement; // nothing: 404
        std::optional<test::FakeReply> reply; // answers the statement as it is
        const char* manifestMinor;
        const char* logged;
    } cases[] = {
        {"flipped package byte", flipped, signedGood, {}, "65538", "wrong SHA-256"},
        {"truncated package",
         good.substr(0, 1000),
         signedGood,
         {},
         "65538",
         "wrong file name or size"},
        {"another key",
         good,
         MakeUpdateStatement(Seed(2), {2, 0x00010002}, Facts(good, "qev next")),
         {},
         "65538",
         "bad signature"},
        {"statement for another file",
         good,
         MakeUpdateStatement(Seed(1), {2, 0x00010002}, Facts(good, "qev other")),
         {},
         "65538",
         "wrong file name or size"},
        {"statement for the running version",
         good,
         MakeUpdateStatement(Seed(1), {2, 0x00010001}, Facts(good, "qev next")),
         {},
         "65538",
         "version differs from the manifest"},
        {"older build replayed",
         good,
         MakeUpdateStatement(Seed(1), {1, 0}, Facts(good, "qev next")),
         {},
         "65538",
         "version differs from the manifest"},
        {"manifest names another version",
         good,
         signedGood,
         {},
         "65539",
         "version differs from the manifest"},
        {"malformed statement",
         good,
         std::string("not a statement\n"),
         {},
         "65538",
         "malformed statement"},
        {"empty statement", good, std::nullopt, MakeReply(200), "65538", "malformed statement"},
        {"huge statement", good, std::string(5000000, 's'), {}, "65538", "malformed statement"},
        {"statement missing", good, std::nullopt, {}, "65538", "statement download failed"},
        {"statement never completes", good, std::nullopt, held, "65538",
         "statement download failed"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        LayoutState state;
        state.layout.games["g"] = state_.layout.games["g"];
        state.SelectGame("g");
        UpdateFlow flow(state);
        flow.versionMS = flow_.versionMS;
        flow.versionLS = flow_.versionLS;
        flow.updatePublicKey = flow_.updatePublicKey;
        flow.timing = flow_.timing;
        {
            std::lock_guard lock(filesMutex_);
            files_.clear();
            replies_.clear();
            if (c.reply) replies_["/pkg/qev+next.sig"] = *c.reply;
        }
        Put("/update/update.xml",
            Manifest("2", c.manifestMinor,
                     "<item host=\"" + server_.host() + "\" path=\"/pkg/\" file=\"qev next\"/>"));
        Put("/pkg/qev+next", c.package);
        if (c.statement) Put("/pkg/qev+next.sig", *c.statement);
        fs::remove(root_ + "/qev/qev.log");
        const std::size_t before = server_.RequestCount();

        ASSERT_TRUE(flow.CheckForUpdate());
        if (c.reply && c.reply->holdMs > 0) {
            ASSERT_TRUE(server_.WaitForRequests(before + 3));
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            EXPECT_TRUE(flow.packagePath.empty());
            flow.Shutdown();
        }
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (LogLines().empty() && std::chrono::steady_clock::now() < end)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        flow.Shutdown();

        EXPECT_EQ(server_.RequestLine(before + 2), "GET /pkg/qev+next.sig HTTP/1.1");
        EXPECT_TRUE(flow.packagePath.empty());
        EXPECT_FALSE(FileExists(temp_ + "qev next"));
        EXPECT_FALSE(FileExists(temp_ + "qev next.sig"));
        EXPECT_EQ(LogLines(),
                  std::vector<std::string>{"update package refused: " + std::string(c.logged)});
        EXPECT_FALSE(flow.LaunchUpdater());
    }
}

TEST_F(UpdateFlowTest, WithoutAKeyPackagesAreTakenUncheckedAndThatIsLogged)
{
    flow_.updatePublicKey.clear();
    Put("/update/update.xml",
        Manifest("2", "65538",
                 "<item host=\"" + server_.host() + "\" path=\"/pkg/\" file=\"p.bin\"/>"));
    Put("/pkg/p.bin", "unsigned");
    ASSERT_TRUE(flow_.CheckForUpdate());
    ASSERT_TRUE(Settle());
    EXPECT_EQ(server_.RequestCount(), 2u); // no statement asked for
    EXPECT_EQ(flow_.packagePath, temp_ + "p.bin");
    EXPECT_EQ(LogLines(), std::vector<std::string>{"update not verified"});
}

TEST_F(UpdateFlowTest, NewerManifestWithoutItemsFetchesNothingMore)
{
    Put("/update/update.xml", Manifest("-1", "0"));
    ASSERT_TRUE(flow_.CheckForUpdate());
    ASSERT_TRUE(Settle());
    EXPECT_EQ(server_.RequestCount(), 1u);
    EXPECT_TRUE(flow_.packagePath.empty());
}

TEST_F(UpdateFlowTest, ItemIsChosenAmongAll)
{
    flow_.pickItem = [](std::size_t count) { return count - 1; };
    Put("/update/update.xml", Manifest("3", "0",
                                       "<item host=\"a.invalid\" path=\"/a/\" file=\"a\"/>"
                                       "<item host=\"" +
                                           server_.host() + "\" path=\"/b/\" file=\"b.bin\"/>"));
    PutSigned("/b/b.bin", "B", "b.bin", {3, 0});
    ASSERT_TRUE(flow_.CheckForUpdate());
    ASSERT_TRUE(Settle());
    EXPECT_EQ(flow_.packagePath, temp_ + "b.bin");
}

TEST_F(UpdateFlowTest, IsBuildCurrent)
{
    const struct {
        std::uint32_t ms, ls;
        const char* major;
        const char* minor;
        bool current;
    } cases[] = {
        {2, 65537, "2", "65536", true},       {2, 65537, "2", "65538", false},
        {0x00010000, 5, "65536", "6", false}, {2, 65537, "-1", "0", false},
        {2, 65537, "1", "99999", true},
    };
    const std::string path = temp_ + "m.xml";
    for (const auto& c : cases) {
        LayoutState state;
        UpdateFlow flow(state);
        flow.versionMS = c.ms;
        flow.versionLS = c.ls;
        std::ofstream(path, std::ios::trunc) << Manifest(c.major, c.minor);
        EXPECT_EQ(flow.IsBuildCurrent(path), c.current) << c.major << "/" << c.minor;
    }
    LayoutState state;
    UpdateFlow flow(state);
    std::ofstream(path, std::ios::trunc) << "<html>error page";
    EXPECT_TRUE(flow.IsBuildCurrent(path));
    EXPECT_TRUE(flow.IsBuildCurrent(path + ".missing"));
}

TEST_F(UpdateFlowTest, HostileNamesAreRefused)
{
    const char* refused[] = {"/p/",      "/p/.",     "/p/..",    "/p/%2E%2E",
                             "/p/a%2Fb", "/p/a%5Cb", "/p/a%00b", "/p/%2F"};
    for (const char* object : refused) EXPECT_EQ(TargetFileName(object), "") << object;
    EXPECT_EQ(TargetFileName("/p/qev+1%2B.bin"), "qev 1+.bin");
    EXPECT_EQ(TargetFileName("plain"), "plain");
    EXPECT_EQ(TargetFileName("/a/b/...."), "....");

    Put("/p/%2E%2E", "evil");
    Put("/p/..%2Fescape", "evil");
    ASSERT_EQ(flow_.StartDownload(UpdateFlow::PackageDownload, "/p/%2E%2E", server_.host()), 0);
    ASSERT_TRUE(Settle());
    ASSERT_EQ(flow_.StartDownload(UpdateFlow::PackageDownload, "/p/..%2Fescape", server_.host()),
              0);
    ASSERT_TRUE(Settle());
    EXPECT_TRUE(flow_.packagePath.empty());
    EXPECT_FALSE(FileExists(root_ + "/escape"));
    EXPECT_TRUE(fs::is_empty(temp_));
}

TEST_F(UpdateFlowTest, TargetThatIsALinkIsNotFollowed)
{
    const std::string victim = root_ + "/victim";
    std::ofstream(victim) << "keep";
    ASSERT_EQ(symlink(victim.c_str(), (temp_ + "pkg.bin").c_str()), 0);
    Put("/p/pkg.bin", "payload");
    ASSERT_EQ(flow_.StartDownload(UpdateFlow::PackageDownload, "/p/pkg.bin", server_.host()), 0);
    ASSERT_TRUE(Settle());
    EXPECT_EQ(ReadAll(victim), "keep");
    EXPECT_TRUE(flow_.packagePath.empty()); // the write failed: no package
}

TEST_F(UpdateFlowTest, SecondStartOfARunningIdIsRefused)
{
    auto slow = MakeReply(200, "x");
    slow.delayMs = 300;
    server_.Enqueue(slow);
    EXPECT_EQ(flow_.StartDownload(UpdateFlow::ManifestDownload, "/u.xml", server_.host()), 0);
    EXPECT_EQ(flow_.StartDownload(UpdateFlow::ManifestDownload, "/u.xml", server_.host()), -1);
    EXPECT_EQ(flow_.StartDownload(UpdateFlow::PackageDownload, "/v", server_.host()), 0);
    ASSERT_TRUE(Settle());
    EXPECT_EQ(flow_.StartDownload(UpdateFlow::ManifestDownload, "/u.xml", server_.host()), 0);
}

TEST_F(UpdateFlowTest, ReconnectFailureIsShownOtherNoticesAreNot)
{
    std::vector<std::string> shown;
    auto previous = SetMessageHandler([&](const std::string& text, const std::string&, int) {
        shown.push_back(text);
        return IdOk;
    });
    DownloadNotice n;
    n.owner = UpdateFlow::DownloadOwner;
    n.kind = NoticeError;
    n.code = EmptyReadCode;
    flow_.OnDownloadNotice(n);
    n.code = ReconnectFailedCode;
    n.owner = 0;
    flow_.OnDownloadNotice(n);
    n.owner = UpdateFlow::DownloadOwner;
    flow_.OnDownloadNotice(n);
    SetMessageHandler(previous);
    EXPECT_EQ(shown, std::vector<std::string>{"Download failed!"});
}

TEST_F(UpdateFlowTest, LaunchUpdaterHandsOverToACopy)
{
    std::vector<std::pair<std::string, std::string>> started;
    flow_.startProcess = [&](std::string_view line, const std::string& app) {
        started.emplace_back(std::string(line), app);
        return 1;
    };
    flow_.programPath = "/opt/qev/bin/qev";
    EXPECT_FALSE(flow_.LaunchUpdater());
    EXPECT_TRUE(started.empty());

    flow_.packagePath = temp_ + "qev 2.bin";
    EXPECT_FALSE(flow_.LaunchUpdater()); // nothing to copy: nothing started
    EXPECT_TRUE(started.empty());

    std::ofstream(flow_.packagePath) << "new build";
    ASSERT_TRUE(flow_.LaunchUpdater());
    ASSERT_EQ(started.size(), 1u);
    EXPECT_EQ(started[0].first, " -u -p" + std::to_string(CurrentProcessId()) + " \"" + temp_ +
                                    "qev 2.bin\" \"/opt/qev/bin/qev\"");
    EXPECT_EQ(started[0].second, temp_ + "updateqev 2.bin");
    EXPECT_EQ(ReadAll(started[0].second), "new build");
    struct stat st {};
    ASSERT_EQ(stat(started[0].second.c_str(), &st), 0);
    EXPECT_TRUE(st.st_mode & S_IXUSR);
}

TEST_F(UpdateFlowTest, ShutdownEndsIdleAndBusyDownloadsPromptly)
{
    int freePort = 0;
    {
        FakeHttpServer gone;
        freePort = gone.port();
    }
    auto stall = MakeReply(200, std::string(100000, 's'));
    stall.closeAfter = 10;
    stall.holdMs = 20000;
    server_.Enqueue(stall);
    flow_.timing.retryWaitMs = 1000;
    ASSERT_EQ(flow_.StartDownload(1, "/x", "127.0.0.1:" + std::to_string(freePort)), 0);
    ASSERT_EQ(flow_.StartDownload(2, "/stall.bin", server_.host()), 0);
    ASSERT_TRUE(server_.WaitForRequests(1));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const auto asked = std::chrono::steady_clock::now();
    flow_.Shutdown();
    EXPECT_LT(std::chrono::steady_clock::now() - asked, std::chrono::milliseconds(1500));
    EXPECT_FALSE(flow_.IsDownloading(1));
    EXPECT_EQ(flow_.StartDownload(1, "/x", server_.host()), -1);
}

TEST(UpdateFlowHost, SplitHostPort)
{
    const struct {
        const char* in;
        const char* host;
        int port;
    } cases[] = {{"a.example", "a.example", 80},
                 {"a.example:8080", "a.example", 8080},
                 {"127.0.0.1:18080", "127.0.0.1", 18080},
                 {"a:", "a", 80},
                 {"a:0", "a", 80},
                 {"a:99999", "a", 80},
                 {"a:x1", "a:x1", 80},
                 {"", "", 80}};
    for (const auto& c : cases) {
        const auto [host, port] = SplitHostPort(c.in);
        EXPECT_EQ(host, c.host) << c.in;
        EXPECT_EQ(port, c.port) << c.in;
    }
}

} // namespace
} // namespace qev
