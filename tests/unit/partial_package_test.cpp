#include "core/net/partial_package.h"

#include <gtest/gtest.h>

namespace qev {
namespace {

const PartialPackage Kept{"https://h:443", "/p/a%20b", "a b", 1000, "ab12", "\"v1\"", 5000};

TEST(PartialPackage, RecordReadsBackOnlyAsWritten)
{
    const std::string text = FormatPartialRecord(Kept);
    const auto back = ParsePartialRecord(text);
    ASSERT_TRUE(back);
    EXPECT_EQ(FormatPartialRecord(*back), text);
    const std::string at = "size 1000", saved = "saved 5000";
    for (const std::string& bad :
         {text.substr(0, text.size() - 1), text + "x", "x" + text,
          std::string(text).replace(text.find(at), at.size(), "size -1"),
          std::string(text).replace(text.find(saved), saved.size(), "saved 5000x"),
          std::string(text).replace(text.find(at), at.size(), "name 1000")})
        EXPECT_FALSE(ParsePartialRecord(bad)) << bad;
    for (const char* value : {"", "a\nb", "a\rb"}) {
        PartialPackage p = Kept;
        p.validator = value;
        EXPECT_EQ(FormatPartialRecord(p), "") << value;
    }
}

TEST(PartialPackage, ResumedOnlyForTheSameStatementWithinTheKeepingTime)
{
    const auto with = [](auto change) {
        PartialPackage p = Kept;
        change(p);
        return p;
    };
    const std::int64_t last = Kept.savedAt + PartialKeepSeconds;
    const struct {
        PartialPackage wanted;
        std::int64_t fileSize, now, from;
    } rows[] = {
        {Kept, 400, last, 400},
        {with([](PartialPackage& p) { p.host = "http://h:443"; }), 400, 6000, 0},
        {with([](PartialPackage& p) { p.path = "/p/a+b"; }), 400, 6000, 0},
        {with([](PartialPackage& p) { p.name = "a+b"; }), 400, 6000, 0},
        {with([](PartialPackage& p) { p.size = 999; }), 400, 6000, 0},
        {with([](PartialPackage& p) { p.sha256 = "ab13"; }), 400, 6000, 0},
        {Kept, 0, 6000, 0},
        {Kept, 1000, 6000, 0},
        {Kept, 400, last + 1, 0},
        {Kept, 400, Kept.savedAt - 1, 0}, // saved after now: a clock set back, or a forgery
    };
    for (const auto& r : rows)
        EXPECT_EQ(PartialResumeFrom(Kept, r.fileSize, r.wanted, r.now), r.from)
            << r.wanted.host << r.wanted.path << r.fileSize << " " << r.now;
    PartialPackage noValidator = Kept;
    noValidator.validator.clear();
    EXPECT_EQ(PartialResumeFrom(noValidator, 400, Kept, 6000), 0);
}

} // namespace
} // namespace qev
