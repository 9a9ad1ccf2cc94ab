// The web profile's folders: kept between runs only when the walk to them held; a link or
// another user's folder on the way leaves the run off the record and changes nothing.
#include <gtest/gtest.h>

#include <QApplication>
#include <QWidget> // the context keeps pointers to its pop-ups

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>

#include "gui/browser/web_context.h"
#include "sandbox.h"

namespace fs = std::filesystem;

namespace {

mode_t ModeOf(const std::string& path)
{
    struct stat st {};
    return stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

} // namespace

TEST(WebContext, ProfileFoldersAreKeptOnlyThroughTheCheckedWalk)
{
    const struct {
        const char* what;
        std::function<void(const std::string&)> arrange; // given the test's folder
        bool persistent;
    } rows[] = {
        {"nothing there yet", [](auto&) {}, true},
        {"a link at data qev/web",
         [](auto& d) { fs::create_directory_symlink(d + "/home", d + "/data/qev/web"); }, false},
        {"a link at cache qev",
         [](auto& d) { fs::create_directory_symlink(d + "/home", d + "/cache/qev"); }, false},
        {"another user's data qev",
         [](auto& d) { ASSERT_EQ(chown((d + "/data/qev").c_str(), 65534, -1), 0); }, false},
    };
    for (const auto& row : rows) {
        if (geteuid() != 0 && std::string(row.what).find("another") == 0) continue;
        const qev::test::Sandbox sandbox("qev-web");
        const std::string& dir = sandbox.path();
        fs::create_directories(dir + "/data/qev");
        fs::create_directories(dir + "/cache");
        fs::create_directories(dir + "/home");
        chmod((dir + "/home").c_str(), 0755);
        row.arrange(dir);
        {
            CWebContext web(QString::fromStdString(dir + "/data"),
                            QString::fromStdString(dir + "/cache"), {});
            EXPECT_EQ(web.persistent(), row.persistent) << row.what;
        }
        EXPECT_EQ(ModeOf(dir + "/home"), 0755u) << row.what; // never chmod-ed through a link
        EXPECT_TRUE(fs::is_empty(dir + "/home")) << row.what;
        if (row.persistent) {
            EXPECT_EQ(ModeOf(dir + "/data/qev/web"), 0700u);
            EXPECT_EQ(ModeOf(dir + "/cache/qev/web"), 0700u);
        }
    }
}
