#include "core/net/update_flow.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <thread>
#include <tuple>

#include "core/base/message.h"
#include "core/base/state_trace.h"
#include "core/base/url_codec.h"
#include "core/net/update_statement.h"
#include "core/platform/files.h"
#include "core/platform/network_init.h"
#include "core/platform/process.h"
#include "core/platform/program_image.h"
#include "fake_http_server.h"
#include "sandbox.h"
#include "test_keys.h"

namespace qev {

// The tests' view of the flow's private state.
struct UpdateFlowProbe {
    static bool IsChecking(const UpdateFlow& f) { return f.IsChecking(); }
    static bool IsDownloading(const UpdateFlow& f, int kind) { return f.IsDownloading(kind); }
    static std::string TargetFolder(const UpdateFlow& f) { return f.TargetFolder(); }
    static std::string OffReason(const UpdateFlow& f) { return f.OffReason(); }
    static std::string PackagePath(const UpdateFlow& f)
    {
        std::lock_guard lock(f.noticeMutex_);
        return f.packagePath_;
    }
};

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
        for (const char* name : {"XDG_STATE_HOME", "XDG_CACHE_HOME"}) {
            const char* old = std::getenv(name);
            saved_.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
        }
        setenv("XDG_STATE_HOME", root_.c_str(), 1); // the log lands in root_/qev/qev.log
        setenv("XDG_CACHE_HOME", (root_ + "/cache").c_str(), 1);
        updateRoot_ = root_ + "/cache/qev/update/";

        GameEntry game;
        game.name = "g";
        game.updateSources.push_back({server_.host(), "/update/", "update.xml"});
        game.updateSources.push_back(
            {"http://" + server_.host(), "/standby", "update2.xml"}); // a scheme
        state_.layout.games["g"] = game;
        state_.SelectGame("g");
        Configure(flow_);
        server_.SetHandler([this](const FakeRequest& r) {
            std::lock_guard lock(filesMutex_);
            if (const auto special = replies_.find(r.target); special != replies_.end())
                return special->second;
            const auto it = files_.find(r.target);
            if (it == files_.end()) return MakeReply(404);
            auto reply = RangeReply(it->second, r);
            reply.headers.push_back("ETag: \"" + std::to_string(it->second.size()) + "\"");
            if (const auto drop = dropFirst_.find(r.target); drop != dropFirst_.end()) {
                reply.closeAfter = drop->second; // cut once: the client resumes
                dropFirst_.erase(drop);
            }
            return reply;
        });
    }
    void TearDown() override
    {
        flow_.Shutdown();
        for (const auto& [name, value] : saved_) {
            if (value)
                setenv(name.c_str(), value->c_str(), 1);
            else
                unsetenv(name.c_str());
        }
    }
    void Configure(UpdateFlow& flow)
    {
        flow.versionMS = 2;
        flow.versionLS = 0x00010001; // 0.2.1.1
        flow.updatePublicKey = EncodePublicKey(PublicKeyOf(Seed(1)));
        flow.timing.retryWaitMs = 20;
        flow.timing.connectTimeoutMs = 2000;
        flow.timing.refusedWaitMs = 100;
        flow.startProcess = [this](std::string_view line, const SealedProgram& program) {
            std::string bytes(static_cast<std::size_t>(program.Size()), '\0');
            program.Image().ReadAt(0, bytes.data(), bytes.size());
            if (startsAs_.value_or(0) > 0) started_.emplace_back(std::string(line), bytes);
            return startsAs_;
        };
    }
    // A flow of its own over a copy of the fixture's game, set up as flow_ is.
    struct OwnFlow {
        LayoutState state;
        UpdateFlow flow{state};
    };
    std::unique_ptr<OwnFlow> NewFlow()
    {
        auto own = std::make_unique<OwnFlow>();
        own->state.layout.games["g"] = state_.layout.games["g"];
        own->state.SelectGame("g");
        Configure(own->flow);
        return own;
    }
    void Put(const std::string& target, const std::string& content)
    {
        std::lock_guard lock(filesMutex_);
        files_[target] = content;
    }
    static SecretSeed Seed(unsigned char first) { return test::TestSeed(first); }
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
    std::string Item(const std::string& path, const std::string& file)
    {
        return "<item host=\"" + server_.host() + "\" path=\"" + path + "\" file=\"" + file +
               "\"/>";
    }
    std::vector<std::string> LogLines()
    {
        std::ifstream in(root_ + "/qev/qev.log");
        std::vector<std::string> lines;
        for (std::string line; std::getline(in, line);) lines.push_back(line);
        return lines;
    }
    std::vector<std::string> Requests()
    {
        std::vector<std::string> lines;
        for (std::size_t i = 0; i < server_.RequestCount(); ++i)
            lines.push_back(server_.RequestLine(i));
        return lines;
    }
    // Waits until the check has ended one way or the other.
    bool Settle(UpdateFlow& flow, int timeoutMs = 8000)
    {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (std::chrono::steady_clock::now() < end) {
            if (!UpdateFlowProbe::IsChecking(flow) &&
                !UpdateFlowProbe::IsDownloading(flow, UpdateFlow::ManifestDownload) &&
                !UpdateFlowProbe::IsDownloading(flow, UpdateFlow::PackageDownload) &&
                !UpdateFlowProbe::IsDownloading(flow, UpdateFlow::StatementDownload))
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return false;
    }
    bool Settle() { return Settle(flow_); }
    // The names in this run's folder.
    std::vector<std::string> FolderNames(const UpdateFlow& flow)
    {
        std::vector<std::string> names;
        if (UpdateFlowProbe::TargetFolder(flow).empty()) return names;
        for (const auto& e : fs::directory_iterator(UpdateFlowProbe::TargetFolder(flow)))
            names.push_back(e.path().filename().string());
        return names;
    }

    const test::Sandbox sandbox_;
    const std::string root_ = sandbox_.path();
    std::string updateRoot_;
    std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
    FakeHttpServer server_;
    std::mutex filesMutex_;
    std::map<std::string, std::string> files_;
    std::map<std::string, test::FakeReply> replies_; // answered as they are
    std::map<std::string, long> dropFirst_;
    std::vector<std::pair<std::string, std::string>> started_; // line, sealed bytes
    std::optional<int> startsAs_ = 4242; // what the start gives: nothing when it fails
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

// Reasons not to check at all: each is one log line and no request.
TEST_F(UpdateFlowTest, NoCheckWithoutAReplaceableProgramAKeyOrAPrivateFolder)
{
    const char* keyOff = "the built-in update key does not decode";
    const char* folderOff = "another user controls the update folder";
    const struct {
        const char* name;
        std::function<void(UpdateFlow&)> set;
        const char* logged;
        const char* offReason; // shown to the player; "" for the ordinary cases
    } cases[] = {
        {"system-wide program", [](UpdateFlow& f) { f.programPath = "/proc/version"; },
         "update check skipped: /proc/version cannot be replaced by this user", ""},
        {"key that does not decode", [](UpdateFlow& f) { f.updatePublicKey = "not a key"; },
         "update check skipped: the built-in update key is not a public key", keyOff},
        {"empty key", [](UpdateFlow& f) { f.updatePublicKey.clear(); },
         "update check skipped: the built-in update key is not a public key", keyOff},
        {"folder above writable by everyone",
         [this](UpdateFlow&) { fs::permissions(root_ + "/cache", fs::perms::all); },
         "update check skipped: no private download folder (" /* + root_/cache ... */, folderOff},
        {"cache that is a file",
         [this](UpdateFlow&) {
             fs::remove_all(root_ + "/cache");
             std::ofstream(root_ + "/cache") << "x";
         },
         "update check skipped: no private download folder (", ""},
    };
    Put("/update/update.xml", Manifest("9", "0", Item("/p/", "p")));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(root_ + "/cache");
        fs::create_directories(updateRoot_);
        fs::remove(root_ + "/qev/qev.log");
        auto own = NewFlow();
        UpdateFlow& flow = own->flow;
        c.set(flow);
        EXPECT_FALSE(flow.CheckForUpdate());
        ASSERT_EQ(LogLines().size(), 1u);
        EXPECT_EQ(LogLines()[0].rfind(c.logged, 0), 0u) << LogLines()[0];
        EXPECT_EQ(UpdateFlowProbe::OffReason(flow), c.offReason);
        EXPECT_EQ(flow.PlayerStatus(),
                  *c.offReason ? "Updates off: " + std::string(c.offReason) + " (see the log)"
                               : "");
    }
    EXPECT_EQ(server_.RequestCount(), 0u);
}

// The folder is the user's alone: a looser update/ is tightened, one of another user is
// refused (that part needs the rights to give a folder away).
TEST_F(UpdateFlowTest, DownloadFolderIsPrivateAndOwn)
{
    Put("/update/update.xml", Manifest("2", "65536"));
    fs::create_directories(updateRoot_);
    fs::permissions(updateRoot_, fs::perms::owner_all | fs::perms::group_read |
                                     fs::perms::group_exec | fs::perms::others_exec);
    ASSERT_TRUE(flow_.CheckForUpdate());
    struct stat st {};
    ASSERT_EQ(stat(updateRoot_.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    ASSERT_EQ(stat(UpdateFlowProbe::TargetFolder(flow_).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    EXPECT_EQ(UpdateFlowProbe::TargetFolder(flow_).rfind(updateRoot_ + "run-", 0), 0u)
        << UpdateFlowProbe::TargetFolder(flow_);
    ASSERT_TRUE(Settle());
    flow_.Shutdown();

    if (geteuid() != 0) GTEST_SKIP() << "giving a folder to another user needs root";
    ASSERT_EQ(chown(updateRoot_.c_str(), 65534, 65534), 0);
    auto own = NewFlow();
    UpdateFlow& other = own->flow;
    fs::remove(root_ + "/qev/qev.log");
    EXPECT_FALSE(other.CheckForUpdate());
    EXPECT_EQ(LogLines(), std::vector<std::string>{"update check skipped: no private download "
                                                   "folder (" +
                                                   updateRoot_.substr(0, updateRoot_.size() - 1) +
                                                   " belongs to another user)"});
    EXPECT_EQ(UpdateFlowProbe::OffReason(other), "another user controls the update folder");
}

TEST_F(UpdateFlowTest, CurrentBuildFetchesOnlyTheManifestAndLeavesNothing)
{
    Put("/update/update.xml", Manifest("2", "65536", Item("/p/", "f")));
    ASSERT_TRUE(flow_.CheckForUpdate());
    ASSERT_TRUE(Settle());
    EXPECT_EQ(Requests(), std::vector<std::string>{"GET /update/update.xml HTTP/1.1"});
    EXPECT_TRUE(UpdateFlowProbe::PackagePath(flow_).empty());
    EXPECT_EQ(flow_.PlayerStatus(), "");
    EXPECT_TRUE(FolderNames(flow_).empty());
    EXPECT_TRUE(LogLines().empty());
    EXPECT_EQ(UpdateFlowProbe::OffReason(flow_), "");
    const std::string folder = UpdateFlowProbe::TargetFolder(flow_);
    flow_.~UpdateFlow();
    new (&flow_) UpdateFlow(state_);
    EXPECT_FALSE(fs::exists(folder)); // nothing to hand over: the folder goes with the run
}

// The statement comes first, then the package, through a cut connection: the resume goes
// on writing the same open file, without losing its first bytes.
TEST_F(UpdateFlowTest, NewerBuildFetchesStatementThenPackageAndResumes)
{
    std::string package(3 * 1024 * 1024 + 17, 'P');
    for (std::size_t i = 0; i < package.size(); i += 4096) package[i] = static_cast<char>(i >> 12);
    Put("/update/update.xml", Manifest("2", "65538", Item("/pkg/", "qev setup 2.bin")));
    PutSigned("/pkg/qev%20setup%202.bin", package, "qev setup 2.bin");
    dropFirst_["/pkg/qev%20setup%202.bin"] = 1000000;
    ASSERT_TRUE(flow_.CheckForUpdate());
    ASSERT_TRUE(Settle());
    const auto requests = Requests();
    ASSERT_GE(requests.size(), 4u);
    EXPECT_EQ(requests[1], "GET /pkg/qev%20setup%202.bin.sig HTTP/1.1");
    EXPECT_EQ(requests[2], "GET /pkg/qev%20setup%202.bin HTTP/1.1");
    EXPECT_EQ(requests[3], "GET /pkg/qev%20setup%202.bin HTTP/1.1"); // the resume
    EXPECT_NE(server_.Requests()[3].raw.find("Range: bytes=1000000-"), std::string::npos);
    EXPECT_EQ(UpdateFlowProbe::PackagePath(flow_),
              UpdateFlowProbe::TargetFolder(flow_) + "qev setup 2.bin");
    EXPECT_TRUE(ReadAll(UpdateFlowProbe::PackagePath(flow_)) == package);
    EXPECT_EQ(FolderNames(flow_), std::vector<std::string>{"qev setup 2.bin"}); // no statement
    EXPECT_EQ(flow_.PlayerStatus(),
              "Version 0.2.1.2 is ready: it installs when you close the client");
    EXPECT_EQ(LogLines(), std::vector<std::string>{"update 0.2.1.2 served by " + server_.host() +
                                                   "/update/update.xml"});
}

// A run that ends during the package keeps what came, with its validator, for the next
// start, which resumes it for the same statement only; another statement removes it.
TEST_F(UpdateFlowTest, PartialPackageIsResumedAtTheNextStartForTheSameStatement)
{
    const std::string package(3 * 1024 * 1024, 'Q'), other(package.size() + 1, 'R');
    const std::string pkg = "/pkg/qev%20next.bin", name = "qev next.bin";
    Put("/update/update.xml", Manifest("2", "65538", Item("/pkg/", name)));
    for (const bool same : {true, false}) {
        PutSigned(pkg, package, name);
        test::FakeReply stalls = MakeReply(200, package);
        stalls.headers.push_back("ETag: \"3145728\"");
        stalls.writeSize = 2500000;
        stalls.pieceDelayMs = 60000;
        replies_[pkg] = stalls;
        {
            const auto first = NewFlow();
            ASSERT_TRUE(first->flow.CheckForUpdate());
            const std::string file = UpdateFlowProbe::TargetFolder(first->flow) + name;
            std::error_code e;
            for (int i = 0; i < 1000 && !(fs::file_size(file, e) > 0 && !e); ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
        } // the run ends
        const auto kept = fs::file_size(updateRoot_ + "partial/package");
        {
            std::lock_guard lock(filesMutex_);
            replies_.erase(pkg);
        }
        if (!same) PutSigned(pkg, other, name);
        const std::size_t before = server_.RequestCount();
        const auto next = NewFlow();
        ASSERT_TRUE(next->flow.CheckForUpdate());
        ASSERT_TRUE(Settle(next->flow));
        EXPECT_TRUE(ReadAll(UpdateFlowProbe::PackagePath(next->flow)) == (same ? package : other));
        ASSERT_EQ(server_.RequestCount(), before + 3); // manifest, statement, package
        const auto requests = server_.Requests();
        const auto& asked = requests[before + 2];
        EXPECT_EQ(asked.Header("Range"), "bytes=" + std::to_string(same ? kept : 0) + "-");
        EXPECT_EQ(asked.Header("If-Range"), same ? "\"3145728\"" : "");
        EXPECT_TRUE(fs::is_empty(updateRoot_ + "partial"));
    }
}

// A name stored by an operator in the form '+' for a blank is asked once more that way.
TEST_F(UpdateFlowTest, NameWithBlanksIsAskedInThePlusFormAfterA404)
{
    Put("/update/update.xml", Manifest("2", "65538", Item("/pkg/", "qev setup.bin")));
    PutSigned("/pkg/qev+setup.bin", "plus", "qev setup.bin");
    ASSERT_TRUE(flow_.CheckForUpdate());
    ASSERT_TRUE(Settle());
    EXPECT_EQ(Requests(), (std::vector<std::string>{"GET /update/update.xml HTTP/1.1",
                                                    "GET /pkg/qev%20setup.bin.sig HTTP/1.1",
                                                    "GET /pkg/qev+setup.bin.sig HTTP/1.1",
                                                    "GET /pkg/qev+setup.bin HTTP/1.1"}));
    EXPECT_EQ(UpdateFlowProbe::PackagePath(flow_),
              UpdateFlowProbe::TargetFolder(flow_) + "qev setup.bin");
}

// Every way a package can fail ends the same: nothing verified or started, no file left,
// one log line naming the check, and then the standby source (which has nothing).
TEST_F(UpdateFlowTest, RefusalsLeaveNothingAndStartNothing)
{
    const std::string good = "new build " + std::string(300000, 'n');
    const std::string signedGood =
        MakeUpdateStatement(Seed(1), {2, 0x00010002}, Facts(good, "qev next"));
    std::string flipped = good;
    flipped[100000] ^= 0x20;
    auto held = MakeReply(200, signedGood);
    held.closeAfter = 10; // the statement never completes: refused at shutdown
    held.holdMs = 20000;
    const std::string longName(201, 'n');
    const std::string backslashed = "qev\\next";
    const struct {
        const char* name;
        std::string file; // in the manifest
        std::string package;
        std::optional<std::string> statement; // nothing: 404
        std::optional<test::FakeReply> reply; // answers the statement as it is
        const char* manifestMinor;
        std::string logged;
        bool packageAsked;
    } cases[] = {
        {"flipped package byte",
         "qev next",
         flipped,
         signedGood,
         {},
         "65538",
         "wrong SHA-256",
         true},
        {"truncated package",
         "qev next",
         good.substr(0, 1000),
         signedGood,
         {},
         "65538",
         "wrong file name or size",
         true},
        {"package longer than signed",
         "qev next",
         good + "tail",
         signedGood,
         {},
         "65538",
         "package larger than signed",
         true},
        {"package one byte longer than signed",
         "qev next",
         good + "t",
         signedGood,
         {},
         "65538",
         "package larger than signed",
         true},
        {"another key",
         "qev next",
         good,
         MakeUpdateStatement(Seed(2), {2, 0x00010002}, Facts(good, "qev next")),
         {},
         "65538",
         "bad signature",
         false},
        {"statement for another file",
         "qev next",
         good,
         MakeUpdateStatement(Seed(1), {2, 0x00010002}, Facts(good, "qev other")),
         {},
         "65538",
         "wrong file name or size",
         false},
        {"statement for another target",
         "qev next",
         good,
         MakeUpdateStatement(Seed(1), {2, 0x00010002}, Facts(good, "qev next"),
                             "windows-x86_64-qev"),
         {},
         "65538",
         "built for another target",
         false},
        {"statement for the running version",
         "qev next",
         good,
         MakeUpdateStatement(Seed(1), {2, 0x00010001}, Facts(good, "qev next")),
         {},
         "65538",
         "version differs from the manifest",
         false},
        {"older build replayed",
         "qev next",
         good,
         MakeUpdateStatement(Seed(1), {1, 0}, Facts(good, "qev next")),
         {},
         "65538",
         "version differs from the manifest",
         false},
        {"old build offered as new",
         "qev next",
         good,
         MakeUpdateStatement(Seed(1), {2, 0x00010000}, Facts(good, "qev next")),
         {},
         "65536",
         "",
         false},
        {"manifest names another version",
         "qev next",
         good,
         signedGood,
         {},
         "65539",
         "version differs from the manifest",
         false},
        {"malformed statement",
         "qev next",
         good,
         std::string("not a statement\n"),
         {},
         "65538",
         "malformed statement",
         false},
        {"empty statement", "qev next", good, std::nullopt, MakeReply(200), "65538",
         "malformed statement", false},
        {"huge statement",
         "qev next",
         good,
         std::string(5000000, 's'),
         {},
         "65538",
         "malformed statement",
         false},
        {"statement missing",
         "qev next",
         good,
         std::nullopt,
         {},
         "65538",
         "statement download failed",
         false},
        {"statement never completes", "qev next", good, std::nullopt, held, "65538",
         "statement download failed", false},
        {"name past 200 bytes",
         longName,
         good,
         MakeUpdateStatement(Seed(1), {2, 0x00010002}, Facts(good, longName)),
         {},
         "65538",
         "file name too long",
         false},
        {"hostile name", ".", good, signedGood, {}, "65538", "unusable file name \".\"", false},
        {"backslash in the name",
         backslashed,
         good,
         signedGood,
         {},
         "65538",
         "unusable file name \"qev\\x5Cnext\"",
         false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto own = NewFlow();
        UpdateFlow& flow = own->flow;
        const std::string object = "/pkg/" + UrlEncode(c.file);
        {
            std::lock_guard lock(filesMutex_);
            files_.clear();
            replies_.clear();
            if (c.reply) replies_[object + ".sig"] = *c.reply;
        }
        Put("/update/update.xml", Manifest("2", c.manifestMinor, Item("/pkg/", c.file)));
        Put(object, c.package);
        if (c.statement) Put(object + ".sig", *c.statement);
        fs::remove(root_ + "/qev/qev.log");
        const std::size_t before = server_.RequestCount();
        started_.clear();

        ASSERT_TRUE(flow.CheckForUpdate());
        if (c.reply && c.reply->holdMs > 0) {
            ASSERT_TRUE(server_.WaitForRequests(before + 2));
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            EXPECT_TRUE(UpdateFlowProbe::PackagePath(flow).empty());
            flow.Shutdown();
        }
        ASSERT_TRUE(Settle(flow));
        flow.Shutdown();

        bool packageAsked = false;
        for (std::size_t i = before; i < server_.RequestCount(); ++i)
            packageAsked |= server_.RequestLine(i) == "GET " + object + " HTTP/1.1";
        EXPECT_EQ(packageAsked, c.packageAsked);
        EXPECT_TRUE(UpdateFlowProbe::PackagePath(flow).empty());
        EXPECT_EQ(flow.PlayerStatus(), "");
        EXPECT_TRUE(FolderNames(flow).empty());
        std::vector<std::string> expected;
        if (!c.logged.empty()) expected.push_back("update package refused: " + c.logged);
        if (!(c.reply && c.reply->holdMs > 0) && !c.logged.empty())
            expected.push_back("update check: no update source served an update");
        EXPECT_EQ(LogLines(), expected);
        EXPECT_FALSE(flow.LaunchUpdater());
        EXPECT_TRUE(started_.empty());
    }
}

// A package whose bytes could not all be written (here: past the file size limit) is never
// taken for verified, whatever it hashes to.
TEST_F(UpdateFlowTest, PackageThatCouldNotBeWrittenIsRefused)
{
    const std::string package(200000, 'w');
    Put("/update/update.xml", Manifest("2", "65538", Item("/pkg/", "w.bin")));
    PutSigned("/pkg/w.bin", package, "w.bin");
    struct rlimit old {};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = old;
    small.rlim_cur = 100000;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    ASSERT_TRUE(flow_.CheckForUpdate());
    const bool settled = Settle();
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
    ASSERT_TRUE(settled);
    EXPECT_TRUE(UpdateFlowProbe::PackagePath(flow_).empty());
    EXPECT_TRUE(FolderNames(flow_).empty());
    // At the first failed write, and without asking the standby.
    EXPECT_EQ(LogLines(),
              std::vector<std::string>{"update package refused: package could not be written"});
    for (const std::string& line : Requests()) EXPECT_EQ(line.find("standby"), std::string::npos);
}

// The standby source serves when the first one cannot: its manifest is missing or
// malformed, or its statement is refused. Each source starts from a clean record.
TEST_F(UpdateFlowTest, StandbySourceServesWhenTheFirstFails)
{
    const std::string package = "standby build";
    const struct {
        const char* name;
        std::optional<std::string> mainManifest;
        std::optional<std::string> mainStatement;
        std::size_t requests;
    } cases[] = {
        {"main manifest missing", std::nullopt, std::nullopt, 4},
        {"main manifest malformed", std::string("<html>error page"), std::nullopt, 4},
        {"main statement refused", Manifest("3", "0", Item("/main/", "q.bin")),
         MakeUpdateStatement(Seed(2), {3, 0}, Facts("evil", "q.bin")), 5},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        {
            std::lock_guard lock(filesMutex_);
            files_.clear();
        }
        if (c.mainManifest) Put("/update/update.xml", *c.mainManifest);
        if (c.mainStatement) {
            Put("/main/q.bin", "evil");
            Put("/main/q.bin.sig", *c.mainStatement);
        }
        Put("/standby/update2.xml", Manifest("3", "0", Item("/standby/", "q.bin")));
        PutSigned("/standby/q.bin", package, "q.bin", {3, 0});
        fs::remove(root_ + "/qev/qev.log");
        auto own = NewFlow();
        own->state.layout.manifestItems.push_back({"stale.invalid", "/x/", "stale"});
        UpdateFlow& flow = own->flow;
        std::vector<std::size_t> offered; // items to choose from, per manifest that offered
        flow.pickItem = [&offered](std::size_t count) {
            offered.push_back(count);
            return count - 1;
        };
        const std::size_t before = server_.RequestCount();
        ASSERT_TRUE(flow.CheckForUpdate());
        ASSERT_TRUE(Settle(flow));
        EXPECT_EQ(server_.RequestCount() - before, c.requests);
        EXPECT_EQ(server_.RequestLine(before + c.requests - 3),
                  "GET /standby/update2.xml HTTP/1.1");
        EXPECT_EQ(UpdateFlowProbe::PackagePath(flow),
                  UpdateFlowProbe::TargetFolder(flow) + "q.bin");
        EXPECT_EQ(ReadAll(UpdateFlowProbe::PackagePath(flow)), package);
        const auto lines = LogLines();
        ASSERT_FALSE(lines.empty());
        EXPECT_EQ(lines.back(),
                  "update 0.3.0.0 served by http://" + server_.host() + "/standby/update2.xml");
        // the statement refused on the main source says so first
        EXPECT_EQ(lines.size(), c.mainStatement ? 2u : 1u);
        // The standby's choice is among the layout's own item and its manifest's, never
        // the first manifest's.
        ASSERT_FALSE(offered.empty());
        EXPECT_EQ(offered.back(), 2u);
        flow.Shutdown();
    }
}

// A first source that cannot be reached at all (its download rests without a word) gives
// way to the standby in bounded time.
TEST_F(UpdateFlowTest, UnreachableSourceGivesWayToTheStandby)
{
    int freePort = 0;
    {
        FakeHttpServer gone;
        freePort = gone.port();
    }
    state_.layout.games["g"].updateSources.front().host = "127.0.0.1:" + std::to_string(freePort);
    Put("/standby/update2.xml", Manifest("3", "0", Item("/standby/", "q.bin")));
    PutSigned("/standby/q.bin", "from the standby", "q.bin", {3, 0});
    ASSERT_TRUE(flow_.CheckForUpdate());
    ASSERT_TRUE(Settle(flow_, 10000));
    EXPECT_EQ(ReadAll(UpdateFlowProbe::PackagePath(flow_)), "from the standby");
    EXPECT_EQ(LogLines(), std::vector<std::string>{"update 0.3.0.0 served by http://" +
                                                   server_.host() + "/standby/update2.xml"});
}

// Download failed! is for the last source only: the first one failing moves on silently.
TEST_F(UpdateFlowTest, DownloadFailedIsShownOnlyWhenTheLastSourceFails)
{
    // Both manifests keep breaking off: each download gives up after its reconnects.
    auto cut = MakeReply(200, std::string(1000, 'm'));
    cut.closeAfter = 10;
    replies_["/update/update.xml"] = cut;
    replies_["/standby/update2.xml"] = cut;
    std::vector<std::string> shown;
    auto previous = SetMessageHandler([&](const std::string& text, const std::string&, int) {
        shown.push_back(text);
        return IdOk;
    });
    ASSERT_TRUE(flow_.CheckForUpdate());
    ASSERT_TRUE(Settle(flow_, 20000));
    SetMessageHandler(previous);
    EXPECT_EQ(shown, std::vector<std::string>{"Download failed!"});
    EXPECT_EQ(LogLines(),
              std::vector<std::string>{"update check: no update source served an update"});
}

TEST_F(UpdateFlowTest, ItemIsChosenAmongAll)
{
    flow_.pickItem = [](std::size_t count) { return count - 1; };
    Put("/update/update.xml",
        Manifest("3", "0",
                 "<item host=\"a.invalid\" path=\"/a/\" file=\"a\"/>" + Item("/b/", "b.bin")));
    PutSigned("/b/b.bin", "B", "b.bin", {3, 0});
    ASSERT_TRUE(flow_.CheckForUpdate());
    ASSERT_TRUE(Settle());
    EXPECT_EQ(UpdateFlowProbe::PackagePath(flow_), UpdateFlowProbe::TargetFolder(flow_) + "b.bin");
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
    const std::string path = root_ + "/m.xml";
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

TEST_F(UpdateFlowTest, NamesFromOutside)
{
    const char* refused[] = {"/p/",      "/p/.",     "/p/..",    "/p/%2E%2E",
                             "/p/a%2Fb", "/p/a%5Cb", "/p/a%00b", "/p/%2F"};
    for (const char* object : refused) EXPECT_EQ(TargetFileName(object), "") << object;
    EXPECT_EQ(TargetFileName("/p/qev+1%2B.bin"), "qev 1+.bin");
    EXPECT_EQ(TargetFileName("plain"), "plain");
    EXPECT_EQ(TargetFileName("/a/b/...."), "....");

    const struct {
        const char* path;
        const char* file;
        const char* joined;
    } joins[] = {
        {"/micro_client/mm/qev_new", "update2.xml", "/micro_client/mm/qev_new/update2.xml"},
        {"/update/", "update.xml", "/update/update.xml"},
        {"/update/", "/update.xml", "/update/update.xml"},
        {"/update", "/update.xml", "/update/update.xml"},
        {"", "update.xml", "update.xml"}};
    for (const auto& j : joins) EXPECT_EQ(JoinSourcePath(j.path, j.file), j.joined) << j.path;

    for (const auto& [host, https, port] : {std::tuple{"s.example", false, 80},
                                            {"HTTPS://s.example", true, 443},
                                            {"https://s.example:80", true, 80},
                                            {"http://s.example:8080", false, 8080}}) {
        const SourceHost split = SplitSourceHost(host);
        EXPECT_TRUE(split.https == https && split.name == "s.example" && split.port == port)
            << host;
    }

    EXPECT_EQ(LoggableName("plain name.bin"), "plain name.bin");
    EXPECT_EQ(LoggableName(std::string("a\0b\x7f\xc3\xa9\\\"", 8)),
              "a\\x00b\\x7F\\xC3\\xA9\\x5C\\x22");
    EXPECT_EQ(LoggableName(std::string(100, 'x')), std::string(64, 'x'));
    EXPECT_EQ(LoggableName(std::string(62, 'x') + "\n"), std::string(62, 'x')); // no half escape
}

// The longest name a package may have is fetched like any other.
TEST_F(UpdateFlowTest, NameOfTheLongestAllowedLengthIsFetched)
{
    const std::string name(MaxInstallableNameBytes, 'n');
    Put("/update/update.xml", Manifest("3", "0", Item("/p/", name)));
    PutSigned("/p/" + name, "long", name, {3, 0});
    ASSERT_TRUE(flow_.CheckForUpdate());
    ASSERT_TRUE(Settle());
    EXPECT_EQ(UpdateFlowProbe::PackagePath(flow_), UpdateFlowProbe::TargetFolder(flow_) + name);
}

// Items that would aim a request elsewhere than a mirror's web server are dropped before
// the choice, with one line for all of them; none is asked for.
TEST_F(UpdateFlowTest, ItemsAimedElsewhereAreNeverAsked)
{
    FakeHttpServer elsewhere;
    const std::string local = "127.0.0.1:" + std::to_string(elsewhere.port());
    Put("/update/update.xml",
        Manifest("3", "0",
                 "<item host=\"" + local + "\" path=\"/admin/\" file=\"reboot\"/>" +
                     Item("/p/", "q.bin") + "<item host=\"a@" + local +
                     "\" path=\"/p/\" file=\"q.bin\"/>"));
    PutSigned("/p/q.bin", "mirrored", "q.bin", {3, 0});
    flow_.pickItem = [](std::size_t) { return 0; };
    ASSERT_TRUE(flow_.CheckForUpdate());
    ASSERT_TRUE(Settle());
    EXPECT_EQ(ReadAll(UpdateFlowProbe::PackagePath(flow_)), "mirrored");
    EXPECT_EQ(elsewhere.RequestCount(), 0u);
    ASSERT_EQ(LogLines().size(), 2u);
    EXPECT_EQ(LogLines()[0], "update item refused, port " + std::to_string(elsewhere.port()) +
                                 " is not the source's: " + local + " /admin/ reboot (and 1 more)");
}

TEST(UpdateFlowItems, ManifestItemRefusal)
{
    const struct {
        const char* host;
        const char* path;
        const char* file;
        const char* refusal; // "" when the item may be asked for
    } cases[] = {
        {"mirror.example", "/p/", "qev 2.bin", ""},
        {"mirror.example:8080", "/p/", "f", ""}, // the source's port
        {"[::1]:443", "/p/", "f", ""},
        {"mirror.example", "/p/", "a..b", ""},
        {"mirror.example:22", "/p/", "f", "port 22 is not the source's"},
        {"user@mirror.example", "/p/", "f", "a host with a user part"},
        {"mirror.example/x", "/p/", "f", "not a plain host"},
        {"mirror.example:x1", "/p/", "f", "not a plain host"},
        {"mirror.example", "/p/", "%2e.", "a file with a \"..\" segment"},
        {"mirror.example", "@127.0.0.1/p/", "f", "a path not starting with '/'"},
        {"mirror.example", "/admin/reboot?confirm=yes&x=", "y", "a path with a query or fragment"},
        {"mirror.example", "/p/../../admin/", "f", "a path with a \"..\" segment"},
        {"mirror.example", "/p/%2E%2e/", "f", "a path with a \"..\" segment"},
        {"mirror.example", "/p\\..\\", "f", "a path with a \"..\" segment"},
        {"mirror.example", "/p/%0d%0aX: y/", "f", "a path with blanks or bytes past ASCII"},
        {"mirror.example", "/p/%0d%0a/", "f", "a path with an escaped control byte"},
        {"mirror.example", "/p/\x7f/", "f", "a path with a control character"},
        {"mirror.example", "/p/", "f#x", "a file with a query or fragment"},
        {"mirror.example", "/p/", "f\r\nHost: x", "a file with a control character"},
        {"mirror.example", "/p/", "f%1f", "a file with an escaped control byte"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ManifestItemRefusal({c.host, c.path, c.file}, 8080), c.refusal)
            << c.host << " " << c.path << " " << c.file;
}

TEST(UpdateFlowProgram, ProgramPathFromLink)
{
    const FileIdentity image{5, 77};
    const struct {
        const char* link;
        std::optional<FileIdentity> named, running;
        const char* path;
    } cases[] = {
        {"/opt/qev/qev", image, image, "/opt/qev/qev"},
        {"/opt/qev/qev (deleted)", image, image, ""},     // removed: the text names nothing
        {"/opt/qev/qev", FileIdentity{5, 78}, image, ""}, // a new file took its place
        {"/opt/qev/qev", std::nullopt, image, ""},
        {"/opt/qev/qev", image, std::nullopt, ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ProgramPathFromLink(c.link, c.named, c.running), c.path) << c.link;
    // This very test program has not been replaced.
    EXPECT_EQ(GetProgramPath(), fs::read_symlink("/proc/self/exe").string());
}

// A link planted at the package's name is removed, never written through.
TEST_F(UpdateFlowTest, LinkPlantedInTheFolderIsNotFollowed)
{
    const std::string victim = root_ + "/victim";
    std::ofstream(victim) << "keep";
    auto slow = MakeReply(200, Manifest("3", "0", Item("/p/", "pkg.bin")));
    slow.delayMs = 300;
    replies_["/update/update.xml"] = slow;
    PutSigned("/p/pkg.bin", "payload", "pkg.bin", {3, 0});
    ASSERT_TRUE(flow_.CheckForUpdate());
    ASSERT_EQ(symlink(victim.c_str(), (UpdateFlowProbe::TargetFolder(flow_) + "pkg.bin").c_str()),
              0);
    ASSERT_TRUE(Settle());
    EXPECT_EQ(ReadAll(victim), "keep");
    EXPECT_EQ(ReadAll(UpdateFlowProbe::PackagePath(flow_)), "payload");
    EXPECT_FALSE(fs::is_symlink(UpdateFlowProbe::PackagePath(flow_)));
}

TEST_F(UpdateFlowTest, SecondStartOfARunningKindIsRefused)
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

// What starts is a sealed copy of the verified bytes, checked once more: bytes changed in
// the folder after the check (by any process of this user) start nothing.
TEST_F(UpdateFlowTest, LaunchStartsOnlyTheVerifiedBytes)
{
    const std::string package = "new build " + std::string(100000, 'b');
    const struct {
        const char* name;
        std::function<void(const std::string& path)> meddle;
        std::string logged; // "" when it starts
    } cases[] = {
        {"untouched", [](const std::string&) {}, ""},
        {"rewritten in place",
         [](const std::string& path) {
             std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
             f.seekp(5000);
             f << "EVIL";
         },
         "update package refused: changed after it was verified"},
        {"cut short", [](const std::string& path) { fs::resize_file(path, 10); },
         "update not started: the package could not be read"},
        {"replaced by another file",
         [&](const std::string& path) {
             fs::remove(path);
             std::ofstream(path) << "other";
         },
         ""}, // the open file still holds the verified bytes
        {"a start that fails", [&](const std::string&) { startsAs_ = std::nullopt; },
         "update not started: the sealed copy could not be started"},
        {"a start that gives no process", [&](const std::string&) { startsAs_ = 0; },
         "update not started: the sealed copy could not be started"},
    };
    Put("/update/update.xml", Manifest("2", "65538", Item("/pkg/", "qev 2.bin")));
    PutSigned("/pkg/qev+2.bin", package, "qev 2.bin");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        startsAs_ = 4242;
        auto own = NewFlow();
        UpdateFlow& flow = own->flow;
        EXPECT_FALSE(flow.LaunchUpdater()); // nothing verified yet
        ASSERT_TRUE(flow.CheckForUpdate());
        flow.programPath = "/opt/qev/bin/qev";
        ASSERT_TRUE(Settle(flow));
        ASSERT_FALSE(UpdateFlowProbe::PackagePath(flow).empty());
        c.meddle(UpdateFlowProbe::PackagePath(flow));
        fs::remove(root_ + "/qev/qev.log");
        started_.clear();
        flow.Shutdown();
        EXPECT_EQ(flow.LaunchUpdater(), c.logged.empty());
        if (c.logged.empty()) {
            ASSERT_EQ(started_.size(), 1u);
            EXPECT_EQ(started_[0].first, " -u -p" + std::to_string(CurrentProcessId()) + " \"" +
                                             UpdateFlowProbe::TargetFolder(flow) +
                                             "qev 2.bin\" \"/opt/qev/bin/qev\"");
            EXPECT_TRUE(started_[0].second == package);
            EXPECT_TRUE(LogLines().empty());
        } else {
            EXPECT_TRUE(started_.empty());
            EXPECT_EQ(LogLines(), std::vector<std::string>{c.logged});
        }
        const std::string folder = UpdateFlowProbe::TargetFolder(flow);
        own.reset();
        EXPECT_TRUE(fs::exists(folder)); // a verified package stays for the hand-over
    }
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
    EXPECT_FALSE(UpdateFlowProbe::IsDownloading(flow_, 1));
    EXPECT_EQ(flow_.StartDownload(1, "/x", server_.host()), -1);
}

// Each source's manifest is read into a document of its own: the check leaves the layout's
// manifest record as it found it, however many manifests it read.
TEST_F(UpdateFlowTest, ManifestsLeaveTheLayoutsRecordAlone)
{
    state_.layout.major = 1;
    state_.layout.minor = 7;
    state_.layout.manifestItems = {{"own.invalid", "/own/", "own.bin"}};
    Put("/update/update.xml",
        Manifest("9", "0", "<item host=\"127.0.0.1:1\" path=\"/p/\" file=\"q.bin\"/>"));
    Put("/standby/update2.xml", Manifest("2", "65537")); // this build: the check ends
    ASSERT_TRUE(flow_.CheckForUpdate());
    ASSERT_TRUE(Settle());
    EXPECT_EQ(server_.RequestCount(), 2u);
    EXPECT_EQ(state_.layout.major, 1u);
    EXPECT_EQ(state_.layout.minor, 7u);
    ASSERT_EQ(state_.layout.manifestItems.size(), 1u);
    EXPECT_EQ(state_.layout.manifestItems[0].host, "own.invalid");
    EXPECT_TRUE(UpdateFlowProbe::PackagePath(flow_).empty());
}

TEST(UpdateFlowItems, UsableItemsKeepTheManifestsOrder)
{
    const std::vector<UpdateSource> items = {{"a.example", "/a/", "a.bin"},
                                             {"b.example:9", "/b/", "b.bin"},
                                             {"c.example", "c/", "c.bin"},
                                             {"d.example:443", "/d/", "d.bin"}};
    const auto usable = UsableItems(items, 8080);
    ASSERT_EQ(usable.size(), 2u);
    EXPECT_EQ(usable[0].host, "a.example");
    EXPECT_EQ(usable[1].host, "d.example:443");
    EXPECT_TRUE(UsableItems({}, 80).empty());
}

TEST(UpdateKeptPackage, RecordCarriesTheSignedHashInLowerCaseHex)
{
    Sha256Digest digest{};
    digest[0] = 0x00;
    digest[1] = 0xAB;
    digest[31] = 0xF0;
    const PartialPackage p = KeptRecord("https://h:8443", "/p/q%20r.bin", "q r.bin", 42, digest);
    EXPECT_EQ(p.host, "https://h:8443");
    EXPECT_EQ(p.path, "/p/q%20r.bin");
    EXPECT_EQ(p.name, "q r.bin");
    EXPECT_EQ(p.size, 42u);
    EXPECT_EQ(p.sha256, "00ab" + std::string(58, '0') + "f0");
    EXPECT_TRUE(p.validator.empty());
}

TEST(StateTrace, TransitionLinesAndFlagNames)
{
    EXPECT_EQ(FormatTransition("update check", "Manifest", "Statement", "a newer build offered"),
              "update check: Manifest -> Statement (a newer build offered)");
    EXPECT_EQ(FormatTransition("download 17", "0", "Ready", ""), "download 17: 0 -> Ready");
    static constexpr FlagName Names[] = {{0x10, "Ready"}, {0x1, "Low"}, {0x100, "Reconnect"}};
    const struct {
        std::uint32_t flags;
        const char* text;
    } cases[] = {{0, "0"},
                 {0x10, "Ready"},
                 {0x111, "Ready|Low|Reconnect"}, // in the table's order
                 {0x118, "Ready|Reconnect|0x8"}, // an unnamed bit as hex
                 {0x80000000u, "0x80000000"}};
    for (const auto& c : cases) EXPECT_EQ(FlagNames(c.flags, Names), c.text) << c.flags;
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
