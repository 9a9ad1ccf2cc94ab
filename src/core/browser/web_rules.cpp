#include "core/browser/web_rules.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <filesystem>
#include <system_error>

#include "core/base/log.h"
#include "core/base/utf.h"

namespace qev {
namespace {

constexpr std::array<int, 17> ZoomSteps = {25,  33,  50,  67,  75,  80,  90,  100, 110,
                                           125, 150, 175, 200, 250, 300, 400, 500};
constexpr char ZoomSection[] = "[zoom]";
constexpr std::size_t MaxLoggedAddressBytes = 200;
// A host name is at most 253 bytes; anything longer in the file is not a host.
constexpr std::size_t MaxHostBytes = 253;

std::string Lower(std::string_view text)
{
    std::string out(text);
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

std::string_view Trim(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r'))
        text.remove_suffix(1);
    return text;
}

bool IsHostText(std::string_view host)
{
    if (host.empty() || host.size() > MaxHostBytes) return false;
    return std::all_of(host.begin(), host.end(), [](char c) {
        const auto u = static_cast<unsigned char>(c);
        return std::isalnum(u) || c == '.' || c == '-' || c == '_' || c == ':' || c == '[' ||
               c == ']';
    });
}

// A saved name's extension is kept through a cut only when it is at most this long; a
// longer "extension" is just text after a dot.
constexpr std::size_t MaxKeptExtensionBytes = 32;
// The endings the desktop's file type database gives launchers (application/x-desktop);
// its globs ignore case.
constexpr std::string_view LauncherEndings[] = {".desktop", ".kdelnk"};
constexpr std::string_view LauncherSuffix = ".download";

struct CharRange {
    char32_t first, last;
};
// Default_Ignorable_Code_Point of Unicode 15 (DerivedCoreProperties.txt): characters a
// renderer shows as nothing (bidi controls that reorder what a file manager shows, so
// "evil<RLO>txt.exe" reads as "evilexe.txt"; zero-width characters; the byte-order mark;
// variation selectors; the Hangul fillers; tags).
constexpr CharRange DefaultIgnorable[] = {
    {0x00AD, 0x00AD},   {0x034F, 0x034F},   {0x061C, 0x061C}, {0x115F, 0x1160}, {0x17B4, 0x17B5},
    {0x180B, 0x180F},   {0x200B, 0x200F},   {0x202A, 0x202E}, {0x2060, 0x206F}, {0x3164, 0x3164},
    {0xFE00, 0xFE0F},   {0xFEFF, 0xFEFF},   {0xFFA0, 0xFFA0}, {0xFFF0, 0xFFF8}, {0x1BCA0, 0x1BCA3},
    {0x1D173, 0x1D17A}, {0xE0000, 0xE0FFF},
};
// Further characters that show as nothing or as a blank: the other format characters, the
// line and paragraph separators, the interlinear annotation marks, the spaces other than
// U+0020 and the blank braille pattern (so "report.pdf<blanks>.sh" cannot pass for a PDF).
constexpr CharRange OtherInvisible[] = {
    {0x00A0, 0x00A0},   {0x0600, 0x0605},   {0x06DD, 0x06DD}, {0x070F, 0x070F}, {0x0890, 0x0891},
    {0x08E2, 0x08E2},   {0x1680, 0x1680},   {0x2000, 0x200A}, {0x2028, 0x2029}, {0x202F, 0x202F},
    {0x205F, 0x205F},   {0x2800, 0x2800},   {0x3000, 0x3000}, {0xFFF9, 0xFFFB}, {0x110BD, 0x110BD},
    {0x110CD, 0x110CD}, {0x13430, 0x1343F},
};

bool InRanges(const CharRange* begin, const CharRange* end, char32_t c)
{
    return std::any_of(begin, end,
                       [c](const CharRange& range) { return c >= range.first && c <= range.last; });
}

// The first bytes of text (valid UTF-8), at most max, ending at a character boundary.
std::string_view CutAtCharacter(std::string_view text, std::size_t max)
{
    if (text.size() <= max) return text;
    std::size_t end = max;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
    return text.substr(0, end);
}

// name (valid UTF-8, no leading dot) cut to at most max bytes, its extension kept when it
// is short. max leaves room for the longest kept extension and a character before it.
std::string CutName(std::string_view name, std::size_t max)
{
    if (name.size() <= max) return std::string(name);
    const std::size_t dot = name.rfind('.');
    if (dot == std::string_view::npos || name.size() - dot > MaxKeptExtensionBytes)
        return std::string(CutAtCharacter(name, max));
    const std::string_view extension = name.substr(dot);
    return std::string(CutAtCharacter(name.substr(0, dot), max - extension.size())) +
           std::string(extension);
}

bool IsLauncherName(std::string_view name)
{
    return std::any_of(std::begin(LauncherEndings), std::end(LauncherEndings),
                       [name](std::string_view ending) {
                           return name.size() >= ending.size() &&
                                  Lower(name.substr(name.size() - ending.size())) == ending;
                       });
}

// Paths are UTF-8 in core, whatever the system's narrow encoding.
std::filesystem::path PathOf(const std::string& utf8)
{
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

// folder with links, "." and ".." resolved as far as it exists, without a trailing
// separator, so two spellings of one folder compare equal.
std::filesystem::path Resolved(const std::string& folder)
{
    std::error_code error;
    std::filesystem::path path = std::filesystem::weakly_canonical(PathOf(folder), error);
    if (error) path = PathOf(folder).lexically_normal();
    if (!path.has_filename() && path.has_relative_path()) path = path.parent_path();
    return path;
}

bool MakeFolder(const std::string& folder)
{
    std::error_code error;
    std::filesystem::create_directories(PathOf(folder), error);
    return std::filesystem::is_directory(PathOf(folder), error);
}

} // namespace

bool IsWebAddress(std::string_view address)
{
    const std::size_t colon = address.find(':');
    if (colon == std::string_view::npos) return false;
    const std::string scheme = Lower(address.substr(0, colon));
    if (scheme != "http" && scheme != "https") return false;
    const std::string_view rest = address.substr(colon + 1);
    // "http:foo" or "http:///path" name no host.
    return rest.size() > 2 && rest.substr(0, 2) == "//" && rest[2] != '/';
}

std::string AddressForLog(std::string_view address)
{
    return EscapeForLog(address.substr(0, std::min(address.size(), MaxLoggedAddressBytes)), "\\");
}

int NextZoomPercent(int percent, int direction)
{
    if (direction == 0) return DefaultZoomPercent;
    if (direction > 0) {
        for (const int step : ZoomSteps)
            if (step > percent) return step;
        return MaxZoomPercent;
    }
    for (auto step = ZoomSteps.rbegin(); step != ZoomSteps.rend(); ++step)
        if (*step < percent) return *step;
    return MinZoomPercent;
}

void ZoomMemory::Read(std::string_view text)
{
    percents_.clear();
    bool inSection = false;
    while (!text.empty()) {
        const std::size_t end = std::min(text.find('\n'), text.size());
        const std::string_view line = Trim(text.substr(0, end));
        text.remove_prefix(std::min(end + 1, text.size()));
        if (!line.empty() && line.front() == '[') {
            inSection = Lower(line) == ZoomSection;
            continue;
        }
        const std::size_t equals = line.find('=');
        if (!inSection || equals == std::string_view::npos) continue;
        const std::string_view host = Trim(line.substr(0, equals));
        const std::string_view value = Trim(line.substr(equals + 1));
        int percent = 0;
        const auto [last, error] =
            std::from_chars(value.data(), value.data() + value.size(), percent);
        if (error != std::errc() || last != value.data() + value.size() || !IsHostText(host))
            continue;
        Set(host, percent);
    }
}

std::string ZoomMemory::Text() const
{
    std::string text = std::string(ZoomSection) + "\n";
    for (const auto& [host, percent] : percents_)
        text += host + "=" + std::to_string(percent) + "\n";
    return text;
}

int ZoomMemory::PercentFor(std::string_view host) const
{
    const auto found = percents_.find(Lower(host));
    return found == percents_.end() ? DefaultZoomPercent : found->second;
}

bool ZoomMemory::Set(std::string_view host, int percent)
{
    if (!IsHostText(host)) return false;
    percent = std::clamp(percent, MinZoomPercent, MaxZoomPercent);
    if (PercentFor(host) == percent) return false;
    if (percent == DefaultZoomPercent)
        percents_.erase(Lower(host));
    else
        percents_[Lower(host)] = percent;
    return true;
}

std::string NumberedFileName(std::string_view name, int n)
{
    if (n <= 0) return std::string(name);
    std::size_t dot = name.rfind('.');
    if (dot == 0 || dot == std::string_view::npos) dot = name.size();
    return std::string(name.substr(0, dot)) + " (" + std::to_string(n) + ")" +
           std::string(name.substr(dot));
}

bool IsReplacedInFileName(char32_t c)
{
    if (c < 0x20 || (c >= 0x7F && c <= 0x9F)) return true; // C0, DEL, C1
    if (c == '/' || c == '\\' || c == ':') return true;
    return InRanges(std::begin(DefaultIgnorable), std::end(DefaultIgnorable), c) ||
           InRanges(std::begin(OtherInvisible), std::end(OtherInvisible), c);
}

std::string SafeDownloadName(std::string_view suggested)
{
    // A name with a folder in it would climb out of the download folder.
    const std::size_t separator = suggested.find_last_of("/\\");
    if (separator != std::string_view::npos) suggested.remove_prefix(separator + 1);
    // Controls and invisible characters would forge log lines, hide the real extension or
    // split the name on screen.
    std::string name;
    name.reserve(suggested.size());
    for (std::size_t i = 0; i < suggested.size();) {
        const std::size_t start = i;
        const char32_t c = DecodeUtf8(suggested, i);
        if (c == InvalidUtf8 || IsReplacedInFileName(c))
            name += '_';
        else
            name.append(suggested.substr(start, i - start));
    }
    // A leading dot hides the file, and in a home folder makes it a start-up file
    // (".profile" runs at the next login).
    name.erase(0, name.find_first_not_of(". "));
    if (name.empty()) return "download";
    name = CutName(name, MaxDownloadNameBytes);
    // A launcher in the download folder would run its command when opened.
    if (IsLauncherName(name))
        name = CutName(name, MaxDownloadNameBytes - LauncherSuffix.size()) +
               std::string(LauncherSuffix);
    return name;
}

std::string ChooseDownloadFolder(const std::string& userFolder, const std::string& home)
{
    const std::filesystem::path homePath = Resolved(home);
    const auto usable = [&](const std::string& folder) {
        return !folder.empty() && Resolved(folder) != homePath && MakeFolder(folder);
    };
    if (usable(userFolder)) return userFolder;
    if (home.empty()) return {};
    const std::u8string fallbackPath = (PathOf(home) / "Downloads").u8string();
    const std::string fallback(fallbackPath.begin(), fallbackPath.end());
    return usable(fallback) ? fallback : std::string();
}

} // namespace qev
