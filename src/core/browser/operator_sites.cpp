#include "core/browser/operator_sites.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <utility>

#include "core/base/utf.h"
#include "core/platform/host_names.h"

namespace qev {
namespace {

// A host name is at most 253 bytes in DNS.
constexpr std::size_t MaxHostBytes = 253;
constexpr std::uint32_t MaxPort = 65535;

int HexValue(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

char LowerAscii(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

std::optional<std::string> PercentDecoded(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out += text[i];
            continue;
        }
        if (i + 2 >= text.size()) return std::nullopt;
        const int high = HexValue(text[i + 1]), low = HexValue(text[i + 2]);
        if (high < 0 || low < 0) return std::nullopt;
        out += static_cast<char>(high * 16 + low);
        i += 2;
    }
    return out;
}

// A host whose last label is a number is an IPv4 address to the engine, or no host at all.
bool EndsInNumber(std::string_view host)
{
    const std::string_view last = host.substr(host.rfind('.') + 1);
    if (last.empty()) return false;
    if (std::all_of(last.begin(), last.end(), IsDigit)) return true;
    return last.size() >= 2 && last[0] == '0' && (last[1] == 'x' || last[1] == 'X') &&
           std::all_of(last.begin() + 2, last.end(), [](char c) { return HexValue(c) >= 0; });
}

// One part of an IPv4 address: decimal, "0x" hexadecimal or "0" octal, as browsers read it.
std::optional<std::uint64_t> Ipv4Part(std::string_view part)
{
    if (part.empty()) return std::nullopt;
    int base = 10;
    if (part.size() >= 2 && part[0] == '0' && (part[1] == 'x' || part[1] == 'X')) {
        base = 16;
        part.remove_prefix(2);
    } else if (part.size() >= 2 && part[0] == '0') {
        base = 8;
        part.remove_prefix(1);
    }
    std::uint64_t value = 0;
    for (const char c : part) {
        const int digit = HexValue(c);
        if (digit < 0 || digit >= base) return std::nullopt;
        value = value * static_cast<unsigned>(base) + static_cast<unsigned>(digit);
        if (value > 0xFFFFFFFFu) return std::nullopt;
    }
    return value;
}

std::optional<std::string> Ipv4Host(std::string_view host)
{
    std::array<std::uint64_t, 4> parts{};
    std::size_t count = 0;
    while (true) {
        const std::size_t dot = host.find('.');
        if (count == parts.size()) return std::nullopt;
        const auto part = Ipv4Part(host.substr(0, dot));
        if (!part) return std::nullopt;
        parts[count++] = *part;
        if (dot == std::string_view::npos) break;
        host.remove_prefix(dot + 1);
    }
    std::uint64_t address = 0;
    for (std::size_t i = 0; i + 1 < count; ++i) {
        if (parts[i] > 255) return std::nullopt;
        address = (address << 8) | parts[i];
    }
    const unsigned lastBits = 8 * static_cast<unsigned>(5 - count);
    if (parts[count - 1] >= (std::uint64_t{1} << lastBits)) return std::nullopt;
    address = (address << lastBits) | parts[count - 1];
    std::string out;
    for (int shift = 24; shift >= 0; shift -= 8) {
        if (!out.empty()) out += '.';
        out += std::to_string((address >> shift) & 0xFF);
    }
    return out;
}

// The inside of "[...]" read as an IPv6 address, then written in its shortest form.
std::optional<std::string> Ipv6Host(std::string_view in)
{
    std::array<std::uint16_t, 8> address{};
    std::size_t piece = 0, p = 0;
    int compress = -1;
    const std::size_t n = in.size();
    if (p < n && in[p] == ':') {
        if (p + 1 >= n || in[p + 1] != ':') return std::nullopt;
        p += 2;
        compress = static_cast<int>(++piece);
    }
    while (p < n) {
        if (piece == 8) return std::nullopt;
        if (in[p] == ':') {
            if (compress != -1) return std::nullopt;
            ++p;
            compress = static_cast<int>(++piece);
            continue;
        }
        unsigned value = 0, length = 0;
        while (length < 4 && p < n && HexValue(in[p]) >= 0) {
            value = value * 16 + static_cast<unsigned>(HexValue(in[p]));
            ++p;
            ++length;
        }
        if (p < n && in[p] == '.') {
            // The last 32 bits written as an IPv4 address.
            if (length == 0 || piece > 6) return std::nullopt;
            p -= length;
            int numbers = 0;
            while (p < n) {
                if (numbers > 0) {
                    if (in[p] != '.' || numbers >= 4) return std::nullopt;
                    ++p;
                }
                if (p >= n || !IsDigit(in[p])) return std::nullopt;
                int part = -1;
                while (p < n && IsDigit(in[p])) {
                    const int digit = in[p] - '0';
                    if (part == 0) return std::nullopt;
                    part = part < 0 ? digit : part * 10 + digit;
                    if (part > 255) return std::nullopt;
                    ++p;
                }
                address[piece] = static_cast<std::uint16_t>(address[piece] * 0x100 + part);
                if (++numbers % 2 == 0) ++piece;
            }
            if (numbers != 4) return std::nullopt;
            break;
        }
        if (p < n && in[p] == ':') {
            if (++p >= n) return std::nullopt;
        } else if (p < n) {
            return std::nullopt;
        }
        address[piece++] = static_cast<std::uint16_t>(value);
    }
    if (compress != -1) {
        std::size_t swaps = piece - static_cast<std::size_t>(compress);
        piece = 7;
        while (piece != 0 && swaps > 0) {
            std::swap(address[piece], address[static_cast<std::size_t>(compress) + swaps - 1]);
            --piece;
            --swaps;
        }
    } else if (piece != 8) {
        return std::nullopt;
    }
    // The first longest run of two or more zero pieces is written "::".
    std::size_t runStart = 8, runLength = 1;
    for (std::size_t i = 0; i < 8;) {
        std::size_t j = i;
        while (j < 8 && address[j] == 0) ++j;
        if (j - i > runLength) {
            runStart = i;
            runLength = j - i;
        }
        i = j == i ? i + 1 : j;
    }
    static constexpr char Digits[] = "0123456789abcdef";
    std::string out = "[";
    for (std::size_t i = 0; i < 8; ++i) {
        if (i == runStart) {
            out += i == 0 ? "::" : ":";
            i += runLength - 1;
            continue;
        }
        std::string hex;
        for (unsigned v = address[i]; hex.empty() || v != 0; v >>= 4)
            hex.insert(hex.begin(), Digits[v & 15]);
        out += hex;
        if (i != 7) out += ':';
    }
    return out + "]";
}

// Characters that change how a name is read between the two ways of mapping IDN, so the
// engine and this rule could reach different hosts.
bool HasIdnDeviation(std::string_view utf8)
{
    for (std::size_t i = 0; i < utf8.size();) {
        const char32_t c = DecodeUtf8(utf8, i);
        if (c == InvalidUtf8 || c == 0xDF || c == 0x3C2 || c == 0x200C || c == 0x200D) return true;
    }
    return false;
}

bool IsNameCharacter(char c)
{
    return (c >= 'a' && c <= 'z') || IsDigit(c) || c == '-' || c == '_' || c == '.';
}

// An IP literal or a one-label host: it matches only itself.
bool MatchesOnlyItself(std::string_view host)
{
    return host.front() == '[' || host.find('.') == std::string_view::npos || EndsInNumber(host);
}

std::optional<std::string> HostOfEntry(const std::string& entry)
{
    return WebAddressHost(entry.find("://") == std::string::npos ? "http://" + entry : entry);
}

bool Contains(const std::vector<std::string>& list, const std::string& value)
{
    return std::find(list.begin(), list.end(), value) != list.end();
}

} // namespace

std::optional<std::string> NormalHost(std::string_view host)
{
    if (host.empty()) return std::nullopt;
    if (host.front() == '[') {
        if (host.size() < 2 || host.back() != ']') return std::nullopt;
        return Ipv6Host(host.substr(1, host.size() - 2));
    }
    std::optional<std::string> name = PercentDecoded(host);
    if (!name) return std::nullopt;
    const bool ascii = std::all_of(name->begin(), name->end(),
                                   [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    if (!ascii) {
        if (HasIdnDeviation(*name)) return std::nullopt;
        *name = HostToAscii(*name);
    }
    std::transform(name->begin(), name->end(), name->begin(), LowerAscii);
    if (!name->empty() && name->back() == '.') name->pop_back();
    if (name->empty() || name->size() > MaxHostBytes) return std::nullopt;
    if (!std::all_of(name->begin(), name->end(), IsNameCharacter) || name->front() == '.' ||
        name->back() == '.' || name->find("..") != std::string::npos)
        return std::nullopt;
    if (EndsInNumber(*name)) return Ipv4Host(*name);
    return name;
}

std::optional<std::string> WebAddressHost(std::string_view address)
{
    // The engine drops blanks and controls around an address and tabs and line breaks in it.
    while (!address.empty() && static_cast<unsigned char>(address.front()) <= 0x20)
        address.remove_prefix(1);
    while (!address.empty() && static_cast<unsigned char>(address.back()) <= 0x20)
        address.remove_suffix(1);
    std::string text;
    text.reserve(address.size());
    for (const char c : address)
        if (c != '\t' && c != '\n' && c != '\r') text += c;

    const std::size_t colon = text.find(':');
    if (colon == std::string::npos) return std::nullopt;
    std::string scheme = text.substr(0, colon);
    std::transform(scheme.begin(), scheme.end(), scheme.begin(), LowerAscii);
    if (scheme != "http" && scheme != "https") return std::nullopt;
    std::string_view rest = std::string_view(text).substr(colon + 1);
    // Any run of slashes leads to the authority of a web address. The engine reads a
    // backslash there as a slash, Qt's parser as part of the userinfo or path: such an
    // address leads to no host, so neither reading can take a pane elsewhere.
    while (!rest.empty() && (rest.front() == '/' || rest.front() == '\\')) {
        if (rest.front() == '\\') return std::nullopt;
        rest.remove_prefix(1);
    }
    const std::size_t authorityEnd = rest.find_first_of("/\\?#");
    if (authorityEnd != std::string_view::npos && rest[authorityEnd] == '\\') return std::nullopt;
    std::string_view authority = rest.substr(0, authorityEnd);
    const std::size_t at = authority.rfind('@');
    if (at != std::string_view::npos) authority.remove_prefix(at + 1);

    std::string_view host = authority, port;
    if (!authority.empty() && authority.front() == '[') {
        const std::size_t close = authority.find(']');
        if (close == std::string_view::npos) return std::nullopt;
        host = authority.substr(0, close + 1);
        const std::string_view after = authority.substr(close + 1);
        if (!after.empty() && after.front() != ':') return std::nullopt;
        if (!after.empty()) port = after.substr(1);
    } else if (const std::size_t portColon = authority.find(':');
               portColon != std::string_view::npos) {
        host = authority.substr(0, portColon);
        port = authority.substr(portColon + 1);
    }
    std::uint32_t portValue = 0;
    for (const char c : port) {
        if (!IsDigit(c)) return std::nullopt;
        portValue = portValue * 10 + static_cast<std::uint32_t>(c - '0');
        if (portValue > MaxPort) return std::nullopt;
    }
    return NormalHost(host);
}

OperatorSites::OperatorSites(const std::vector<std::string>& hosts)
{
    for (const std::string& entry : hosts) {
        const std::optional<std::string> host = HostOfEntry(entry);
        if (!host) continue;
        if (!Contains(exact_, *host)) exact_.push_back(*host);
        if (MatchesOnlyItself(*host)) continue;
        const std::string domain = RegistrableDomain(*host);
        if (!domain.empty() && !Contains(domains_, domain)) domains_.push_back(domain);
    }
}

bool OperatorSites::IsOperatorAddress(std::string_view address) const
{
    const std::optional<std::string> host = WebAddressHost(address);
    return host && Matches(*host);
}

bool OperatorSites::IsOperatorHost(std::string_view host) const
{
    const std::optional<std::string> normal = NormalHost(host);
    return normal && Matches(*normal);
}

bool OperatorSites::Matches(const std::string& normalHost) const
{
    if (Contains(exact_, normalHost)) return true;
    if (MatchesOnlyItself(normalHost)) return false;
    const std::string domain = RegistrableDomain(normalHost);
    return !domain.empty() && Contains(domains_, domain);
}

std::vector<std::string> BuildOperatorHosts()
{
    std::vector<std::string> hosts = {QEV_PORTAL_HOST, QEV_GAME_HOST, QEV_FORUM_HOST,
                                      QEV_STATIC_HOST};
    // QEV_OPERATOR_SITES arrives as one comma-separated text.
    std::string_view extra = QEV_OPERATOR_SITES;
    while (!extra.empty()) {
        const std::size_t comma = std::min(extra.find(','), extra.size());
        std::string_view site = extra.substr(0, comma);
        while (!site.empty() && site.front() == ' ') site.remove_prefix(1);
        while (!site.empty() && site.back() == ' ') site.remove_suffix(1);
        if (!site.empty()) hosts.emplace_back(site);
        extra.remove_prefix(std::min(comma + 1, extra.size()));
    }
    return hosts;
}

} // namespace qev
