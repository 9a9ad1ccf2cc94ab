#include "app/settings.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>

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
    // Whatever this machine has: 12 upper-case hex digits per adapter.
    const std::string mine = GetMachineIdentity();
    EXPECT_EQ(mine.size() % 12, 0u);
    EXPECT_EQ(mine.find_first_not_of("0123456789ABCDEF"), std::string::npos);
}

class SettingsFile : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/qev-settings-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        path_ = dir_ + "/pm_config.ini";
    }
    void TearDown() override
    {
        std::remove(path_.c_str());
        rmdir(dir_.c_str());
    }
    void Write(const std::string& text) { std::ofstream(path_, std::ios::binary) << text; }
    std::string dir_, path_;
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
    EXPECT_EQ(ReadReportAddressValue(dir_), "");
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

TEST(Settings, NoFileBesideTheTestProgram)
{
    // The test binary's folder holds no settings file, so there is no report address.
    EXPECT_EQ(GetSettingsFilePath(), "");
    const ReportAddress a = ReadLocalSettings();
    EXPECT_TRUE(a.host.empty() && a.path.empty() && a.query.empty());
}

} // namespace
} // namespace qev
