// qev-sign: the operator's side of signed updates.
//   qev-sign keygen SECRET_FILE             writes a new secret key, prints its public key
//   qev-sign sign [--target T] SECRET_FILE PACKAGE VERSION
//                                           writes PACKAGE.sig for version a.b.c.d, for the
//                                           target T (default: this build's own)
//   qev-sign verify PUBLIC_KEY PACKAGE      exit 0 only when PACKAGE.sig holds for PACKAGE
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "core/net/update_statement.h"

namespace {

constexpr int ExitFailed = 1;
constexpr int ExitUsage = 2;

int Usage()
{
    std::fputs("usage: qev-sign keygen SECRET_FILE\n"
               "       qev-sign sign [--target OS-ARCH-qev] SECRET_FILE PACKAGE VERSION\n"
               "       qev-sign verify PUBLIC_KEY PACKAGE\n",
               stderr);
    return ExitUsage;
}

int Fail(const std::string& text)
{
    std::fprintf(stderr, "qev-sign: %s\n", text.c_str());
    return ExitFailed;
}

bool ReadSmallFile(const std::string& path, std::string& text)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::ostringstream s;
    s << in.rdbuf();
    text = s.str();
    return !in.bad();
}

// Writes text to path with mode; exclusive refuses an existing file.
bool WriteFile(const std::string& path, const std::string& text, mode_t mode, bool exclusive)
{
    const int fd =
        open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | (exclusive ? O_EXCL : O_TRUNC), mode);
    if (fd < 0) return false;
    bool ok = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    ok = fsync(fd) == 0 && ok;
    return close(fd) == 0 && ok;
}

// Replaces path with text through a new file of its own beside it (mkstemp: created, never
// opened through a link) and a rename, which swaps a link planted at path for the file
// itself. A reader sees the old file or the whole new one.
bool ReplaceFile(const std::string& path, const std::string& text, mode_t mode)
{
    const std::string folder = std::filesystem::path(path).parent_path().string();
    std::string temporary = (folder.empty() ? std::string(".") : folder) + "/.qev-sign-XXXXXX";
    const int fd = mkstemp(temporary.data());
    if (fd < 0) return false;
    bool ok = fchmod(fd, mode) == 0;
    for (std::size_t done = 0; ok && done < text.size();) {
        const ssize_t wrote = write(fd, text.data() + done, text.size() - done);
        if (wrote < 0 && errno == EINTR) continue;
        ok = wrote > 0;
        if (ok) done += static_cast<std::size_t>(wrote);
    }
    ok = ok && fsync(fd) == 0;
    ok = close(fd) == 0 && ok;
    if (ok && std::rename(temporary.c_str(), path.c_str()) == 0) return true;
    const int saved = errno;
    unlink(temporary.c_str());
    errno = saved;
    return false;
}

int Keygen(const std::string& secretFile)
{
    const qev::SecretSeed seed = qev::NewSecretSeed();
    const std::string text = qev::FormatSecretKeyFile(
        seed, "qev update signing key (secret). Anyone holding it can sign updates that\n"
              "clients built with its public key will install: keep it private.");
    // Never overwrite: a lost key cannot sign for the clients already out there.
    if (!WriteFile(secretFile, text, 0600, true))
        return Fail("cannot create " + secretFile + ": " + std::strerror(errno));
    std::printf("%s\n", qev::EncodePublicKey(qev::PublicKeyOf(seed)).c_str());
    return 0;
}

int Sign(const std::string& secretFile, const std::string& package, const std::string& version,
         const std::string& machine)
{
    if (!qev::IsTargetName(machine))
        return Fail("a target is 1 to 64 of a-z, 0-9, '_' and '-', e.g. linux-x86_64-qev: " +
                    machine);
    std::string keyText;
    if (!ReadSmallFile(secretFile, keyText)) return Fail("cannot read " + secretFile);
    const auto seed = qev::ParseSecretKeyFile(keyText);
    if (!seed) return Fail(secretFile + " holds no secret key");
    const auto parsed = qev::ParseBuildVersion(version);
    if (!parsed) return Fail("version must be a.b.c.d, each part 0..65535: " + version);
    const auto facts = qev::MeasurePackageFile(package);
    if (!facts) return Fail("cannot read " + package + " (or it is 2 GiB or larger)");
    if (facts->fileName.size() > qev::MaxInstallableNameBytes)
        return Fail("clients install only file names of at most " +
                    std::to_string(qev::MaxInstallableNameBytes) + " bytes: " + facts->fileName);
    const std::string statement = qev::MakeUpdateStatement(*seed, *parsed, *facts, machine);
    if (!qev::ParseUpdateStatement(statement))
        return Fail("the package's file name cannot be named in a statement: " + facts->fileName);
    const std::string target = package + std::string(qev::StatementSuffix);
    if (!ReplaceFile(target, statement, 0644))
        return Fail("cannot write " + target + ": " + std::strerror(errno));
    std::printf("%s", statement.c_str());
    return 0;
}

int Verify(const std::string& publicKey, const std::string& package)
{
    const auto key = qev::DecodePublicKey(publicKey);
    if (!key) return Fail("not a public key (44 characters of base64): " + publicKey);
    const std::string statementPath = package + std::string(qev::StatementSuffix);
    std::string text;
    if (!ReadSmallFile(statementPath, text)) return Fail("cannot read " + statementPath);
    const auto facts = qev::MeasurePackageFile(package);
    if (!facts) return Fail("cannot read " + package);
    qev::UpdateStatement statement;
    const auto check = qev::VerifyStatementForPackage(text, *key, *facts, &statement);
    if (check != qev::StatementCheck::Good)
        return Fail(statementPath + ": " + qev::DescribeStatementCheck(check));
    std::printf("good: %s, version %s, target %s\n", statement.fileName.c_str(),
                qev::FormatBuildVersion(statement.version).c_str(), statement.target.c_str());
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (!qev::InitStatementCrypto()) return Fail("the crypto library did not start");
    if (args.size() == 2 && args[0] == "keygen") return Keygen(args[1]);
    if (args.size() == 4 && args[0] == "sign")
        return Sign(args[1], args[2], args[3], std::string(qev::BuildTarget()));
    if (args.size() == 6 && args[0] == "sign" && args[1] == "--target")
        return Sign(args[3], args[4], args[5], args[2]);
    if (args.size() == 3 && args[0] == "verify") return Verify(args[1], args[2]);
    return Usage();
}
