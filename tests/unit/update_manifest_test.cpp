#include "core/layout/update_manifest.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "core/base/log.h"
#include "core/layout/layout.h"
#include "core/layout/xml_text.h"
#include "sandbox.h"

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

std::string Nested(int depth, const std::string& leaf = {})
{
    std::string text;
    for (int i = 0; i < depth; ++i) text += "<a>";
    text += leaf;
    for (int i = 0; i < depth; ++i) text += "</a>";
    return text;
}

// The scan must never count less than the XML library reaches: every place where the
// library reads past a '<' or a "</" without nesting is a place to hide depth.
TEST(XmlNesting, DepthAsTheLibraryReachesIt)
{
    const std::string deep = Nested(20);
    const struct {
        std::string text;
        int depth;
    } cases[] = {
        {"", 0},
        {"plain text", 0},
        {R"(<?xml version="1.0"?><config><game major="2"><item host="h"/><item/></game></config>)",
         3},
        {"<a/><a/><a/><a/>", 1},
        {Nested(5), 5},
        {"<a><!-- <b><c><d> --></a>", 1},
        {"<a><![CDATA[<b><c>]]></a>", 1},
        {"<a><!DOCTYPE x><b/></a>", 2},
        // Closes the library does not see must not hide the opens after them.
        {"<a><b><c x=\"</c></b></a>\"><d><e>", 5},
        {"<a x = '/>'><b y=\">\"><c>", 3},
        {"<a><!--></a></a>--><b><c>", 3},
        {"<?xml version=\"></a></a>\"?><a><b>", 2},
        {"<?XML encoding = '>' ?><a><b>", 2},
        // Not elements to the library: unknown nodes end at the first '>'.
        {"<1a><2b><?pi <a> ?>", 0},
        {"<_a><\xC3\xA9l\xC3\xA9ment>", 2},
        // A byte-order mark is white space only in UTF-8 mode; elsewhere it starts a name.
        {"<config><game \xEF\xBB\xBF.x=\"4\"><a><b>", 4},
        {"\xEF\xBB\xBF<a \xEF\xBB\xBFx=\"1\"><b>", 2},
        // Where the library gives up, counting may stop.
        {"<a x=\"unterminated><b><c><d>", 1},
        // A character reference is stepped over to its ';', in text and in values.
        {"<a><b>&#x1</b></a>x;<c><d>", 4},
        {"<a x=\"&#x\"></a>x;\"><b>", 2},
        // After a mark that starts a name, and after any declaration but the plain one,
        // nothing lowers the count.
        {"<?xml><\xEF\xBB\xBF o><a", 2},
        {"<?xml version='1' x><a></a><a/><a>", 3},
    };
    for (const auto& c : cases) EXPECT_EQ(XmlNestingDepth(c.text, 1000), c.depth) << c.text;
    EXPECT_EQ(XmlNestingDepth(deep, 1000), 20);
    EXPECT_EQ(XmlNestingDepth(deep, 3), 4); // stops as soon as the bound is passed
}

TEST(XmlNesting, BoundsRefuseBeforeParsing)
{
    EXPECT_EQ(CheckXmlBounds(Nested(MaxXmlDepth)), XmlRefusal::None);
    EXPECT_EQ(CheckXmlBounds(Nested(MaxXmlDepth + 1)), XmlRefusal::TooDeep);
    const std::string padded = "<config>" + std::string(MaxXmlBytes - 17, ' ') + "</config>";
    EXPECT_EQ(padded.size(), MaxXmlBytes);
    EXPECT_EQ(CheckXmlBounds(padded), XmlRefusal::None);
    EXPECT_EQ(CheckXmlBounds(padded + " "), XmlRefusal::TooLarge);
    TiXmlDocument xml;
    EXPECT_EQ(ParseXmlText(xml, Nested(40000)), XmlRefusal::TooDeep);
    EXPECT_EQ(xml.FirstChild(), nullptr);
}

class ManifestBounds : public Manifest {
protected:
    void SetUp() override
    {
        Manifest::SetUp();
        if (const char* old = std::getenv("XDG_STATE_HOME")) oldState_ = old;
        setenv("XDG_STATE_HOME", logFolder_.path().c_str(), 1);
    }
    void TearDown() override
    {
        if (oldState_.empty())
            unsetenv("XDG_STATE_HOME");
        else
            setenv("XDG_STATE_HOME", oldState_.c_str(), 1);
        Manifest::TearDown();
    }
    std::string LogText() const
    {
        std::ifstream in(LogFilePath(), std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }
    const test::Sandbox logFolder_;
    std::string oldState_;
};

// 40,000 levels crashed the client (the library recursed on the user-interface thread);
// 20,000 took seconds. The second text, under the size bound, crashed it at every start: a
// name that starts with a byte-order mark hid the depth from the former scan. Refused
// before parsing, the cost is one scan of the text.
TEST_F(ManifestBounds, DeepManifestIsRefusedQuicklyWithOneLogLine)
{
    std::string markedName = "<?xml><\xEF\xBB\xBF o>";
    for (int i = 0; i < 340000; ++i) markedName += "<a>";
    for (const std::string& deep :
         {"<config><game major=\"9\"><item host=\"h\"/>" + Nested(40000) + "</game></config>",
          markedName}) {
        ASSERT_LT(deep.size(), MaxXmlBytes);
        std::remove(LogFilePath().c_str());
        doc_ = {};
        doc_.major = 7;
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(Read(deep), 0);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
        EXPECT_EQ(doc_.major, 7u);
        EXPECT_TRUE(doc_.manifestItems.empty());
        EXPECT_EQ(LogText(), "update manifest refused: nested deeper than 16 levels\n");
        LayoutDocument layout;
        EXPECT_EQ(LoadLayout(layout, deep), 0);
    }
}

TEST_F(ManifestBounds, LargeManifestIsRefusedWithOneLogLine)
{
    const std::string head = R"(<config><game major="9"><item host="h"/></game>)";
    const std::string tail = "</config>";
    std::string fits = head + std::string(MaxXmlBytes - head.size() - tail.size(), ' ') + tail;
    EXPECT_EQ(Read(fits), 1);
    EXPECT_EQ(doc_.major, 9u);
    doc_ = {};
    EXPECT_EQ(Read(fits + std::string(8 * 1024 * 1024, ' ')), 0);
    EXPECT_EQ(doc_.major, 0u);
    EXPECT_TRUE(doc_.manifestItems.empty());
    EXPECT_EQ(LogText(), "update manifest refused: larger than 1048576 bytes\n");
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
