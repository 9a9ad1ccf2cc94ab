#pragma once
// Points the client's log (and http_proxy, when given) at a test's own for one scope, so a
// test can read the lines a request wrote; both are put back after it.
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

namespace qev::test {

class ScopedLog {
public:
    explicit ScopedLog(std::optional<std::string> proxy = std::nullopt)
    {
        char pattern[] = "/tmp/qev-log-XXXXXX";
        root_ = mkdtemp(pattern) ? pattern : "/tmp";
        Set("XDG_STATE_HOME", root_);
        if (proxy) Set("http_proxy", *proxy);
    }
    ~ScopedLog()
    {
        for (const auto& [name, value] : saved_)
            value ? setenv(name.c_str(), value->c_str(), 1) : unsetenv(name.c_str());
        std::filesystem::remove_all(root_);
    }
    std::vector<std::string> Lines() const
    {
        std::ifstream in(root_ + "/qev/qev.log");
        std::vector<std::string> lines;
        for (std::string line; std::getline(in, line);) lines.push_back(line);
        return lines;
    }

private:
    void Set(const std::string& name, const std::string& value)
    {
        const char* old = getenv(name.c_str());
        saved_.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
        setenv(name.c_str(), value.c_str(), 1);
    }
    std::string root_;
    std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

} // namespace qev::test
