// The checked walk to the client's own folders: a link at any step, or a folder above that
// another user owns or can write, is refused, whatever the path looks like.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>

#include "core/platform/private_folder.h"

using namespace qev;
namespace fs = std::filesystem;

namespace {

constexpr uid_t OtherUser = 65534;

mode_t ModeOf(const std::string& path)
{
    struct stat st {};
    return lstat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

void MakeFolder(const std::string& path, mode_t mode, uid_t owner = geteuid())
{
    fs::create_directories(path);
    ASSERT_EQ(chmod(path.c_str(), mode), 0) << path;
    ASSERT_EQ(chown(path.c_str(), owner, static_cast<gid_t>(-1)), 0) << path;
}

} // namespace

TEST(PrivateFolder, WalkRefusesLinksAndFoldersOthersControl)
{
    const uid_t other = geteuid() == 0 ? OtherUser : geteuid(); // chown needs root
    struct Row {
        const char* what;
        std::function<void(const std::string&)> arrange; // given the test's folder
        const char* base;                                // under the test's folder
        bool opens;
    };
    const auto link = [](const std::string& from, const std::string& to) {
        fs::create_directories(fs::path(to).parent_path());
        fs::create_directory_symlink(from, to);
    };
    const Row rows[] = {
        {"nothing there yet", [](auto&) {}, "cache", true},
        {"a loose qev of ours", [](auto& d) { MakeFolder(d + "/cache/qev", 0775); }, "cache", true},
        {"a sticky folder above", [](auto& d) { MakeFolder(d + "/up", 01777); }, "up/cache", true},
        {"a base linked to a good folder", [&](auto& d) { link(d + "/good", d + "/cache"); },
         "cache", true},
        {"a base linked into a 0777 folder",
         [&](auto& d) {
             MakeFolder(d + "/shared", 0777);
             link(d + "/shared", d + "/cache");
         },
         "cache", false},
        {"a 0777 folder above", [](auto& d) { MakeFolder(d + "/up", 0777); }, "up/cache", false},
        {"a 0775 folder above", [](auto& d) { MakeFolder(d + "/up", 0775); }, "up/cache", false},
        {"a link at qev", [&](auto& d) { link(d + "/elsewhere", d + "/cache/qev"); }, "cache",
         false},
        {"a link at update", [&](auto& d) { link(d + "/elsewhere", d + "/cache/qev/update"); },
         "cache", false},
        {"a file at update",
         [](auto& d) {
             fs::create_directories(d + "/cache/qev");
             std::ofstream(d + "/cache/qev/update") << "x";
         },
         "cache", false},
        {"another user's folder above", [&](auto& d) { MakeFolder(d + "/up", 0755, other); },
         "up/cache", false},
        {"another user's link at the base",
         [&](auto& d) {
             link(d + "/good", d + "/cache");
             ASSERT_EQ(lchown((d + "/cache").c_str(), other, -1), 0);
         },
         "cache", false},
        {"another user's base", [&](auto& d) { MakeFolder(d + "/cache", 0755, other); }, "cache",
         false},
        {"another user's qev", [&](auto& d) { MakeFolder(d + "/cache/qev", 0700, other); }, "cache",
         false},
        {"another user's update",
         [&](auto& d) { MakeFolder(d + "/cache/qev/update", 0700, other); }, "cache", false},
    };
    for (const Row& row : rows) {
        if (other == geteuid() && std::string(row.what).find("another") == 0) continue;
        char pattern[] = "/tmp/qev-walk-XXXXXX";
        const std::string dir = mkdtemp(pattern);
        fs::create_directory(dir + "/good");
        fs::create_directory(dir + "/elsewhere");
        row.arrange(dir);
        std::string whyNot;
        const auto folder = PrivateFolder::Open(dir + "/" + row.base, {"qev", "update"}, whyNot);
        EXPECT_EQ(bool(folder), row.opens) << row.what << ": " << whyNot;
        EXPECT_TRUE(fs::is_empty(dir + "/elsewhere")) << row.what;
        if (folder) {
            EXPECT_EQ(folder->Path(), dir + "/" + row.base + "/qev/update") << row.what;
            EXPECT_EQ(ModeOf(folder->Path()), 0700u) << row.what;
            EXPECT_EQ(ModeOf(dir + "/" + row.base + "/qev"), 0700u) << row.what;
        }
        fs::remove_all(dir);
    }
}
