#include "byte_range.h"

#include <optional>

namespace qev::portal {
namespace {

std::string_view Trim(std::string_view s)
{
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return s;
}

// Decimal digits only; values beyond 64 bits saturate, which still compares correctly
// against any real object size.
std::optional<std::uint64_t> ParseCount(std::string_view s)
{
    if (s.empty()) return std::nullopt;
    std::uint64_t value = 0;
    for (char c : s) {
        if (c < '0' || c > '9') return std::nullopt;
        const auto digit = static_cast<std::uint64_t>(c - '0');
        if (value > (UINT64_MAX - digit) / 10) {
            value = UINT64_MAX;
        } else {
            value = value * 10 + digit;
        }
    }
    return value;
}

bool StartsWithNoCase(std::string_view s, std::string_view prefix)
{
    if (s.size() < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        char c = s[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != prefix[i]) return false;
    }
    return true;
}

} // namespace

RangeAnswer ResolveRange(std::string_view header, std::uint64_t total)
{
    const RangeAnswer whole{RangeOutcome::Whole, 0, total};
    const RangeAnswer unsatisfiable{RangeOutcome::Unsatisfiable, 0, 0};

    std::string_view rangeText = Trim(header);
    if (!StartsWithNoCase(rangeText, "bytes=")) return whole;
    rangeText = Trim(rangeText.substr(6));
    if (rangeText.find(',') != std::string_view::npos) return whole;
    const auto dash = rangeText.find('-');
    if (dash == std::string_view::npos) return whole;
    const std::string_view firstText = Trim(rangeText.substr(0, dash));
    const std::string_view lastText = Trim(rangeText.substr(dash + 1));

    if (firstText.empty()) {
        const auto suffix = ParseCount(lastText);
        if (!suffix) return whole;
        if (*suffix == 0 || total == 0) return unsatisfiable;
        const std::uint64_t length = *suffix < total ? *suffix : total;
        return {RangeOutcome::Partial, total - length, length};
    }

    const auto first = ParseCount(firstText);
    if (!first) return whole;
    std::uint64_t last = UINT64_MAX;
    if (!lastText.empty()) {
        const auto parsed = ParseCount(lastText);
        if (!parsed || *parsed < *first) return whole;
        last = *parsed;
    }
    if (*first >= total) return unsatisfiable;
    if (last >= total) last = total - 1;
    return {RangeOutcome::Partial, *first, last - *first + 1};
}

} // namespace qev::portal
