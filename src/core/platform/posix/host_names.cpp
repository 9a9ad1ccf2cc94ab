#include "core/platform/host_names.h"

#include <idn2.h>
#include <libpsl.h>

#include <memory>

namespace qev {
namespace {

struct PslFree {
    void operator()(psl_ctx_t* context) const { psl_free(context); }
};

// The system's list (package publicsuffix) when it is newer than the library's own copy;
// null when there is neither. Read once; lookups only read it.
const psl_ctx_t* SuffixList()
{
    static const std::unique_ptr<psl_ctx_t, PslFree> list(psl_latest(nullptr));
    return list.get();
}

} // namespace

std::string HostToAscii(std::string_view utf8Host)
{
    char* ascii = nullptr;
    const std::string input(utf8Host);
    const int result =
        idn2_to_ascii_8z(input.c_str(), &ascii, IDN2_NONTRANSITIONAL | IDN2_NFC_INPUT);
    std::string out;
    if (result == IDN2_OK && ascii) out = ascii;
    idn2_free(ascii);
    return out;
}

std::string RegistrableDomain(std::string_view asciiHost)
{
    const psl_ctx_t* list = SuffixList();
    if (!list) return {};
    const std::string host(asciiHost);
    const char* domain = psl_registrable_domain(list, host.c_str());
    return domain ? std::string(domain) : std::string();
}

} // namespace qev
