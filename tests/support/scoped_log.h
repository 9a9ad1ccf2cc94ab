#pragma once
// For one scope: the client's log in a folder of the test's own and http_proxy set to
// proxy (both unset afterwards: tests run without them). Lines() are the log's lines.
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace qev::test {

struct ScopedLog {
    explicit ScopedLog(const std::string& proxy)
    {
        setenv("XDG_STATE_HOME", mkdtemp(root.data()), 1);
        setenv("http_proxy", proxy.c_str(), 1);
    }
    ~ScopedLog()
    {
        unsetenv("XDG_STATE_HOME");
        unsetenv("http_proxy");
        std::filesystem::remove_all(root);
    }
    std::vector<std::string> Lines() const
    {
        std::ifstream in(root + "/qev/qev.log");
        std::vector<std::string> lines;
        for (std::string line; std::getline(in, line);) lines.push_back(line);
        return lines;
    }
    std::string root = "/tmp/qev-log-XXXXXX";
};

} // namespace qev::test
