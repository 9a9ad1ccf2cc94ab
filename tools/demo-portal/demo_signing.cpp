#include "demo_signing.h"

#include <fstream>
#include <sstream>

#include "demo_update_key.h"
#include "net/update_statement.h"

namespace qev::portal {

const char* DemoSecretKeyText()
{
    return DemoUpdateKeyFileText;
}

std::string OfferedStatement(const std::string& packageFile, ManifestVersion version)
{
    const std::string published = packageFile + std::string(StatementSuffix);
    if (std::ifstream in{published, std::ios::binary}) {
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }
    const auto seed = ParseSecretKeyFile(DemoSecretKeyText());
    const auto facts = MeasurePackageFile(packageFile);
    if (!seed || !facts) return {};
    return MakeUpdateStatement(*seed, {version.major, version.minor}, *facts);
}

} // namespace qev::portal
