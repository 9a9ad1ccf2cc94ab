// The signed update statement: its exact format, every check in order, and the key texts.
#include "core/net/update_statement.h"

#include "test_keys.h"

#include <gtest/gtest.h>

#include <cctype>
#include <functional>
#include <string>

namespace qev {
namespace {

SecretSeed SeedOf(unsigned char first)
{
    return test::TestSeed(first);
}

PackageFacts Facts(const std::string& content, const std::string& name = "qev next")
{
    Sha256Hasher hasher;
    hasher.Update(content.data(), content.size());
    return {name, content.size(), hasher.Final()};
}

std::string Replace(std::string text, const std::string& from, const std::string& to)
{
    const auto at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    if (at != std::string::npos) text.replace(at, from.size(), to);
    return text;
}

// The count characters after marker, each passed through change.
std::string AlterAfter(std::string text, const std::string& marker, std::size_t count,
                       const std::function<char(char)>& change)
{
    const auto at = text.find(marker);
    EXPECT_NE(at, std::string::npos) << marker;
    for (std::size_t i = at + marker.size(); i < at + marker.size() + count; ++i)
        text[i] = change(text[i]);
    return text;
}

constexpr BuildVersion Running{2, 0x00010001}; // 0.2.1.1
constexpr BuildVersion Offered{2, 0x00010002}; // 0.2.1.2
const std::string Package = "the new build\n" + std::string(1000, 'x');

TEST(UpdateStatement, KnownAnswerForTheDigest)
{
    Sha256Hasher h;
    h.Update("abc", 3);
    const Sha256Digest d = h.Final();
    EXPECT_EQ(d[0], 0xba);
    EXPECT_EQ(d[1], 0x78);
    EXPECT_EQ(d[31], 0xad);
}

TEST(UpdateStatement, FormatIsExactlyTheDocumentedLines)
{
    const std::string text =
        MakeUpdateStatement(SeedOf(1), Offered, Facts("abc", "qev next"), "linux-x86_64-qev");
    const std::string head =
        "qev-update-statement 2\nversion 0.2.1.2\ntarget linux-x86_64-qev\nfile qev next\n"
        "size 3\n"
        "sha256 ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad\n"
        "signature ";
    EXPECT_EQ(text.substr(0, head.size()), head);
    EXPECT_EQ(text.size(), head.size() + 88 + 1);
    EXPECT_EQ(text.back(), '\n');
    const auto parsed = ParseUpdateStatement(text);
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->signedText, head.substr(0, head.size() - 10));
}

// Every case a client may meet, each with the check that must refuse it.
TEST(UpdateStatement, ChecksRunInOrderAndNameTheFirstFailure)
{
    const SecretSeed seed = SeedOf(1);
    const PublicKey key = PublicKeyOf(seed);
    const std::string good = MakeUpdateStatement(seed, Offered, Facts(Package));
    const std::string target(BuildTarget());
    std::string flipped = Package;
    flipped[7] ^= 1;
    const struct {
        const char* name;
        std::string statement;
        PackageFacts package;
        BuildVersion manifest;
        PublicKey key;
        StatementCheck expected;
    } cases[] = {
        {"good", good, Facts(Package), Offered, key, StatementCheck::Good},
        {"flipped package byte", good, Facts(flipped), Offered, key, StatementCheck::WrongDigest},
        {"truncated package", good, Facts(Package.substr(0, 500)), Offered, key,
         StatementCheck::WrongFile},
        {"another key", good, Facts(Package), Offered, PublicKeyOf(SeedOf(2)),
         StatementCheck::BadSignature},
        {"signed by another key", MakeUpdateStatement(SeedOf(2), Offered, Facts(Package)),
         Facts(Package), Offered, key, StatementCheck::BadSignature},
        {"another file name", MakeUpdateStatement(seed, Offered, Facts(Package, "other.bin")),
         Facts(Package), Offered, key, StatementCheck::WrongFile},
        {"version equal to the running one", MakeUpdateStatement(seed, Running, Facts(Package)),
         Facts(Package), Running, key, StatementCheck::NotNewer},
        {"older version (replayed build)",
         MakeUpdateStatement(seed, {2, 0}, Facts(Package)),
         Facts(Package),
         {2, 0},
         key,
         StatementCheck::NotNewer},
        {"version differs from the manifest's",
         MakeUpdateStatement(seed, {2, 0x00010003}, Facts(Package)), Facts(Package), Offered, key,
         StatementCheck::VersionMismatch},
        {"edited after signing",
         Replace(good, "version 0.2.1.2", "version 0.2.1.3"),
         Facts(Package),
         {2, 0x00010003},
         key,
         StatementCheck::BadSignature},
        {"signature altered",
         AlterAfter(good, "signature ", 20, [](char c) { return c == 'B' ? 'C' : 'B'; }),
         Facts(Package), Offered, key, StatementCheck::BadSignature},
        {"empty", "", Facts(Package), Offered, key, StatementCheck::Malformed},
        {"huge", good + std::string(MaxStatementBytes, '\n'), Facts(Package), Offered, key,
         StatementCheck::Malformed},
        {"CR LF line ends", Replace(good, "\n", "\r\n"), Facts(Package), Offered, key,
         StatementCheck::Malformed},
        {"no final line break", good.substr(0, good.size() - 1), Facts(Package), Offered, key,
         StatementCheck::Malformed},
        {"trailing line", good + "extra\n", Facts(Package), Offered, key,
         StatementCheck::Malformed},
        {"the old format without a target",
         Replace(Replace(good, "statement 2", "statement 1"), "target " + target + "\n", ""),
         Facts(Package), Offered, key, StatementCheck::Malformed},
        {"signed for another target",
         MakeUpdateStatement(seed, Offered, Facts(Package), "plan9-mips-qev"), Facts(Package),
         Offered, key, StatementCheck::WrongTarget},
        {"target with capitals", MakeUpdateStatement(seed, Offered, Facts(Package), "Linux"),
         Facts(Package), Offered, key, StatementCheck::Malformed},
        {"file name with a backslash",
         MakeUpdateStatement(seed, Offered, Facts(Package, "qev\\next")),
         Facts(Package, "qev\\next"), Offered, key, StatementCheck::Malformed},
        {"file name of 201 bytes",
         MakeUpdateStatement(seed, Offered, Facts(Package, std::string(201, 'n'))),
         Facts(Package, std::string(201, 'n')), Offered, key, StatementCheck::NameTooLong},
        {"file name of 200 bytes",
         MakeUpdateStatement(seed, Offered, Facts(Package, std::string(200, 'n'))),
         Facts(Package, std::string(200, 'n')), Offered, key, StatementCheck::Good},
        {"leading zero in the version", Replace(good, "0.2.1.2", "0.2.01.2"), Facts(Package),
         Offered, key, StatementCheck::Malformed},
        {"version part too large", Replace(good, "0.2.1.2", "0.2.65536.2"), Facts(Package), Offered,
         key, StatementCheck::Malformed},
        {"upper-case digest",
         AlterAfter(good, "sha256 ", 64, [](char c) { return static_cast<char>(std::toupper(c)); }),
         Facts(Package), Offered, key, StatementCheck::Malformed},
        {"blank doubled", Replace(good, "size ", "size  "), Facts(Package), Offered, key,
         StatementCheck::Malformed},
        {"file name with a slash", Replace(good, "file qev next", "file a/qev next"),
         Facts(Package), Offered, key, StatementCheck::Malformed},
        {"lines swapped",
         Replace(Replace(good, "file qev next\n", ""), "sha256 ", "file qev next\nsha256 "),
         Facts(Package), Offered, key, StatementCheck::Malformed},
        {"size past 2 GiB", Replace(good, "size 1014", "size 2147483648"), Facts(Package), Offered,
         key, StatementCheck::Malformed},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(VerifyUpdateStatement(c.statement, c.key, c.package, c.manifest, Running),
                  c.expected)
            << c.name << "\n"
            << c.statement;
    }
}

TEST(UpdateStatement, BuildVersions)
{
    const struct {
        const char* text;
        bool ok;
        BuildVersion v;
    } cases[] = {
        {"0.2.1.2", true, {2, 0x00010002}},
        {"65535.65535.65535.65535", true, {0xFFFFFFFF, 0xFFFFFFFF}},
        {"0.0.0.0", true, {0, 0}},
        {"1.2.3", false, {}},
        {"1.2.3.4.5", false, {}},
        {"1.2.3.", false, {}},
        {".1.2.3", false, {}},
        {"1..2.3", false, {}},
        {"01.2.3.4", false, {}},
        {"1.2.3.65536", false, {}},
        {"+1.2.3.4", false, {}},
        {"1.2.3.4 ", false, {}},
        {"", false, {}},
    };
    for (const auto& c : cases) {
        const auto v = ParseBuildVersion(c.text);
        EXPECT_EQ(v.has_value(), c.ok) << c.text;
        if (v && c.ok) {
            EXPECT_EQ(*v, c.v) << c.text;
            EXPECT_EQ(FormatBuildVersion(*v), c.text);
        }
    }
    EXPECT_TRUE(IsNewer({2, 0x00010002}, {2, 0x00010001}));
    EXPECT_TRUE(IsNewer({3, 0}, {2, 0xFFFFFFFF}));
    EXPECT_FALSE(IsNewer({2, 5}, {2, 5}));
    EXPECT_FALSE(IsNewer({1, 0xFFFFFFFF}, {2, 0}));
}

TEST(UpdateStatement, KeyTexts)
{
    const SecretSeed seed = SeedOf(9);
    const std::string file = FormatSecretKeyFile(seed, "line one\nline two");
    EXPECT_EQ(file.substr(0, 22), "# line one\n# line two\n");
    const auto back = ParseSecretKeyFile(file);
    ASSERT_TRUE(back);
    EXPECT_EQ(*back, seed);
    EXPECT_FALSE(ParseSecretKeyFile(file + file.substr(22))); // two keys
    EXPECT_FALSE(ParseSecretKeyFile("# only a comment\n"));
    EXPECT_FALSE(ParseSecretKeyFile(""));
    EXPECT_FALSE(ParseSecretKeyFile(Replace(file, "key 1 ", "key 2 ")));

    const std::string pk = EncodePublicKey(PublicKeyOf(seed));
    ASSERT_EQ(pk.size(), 44u);
    ASSERT_TRUE(DecodePublicKey(pk));
    EXPECT_EQ(*DecodePublicKey(pk), PublicKeyOf(seed));
    for (const std::string& bad : {pk.substr(0, 43), pk + "=",
                                   pk.substr(0, 42) + "!=", std::string(), pk.substr(0, 43) + "A"})
        EXPECT_FALSE(DecodePublicKey(bad)) << bad;
}

} // namespace
} // namespace qev
