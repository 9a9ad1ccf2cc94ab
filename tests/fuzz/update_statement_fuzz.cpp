// A downloaded update statement, and the key texts read beside it.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "core/net/update_statement.h"
#include "test_keys.h"

namespace {

const qev::SecretSeed& Seed()
{
    static const qev::SecretSeed seed = qev::test::FuzzSeed();
    return seed;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    if (const auto s = qev::ParseUpdateStatement(text)) {
        // What the signature covers is the text's own beginning, and the parts read back
        // the way they were written.
        if (text.substr(0, s->signedText.size()) != s->signedText) std::abort();
        if (s->fileName.empty() || s->fileName.find('/') != std::string::npos) std::abort();
        if (!qev::ParseBuildVersion(qev::FormatBuildVersion(s->version))) std::abort();
        // A statement made from the parsed facts parses to the same facts.
        const qev::PackageFacts facts{s->fileName, s->size, s->sha256};
        const auto again =
            qev::ParseUpdateStatement(qev::MakeUpdateStatement(Seed(), s->version, facts));
        if (!again || again->fileName != s->fileName || again->size != s->size ||
            again->sha256 != s->sha256 || !(again->version == s->version))
            std::abort();
    }
    const qev::PackageFacts facts{"qev next", 16, {}};
    const auto check =
        qev::VerifyUpdateStatement(text, qev::PublicKeyOf(Seed()), facts, {2, 65538}, {2, 65537});
    // Without the secret key nothing fuzzed can pass the signature.
    if (check == qev::StatementCheck::Good) std::abort();
    if (const auto v = qev::ParseBuildVersion(text); v && qev::FormatBuildVersion(*v) != text)
        std::abort();
    qev::ParseSecretKeyFile(text);
    qev::DecodePublicKey(text);
    return 0;
}
