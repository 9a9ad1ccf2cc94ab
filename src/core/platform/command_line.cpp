// The command-line rules are the same on every platform: a Windows program splits its own
// line, and the Linux side splits it to build an argument vector.
#include "core/platform/process.h"

namespace qev {

std::vector<std::string> SplitCommandLine(std::string_view line)
{
    std::vector<std::string> args;
    std::size_t i = 0;
    // Program-name slot: no backslash processing; a leading quote runs to the next quote.
    std::string program;
    if (i < line.size() && line[i] == '"') {
        ++i;
        while (i < line.size() && line[i] != '"') program += line[i++];
        if (i < line.size()) ++i;
    }
    while (i < line.size() && line[i] != ' ' && line[i] != '\t') program += line[i++];
    args.push_back(program);

    for (;;) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
        if (i >= line.size()) break;
        std::string arg;
        bool inQuotes = false;
        while (i < line.size()) {
            const char c = line[i];
            if (!inQuotes && (c == ' ' || c == '\t')) break;
            if (c == '\\') {
                std::size_t n = 0;
                while (i < line.size() && line[i] == '\\') ++n, ++i;
                if (i < line.size() && line[i] == '"') {
                    arg.append(n / 2, '\\');
                    if (n % 2) {
                        arg += '"';
                        ++i;
                    }
                } else {
                    arg.append(n, '\\');
                }
                continue;
            }
            if (c == '"') {
                // "" inside quotes is a literal quote.
                if (inQuotes && i + 1 < line.size() && line[i + 1] == '"') {
                    arg += '"';
                    i += 2;
                    continue;
                }
                inQuotes = !inQuotes;
                ++i;
                continue;
            }
            arg += c;
            ++i;
        }
        args.push_back(std::move(arg));
    }
    return args;
}

namespace {

// Quotes a path so that SplitCommandLine gives it back unchanged: a plain path is just
// wrapped in quotes; quotes inside it, and backslashes before a quote or the closing
// quote, are escaped.
std::string Quote(const std::string& path)
{
    std::string out = "\"";
    std::size_t backslashes = 0;
    for (char c : path) {
        if (c == '\\') {
            ++backslashes;
        } else {
            if (c == '"') out.append(backslashes + 1, '\\');
            backslashes = 0;
        }
        out += c;
    }
    out.append(backslashes, '\\');
    return out + "\"";
}

} // namespace

std::string FormatHandOverCommandLine(std::string_view mode, int pid, const std::string& a,
                                      const std::string& b)
{
    return " " + std::string(mode) + " -p" + std::to_string(pid) + " " + Quote(a) + " " + Quote(b);
}

} // namespace qev
