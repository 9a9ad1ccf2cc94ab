#include "layout/update_manifest.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>

namespace qev {
namespace {

class Manifest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/qev-manifest-XXXXXX";
        const int fd = mkstemp(pattern);
        ASSERT_GE(fd, 0);
        close(fd);
        path_ = pattern;
    }
    void TearDown() override { std::remove(path_.c_str()); }
    int Read(const std::string& text)
    {
        std::ofstream(path_, std::ios::binary | std::ios::trunc) << text;
        return ReadUpdateManifest(doc_, path_);
    }
    std::string path_;
    LayoutDocument doc_;
};

TEST_F(Manifest, VersionWithoutItems)
{
    EXPECT_EQ(Read(R"(<config><game major="2" minor="65538"/></config>)"), 1);
    EXPECT_EQ(doc_.major, 2u);
    EXPECT_EQ(doc_.minor, 65538u);
    EXPECT_TRUE(doc_.manifestItems.empty());
}

TEST_F(Manifest, NumbersReadLikeAtoi)
{
    const struct {
        const char* text;
        std::uint32_t value;
    } cases[] = {{"abc", 0}, {"-1", 4294967295u}, {"  12x", 12}, {"+7", 7}, {"", 0}};
    for (const auto& c : cases) {
        Read(std::string(R"(<config><game major=")") + c.text + R"("/></config>)");
        EXPECT_EQ(doc_.major, c.value) << c.text;
    }
}

TEST_F(Manifest, ItemsOfTheFirstGameOnlyInOrder)
{
    EXPECT_EQ(Read(R"(<?xml version="1.0" encoding="utf-8"?>
<config>
  <item host="ignored" path="/" file="x"/>
  <game major="3">
    <item host="a.example" path="/p/" file="qev 1.bin" extra="1"/>
    <other/>
    <item host="b.example:8080" path="/q/"/>
  </game>
  <game major="9"><item host="z"/></game>
</config>
<config><game minor="5"/></config>)"),
              1);
    EXPECT_EQ(doc_.major, 3u);
    EXPECT_EQ(doc_.minor, 0u); // no "minor": unchanged
    ASSERT_EQ(doc_.manifestItems.size(), 2u);
    EXPECT_EQ(doc_.manifestItems[0].host, "a.example");
    EXPECT_EQ(doc_.manifestItems[0].path, "/p/");
    EXPECT_EQ(doc_.manifestItems[0].file, "qev 1.bin");
    EXPECT_EQ(doc_.manifestItems[1].host, "b.example:8080");
    EXPECT_EQ(doc_.manifestItems[1].file, ""); // no default file name here
    // Items are only ever appended.
    EXPECT_EQ(Read(R"(<config><game><item file="c"/></game></config>)"), 1);
    EXPECT_EQ(doc_.major, 3u);
    EXPECT_EQ(doc_.manifestItems.size(), 3u);
}

TEST_F(Manifest, FailuresChangeNothing)
{
    doc_.major = 7;
    doc_.minor = 8;
    const char* broken[] = {"", "<html><body>502 Bad Gateway", "not xml at all",
                            "<config><game major=\"1\"></config>"};
    for (const char* text : broken) {
        EXPECT_EQ(Read(text), 0) << text;
        EXPECT_EQ(doc_.major, 7u);
        EXPECT_EQ(doc_.minor, 8u);
        EXPECT_TRUE(doc_.manifestItems.empty());
    }
    EXPECT_EQ(ReadUpdateManifest(doc_, path_ + ".missing"), 0);
    EXPECT_EQ(ReadUpdateManifest(doc_, "/"), 0);
    // Well-formed but without the elements: read, nothing changes.
    EXPECT_EQ(Read("<other/>"), 1);
    EXPECT_EQ(Read("<config/>"), 1);
    EXPECT_EQ(doc_.major, 7u);
}

TEST(ManifestVersion, IsVersionCurrent)
{
    const struct {
        std::uint32_t ms, ls, major, minor;
        bool current;
    } cases[] = {
        {2, 65537, 2, 65537, true},
        {2, 65537, 2, 65536, true},  // equal major, lower minor
        {2, 65537, 2, 65538, false}, // 0.2.1.2 offered
        {2, 65537, 1, 0xFFFFFFFF, true},
        {0x00010000, 5, 65536, 6, false}, // 1.0.0.5 vs 65536/6
        {2, 65537, 0xFFFFFFFF, 0, false}, // "-1"
        {2, 65537, 0, 0, true},           // nothing loaded
        {0xFFFFFFFF, 0, 0x7FFFFFFF, 0xFFFFFFFF, true},
    };
    for (const auto& c : cases)
        EXPECT_EQ(IsVersionCurrent(c.ms, c.ls, c.major, c.minor), c.current)
            << c.ms << "." << c.ls << " vs " << c.major << "/" << c.minor;
}

} // namespace
} // namespace qev
