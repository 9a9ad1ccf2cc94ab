#include "core/net/partial_package.h"

#include <charconv>
#include <vector>

namespace qev {
namespace {

constexpr std::string_view Heading = "qev partial package 1";
constexpr const char* Keys[] = {"host", "path", "name", "size", "sha256", "validator", "saved"};

bool PlainValue(std::string_view value)
{
    for (const unsigned char c : value)
        if (c < 0x20 || c == 0x7f) return false;
    return !value.empty();
}

template <typename Number> bool ReadNumber(std::string_view text, Number& out)
{
    if (text.empty() || text[0] == '-' || (text.size() > 1 && text[0] == '0')) return false;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), out);
    return error == std::errc() && end == text.data() + text.size() && out >= 0;
}

} // namespace

std::string FormatPartialRecord(const PartialPackage& p)
{
    const std::string values[] = {p.host,
                                  p.path,
                                  p.name,
                                  std::to_string(p.size),
                                  p.sha256,
                                  p.validator,
                                  std::to_string(p.savedAt)};
    std::string text = std::string(Heading) + "\n";
    for (std::size_t i = 0; i < std::size(Keys); ++i) {
        if (!PlainValue(values[i])) return {};
        text += std::string(Keys[i]) + " " + values[i] + "\n";
    }
    return text.size() <= MaxPartialRecordBytes ? text : std::string();
}

std::optional<PartialPackage> ParsePartialRecord(std::string_view text)
{
    if (text.size() > MaxPartialRecordBytes) return std::nullopt;
    std::vector<std::string_view> values;
    for (std::size_t line = 0; line <= std::size(Keys); ++line) {
        const auto end = text.find('\n');
        if (end == std::string_view::npos) return std::nullopt;
        const std::string_view row = text.substr(0, end);
        text.remove_prefix(end + 1);
        if (line == 0) {
            if (row != Heading) return std::nullopt;
            continue;
        }
        const std::string_view key = Keys[line - 1];
        if (row.size() <= key.size() + 1 || row.substr(0, key.size()) != key ||
            row[key.size()] != ' ' || !PlainValue(row.substr(key.size() + 1)))
            return std::nullopt;
        values.push_back(row.substr(key.size() + 1));
    }
    PartialPackage p;
    if (!text.empty() || !ReadNumber(values[3], p.size) || !ReadNumber(values[6], p.savedAt))
        return std::nullopt;
    p.host = values[0];
    p.path = values[1];
    p.name = values[2];
    p.sha256 = values[4];
    p.validator = values[5];
    return p;
}

std::int64_t PartialResumeFrom(const PartialPackage& kept, std::int64_t fileSize,
                               const PartialPackage& wanted, std::int64_t now)
{
    const bool same = kept.host == wanted.host && kept.path == wanted.path &&
                      kept.name == wanted.name && kept.size == wanted.size &&
                      kept.sha256 == wanted.sha256 && !kept.validator.empty();
    const bool fresh = kept.savedAt <= now && now - kept.savedAt <= PartialKeepSeconds;
    return same && fresh && fileSize > 0 && fileSize < kept.size ? fileSize : 0;
}

} // namespace qev
