// The checked walk to the client's own folders: a link at any step, or a folder above that
// another user owns or can write, is refused, whatever the path looks like.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <string_view>

#include "core/platform/private_folder.h"
#include "sandbox.h"

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

// Every entry under dir (links not followed) with its mode and owner.
std::map<std::string, std::pair<mode_t, uid_t>> Tree(const std::string& dir)
{
    std::map<std::string, std::pair<mode_t, uid_t>> tree;
    for (const auto& entry : fs::recursive_directory_iterator(dir)) {
        struct stat st {};
        lstat(entry.path().c_str(), &st);
        tree[entry.path().string().substr(dir.size())] = {st.st_mode & 07777, st.st_uid};
    }
    return tree;
}

} // namespace

TEST(PrivateFolder, WalkRefusesLinksAndFoldersOthersControl)
{
    const bool root = geteuid() == 0;
    const uid_t other = root ? OtherUser : geteuid(); // chown needs root
    struct Row {
        const char* what;
        std::function<void(const std::string&)> arrange; // given the test's folder
        const char* base;                                // under the test's folder, or absolute
        const char* refusal;                             // part of the reason given; nullptr: opens
        std::vector<std::string> parts{"qev", "update"};
        bool leavesParts = false; // refused after making the parts (root may, in any folder)
    };
    const auto link = [](const std::string& from, const std::string& to) {
        fs::create_directories(fs::path(to).parent_path());
        fs::create_directory_symlink(from, to);
    };
    const char* const linked = "is a link or not a folder";
    const char* const othersFolder = "belongs to another user";
    const char* const writable = "can be written by another user";
    const Row rows[] = {
        {"nothing there yet", [](auto&) {}, "cache", nullptr},
        {"nothing there yet, three deep", [](auto&) {}, "new/deeper/cache", nullptr},
        {"a loose qev of ours", [](auto& d) { MakeFolder(d + "/cache/qev", 0775); }, "cache",
         nullptr},
        {"a group-only qev of ours", [](auto& d) { MakeFolder(d + "/cache/qev", 0750); }, "cache",
         nullptr},
        {"a group-only update of ours", [](auto& d) { MakeFolder(d + "/cache/qev/update", 0750); },
         "cache", nullptr},
        {"a sticky folder above", [](auto& d) { MakeFolder(d + "/up", 01777); }, "up/cache",
         nullptr},
        {"a base linked to a good folder", [&](auto& d) { link(d + "/good", d + "/cache"); },
         "cache", nullptr},
        {"a base linked into a 0777 folder",
         [&](auto& d) {
             MakeFolder(d + "/shared", 0777);
             link(d + "/shared", d + "/cache");
         },
         "cache",
         writable,
         {"qev", "update"},
         true},
        {"a 0777 folder above",
         [](auto& d) { MakeFolder(d + "/up", 0777); },
         "up/cache",
         writable,
         {"qev", "update"},
         true},
        {"a 0775 folder above",
         [](auto& d) { MakeFolder(d + "/up", 0775); },
         "up/cache",
         writable,
         {"qev", "update"},
         true},
        {"a link at qev", [&](auto& d) { link(d + "/elsewhere", d + "/cache/qev"); }, "cache",
         linked},
        {"a link at update", [&](auto& d) { link(d + "/elsewhere", d + "/cache/qev/update"); },
         "cache", linked},
        {"a file at update",
         [](auto& d) {
             fs::create_directories(d + "/cache/qev");
             std::ofstream(d + "/cache/qev/update") << "x";
         },
         "cache", linked},
        {"another user's folder above",
         [&](auto& d) { MakeFolder(d + "/up", 0755, other); },
         "up/cache",
         othersFolder,
         {"qev", "update"},
         true},
        {"another user's link at the base",
         [&](auto& d) {
             link(d + "/good", d + "/cache");
             ASSERT_EQ(lchown((d + "/cache").c_str(), other, -1), 0);
         },
         "cache", "is another user's link"},
        {"another user's base",
         [&](auto& d) { MakeFolder(d + "/cache", 0755, other); },
         "cache",
         othersFolder,
         {"qev", "update"},
         true},
        {"another user's qev", [&](auto& d) { MakeFolder(d + "/cache/qev", 0755, other); }, "cache",
         othersFolder},
        {"another user's update",
         [&](auto& d) { MakeFolder(d + "/cache/qev/update", 0755, other); }, "cache", othersFolder},
        // As an ordinary user, a folder of someone else's as a part; never tried as root,
        // whose own folder it is.
        {"the administrator's folder as a part", [](auto&) {}, "/", othersFolder, {"usr"}},
    };
    for (const Row& row : rows) {
        const std::string what = row.what;
        if (!root && what.find("another") == 0) continue;
        if (root && what.find("the administrator's") == 0) continue;
        const test::Sandbox sandbox("qev-walk");
        const std::string& dir = sandbox.path();
        fs::create_directory(dir + "/good");
        fs::create_directory(dir + "/elsewhere");
        row.arrange(dir);
        const auto before = Tree(dir);
        const std::string base = row.base[0] == '/' ? row.base : dir + "/" + row.base;
        PlatformError why;
        const auto folder = PrivateFolder::Open(base, row.parts, &why);
        EXPECT_EQ(bool(folder), !row.refusal) << what << ": " << why.text;
        EXPECT_TRUE(fs::is_empty(dir + "/elsewhere")) << what;
        const auto after = Tree(dir);
        if (folder) {
            EXPECT_EQ(folder->Path(), base + "/qev/update") << what;
            EXPECT_EQ(ModeOf(folder->Path()), 0700u) << what;
            EXPECT_EQ(ModeOf(base + "/qev"), 0700u) << what;
            for (const auto& [path, made] : after) // every folder the walk made is private
                EXPECT_TRUE(before.count(path) || made.first == 0700u) << what << ": " << path;
        } else {
            EXPECT_NE(why.text.find(row.refusal), std::string::npos) << what << ": " << why.text;
            // A link or a file in the way fails the open itself, with its number; the
            // other refusals are checks on what was opened, and carry none.
            const bool openFailed = std::string_view(row.refusal) == linked;
            EXPECT_EQ(why.code != 0, openFailed) << what << ": " << why.code;
            EXPECT_TRUE(!openFailed || why.code == ELOOP || why.code == ENOTDIR) << what;
            for (const auto& [path, was] : before) { // others' as they were, ours no looser
                const auto& now = after.at(path);
                if (was.second != geteuid()) {
                    EXPECT_EQ(now, was) << what << ": " << path << " changed";
                } else {
                    EXPECT_EQ(now.first & ~was.first, 0u) << what << ": " << path << " loosened";
                }
            }
            EXPECT_TRUE(row.leavesParts || after.size() == before.size()) << what << ": made parts";
        }
    }
}

// A relative XDG folder is not one: the one under the home folder is used instead.
TEST(PrivateFolder, HomeFoldersIgnoreRelativeValues)
{
    const auto saved = [](const char* name) {
        const char* value = std::getenv(name);
        return value ? std::optional<std::string>(value) : std::nullopt;
    };
    const auto set = [](const char* name, const std::optional<std::string>& value) {
        if (value)
            setenv(name, value->c_str(), 1);
        else
            unsetenv(name);
    };
    const auto home = saved("HOME"), cache = saved("XDG_CACHE_HOME"), data = saved("XDG_DATA_HOME");
    const struct {
        std::optional<std::string> xdg, home;
        std::string cache, data;
    } rows[] = {
        {"/x/cache/", "/home/p", "/x/cache", "/x/cache"},
        {"x/cache", "/home/p", "/home/p/.cache", "/home/p/.local/share"},
        {"./x", "/home/p", "/home/p/.cache", "/home/p/.local/share"},
        {std::nullopt, "/home/p", "/home/p/.cache", "/home/p/.local/share"},
        {"", "/home/p", "/home/p/.cache", "/home/p/.local/share"},
        {"x/cache", "home/p", "", ""},
        {std::nullopt, std::nullopt, "", ""},
    };
    for (const auto& row : rows) {
        set("HOME", row.home);
        set("XDG_CACHE_HOME", row.xdg);
        set("XDG_DATA_HOME", row.xdg);
        EXPECT_EQ(CacheHome(), row.cache) << row.xdg.value_or("(unset)");
        EXPECT_EQ(DataHome(), row.data) << row.xdg.value_or("(unset)");
    }
    set("HOME", home);
    set("XDG_CACHE_HOME", cache);
    set("XDG_DATA_HOME", data);
}
