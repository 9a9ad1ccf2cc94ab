#include "core/browser/scheme_rules.h"

#include <algorithm>
#include <array>
#include <cctype>

namespace qev {
namespace {

// Schemes of the engine itself or of local files: never loaded from a page and never
// offered to the desktop.
constexpr std::array<std::string_view, 13> LocalSchemes = {
    "file",         "javascript", "chrome",      "chrome-untrusted", "chrome-extension",
    "chrome-error", "qrc",        "view-source", "devtools",         "filesystem",
    "about",        "ws",         "wss"};

std::string Lower(std::string_view text)
{
    std::string out(text);
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

} // namespace

std::string SchemeOf(std::string_view address)
{
    const std::size_t colon = address.find(':');
    if (colon == 0 || colon == std::string_view::npos) return {};
    const std::string_view scheme = address.substr(0, colon);
    if (!std::isalpha(static_cast<unsigned char>(scheme.front()))) return {};
    const bool valid = std::all_of(scheme.begin(), scheme.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || c == '+' || c == '-' || c == '.';
    });
    return valid ? Lower(scheme) : std::string();
}

std::string WebOriginOf(std::string_view address)
{
    const std::string scheme = SchemeOf(address);
    if (scheme != "http" && scheme != "https") return {};
    std::string_view rest = address.substr(scheme.size() + 1);
    if (rest.substr(0, 2) != "//") return {};
    rest.remove_prefix(2);
    std::string_view authority = rest.substr(0, rest.find_first_of("/?#\\"));
    if (const std::size_t at = authority.rfind('@'); at != std::string_view::npos)
        authority.remove_prefix(at + 1);
    if (authority.empty()) return {};
    return scheme + "://" + Lower(authority);
}

SchemeVerdict DecideScheme(std::string_view address, std::string_view pageAddress, bool gamePage,
                           bool inputAllowance, bool mainFrame)
{
    const std::string scheme = SchemeOf(address);
    if (scheme.empty()) return SchemeVerdict::Refuse;
    if (scheme == "http" || scheme == "https") return SchemeVerdict::Load;
    if (scheme == "about") {
        const std::string_view rest = address.substr(6);
        const bool blank = Lower(rest.substr(0, 5)) == "blank" &&
                           (rest.size() == 5 || rest[5] == '?' || rest[5] == '#');
        return blank ? SchemeVerdict::Load : SchemeVerdict::Refuse;
    }
    // What a page makes for itself: data: addresses (the engine keeps them out of main
    // frames), and blob: addresses of the page's own origin.
    if (scheme == "data") return SchemeVerdict::Load;
    if (scheme == "blob") {
        const std::string inner = WebOriginOf(address.substr(5));
        return !inner.empty() && inner == WebOriginOf(pageAddress) ? SchemeVerdict::Load
                                                                   : SchemeVerdict::Refuse;
    }
    if (std::find(LocalSchemes.begin(), LocalSchemes.end(), scheme) != LocalSchemes.end())
        return SchemeVerdict::Refuse;
    return gamePage && inputAllowance && mainFrame ? SchemeVerdict::Ask : SchemeVerdict::Refuse;
}

} // namespace qev
