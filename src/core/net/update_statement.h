#pragma once
// The update statement: a small signed text published beside an update package as
// "<package>.sig". It names the package's version, file name, size and SHA-256, and carries
// an Ed25519 signature over those lines, so a client only installs what the operator's key
// signed, and never a correctly signed but older build.
//
// The text, byte for byte (every line ends with a single "\n", no blanks other than the one
// after each keyword, nothing before or after):
//
//   qev-update-statement 2
//   version A.B.C.D                 four decimal parts, each 0..65535, no leading zeros
//   target OS-ARCH-qev              the kind of machine the build runs on, e.g.
//                                   linux-x86_64-qev: 1..64 bytes of a-z, 0-9, '_', '-'
//   file NAME                       the package's file name: 1..255 bytes, no '/', '\\',
//                                   control bytes or DEL; not "." or ".."; a client
//                                   installs only names of at most 200 bytes
//   size N                          decimal bytes, 0..2147483647, no leading zeros
//   sha256 HEX                      64 lower-case hexadecimal digits
//   signature BASE64                88 characters: standard base64 (with padding) of the
//                                   64-byte Ed25519 signature of every byte before this line
//
// Keys are text too: a public key is the standard base64 of its 32 bytes (44 characters);
// a secret key file holds comment lines starting with '#' and one line
// "qev-update-secret-key 1 BASE64" with the 32-byte Ed25519 seed.
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "core/platform/update_folder.h"

namespace qev {

// Format 1 had no target line; it is not read any more (a package signed for one kind of
// machine must never be installed on another).
inline constexpr std::string_view StatementFormatLine = "qev-update-statement 2";
inline constexpr std::string_view StatementSuffix = ".sig";
inline constexpr std::string_view SecretKeyLineStart = "qev-update-secret-key 1 ";
// A statement is a few hundred bytes; anything much larger is not one.
inline constexpr std::size_t MaxStatementBytes = 1024;
inline constexpr std::size_t MaxPackageNameBytes = 255;
// The longest name a client installs: the hand-over's names built from it (a copy's
// temporary sibling, the Windows updater copy) must still fit the file system's limits.
inline constexpr std::size_t MaxInstallableNameBytes = 200;
inline constexpr std::size_t MaxTargetBytes = 64;

// The target this build was made for: "<os>-<arch>-qev".
std::string_view BuildTarget();

using Sha256Digest = std::array<unsigned char, 32>;
using PublicKey = std::array<unsigned char, 32>;
using SecretSeed = std::array<unsigned char, 32>;
using Ed25519Signature = std::array<unsigned char, 64>;

// A build version a.b.c.d packed as the file version is: ms = a << 16 | b, ls = c << 16 | d.
struct BuildVersion {
    std::uint32_t ms = 0;
    std::uint32_t ls = 0;
    friend bool operator==(const BuildVersion&, const BuildVersion&) = default;
};
bool IsNewer(BuildVersion candidate, BuildVersion than);
std::optional<BuildVersion> ParseBuildVersion(std::string_view text); // strict "a.b.c.d"
std::string FormatBuildVersion(BuildVersion version);

struct UpdateStatement {
    BuildVersion version;
    std::string target;
    std::string fileName;
    std::uint32_t size = 0;
    Sha256Digest sha256{};
    Ed25519Signature signature{};
    std::string signedText; // the five lines the signature covers
};

// Parses the text exactly as laid out above; nothing on any deviation.
std::optional<UpdateStatement> ParseUpdateStatement(std::string_view text);

// The facts a statement is checked against.
struct PackageFacts {
    std::string fileName;
    std::uint64_t size = 0;
    Sha256Digest sha256{};
};

// Outcome of VerifyUpdateStatement, in the order the checks run. The first failing check
// is reported.
enum class StatementCheck : int {
    Good = 0,
    Malformed = 1,       // not a statement (empty, too large, or not in the format)
    BadSignature = 2,    // not signed by the built-in key
    WrongFile = 3,       // signed for another file name or size
    WrongDigest = 4,     // the package's SHA-256 differs
    VersionMismatch = 5, // the statement's version is not the manifest's
    NotNewer = 6,        // not newer than the running build (a replayed older build)
    WrongTarget = 7,     // signed for another kind of machine
    NameTooLong = 8,     // a file name longer than MaxInstallableNameBytes
};

// One log-friendly phrase per outcome, e.g. "bad signature".
const char* DescribeStatementCheck(StatementCheck check);

// Checks that a statement text is in the format, signed by key, and about this package
// (file name, size, SHA-256). On Good, *statement (when given) receives the parsed text.
StatementCheck VerifyStatementForPackage(std::string_view text, const PublicKey& key,
                                         const PackageFacts& package,
                                         UpdateStatement* statement = nullptr);

// The checks that come before the package is fetched, in order: the format, the
// signature, the file name (the one the package will be stored under, at most
// MaxInstallableNameBytes), the target, that the version equals the manifest's, and that
// it is newer than the running build. On Good, *statement (when given) receives it.
StatementCheck VerifyStatementBeforeFetch(std::string_view text, const PublicKey& key,
                                          std::string_view fileName, BuildVersion manifest,
                                          BuildVersion running, std::string_view target,
                                          UpdateStatement* statement = nullptr);

// The checks of the fetched package against a statement that passed the ones above: its
// size (WrongFile), then its SHA-256.
StatementCheck CheckPackageAgainst(const UpdateStatement& statement, const PackageFacts& package);

// Every check, in order: VerifyStatementBeforeFetch, then CheckPackageAgainst.
StatementCheck VerifyUpdateStatement(std::string_view text, const PublicKey& key,
                                     const PackageFacts& package, BuildVersion manifest,
                                     BuildVersion running, std::string_view target = BuildTarget());

// Key text in and out. DecodePublicKey accepts exactly the 44-character form.
std::optional<PublicKey> DecodePublicKey(std::string_view base64);
std::string EncodePublicKey(const PublicKey& key);
// The secret key file's text for seed; each line of comment becomes a "# " line.
std::string FormatSecretKeyFile(const SecretSeed& seed, std::string_view comment);
std::optional<SecretSeed> ParseSecretKeyFile(std::string_view text);
SecretSeed NewSecretSeed();
PublicKey PublicKeyOf(const SecretSeed& seed);

// Incremental SHA-256, for packages read piece by piece.
class Sha256Hasher {
public:
    Sha256Hasher();
    void Update(const void* bytes, std::size_t length);
    Sha256Digest Final();

private:
    alignas(64) unsigned char state_[128];
};

// Name, size and SHA-256 of a file (path in UTF-8); nothing when it cannot be read whole
// or is larger than a statement can name.
std::optional<PackageFacts> MeasurePackageFile(const std::string& path);

// 64 lower-case hexadecimal digits, as a statement writes a digest.
std::string HexDigest(const Sha256Digest& digest);

// Name (as given), size and SHA-256 of an open file, read through its handle from its
// start; nothing when it cannot be read whole or is larger than a statement can name.
std::optional<PackageFacts> MeasureOpenFile(const OpenFile& file, std::string name);

// The complete statement text for a package, signed with seed.
std::string MakeUpdateStatement(const SecretSeed& seed, BuildVersion version,
                                const PackageFacts& package,
                                std::string_view target = BuildTarget());

// True for a target text the statement can carry.
bool IsTargetName(std::string_view target);

// False when the crypto library cannot be started (then nothing verifies).
bool InitStatementCrypto();

} // namespace qev
