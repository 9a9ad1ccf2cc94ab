#include "core/app/settings.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <vector>

#include "core/platform/files.h"
#include "sandbox.h"

namespace qev {
namespace {

TEST(Settings, SplitReportAddress)
{
    const struct {
        const char* value;
        const char* host;
        const char* path;
        const char* query;
    } cases[] = {
        {"http://www.stats.example/pm/r.php?k=1&v=2", "stats.example", "/pm/r.php", "?k=1&v=2"},
        {"http://stats.example/pm/r.php", "stats.example", "/pm/r.php", ""},
        {"http://stats.example", "", "stats.example", ""},
        {"http://stats.example?x=1", "", "stats.example", "?x=1"},
        // A "www." further on does not eat the host's first characters.
        {"http://stats.example/www.page", "stats.example", "/www.page", ""},
        {"http://stats.example/a?u=www.x", "stats.example", "/a", "?u=www.x"},
        {"http://host:8080/p", "host:8080", "/p", ""},
        // Without "://" the host begins at the third character.
        {"abhost/p", "host", "/p", ""},
        {"ab", "", "", ""},
        {"", "", "", ""},
        {"?only", "", "", "?only"},
        {"http://", "", "", ""},
        {"http://www.", "", "", ""},
        {"x://a?b?c", "", "a", "?b?c"},
    };
    for (const auto& c : cases) {
        const ReportAddress a = SplitReportAddress(c.value);
        EXPECT_EQ(a.host, c.host) << c.value;
        EXPECT_EQ(a.path, c.path) << c.value;
        EXPECT_EQ(a.query, c.query) << c.value;
    }
}

TEST(Settings, MachineIdentityConcatenatesAdaptersInOrder)
{
    EXPECT_EQ(FormatMachineIdentity({}), "");
    const std::string id = FormatMachineIdentity(
        {{0x00, 0x1a, 0x2b, 0x3c, 0x4d, 0x5e}, {0xff, 0xee, 0x0d, 0x0c, 0x0b, 0x0a}});
    EXPECT_EQ(id, "001A2B3C4D5EFFEE0D0C0B0A");
    EXPECT_EQ(id.size(), 24u);
}

// The hardware addresses the kernel lists for non-loopback interfaces with 6-byte
// addresses, read from /sys independently of the code under test; nullopt without /sys.
std::optional<std::vector<std::string>> KernelAdapterAddresses()
{
    std::error_code ec;
    std::filesystem::directory_iterator dir("/sys/class/net", ec);
    if (ec) return std::nullopt;
    std::vector<std::string> out;
    for (const auto& entry : dir) {
        auto read = [&](const char* name) {
            std::string text;
            std::getline(std::ifstream(entry.path() / name), text);
            return text;
        };
        if (read("addr_len") != "6") continue;
        if (std::stoul(read("flags"), nullptr, 16) & 0x8) continue; // IFF_LOOPBACK
        std::string hex;
        for (const char c : read("address"))
            if (c != ':') hex += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        out.push_back(hex);
    }
    return out;
}

TEST(Settings, MachineIdentityHoldsEveryAdapterOfThisMachine)
{
    const std::string mine = GetMachineIdentity();
    EXPECT_EQ(mine.size() % 12, 0u);
    EXPECT_EQ(mine.find_first_not_of("0123456789ABCDEF"), std::string::npos);
    const auto kernel = KernelAdapterAddresses();
    if (!kernel) GTEST_SKIP() << "no /sys/class/net to compare with";
    EXPECT_EQ(mine.size(), kernel->size() * 12) << mine;
    for (const std::string& address : *kernel) {
        bool found = false;
        for (std::size_t i = 0; i + 12 <= mine.size(); i += 12)
            found |= mine.substr(i, 12) == address;
        EXPECT_TRUE(found) << address << " missing from " << mine;
    }
}

class SettingsFile : public ::testing::Test {
protected:
    void Write(const std::string& text) { std::ofstream(path_, std::ios::binary) << text; }
    const test::Sandbox dir_;
    const std::string path_ = dir_ / "pm_config.ini";
};

TEST_F(SettingsFile, ReadsFirstPmOfConfigSection)
{
    Write(
        "[other]\nPM=http://no/x\n[Config]\npm = http://www.r.example/a?q=1\nPM=http://second/b\n");
    EXPECT_EQ(ReadReportAddressValue(path_), "http://www.r.example/a?q=1");
}

TEST_F(SettingsFile, MissingOrBrokenFilesGiveEmpty)
{
    EXPECT_EQ(ReadReportAddressValue(path_), "");
    Write("garbage without sections\n\x01\x02\n[config]\n");
    EXPECT_EQ(ReadReportAddressValue(path_), "");
    EXPECT_EQ(ReadReportAddressValue(dir_.path()), "");
}

TEST_F(SettingsFile, ValueIsCutTo511Characters)
{
    // Longer than the ini reader's own line buffer, too.
    const std::string longValue = "http://h/" + std::string(600, 'p');
    Write("[config]\nPM = " + longValue + "  ; note\nother=1\n");
    EXPECT_EQ(ReadReportAddressValue(path_), longValue.substr(0, 511));
    const std::string colon = "http://h/a?b=" + std::string(300, 'c');
    Write("[config]\nPM: " + colon + "\n");
    EXPECT_EQ(ReadReportAddressValue(path_), colon);
    const std::string mid = "http://h/" + std::string(300, 'q');
    Write("[config]\nPM=" + mid + "\n");
    EXPECT_EQ(ReadReportAddressValue(path_), mid);
    // Characters, not bytes: a two-byte character counts once and is never split.
    std::string wide = "http://h/";
    for (int i = 0; i < 600; ++i) wide += "\xc3\xa9";
    Write("[config]\nPM=" + wide + "\n");
    const std::string got = ReadReportAddressValue(path_);
    EXPECT_EQ(got, wide.substr(0, 9 + 2 * (511 - 9)));
}

TEST_F(SettingsFile, OnePairOfEnclosingQuotesIsDropped)
{
    const struct {
        const char* line;
        const char* value;
    } cases[] = {
        {"PM=\"http://h/p?x\"", "http://h/p?x"},
        {"PM='http://h/p?x'", "http://h/p?x"},
        {"PM = \"http://h/p?x\"  ; note", "http://h/p?x"},
        {"PM=\"\"http://h/p\"\"", "\"http://h/p\""}, // one pair only
        {"PM=\"http://h/p'", "\"http://h/p'"},       // not a pair
        {"PM=\"http://h/p", "\"http://h/p"},
        {"PM=\"", "\""},
        {"PM=\"\"", ""},
        {"PM=http://h/\"q\"", "http://h/\"q\""}, // quotes inside stay
    };
    for (const auto& c : cases) {
        Write(std::string("[config]\n") + c.line + "\n");
        EXPECT_EQ(ReadReportAddressValue(path_), c.value) << c.line;
    }
    // Quotes around a value longer than the reader's own line buffer go as well.
    const std::string longValue = "http://h/" + std::string(400, 'p');
    Write("[config]\nPM=\"" + longValue + "\"\n");
    EXPECT_EQ(ReadReportAddressValue(path_), longValue);
}

// The settings file beside the running program: absent, then present and read.
TEST(Settings, FileBesideTheTestProgram)
{
    EXPECT_EQ(GetSettingsFilePath(), "");
    const ReportAddress none = ReadLocalSettings();
    EXPECT_TRUE(none.host.empty() && none.path.empty() && none.query.empty());

    const std::string program = GetProgramPath();
    const std::string beside = program.substr(0, program.rfind('/') + 1) + SettingsFileName;
    struct Remove {
        std::string path;
        ~Remove() { std::remove(path.c_str()); }
    } cleanup{beside};
    std::ofstream(beside, std::ios::binary)
        << "[config]\r\nPM=\"http://www.stats.example/pm/r.php?from=test\"\r\n";
    EXPECT_EQ(GetSettingsFilePath(), beside);
    const ReportAddress a = ReadLocalSettings();
    EXPECT_EQ(a.host, "stats.example");
    EXPECT_EQ(a.path, "/pm/r.php");
    EXPECT_EQ(a.query, "?from=test");
    EXPECT_FALSE(a.https);
    for (const char* value : {"https://s.example:8443/r", "HTTPS://s.example/r"})
        EXPECT_TRUE(ReportAddressIsHttps(value)) << value;
    for (const char* value : {"http://s.example/r", "xhttps://s.example/r", "s.example/r"})
        EXPECT_FALSE(ReportAddressIsHttps(value)) << value;
}

} // namespace
} // namespace qev
