#include "demo_signing.h"

#include <fstream>
#include <sstream>

#include "core/net/update_statement.h"
#include "demo_update_key.h"

namespace qev::portal {
namespace {

// A secret key file is a few lines; reading stops well before anything larger.
constexpr std::streamsize MaxKeyFileBytes = 64 * 1024;

std::optional<std::string> SignedStatement(const std::string& keyText, const std::string& keyName,
                                           const std::string& packageFile, ManifestVersion version,
                                           std::string& error)
{
    const auto seed = ParseSecretKeyFile(keyText);
    if (!seed) {
        error = keyName + " holds no secret key";
        return {};
    }
    const auto facts = MeasurePackageFile(packageFile);
    if (!facts) {
        error = "cannot read " + packageFile + " (or it is 2 GiB or larger)";
        return {};
    }
    std::string statement = MakeUpdateStatement(*seed, {version.major, version.minor}, *facts);
    if (!ParseUpdateStatement(statement)) {
        error = "the package's file name cannot be named in a statement: " + facts->fileName;
        return {};
    }
    return statement;
}

} // namespace

const char* DemoSecretKeyText()
{
    return DemoUpdateKeyFileText;
}

std::optional<std::string> OfferedStatement(const std::string& packageFile, ManifestVersion version,
                                            const std::string& secretKeyFile, std::string& error)
{
    if (!secretKeyFile.empty()) {
        std::ifstream in{secretKeyFile, std::ios::binary};
        std::string keyText(MaxKeyFileBytes + 1, '\0');
        if (in) in.read(keyText.data(), MaxKeyFileBytes + 1);
        if (!in.is_open() || in.bad()) {
            error = "cannot read " + secretKeyFile;
            return {};
        }
        keyText.resize(static_cast<std::size_t>(in.gcount()));
        if (in.gcount() > MaxKeyFileBytes) keyText.clear(); // far too large to be a key file
        return SignedStatement(keyText, secretKeyFile, packageFile, version, error);
    }
    const std::string published = packageFile + std::string(StatementSuffix);
    if (std::ifstream in{published, std::ios::binary}) {
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }
    if (*DemoSecretKeyText() == '\0') {
        error = "there is no " + published +
                " to serve, and this build has no key of its own to sign with: give "
                "--secret-key FILE";
        return {};
    }
    return SignedStatement(DemoSecretKeyText(), "the built-in key", packageFile, version, error);
}

} // namespace qev::portal
