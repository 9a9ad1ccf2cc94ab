#include "core/layout/json_reader.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "core/platform/http_get.h"

namespace qev {
namespace {

// Flattens a tree into one line: key/type, "=value", "#number", "~literal", children in
// parentheses, siblings separated by commas. Iterative, like the reader itself.
std::string Dump(const JsonNode* first)
{
    std::string out;
    std::vector<const JsonNode*> stack;
    const JsonNode* node = first;
    while (node || !stack.empty()) {
        if (!node) {
            out += ')';
            node = stack.back()->nextSibling;
            stack.pop_back();
            if (node) out += ',';
            continue;
        }
        out += node->key + "/" + std::to_string(node->type);
        if (!node->value.empty()) out += "=" + node->value;
        if (node->number) out += "#" + std::to_string(node->number);
        if (!node->literal.empty()) out += "~" + node->literal;
        if (node->firstChild) {
            out += '(';
            stack.push_back(node);
            node = node->firstChild;
        } else {
            node = node->nextSibling;
            if (node) out += ',';
        }
    }
    return out;
}

std::string ParseAndDump(const std::string& text)
{
    JsonReader reader;
    EXPECT_TRUE(ParseJson(text.c_str(), reader)) << text;
    return Dump(reader.first);
}

struct Case {
    const char* text;
    const char* tree;
};

TEST(JsonReader, BuildsTheTreeTheFeedReaderExpects)
{
    const Case cases[] = {
        {R"({"a":1,"b":"x"})", "a/1=1#1,b/0=x"},
        {R"({"list":[{"k":"v"},{"k":"w"}]})", "list/2(/9(k/0=v),/9(k/0=w))"},
        {R"({"n":-7})", "n/1=-7#-7"},
        {R"({"s":["a","b"]})", "s/2(a/6=a,b/6=b)"},
        {R"({"f":true,"g":null,"h":false})", "f/4~true,g/5~null,h/4~false"},
        {R"({"o":{"i":1,"j":{"k":"v"}}})", "o/3(i/1=1#1,j/3(k/0=v))"},
        {R"({"m":[[1,2],[3],[]]})", "m/2(/8(/7=1#1,/7=2#2),/8(/7=3#3),/8)"},
        {R"({"a":[true,nul,"s",4]})", "a/2(/10~true,/11~nul,s/6=s,/7=4#4)"},
        {" \n{ \"a\" :\t\"b\" ,\r\n \"c\" : 2 }\n", "a/0=b,c/1=2#2"},
        // Prefixes before the first brace are skipped; nothing after the last one hurts.
        {"\xEF\xBB\xBF"
         R"(cb({"a":"b"});)",
         "a/0=b"},
        {R"(while(1);{"a":1})", "a/1=1#1"},
        {R"([1,2])", ""},
        {R"({"a":1}"b":2)", "a/1=1#1,b/1=2#2"},
    };
    for (const Case& c : cases) EXPECT_EQ(ParseAndDump(c.text), c.tree) << c.text;
}

TEST(JsonReader, LenientOutcomes)
{
    const Case cases[] = {
        // A number never starts with 0.
        {R"({"z":0})", "z/0"},
        {R"({"a":[0,5]})", "a/2(/7=5#5)"},
        {R"({"h":0.5})", "h/1=5#5"},
        {R"({"p":12.75})", "p/1=12.75#12"},
        {R"({"e":3e2})", "e/1=3e2#3"},
        {R"({"a":[-3, 4 5]})", "a/2(/7=-3#-3,/7=45#45)"},
        {R"({"b":99999999999,"c":-99999999999})",
         "b/1=99999999999#2147483647,c/1=-99999999999#-2147483648"},
        // No unescaping; an escaped backslash before the closing quote hides it.
        {R"({"u":"http:\/\/x\/y"})", R"(u/0=http:\/\/x\/y)"},
        {R"({"k\"q":"v"})", R"(k\"q/0=v)"},
        {R"({"q":"a\\","r":"x"})", R"(q/0=a\\",)"},
        // Bare words: white space dropped, quotes (either kind) shelter separators.
        {R"({"w": tr ue })", "w/4~true"},
        {R"({"w":ab'c,d'e,"x":1})", "w/5~ab'c,d'e,x/1=1#1"},
        {R"({"w":a"}"b})", R"(w/5~a"}"b)"},
        // A value before the first key is read past and ignored.
        {R"({:"x","a":1})", "a/1=1#1"},
        {R"({5,"a":1})", "a/1=1#1"},
        {R"({true,"a":1})", "a/1=1#1"},
        // A container with no place in the tree becomes a top-level node.
        {R"({[1],"a":2})", "/8(/7=1#1),a/1=2#2"},
        {R"({"a":1},{"b":2})", "a/1=1#1,/9(b/1=2#2)"},
        // A key skips ahead to its colon, a string value to the next separator.
        {R"({"a","b":1})", "a/1=1#1"},
        {R"({"a":"x" "b":1,"c":2})", "a/0=x,c/1=2#2"},
    };
    for (const Case& c : cases) EXPECT_EQ(ParseAndDump(c.text), c.tree) << c.text;
}

TEST(JsonReader, CutOffTextKeepsWhatWasRead)
{
    const Case cases[] = {
        {R"({"a":"abc)", "a/0=abc"},
        {R"({"ab)", "ab/0"},
        {R"({"a":12)", "a/1=12#12"},
        {R"({"a":tr)", "a/5~tr"},
        {R"({"a":[1,{"b":[)", "a/2(/7=1#1,/9(b/2))"},
        {R"({"a":"x\)", R"(a/0=x\)"},
        {"{", ""},
        {R"({"a":-)", "a/0"},
    };
    for (const Case& c : cases) EXPECT_EQ(ParseAndDump(c.text), c.tree) << c.text;
}

TEST(JsonReader, EmptyTextFailsAndLeavesNoTree)
{
    JsonReader reader;
    ASSERT_TRUE(ParseJson(R"({"a":1})", reader));
    EXPECT_FALSE(ParseJson("", reader));
    EXPECT_EQ(reader.first, nullptr);
    EXPECT_FALSE(ParseJson(nullptr, reader));
    EXPECT_EQ(reader.first, nullptr);
}

TEST(JsonReader, ParentLinksAndReuse)
{
    JsonReader reader;
    ASSERT_TRUE(ParseJson(R"({"a":[{"b":1}],"c":2})", reader));
    const JsonNode* a = reader.first;
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->parent, nullptr);
    const JsonNode* element = a->firstChild;
    ASSERT_NE(element, nullptr);
    EXPECT_EQ(element->parent, a);
    EXPECT_EQ(element->firstChild->parent, element);
    EXPECT_EQ(a->nextSibling->parent, nullptr);

    // A second parse on the same reader replaces the first tree.
    ASSERT_TRUE(ParseJson(R"({"x":"y"})", reader));
    EXPECT_EQ(Dump(reader.first), "x/0=y");
    JsonReader moved(std::move(reader));
    EXPECT_EQ(reader.first, nullptr);
    EXPECT_EQ(Dump(moved.first), "x/0=y");
    ReleaseJson(moved);
    EXPECT_EQ(moved.first, nullptr);
    EXPECT_TRUE(moved.text.empty());
}

TEST(JsonReader, LookupsCompareWholeKeysAtTheirOwnLevel)
{
    JsonReader reader;
    ASSERT_TRUE(ParseJson(R"({"o":{"inner":5,"in":6},"top":1,"top":2})", reader));
    EXPECT_EQ(FindMember(reader, "inner"), nullptr);
    const JsonNode* o = FindMember(reader, "o");
    ASSERT_NE(o, nullptr);
    ASSERT_NE(FindChild(o, "inner"), nullptr);
    EXPECT_EQ(FindChild(o, "inner")->number, 5);
    EXPECT_EQ(FindChild(o, "in")->number, 6);
    EXPECT_EQ(FindChild(o, "inn"), nullptr);
    EXPECT_EQ(FindChild(o, "o"), nullptr);
    EXPECT_EQ(FindChild(nullptr, "o"), nullptr);
    ASSERT_NE(FindMember(reader, "top"), nullptr);
    EXPECT_EQ(FindMember(reader, "top")->number, 1); // the first one wins
    EXPECT_EQ(FindMember(reader, "to"), nullptr);
    EXPECT_EQ(FindMember(reader, "Top"), nullptr);
    EXPECT_EQ(FindMember(reader, "top1"), nullptr);
}

// The deepest text a feed can bring: nested as far as the body limit allows.
TEST(JsonReader, DeepNestingParsesAndReleasesWithoutRecursion)
{
    for (const char* open : {"[", "{\"k\":"}) {
        const int Depth = static_cast<int>((HttpTextLimit - 7) / (std::strlen(open) + 1));
        std::string text = "{\"a\":";
        for (int i = 0; i < Depth; ++i) text += open;
        text += "7";
        text += std::string(Depth, open[0] == '[' ? ']' : '}');
        text += "}";
        ASSERT_LE(text.size(), HttpTextLimit);
        JsonReader reader;
        ASSERT_TRUE(ParseJson(text.c_str(), reader));
        int depth = 0;
        const JsonNode* node = reader.first;
        while (node->firstChild) {
            node = node->firstChild;
            ++depth;
        }
        EXPECT_EQ(depth, Depth) << open;
        EXPECT_EQ(node->number, 7);
    }
}

TEST(JsonReader, MillionMembersParseAndRelease)
{
    constexpr int Members = 1000000;
    std::string text = "{";
    for (int i = 0; i < Members; ++i) text += "\"k\":1,";
    text += "\"last\":42}";
    JsonReader reader;
    ASSERT_TRUE(ParseJson(text.c_str(), reader));
    int count = 0;
    const JsonNode* last = nullptr;
    for (const JsonNode* node = reader.first; node; node = node->nextSibling) {
        ++count;
        last = node;
    }
    EXPECT_EQ(count, Members + 1);
    EXPECT_EQ(last, FindMember(reader, "last"));
    EXPECT_EQ(last->number, 42);
    ReleaseJson(reader);
    EXPECT_EQ(reader.first, nullptr);
}

TEST(JsonReader, RepeatedValuesOnOneNodeStayCorrect)
{
    // Malformed text can keep appending to one member's number; the result is still
    // atoi of everything appended.
    std::string text = R"({"a":" 1)";
    text += R"(",)";
    for (int i = 0; i < 50; ++i) text += "2,";
    text += "}";
    JsonReader reader;
    ASSERT_TRUE(ParseJson(text.c_str(), reader));
    ASSERT_NE(reader.first, nullptr);
    EXPECT_EQ(reader.first->type, JsonMemberNumber);
    EXPECT_EQ(reader.first->value, " 1" + std::string(50, '2'));
    EXPECT_EQ(reader.first->number, 2147483647);
}

} // namespace
} // namespace qev
