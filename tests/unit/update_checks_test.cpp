#include "core/net/update_checks.h"

#include <gtest/gtest.h>

#include <string>

#include "core/net/update_statement.h"

namespace qev {
namespace {

UpdateSource Item(std::string host, std::string path, std::string file)
{
    UpdateSource item;
    item.host = std::move(host);
    item.path = std::move(path);
    item.file = std::move(file);
    return item;
}

// The scheme comes from the item's port or else its source's, never from the item's host
// text; the file is one escaped segment; a name no run folder can hold is refused.
TEST(PlanItemRequest, SchemeObjectAndNameOfTheChosenItem)
{
    const struct {
        UpdateSource item;
        const char* source;
        const char *host, *object, *name, *refusal;
    } cases[] = {
        {Item("m.example", "/p/", "a.bin"), "s.example", "m.example", "/p/a.bin", "a.bin", ""},
        {Item("m.example:443", "/p/", "a.bin"), "http://s.example", "https://m.example:443",
         "/p/a.bin", "a.bin", ""},
        {Item("m.example", "/p/", "a.bin"), "https://s.example", "https://m.example", "/p/a.bin",
         "a.bin", ""},
        {Item("m.example:8443", "/p/", "a.bin"), "s.example:8443", "m.example:8443", "/p/a.bin",
         "a.bin", ""},
        {Item("m.example", "/p/", "q r.bin"), "s.example", "m.example", "/p/q%20r.bin", "q r.bin",
         ""},
        {Item("m.example", "/p/", ""), "s.example", "m.example", "/p/", "",
         "unusable file name \"\""},
        {Item("m.example", "/p/", std::string(MaxInstallableNameBytes + 1, 'n')), "s.example",
         "m.example", "", "", DescribeStatementCheck(StatementCheck::NameTooLong)},
    };
    for (const auto& c : cases) {
        std::string refusal = "left over";
        const ItemRequest request = PlanItemRequest(c.item, c.source, refusal);
        EXPECT_EQ(refusal, c.refusal) << c.item.host << " " << c.item.file;
        EXPECT_EQ(request.host, c.host) << c.item.host << " from " << c.source;
        if (*c.object) {
            EXPECT_EQ(request.object, c.object) << c.item.file;
        }
        if (*c.refusal == '\0') {
            EXPECT_EQ(request.name, c.name) << c.item.file;
        }
    }
}

} // namespace
} // namespace qev
