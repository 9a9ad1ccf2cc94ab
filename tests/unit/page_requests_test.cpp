#include "core/browser/dialog_gate.h"
#include "core/browser/download_origin.h"
#include "core/browser/input_allowance.h"
#include "core/browser/refusal_limiter.h"
#include "core/browser/scheme_rules.h"

#include <gtest/gtest.h>

namespace qev {
namespace {

TEST(PageRequests, OneAllowanceOfEachKindForOneSecond)
{
    InputAllowance allowance;
    EXPECT_FALSE(allowance.Spend(AllowanceKind::Download, 0)) << "no input yet";
    allowance.OnInput(5000);
    EXPECT_TRUE(allowance.Has(AllowanceKind::Download, 5000 + InputAllowance::ValidMs));
    EXPECT_FALSE(allowance.Has(AllowanceKind::Download, 5001 + InputAllowance::ValidMs));
    EXPECT_FALSE(allowance.Has(AllowanceKind::Popup, 3000)) << "clock set far back";
    // Spending one kind leaves the others; the spent one is gone until the next input.
    EXPECT_TRUE(allowance.Spend(AllowanceKind::Download, 5100));
    EXPECT_FALSE(allowance.Spend(AllowanceKind::Download, 5200));
    EXPECT_TRUE(allowance.Spend(AllowanceKind::Popup, 5200));
    EXPECT_TRUE(allowance.Has(AllowanceKind::PointerLock, 5200));
    allowance.OnInput(9000);
    EXPECT_TRUE(allowance.Spend(AllowanceKind::Download, 9000));
}

TEST(PageRequests, SchemeDecision)
{
    const char* page = "https://game.example:8443/play";
    const struct {
        const char* address;
        bool game, allowance;
        SchemeVerdict verdict;
    } cases[] = {
        {"https://elsewhere/", false, false, SchemeVerdict::Load},
        {"about:blank", false, false, SchemeVerdict::Load},
        {"about:blankx", true, true, SchemeVerdict::Refuse},
        {"about:config", true, true, SchemeVerdict::Refuse},
        {"data:text/plain,x", false, false, SchemeVerdict::Load},
        {"blob:https://game.example:8443/0f-1", false, false, SchemeVerdict::Load},
        {"blob:https://ads.example/0f-1", true, true, SchemeVerdict::Refuse},
        {"steam://run/1", true, true, SchemeVerdict::Ask},
        {"Mailto:a@b", true, true, SchemeVerdict::Ask},
        {"steam://run/1", true, false, SchemeVerdict::Refuse},
        {"ssh://host", false, true, SchemeVerdict::Refuse},
        {"file:///etc/passwd", true, true, SchemeVerdict::Refuse},
        {"javascript:alert(1)", true, true, SchemeVerdict::Refuse},
        {"view-source:https://h/", true, true, SchemeVerdict::Refuse},
        {"no scheme", true, true, SchemeVerdict::Refuse},
    };
    for (const auto& c : cases)
        EXPECT_EQ(DecideScheme(c.address, page, c.game, c.allowance, true), c.verdict) << c.address;
    // A sub-frame's own request is never the page's question; its web addresses load.
    EXPECT_EQ(DecideScheme("steam://run/1", page, true, true, false), SchemeVerdict::Refuse);
    EXPECT_EQ(DecideScheme("https://ads.example/", page, true, true, false), SchemeVerdict::Load);
    EXPECT_EQ(WebOriginOf("https://user:pw@Game.Example:8443/x?y"), "https://game.example:8443");
}

TEST(PageRequests, DownloadNeedsKnownOriginRoomAndAllowance)
{
    const std::vector<std::string> hosts = {"portal.example", "127.0.0.1:18081"};
    const char* page = "https://game.example/play";
    const struct {
        const char* address;
        bool allowance;
        int running;
        DownloadVerdict verdict;
    } cases[] = {
        {"https://game.example/a.bin", true, 0, DownloadVerdict::Accept},
        {"https://GAME.example:443/a.bin", true, 2, DownloadVerdict::Accept},
        {"https://game.example:444/a.bin", true, 0, DownloadVerdict::ForeignOrigin},
        {"http://127.0.0.1:18081/a", true, 0, DownloadVerdict::Accept},
        {"http://127.0.0.1:18082/a", true, 0, DownloadVerdict::ForeignOrigin},
        {"https://ads.example/a.bin", true, 0, DownloadVerdict::ForeignOrigin},
        {"https://game.example@ads.example/a", true, 0, DownloadVerdict::ForeignOrigin},
        {"https://ads.example/?https://game.example/", true, 0, DownloadVerdict::ForeignOrigin},
        {"blob:https://game.example/1-2", true, 0, DownloadVerdict::Accept},
        {"blob:https://ads.example/1-2", true, 0, DownloadVerdict::ForeignOrigin},
        {"data:image/png;base64,iVBORw0K", true, 0, DownloadVerdict::Accept},
        {"data:IMAGE/JPEG,x", true, 0, DownloadVerdict::Accept},
        {"data:image/webp,x", false, 0, DownloadVerdict::NoAllowance},
        {"data:application/octet-stream,x", true, 0, DownloadVerdict::NotAnImage},
        {"data:text/x-shellscript,x", false, 0, DownloadVerdict::NotAnImage},
        {"data:image/svg+xml,<svg/>", true, 0, DownloadVerdict::NotAnImage},
        {"data:image/pngx,x", true, 0, DownloadVerdict::NotAnImage},
        {"data:,image/png", true, 0, DownloadVerdict::NotAnImage},
        {"https://game.example/a.bin", true, MaxRunningDownloads, DownloadVerdict::TooMany},
        {"https://game.example/a.bin", false, 0, DownloadVerdict::NoAllowance},
    };
    for (const auto& c : cases)
        EXPECT_EQ(DecideDownload(c.address, page, hosts, c.allowance, c.running), c.verdict)
            << c.address;
    EXPECT_EQ(DataDownloadName("shot.PNG", "data:image/png,x"), "shot.PNG");
    EXPECT_EQ(DataDownloadName("run.sh", "data:image/png,x"), "run.sh.png");
    EXPECT_EQ(DataDownloadName("a.jpeg", "data:image/jpeg;x=y,x"), "a.jpeg");
    EXPECT_EQ(DataDownloadName("", "data:image/gif,x"), "download.gif");
    EXPECT_EQ(DataDownloadName(std::string(300, 'a') + ".sh", "data:image/webp,x").substr(190),
              "aaaaa.webp"); // cut to 200 bytes
}

TEST(PageRequests, RefusalsWriteOneLineAMinuteWithTheCount)
{
    RefusalLimiter limiter;
    EXPECT_EQ(limiter.Note("download", 1000), 1);
    EXPECT_EQ(limiter.Note("pop-up", 1000), 1) << "kinds are counted apart";
    for (int i = 0; i < 5; ++i) EXPECT_EQ(limiter.Note("download", 2000 + i), 0);
    EXPECT_EQ(limiter.Note("download", 1000 + RefusalLimiter::PeriodMs), 6);
    EXPECT_EQ(limiter.Note("download", 0), 1) << "clock set back: written, not kept quiet";
}

TEST(PageRequests, DialogLoopEndsWithoutInput)
{
    DialogGate gate;
    EXPECT_TRUE(gate.Show());
    EXPECT_TRUE(gate.Show());
    EXPECT_FALSE(gate.Show()) << "third without input";
    EXPECT_FALSE(gate.Show());
    gate.OnInput(); // a game asking once after each click keeps asking
    for (int i = 0; i < 3; ++i, gate.OnInput()) EXPECT_TRUE(gate.Show());
    gate.Block();
    gate.OnInput();
    EXPECT_FALSE(gate.Show()) << "blocked until the player's command resets it";
    gate.Reset();
    EXPECT_TRUE(gate.Show());
}

} // namespace
} // namespace qev
