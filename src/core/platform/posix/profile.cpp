#include "core/platform/profile.h"

#include <ini.h>
#include <strings.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace qev {
namespace {

// The ini reader's line buffer is small (200 bytes), far less than the 511 characters of
// an address. Lines that would not fit reach it with their value swapped for a short
// token; the handler swaps the real value back.
constexpr char LongValueMark = '\x01';

struct Lookup {
    const char* section = "";
    const char* key = "";
    std::string value;
    bool found = false;
    std::vector<std::string> longValues;
    std::string text;
    std::size_t pos = 0;
};

std::string TrimBlanks(std::string_view s)
{
    const auto b = s.find_first_not_of(" \t\r\n");
    if (b == std::string_view::npos) return {};
    return std::string(s.substr(b, s.find_last_not_of(" \t\r\n") - b + 1));
}

char* ReadIniLine(char* out, int size, void* user)
{
    auto* lookup = static_cast<Lookup*>(user);
    if (lookup->pos >= lookup->text.size() || size < 2) return nullptr;
    auto end = lookup->text.find('\n', lookup->pos);
    end = end == std::string::npos ? lookup->text.size() : end + 1;
    std::string line = lookup->text.substr(lookup->pos, end - lookup->pos);
    lookup->pos = end;
    const auto limit = static_cast<std::size_t>(size - 1);
    if (line.size() > limit / 2) {
        // Split where the reader splits: at the first '=' or ':'.
        const auto eq = line.find_first_of("=:");
        if (eq != std::string::npos && eq + 16 < limit) {
            std::string value = line.substr(eq + 1);
            // The reader's own inline-comment rule: ';' after white space starts a comment.
            for (std::size_t i = 1; i < value.size(); ++i)
                if (value[i] == ';' && (value[i - 1] == ' ' || value[i - 1] == '\t')) {
                    value.resize(i);
                    break;
                }
            lookup->longValues.push_back(TrimBlanks(value));
            line = line.substr(0, eq + 1) + LongValueMark +
                   std::to_string(lookup->longValues.size() - 1) + "\n";
        }
    }
    line = line.substr(0, limit);
    std::memcpy(out, line.c_str(), line.size() + 1);
    return out;
}

// One pair of matching quotes around a whole value is not part of it: PM="http://h/p?x"
// (the Windows profile reader drops them too).
void DropEnclosingQuotes(std::string& value)
{
    const std::size_t n = value.size();
    if (n >= 2 && (value[0] == '"' || value[0] == '\'') && value[n - 1] == value[0]) {
        value.pop_back();
        value.erase(0, 1);
    }
}

int OnIniEntry(void* user, const char* section, const char* name, const char* value)
{
    auto* lookup = static_cast<Lookup*>(user);
    if (!lookup->found && strcasecmp(section, lookup->section) == 0 &&
        strcasecmp(name, lookup->key) == 0) {
        lookup->value = value ? value : "";
        if (!lookup->value.empty() && lookup->value[0] == LongValueMark) {
            const auto index = std::strtoul(lookup->value.c_str() + 1, nullptr, 10);
            lookup->value = index < lookup->longValues.size() ? lookup->longValues[index] : "";
        }
        DropEnclosingQuotes(lookup->value);
        lookup->found = true;
    }
    return 1; // keep going: a malformed line elsewhere must not hide the value
}

} // namespace

std::string ReadProfileString(const std::string& path, const char* section, const char* key,
                              std::size_t /*maxChars: the caller cuts*/)
{
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) return {};
    Lookup lookup;
    lookup.section = section;
    lookup.key = key;
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, file)) > 0;)
        lookup.text.append(buffer, n);
    std::fclose(file);
    ini_parse_stream(ReadIniLine, &lookup, OnIniEntry, &lookup);
    return lookup.value;
}

} // namespace qev
