#pragma once
// A small, lenient JSON reader for the task feed. One pass over the text builds a tree
// of nodes linked by first child, next sibling and parent. It never reports a syntax
// error, does not unescape strings, and treats the outermost object as the implicit
// root: the top-level nodes are that object's members.
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace qev {

// Type codes: what the value is, and whether the node is a member (0-5, has a key) or an
// array element (6-11).
enum JsonType : int {
    JsonMemberString = 0, // also a member whose value was not recognised
    JsonMemberNumber = 1,
    JsonMemberArray = 2,
    JsonMemberObject = 3,
    JsonMemberBool = 4,
    JsonMemberWord = 5, // any other bare word, e.g. null
    JsonElementString = 6,
    JsonElementNumber = 7,
    JsonElementArray = 8,
    JsonElementObject = 9,
    JsonElementBool = 10,
    JsonElementWord = 11,
};

struct JsonNode {
    std::string key;     // member name; for a string element, the string itself
    int type = 0;        // JsonType
    std::string value;   // text of a string or a number, as it stood (no unescaping)
    int number = 0;      // for numbers: the value text read like atoi (saturating)
    std::string literal; // bare word of codes 4, 5, 10, 11, quote characters included
    JsonNode* firstChild = nullptr;
    JsonNode* nextSibling = nullptr;
    JsonNode* parent = nullptr; // null for top-level nodes
};

// One parse: the reader's own copy of the text and the first top-level node. The reader
// owns every node; they stay valid until ReleaseJson or destruction. Freeing never
// recurses, so any depth or length of tree is released safely.
struct JsonReader {
    std::string text;
    JsonNode* first = nullptr;

    JsonReader() = default;
    JsonReader(const JsonReader&) = delete;
    JsonReader& operator=(const JsonReader&) = delete;
    JsonReader(JsonReader&& other) noexcept;
    JsonReader& operator=(JsonReader&& other) noexcept;
    ~JsonReader();

private:
    friend bool ParseJson(const char* text, JsonReader& reader);
    friend void ReleaseJson(JsonReader& reader);
    JsonNode* NewNode();

    // Nodes live in blocks: stable addresses, no allocation per node, and
    // release is a flat loop whatever the shape of the tree.
    std::vector<std::unique_ptr<JsonNode[]>> blocks_;
    std::size_t usedInLastBlock_ = 0;
};

// Parses text into reader (releasing whatever it held before). False for a null or empty
// text (the tree is then empty); true otherwise, whatever the text held.
bool ParseJson(const char* text, JsonReader& reader);

// The first top-level node whose key equals key (byte for byte), or null.
const JsonNode* FindMember(const JsonReader& reader, std::string_view key);

// The first child of node whose key equals key, or null (also for a null node).
const JsonNode* FindChild(const JsonNode* node, std::string_view key);

// Frees every node and the text copy; the reader is empty afterwards.
void ReleaseJson(JsonReader& reader);

} // namespace qev
