#include "core/net/update_statement.h"

#include <sodium.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "core/platform/os_version.h"

#if defined(__x86_64__) || defined(_M_X64)
#define QEV_TARGET_ARCH "x86_64"
#elif defined(__aarch64__) || defined(_M_ARM64)
#define QEV_TARGET_ARCH "aarch64"
#elif defined(__i386__) || defined(_M_IX86)
#define QEV_TARGET_ARCH "i686"
#else
#define QEV_TARGET_ARCH "unknown"
#endif

namespace qev {
namespace {

static_assert(sizeof(crypto_hash_sha256_state) <= 128);
static_assert(crypto_sign_PUBLICKEYBYTES == 32 && crypto_sign_SEEDBYTES == 32);
static_assert(crypto_sign_BYTES == 64 && crypto_hash_sha256_BYTES == 32);

constexpr std::size_t PublicKeyTextLength = 44; // base64 of 32 bytes, padded
constexpr std::size_t SignatureTextLength = 88; // base64 of 64 bytes, padded
constexpr std::uint32_t MaxVersionPart = 0xFFFF;
constexpr std::uint32_t MaxPackageSize = 0x7FFFFFFF; // downloads count in signed 32 bits

// Strict unsigned decimal: digits only, no leading zero (except "0"), at most max.
std::optional<std::uint32_t> ParseDecimal(std::string_view text, std::uint32_t max)
{
    if (text.empty() || text.size() > 10 || (text.size() > 1 && text[0] == '0')) return {};
    std::uint64_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return {};
        value = value * 10 + static_cast<std::uint64_t>(c - '0');
    }
    if (value > max) return {};
    return static_cast<std::uint32_t>(value);
}

template <std::size_t N>
bool DecodeBase64(std::string_view text, std::size_t expectedLength,
                  std::array<unsigned char, N>& out)
{
    if (text.size() != expectedLength) return false;
    std::size_t length = 0;
    const char* end = nullptr;
    if (sodium_base642bin(out.data(), out.size(), text.data(), text.size(), nullptr, &length, &end,
                          sodium_base64_VARIANT_ORIGINAL) != 0)
        return false;
    return length == N && end == text.data() + text.size();
}

template <std::size_t N> std::string EncodeBase64(const std::array<unsigned char, N>& bytes)
{
    std::string out(sodium_base64_ENCODED_LEN(N, sodium_base64_VARIANT_ORIGINAL), '\0');
    sodium_bin2base64(out.data(), out.size(), bytes.data(), N, sodium_base64_VARIANT_ORIGINAL);
    out.resize(std::strlen(out.c_str()));
    return out;
}

bool ParseHexDigest(std::string_view text, Sha256Digest& out)
{
    if (text.size() != 2 * out.size()) return false;
    const auto nibble = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        return -1;
    };
    for (std::size_t i = 0; i < out.size(); ++i) {
        const int high = nibble(text[2 * i]), low = nibble(text[2 * i + 1]);
        if (high < 0 || low < 0) return false;
        out[i] = static_cast<unsigned char>(high << 4 | low);
    }
    return true;
}

bool IsPackageName(std::string_view name)
{
    if (name.empty() || name.size() > MaxPackageNameBytes || name == "." || name == "..")
        return false;
    for (const char c : name) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F || c == '/' || c == '\\') return false;
    }
    return true;
}

// Takes the line "<keyword> <value>\n" off the front of text; the value has no line break.
std::optional<std::string_view> TakeLine(std::string_view& text, std::string_view keyword)
{
    const auto end = text.find('\n');
    if (end == std::string_view::npos) return {};
    std::string_view line = text.substr(0, end);
    if (line.size() <= keyword.size() || line.substr(0, keyword.size()) != keyword ||
        line[keyword.size()] != ' ')
        return {};
    text.remove_prefix(end + 1);
    return line.substr(keyword.size() + 1);
}

} // namespace

std::string_view BuildTarget()
{
    static const std::string target = std::string(BuildSystemName()) + "-" QEV_TARGET_ARCH "-qev";
    return target;
}

bool IsTargetName(std::string_view target)
{
    if (target.empty() || target.size() > MaxTargetBytes) return false;
    for (const char c : target)
        if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || c == '-'))
            return false;
    return true;
}

bool InitStatementCrypto()
{
    static const bool ready = sodium_init() >= 0;
    return ready;
}

bool IsNewer(BuildVersion candidate, BuildVersion than)
{
    return candidate.ms > than.ms || (candidate.ms == than.ms && candidate.ls > than.ls);
}

std::optional<BuildVersion> ParseBuildVersion(std::string_view text)
{
    std::uint32_t parts[4];
    for (int i = 0; i < 4; ++i) {
        const auto dot = i < 3 ? text.find('.') : text.size();
        if (dot == std::string_view::npos) return {};
        const auto part = ParseDecimal(text.substr(0, dot), MaxVersionPart);
        if (!part) return {};
        parts[i] = *part;
        text.remove_prefix(i < 3 ? dot + 1 : dot);
    }
    return BuildVersion{parts[0] << 16 | parts[1], parts[2] << 16 | parts[3]};
}

std::string FormatBuildVersion(BuildVersion v)
{
    return std::to_string(v.ms >> 16) + "." + std::to_string(v.ms & 0xFFFF) + "." +
           std::to_string(v.ls >> 16) + "." + std::to_string(v.ls & 0xFFFF);
}

std::optional<UpdateStatement> ParseUpdateStatement(std::string_view text)
{
    if (text.size() > MaxStatementBytes) return {};
    const std::string_view whole = text;
    UpdateStatement s;
    const auto format = text.find('\n');
    if (format == std::string_view::npos || text.substr(0, format) != StatementFormatLine)
        return {};
    text.remove_prefix(format + 1);

    const auto version = TakeLine(text, "version");
    if (!version) return {};
    const auto parsedVersion = ParseBuildVersion(*version);
    if (!parsedVersion) return {};
    s.version = *parsedVersion;

    const auto target = TakeLine(text, "target");
    if (!target || !IsTargetName(*target)) return {};
    s.target = std::string(*target);

    const auto file = TakeLine(text, "file");
    if (!file || !IsPackageName(*file)) return {};
    s.fileName = std::string(*file);

    const auto size = TakeLine(text, "size");
    if (!size) return {};
    const auto parsedSize = ParseDecimal(*size, MaxPackageSize);
    if (!parsedSize) return {};
    s.size = *parsedSize;

    const auto digest = TakeLine(text, "sha256");
    if (!digest || !ParseHexDigest(*digest, s.sha256)) return {};
    s.signedText = std::string(whole.substr(0, whole.size() - text.size()));

    const auto signature = TakeLine(text, "signature");
    if (!signature || !DecodeBase64(*signature, SignatureTextLength, s.signature)) return {};
    if (!text.empty()) return {};
    return s;
}

const char* DescribeStatementCheck(StatementCheck check)
{
    switch (check) {
    case StatementCheck::Good: return "good";
    case StatementCheck::Malformed: return "malformed statement";
    case StatementCheck::BadSignature: return "bad signature";
    case StatementCheck::WrongFile: return "wrong file name or size";
    case StatementCheck::WrongDigest: return "wrong SHA-256";
    case StatementCheck::VersionMismatch: return "version differs from the manifest";
    case StatementCheck::NotNewer: return "version not newer than this build";
    case StatementCheck::WrongTarget: return "built for another target";
    case StatementCheck::NameTooLong: return "file name too long";
    }
    return "unknown";
}

namespace {

bool SignatureHolds(const UpdateStatement& s, const PublicKey& key)
{
    return InitStatementCrypto() &&
           crypto_sign_verify_detached(s.signature.data(),
                                       reinterpret_cast<const unsigned char*>(s.signedText.data()),
                                       s.signedText.size(), key.data()) == 0;
}

} // namespace

StatementCheck CheckPackageAgainst(const UpdateStatement& statement, const PackageFacts& package)
{
    if (statement.fileName != package.fileName || statement.size != package.size)
        return StatementCheck::WrongFile;
    if (sodium_memcmp(statement.sha256.data(), package.sha256.data(), statement.sha256.size()) != 0)
        return StatementCheck::WrongDigest;
    return StatementCheck::Good;
}

StatementCheck VerifyStatementForPackage(std::string_view text, const PublicKey& key,
                                         const PackageFacts& package, UpdateStatement* statement)
{
    const auto s = ParseUpdateStatement(text);
    if (!s) return StatementCheck::Malformed;
    if (!SignatureHolds(*s, key)) return StatementCheck::BadSignature;
    if (const auto check = CheckPackageAgainst(*s, package); check != StatementCheck::Good)
        return check;
    if (statement) *statement = *s;
    return StatementCheck::Good;
}

StatementCheck VerifyStatementBeforeFetch(std::string_view text, const PublicKey& key,
                                          std::string_view fileName, BuildVersion manifest,
                                          BuildVersion running, std::string_view target,
                                          UpdateStatement* statement)
{
    const auto s = ParseUpdateStatement(text);
    if (!s) return StatementCheck::Malformed;
    if (!SignatureHolds(*s, key)) return StatementCheck::BadSignature;
    if (s->fileName != fileName) return StatementCheck::WrongFile;
    if (s->fileName.size() > MaxInstallableNameBytes) return StatementCheck::NameTooLong;
    if (s->target != target) return StatementCheck::WrongTarget;
    if (!(s->version == manifest)) return StatementCheck::VersionMismatch;
    if (!IsNewer(s->version, running)) return StatementCheck::NotNewer;
    if (statement) *statement = *s;
    return StatementCheck::Good;
}

StatementCheck VerifyUpdateStatement(std::string_view text, const PublicKey& key,
                                     const PackageFacts& package, BuildVersion manifest,
                                     BuildVersion running, std::string_view target)
{
    UpdateStatement s;
    if (const auto check =
            VerifyStatementBeforeFetch(text, key, package.fileName, manifest, running, target, &s);
        check != StatementCheck::Good)
        return check;
    return CheckPackageAgainst(s, package);
}

std::optional<PublicKey> DecodePublicKey(std::string_view base64)
{
    PublicKey key{};
    if (!InitStatementCrypto() || !DecodeBase64(base64, PublicKeyTextLength, key)) return {};
    return key;
}

std::string EncodePublicKey(const PublicKey& key)
{
    return EncodeBase64(key);
}

std::string FormatSecretKeyFile(const SecretSeed& seed, std::string_view comment)
{
    std::string text;
    std::string_view rest = comment;
    while (!rest.empty()) {
        const auto end = rest.find('\n');
        text += "# " + std::string(rest.substr(0, end)) + "\n";
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
    }
    return text + std::string(SecretKeyLineStart) + EncodeBase64(seed) + "\n";
}

std::optional<SecretSeed> ParseSecretKeyFile(std::string_view text)
{
    if (!InitStatementCrypto()) return {};
    std::optional<SecretSeed> found;
    while (!text.empty()) {
        const auto end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.empty() || line[0] == '#') continue;
        SecretSeed seed{};
        // One key line, and nothing else: a file with two keys is ambiguous.
        if (found || line.substr(0, SecretKeyLineStart.size()) != SecretKeyLineStart ||
            !DecodeBase64(line.substr(SecretKeyLineStart.size()), PublicKeyTextLength, seed))
            return {};
        found = seed;
    }
    return found;
}

SecretSeed NewSecretSeed()
{
    InitStatementCrypto();
    SecretSeed seed{};
    randombytes_buf(seed.data(), seed.size());
    return seed;
}

PublicKey PublicKeyOf(const SecretSeed& seed)
{
    InitStatementCrypto();
    PublicKey pk{};
    unsigned char sk[crypto_sign_SECRETKEYBYTES];
    crypto_sign_seed_keypair(pk.data(), sk, seed.data());
    sodium_memzero(sk, sizeof sk);
    return pk;
}

Sha256Hasher::Sha256Hasher()
{
    InitStatementCrypto();
    crypto_hash_sha256_init(reinterpret_cast<crypto_hash_sha256_state*>(state_));
}

void Sha256Hasher::Update(const void* bytes, std::size_t length)
{
    crypto_hash_sha256_update(reinterpret_cast<crypto_hash_sha256_state*>(state_),
                              static_cast<const unsigned char*>(bytes), length);
}

Sha256Digest Sha256Hasher::Final()
{
    Sha256Digest digest{};
    crypto_hash_sha256_final(reinterpret_cast<crypto_hash_sha256_state*>(state_), digest.data());
    return digest;
}

std::optional<PackageFacts> MeasurePackageFile(const std::string& path)
{
    const std::filesystem::path file(std::u8string(path.begin(), path.end()));
    std::ifstream in(file, std::ios::binary);
    if (!in) return {};
    PackageFacts facts;
    facts.fileName = reinterpret_cast<const char*>(file.filename().u8string().c_str());
    Sha256Hasher hasher;
    std::vector<char> buffer(1 << 16);
    while (in) {
        in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
        const auto got = static_cast<std::size_t>(in.gcount());
        hasher.Update(buffer.data(), got);
        facts.size += got;
        if (facts.size > MaxPackageSize) return {};
    }
    if (in.bad()) return {};
    facts.sha256 = hasher.Final();
    return facts;
}

std::string HexDigest(const Sha256Digest& digest)
{
    static constexpr char digits[] = "0123456789abcdef";
    std::string out;
    for (const unsigned char b : digest) {
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    return out;
}

std::optional<PackageFacts> MeasureOpenFile(const OpenFile& file, std::string name)
{
    PackageFacts facts;
    facts.fileName = std::move(name);
    Sha256Hasher hasher;
    std::vector<char> buffer(1 << 16);
    for (;;) {
        const std::int64_t got =
            file.ReadAt(static_cast<std::int64_t>(facts.size), buffer.data(), buffer.size());
        if (got < 0) return {};
        if (got == 0) break;
        hasher.Update(buffer.data(), static_cast<std::size_t>(got));
        facts.size += static_cast<std::uint64_t>(got);
        if (facts.size > MaxPackageSize) return {};
    }
    facts.sha256 = hasher.Final();
    return facts;
}

std::string MakeUpdateStatement(const SecretSeed& seed, BuildVersion version,
                                const PackageFacts& package, std::string_view target)
{
    InitStatementCrypto();
    const std::string body =
        std::string(StatementFormatLine) + "\nversion " + FormatBuildVersion(version) +
        "\ntarget " + std::string(target) + "\nfile " + package.fileName + "\nsize " +
        std::to_string(package.size) + "\nsha256 " + HexDigest(package.sha256) + "\n";
    PublicKey pk{};
    unsigned char sk[crypto_sign_SECRETKEYBYTES];
    crypto_sign_seed_keypair(pk.data(), sk, seed.data());
    Ed25519Signature signature{};
    crypto_sign_detached(signature.data(), nullptr,
                         reinterpret_cast<const unsigned char*>(body.data()), body.size(), sk);
    sodium_memzero(sk, sizeof sk);
    return body + "signature " + EncodeBase64(signature) + "\n";
}

} // namespace qev
