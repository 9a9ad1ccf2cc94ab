#include "browser/web_rules.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <cstdio>

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
    std::string out;
    for (const char c : address.substr(0, std::min(address.size(), MaxLoggedAddressBytes))) {
        const auto u = static_cast<unsigned char>(c);
        if (u >= 0x20 && u < 0x7f && c != '\\') {
            out += c;
        } else {
            char hex[5];
            std::snprintf(hex, sizeof hex, "\\x%02X", u);
            out += hex;
        }
    }
    return out;
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

} // namespace qev
