#include "browser/web_rules.h"

#include <gtest/gtest.h>

namespace qev {
namespace {

TEST(WebRules, OnlyWebAddressesAreOpened)
{
    const struct {
        const char* address;
        bool web;
    } cases[] = {
        {"http://127.0.0.1:18081/play?sid=1", true},
        {"HTTPS://game.example/", true},
        {"https://h", true},
        {"file:///etc/passwd", false},
        {"data:text/html,<b>x</b>", false},
        {"javascript:alert(1)", false},
        {"game://launch", false},
        {"http:foo", false},
        {"http:///path", false},
        {" http://h/", false},
        {"http//h/", false},
        {"", false},
        {"about:blank", false},
    };
    for (const auto& c : cases) EXPECT_EQ(IsWebAddress(c.address), c.web) << c.address;
    EXPECT_EQ(AddressForLog(std::string("a\\b\x01\xff", 5) + std::string(300, 'z')),
              "a\\x5Cb\\x01\\xFF" + std::string(195, 'z'));
    EXPECT_EQ(AddressForLog("del\x7f"), "del\\x7F");
}

TEST(WebRules, ZoomStepsAndMemory)
{
    EXPECT_EQ(NextZoomPercent(100, 1), 110);
    EXPECT_EQ(NextZoomPercent(100, -1), 90);
    EXPECT_EQ(NextZoomPercent(105, 1), 110);
    EXPECT_EQ(NextZoomPercent(105, -1), 100);
    EXPECT_EQ(NextZoomPercent(500, 1), 500);
    EXPECT_EQ(NextZoomPercent(25, -1), 25);
    EXPECT_EQ(NextZoomPercent(300, 0), 100);
    int percent = 100;
    for (int i = 0; i < 40; ++i) percent = NextZoomPercent(percent, -1);
    EXPECT_EQ(percent, MinZoomPercent);

    // What the file says, with everything that must not be taken from it.
    ZoomMemory memory;
    memory.Read("junk=300\n[Zoom]\r\n Game.Example = 150 \r\n127.0.0.1:18081=9999\nlow=1\n"
                "bad host=200\nnumber=12x\nempty=\n=120\n[other]\nforum=200\n");
    EXPECT_EQ(memory.PercentFor("game.example"), 150);
    EXPECT_EQ(memory.PercentFor("127.0.0.1:18081"), MaxZoomPercent);
    EXPECT_EQ(memory.PercentFor("low"), MinZoomPercent);
    for (const char* host : {"junk", "bad host", "number", "empty", "forum", "unknown"})
        EXPECT_EQ(memory.PercentFor(host), DefaultZoomPercent) << host;
    EXPECT_FALSE(memory.Set("game.example", 150)) << "unchanged";
    EXPECT_TRUE(memory.Set("game.example", 100));
    EXPECT_FALSE(memory.Set("bad\nhost", 200));

    // What is written reads back the same.
    ZoomMemory again;
    again.Read(memory.Text());
    EXPECT_EQ(again.Text(), memory.Text());
    EXPECT_EQ(memory.Text(), "[zoom]\n127.0.0.1:18081=500\nlow=25\n");
}

TEST(WebRules, NumberedCopiesKeepTheExtension)
{
    EXPECT_EQ(NumberedFileName("reward.bin", 0), "reward.bin");
    EXPECT_EQ(NumberedFileName("reward.bin", 1), "reward (1).bin");
    EXPECT_EQ(NumberedFileName("pack.tar.gz", 2), "pack.tar (2).gz");
    EXPECT_EQ(NumberedFileName("notes", 3), "notes (3)");
    EXPECT_EQ(NumberedFileName(".profile", 1), ".profile (1)");
}

} // namespace
} // namespace qev
