#include "core/net/partial_package.h"

#include <gtest/gtest.h>

namespace qev {
namespace {

TEST(PartialPackage, RecordReadsBackOnlyAsWrittenAndResumesOnlyTheSameStatement)
{
    const PartialPackage kept{"https://h:443", "/p/a%20b", "a b", 1000, "ab12", "\"v1\"", 5000};
    const std::string text = FormatPartialRecord(kept), size = "size 1000";
    ASSERT_TRUE(ParsePartialRecord(text));
    EXPECT_EQ(FormatPartialRecord(*ParsePartialRecord(text)), text);
    for (const std::string& bad : {text.substr(1), text + "x", std::string(text).insert(0, "x"),
                                   std::string(text).replace(text.find(size), 9, "size -1"),
                                   std::string(text).replace(text.find(size), 9, "size 01000"),
                                   std::string(text).replace(text.find(size), 9, "name 1000")})
        EXPECT_FALSE(ParsePartialRecord(bad)) << bad;
    const std::int64_t last = kept.savedAt + PartialKeepSeconds;
    // Each row changes one field of the kept record (nullptr: none) to "x".
    const struct {
        std::string PartialPackage::*field;
        std::int64_t fileSize, now, from;
    } rows[] = {{nullptr, 400, last, 400},
                {&PartialPackage::host, 400, 6000, 0},
                {&PartialPackage::path, 400, 6000, 0},
                {&PartialPackage::name, 400, 6000, 0},
                {&PartialPackage::sha256, 400, 6000, 0},
                {nullptr, 0, 6000, 0},
                {nullptr, 1000, 6000, 0},
                {nullptr, 400, last + 1, 0},
                {nullptr, 400, kept.savedAt - 1, 0}}; // saved after now: a clock set back
    for (const auto& r : rows) {
        PartialPackage changed = kept;
        if (r.field) changed.*r.field = "x";
        EXPECT_EQ(PartialResumeFrom(changed, r.fileSize, kept, r.now), r.from) << r.fileSize;
    }
    PartialPackage other = kept;
    other.size = 999;
    EXPECT_EQ(PartialResumeFrom(kept, 400, other, 6000), 0);
    other = kept;
    other.validator = "";
    EXPECT_EQ(PartialResumeFrom(other, 400, kept, 6000), 0);
    EXPECT_EQ(FormatPartialRecord(other), "");
    other.validator = "a\nb";
    EXPECT_EQ(FormatPartialRecord(other), "");
}

} // namespace
} // namespace qev
