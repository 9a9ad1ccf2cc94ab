#include "core/browser/web_rules.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "sandbox.h"

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

TEST(WebRules, SavedNamesAreSafe)
{
    const std::string a300(300, 'a'), e150 = [] {
        std::string e;
        for (int i = 0; i < 150; ++i) e += "\xC3\xA9"; // é
        return e;
    }();
    const struct {
        std::string suggested, saved;
    } cases[] = {
        {"\xC3\x84rger \xE6\x97\xA5\xE6\x9C\xAC.txt", "\xC3\x84rger \xE6\x97\xA5\xE6\x9C\xAC.txt"},
        // Only the last path part, whichever separator.
        {"../../.bashrc", "bashrc"},
        {"C:\\Users\\me\\evil.exe", "evil.exe"},
        // C0, DEL, C1 (U+0085), ':'.
        {"a\nb\tc\x07\x1B:d\x7F\xC2\x85.txt", "a_b_c___d__.txt"},
        // Bidi override, zero-width space, soft hyphen, tag, line and paragraph separators.
        {"evil\xE2\x80\xAEtxt.exe", "evil_txt.exe"},
        {"a\xE2\x80\x8B\xC2\xAD\xF3\xA0\x81\x81\xE2\x80\xA8\xE2\x80\xA9z", "a_____z"},
        // Blanks and fillers: Hangul fillers, blank braille, no-break and ideographic spaces,
        // a variation selector and a supplementary one.
        {"report.pdf\xE3\x85\xA4\xE2\xA0\x80\xE1\x85\x9F\xEF\xBE\xA0.sh", "report.pdf____.sh"},
        {"a\xC2\xA0\xE3\x80\x80\xEF\xB8\x8F\xF3\xA0\x84\x80z", "a____z"},
        // A byte-order mark in front is replaced before the dots go: not a hidden file.
        {"\xEF\xBB\xBF.profile", "_.profile"},
        // Bytes that are not UTF-8: a stray byte, a cut sequence, an encoded surrogate.
        {"a\xFF b\xC3", "a_ b_"},
        {"\xED\xA0\x80x", "___x"},
        // Leading dots and spaces.
        {".profile", "profile"},
        {" . .x", "x"},
        {"...", "download"},
        // Cut to 200 bytes at a character boundary, the extension kept.
        {a300 + ".bin", std::string(196, 'a') + ".bin"},
        {"a" + e150 + ".txt", "a" + e150.substr(0, 194) + ".txt"},
        {std::string(250, 'x'), std::string(200, 'x')},
        {"a." + a300, "a." + std::string(198, 'a')},
        // A launcher is not left as one, within the 200 bytes.
        {"x.desktop", "x.desktop.download"},
        {"x.DeskTop", "x.DeskTop.download"},
        {"x.KDElnk", "x.KDElnk.download"},
        {a300 + ".desktop", std::string(183, 'a') + ".desktop.download"},
        {"a." + a300.substr(0, 190) + ".desktop" + std::string(40, 'z'),
         "a." + a300.substr(0, 181) + ".desktop.download"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(SafeDownloadName(c.suggested), c.saved) << AddressForLog(c.suggested);
        EXPECT_EQ(SafeDownloadName(c.saved), c.saved) << "a safe name stays as it is";
    }
}

TEST(WebRules, DownloadsNeverLandInTheHomeFolderItself)
{
    namespace fs = std::filesystem;
    const test::Sandbox sandbox;
    const std::string root = sandbox.path(), home = root + "/home", own = home + "/Downloads";
    fs::create_directory(home);
    fs::create_directory_symlink(home, root + "/link");
    std::ofstream(root + "/file") << "x";
    const struct {
        std::string user, chosen;
    } cases[] = {
        {root + "/mine/dl", root + "/mine/dl"}, // made when missing
        {home, own},
        {home + "/", own},
        {root + "/home/../home", own},
        {root + "/link/", own},
        {"", own},
        {root + "/file/dl", own}, // cannot be made
    };
    for (const auto& c : cases) {
        fs::remove_all(own);
        EXPECT_EQ(ChooseDownloadFolder(c.user, home), c.chosen) << c.user;
        EXPECT_TRUE(fs::is_directory(c.chosen)) << c.user;
    }
    // Neither the user's folder nor home's own can be had.
    fs::remove_all(own);
    std::ofstream(own) << "x";
    EXPECT_EQ(ChooseDownloadFolder(home, home), "");
}

} // namespace
} // namespace qev
