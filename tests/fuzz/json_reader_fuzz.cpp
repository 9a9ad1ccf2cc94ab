// Any bytes through the JSON reader: parse, look up the feed's keys, walk the whole tree
// checking its links, release, and parse again into the same reader.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "core/layout/json_reader.h"

namespace {

// Walks every node without recursion; aborts on a broken parent link, an unknown type
// code or more nodes than the text could have made (a cycle).
void CheckTree(const qev::JsonReader& reader, std::size_t textSize)
{
    std::size_t count = 0;
    const qev::JsonNode* node = reader.first;
    while (node) {
        if (++count > textSize + 1) std::abort();
        if (node->type < 0 || node->type > 11) std::abort();
        if (node->firstChild) {
            if (node->firstChild->parent != node) std::abort();
            node = node->firstChild;
            continue;
        }
        while (node && !node->nextSibling) node = node->parent;
        if (node) {
            if (node->nextSibling->parent != node->parent) std::abort();
            node = node->nextSibling;
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    qev::JsonReader reader;
    const bool parsed = qev::ParseJson(text.c_str(), reader);
    if (parsed != (size > 0 && data[0] != 0)) std::abort();
    CheckTree(reader, size);

    if (const qev::JsonNode* list = qev::FindMember(reader, "activities")) {
        for (const qev::JsonNode* e = list->firstChild; e; e = e->nextSibling) {
            for (const char* key :
                 {"activity_iNo", "activity_start", "activity_over", "display_sUrl"}) {
                if (const qev::JsonNode* found = qev::FindChild(e, key))
                    if (found->parent != e) std::abort();
            }
        }
    }
    (void)qev::FindMember(reader, "server_time");

    qev::ReleaseJson(reader);
    if (reader.first || !reader.text.empty()) std::abort();
    // The same reader again: reuse must not leak or keep old nodes.
    qev::ParseJson(text.c_str(), reader);
    CheckTree(reader, size);
    return 0;
}
