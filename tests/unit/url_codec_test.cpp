#include "core/base/url_codec.h"

#include <gtest/gtest.h>

namespace qev {
namespace {

TEST(UrlCodec, EncodeKeepsSafeBytesAndEscapesTheRest)
{
    const struct {
        std::string in, out;
    } cases[] = {
        {"", ""},
        {"abcXYZ019-._", "abcXYZ019-._"},
        {"a b\tc\nd\ve\ff\rg", "a+b+c+d+e+f+g"},
        {"qev setup 1.2.bin", "qev+setup+1.2.bin"},
        {"a/b?c=d&e%", "a%2Fb%3Fc%3Dd%26e%25"},
        {"~+!", "%7E%2B%21"},
        {std::string("\0\x7f\x80\xff", 4), "%00%7F%80%FF"},
        {"\xc3\xa9t\xc3\xa9", "%C3%A9t%C3%A9"},
    };
    for (const auto& c : cases) EXPECT_EQ(UrlEncode(c.in), c.out) << c.in;
}

TEST(UrlCodec, PathSegmentKeepsOnlyUnreservedBytes)
{
    const std::string in = "qev setup+1~a/b?c#d%\xc3\xa9\t",
                      out = "qev%20setup%2B1~a%2Fb%3Fc%23d%25%C3%A9%09";
    EXPECT_EQ(EncodePathSegment(in), out);
    EXPECT_EQ(UrlDecode(out), in);
}

TEST(UrlCodec, DecodeHandlesEscapesPlusAndMalformedPercent)
{
    const struct {
        std::string in, out;
    } cases[] = {
        {"", ""},         {"a+b", "a b"}, {"%41%6a%6A", "Ajj"}, {"%00x", std::string("\0x", 2)},
        {"100%", "100%"}, {"%4", "%4"},   {"%zz%4g", "%zz%4g"}, {"%%41", "%A"},
        {"%2B", "+"},
    };
    for (const auto& c : cases) EXPECT_EQ(UrlDecode(c.in), c.out) << c.in;
}

TEST(UrlCodec, DecodeUndoesEncodeForEveryByte)
{
    std::string all;
    for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
    const std::string encoded = UrlEncode(all);
    EXPECT_LE(encoded.size(), all.size() * 3);
    // White space other than the blank comes back as a blank; everything else round-trips.
    std::string expected = all;
    for (char& c : expected)
        if (c >= '\t' && c <= '\r') c = ' ';
    EXPECT_EQ(UrlDecode(encoded), expected);
}

} // namespace
} // namespace qev
