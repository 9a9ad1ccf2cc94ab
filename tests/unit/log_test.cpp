#include "core/base/log.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "core/base/message.h"
#include "sandbox.h"

namespace qev {
namespace {

namespace fs = std::filesystem;

std::string ReadAll(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class LogTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        previous_ = SetMessageHandler([this](const std::string& text, const std::string&, int) {
            messages_.push_back(text);
            return IdOk;
        });
    }
    void TearDown() override { SetMessageHandler(previous_); }

    const test::Sandbox sandbox_;
    const fs::path root_ = sandbox_.path();
    std::vector<std::string> messages_;
    MessageHandler previous_;
};

TEST_F(LogTest, CreatesMissingFoldersAndAppendsLines)
{
    const fs::path folder = root_ / "state" / "deeper" / "qev";
    WriteLog("first", folder.string());
    ASSERT_TRUE(fs::is_regular_file(folder / "qev.log"));
    EXPECT_EQ(ReadAll(folder / "qev.log"), "first\n");

    // A message that already ends in a line break leaves an empty line; an empty text
    // writes only the line break.
    WriteLog("activity_iNo:3 ,activityObj.activity_start: is illegal\n", folder.string());
    WriteLog("", folder.string());
    WriteLog("last", folder.string());
    EXPECT_EQ(ReadAll(folder / "qev.log"),
              "first\nactivity_iNo:3 ,activityObj.activity_start: is illegal\n\n\nlast\n");
    EXPECT_TRUE(messages_.empty());
}

TEST_F(LogTest, KeepsExistingContent)
{
    {
        std::ofstream out(root_ / "qev.log", std::ios::binary);
        out << "old bytes, no line end";
    }
    WriteLog("new", root_.string());
    EXPECT_EQ(ReadAll(root_ / "qev.log"), "old bytes, no line endnew\n");
}

TEST_F(LogTest, FolderThatCannotBeMadeIsReportedAndNothingWritten)
{
    // A regular file where a parent folder should be: no permissions involved, so this
    // fails for root too.
    {
        std::ofstream(root_ / "blocker") << "x";
    }
    const fs::path folder = root_ / "blocker" / "qev";
    WriteLog("text", folder.string());
    WriteLog("text", folder.string());
    EXPECT_EQ(messages_, (std::vector<std::string>{"日志文件夹创建失败", "日志文件夹创建失败"}));
    EXPECT_EQ(ReadAll(root_ / "blocker"), "x");
}

TEST_F(LogTest, FileThatCannotBeOpenedIsReportedWithItsCause)
{
    fs::create_directory(root_ / "qev.log"); // the log's name is taken by a folder
    WriteLog("text", root_.string());
    EXPECT_EQ(messages_, (std::vector<std::string>{"打开日志文件失败！错误码 = 5\n"}));
}

// The log grew without end (gigabytes an hour from one bad feed). Past MaxLogBytes it is
// moved aside to one ".1" file, so the two together stay near twice the bound.
TEST_F(LogTest, RotatesToOneOlderFileAtTheBound)
{
    const std::string line(999, 'x'); // 1,000 bytes with its line break
    const fs::path log = root_ / "qev.log";
    const fs::path older = root_ / "qev.log.1";
    std::uintmax_t largest = 0;
    int rotations = 0;
    for (int i = 0; i < 3500; ++i) {
        const bool hadOlder = fs::exists(older);
        const std::uintmax_t before = fs::exists(log) ? fs::file_size(log) : 0;
        WriteLog(line, root_.string());
        if (fs::file_size(log) < before || (!hadOlder && fs::exists(older))) ++rotations;
        largest = std::max(largest, fs::file_size(log));
    }
    EXPECT_EQ(rotations, 3); // 3.5 MB of lines in 1 MiB files
    EXPECT_LE(largest, MaxLogBytes + 1000);
    EXPECT_EQ(fs::file_size(older), (MaxLogBytes + 999) / 1000 * 1000);
    EXPECT_EQ(std::distance(fs::directory_iterator(root_), fs::directory_iterator()), 2);
    EXPECT_TRUE(messages_.empty());
}

// A log of exactly the bound is moved aside before the next line, not one line later.
TEST_F(LogTest, LogOfExactlyTheBoundIsRotated)
{
    std::ofstream(root_ / "qev.log", std::ios::binary) << std::string(MaxLogBytes, 'x');
    WriteLog("next", root_.string());
    EXPECT_EQ(ReadAll(root_ / "qev.log"), "next\n");
    EXPECT_EQ(fs::file_size(root_ / "qev.log.1"), MaxLogBytes);
}

TEST(LogErrors, CausesOfFileErrors)
{
    const std::pair<int, int> cases[] = {{0, FileErrorNone},
                                         {ENOENT, FileErrorNotFound},
                                         {ENOSPC, FileErrorDiskFull},
                                         {EDQUOT, FileErrorDiskFull},
                                         {EACCES, FileErrorAccessDenied},
                                         {EIO, FileErrorHardIo},
                                         {EMFILE, FileErrorTooManyOpen},
                                         {EXDEV, FileErrorGeneric}};
    for (const auto& [error, cause] : cases)
        EXPECT_EQ(FileErrorCauseFromErrno(error), cause) << error;
}

TEST_F(LogTest, LogPathFollowsTheStateFolder)
{
    const char* oldState = std::getenv("XDG_STATE_HOME");
    const char* oldHome = std::getenv("HOME");
    const std::string savedState = oldState ? oldState : "";
    const std::string savedHome = oldHome ? oldHome : "";

    setenv("XDG_STATE_HOME", root_.c_str(), 1);
    EXPECT_EQ(LogFilePath(), root_.string() + "/qev/qev.log");
    WriteLog("via default");
    EXPECT_EQ(ReadAll(root_ / "qev" / "qev.log"), "via default\n");

    setenv("XDG_STATE_HOME", "relative/ignored", 1);
    setenv("HOME", "/home/someone", 1);
    EXPECT_EQ(LogFilePath(), "/home/someone/.local/state/qev/qev.log");
    unsetenv("XDG_STATE_HOME");
    EXPECT_EQ(LogFilePath(), "/home/someone/.local/state/qev/qev.log");

    if (oldState) setenv("XDG_STATE_HOME", savedState.c_str(), 1);
    if (oldHome)
        setenv("HOME", savedHome.c_str(), 1);
    else
        unsetenv("HOME");
}

} // namespace
} // namespace qev
