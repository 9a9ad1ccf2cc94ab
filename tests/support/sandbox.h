#pragma once
// A folder of the test's own under the temporary folder ($TMPDIR, else /tmp), private to
// the user, made when this is made and removed, with everything in it, when this goes.
#include <filesystem>
#include <random>
#include <stdexcept>
#include <string>

namespace qev::test {

class Sandbox {
public:
    explicit Sandbox(const std::string& name = "qev")
    {
        namespace fs = std::filesystem;
        std::random_device random;
        for (int tries = 0; tries < 100 && path_.empty(); ++tries) {
            const fs::path folder =
                fs::temp_directory_path() / (name + "-" + std::to_string(random()));
            if (fs::create_directory(folder)) path_ = folder.string();
        }
        if (path_.empty()) throw std::runtime_error("cannot make a temporary folder");
        fs::permissions(path_, fs::perms::owner_all, fs::perm_options::replace);
    }
    Sandbox(const Sandbox&) = delete;
    Sandbox& operator=(const Sandbox&) = delete;
    ~Sandbox()
    {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }
    std::string operator/(const std::string& name) const { return file(name); }

private:
    std::string path_;
};

} // namespace qev::test
