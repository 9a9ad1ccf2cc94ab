#include "core/net/chunk_writer.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "sandbox.h"

namespace qev {
namespace {

namespace fs = std::filesystem;

// One notice of download 1: an opening at received, or a chunk ending at received.
struct Step {
    int kind;
    const char* object;
    int received;
    std::string bytes;
};

DownloadNotice Notice(const Step& s)
{
    DownloadNotice n;
    n.id = 1;
    n.kind = s.kind;
    n.objectPath = s.object;
    n.received = s.received;
    n.chunk = s.bytes.data();
    n.chunkLength = static_cast<int>(s.bytes.size());
    return n;
}

// Every write goes to the one file the download opened at 0; nothing else lands in it.
TEST(DownloadFileWriter, ChunksLandOnlyInTheirDownloadsFile)
{
    const struct {
        const char* name;
        std::vector<Step> steps;
        std::string content; // of f.bin afterwards
        bool intact;
    } cases[] = {
        {"resume keeps what was written",
         {{NoticeOpened, "/p/f.bin", 0, ""},
          {NoticeChunk, "/p/f.bin", 3, "abc"},
          {NoticeOpened, "/p/f.bin", 3, ""},
          {NoticeComplete, "/p/f.bin", 5, "de"}},
         "abcde",
         true},
        {"start over from zero empties the file",
         {{NoticeOpened, "/p/f.bin", 0, ""},
          {NoticeChunk, "/p/f.bin", 6, "abcdef"},
          {NoticeOpened, "/p/f.bin", 0, ""},
          {NoticeComplete, "/p/f.bin", 2, "xy"}},
         "xy",
         true},
        {"chunk of another object",
         {{NoticeOpened, "/p/f.bin", 0, ""},
          {NoticeChunk, "/p/f.bin", 3, "abc"},
          {NoticeChunk, "/p/g.bin", 6, "EVI"}},
         "abc",
         false},
    };
    const test::Sandbox dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto folder = UpdateFolder::OpenPlain(dir.path());
        ASSERT_TRUE(folder);
        DownloadFileWriter writer(folder.get());
        for (const Step& s : c.steps) writer.OnNotice(Notice(s));
        EXPECT_EQ(writer.Intact(1), c.intact);
        std::ifstream in(dir / "f.bin", std::ios::binary);
        std::stringstream read;
        read << in.rdbuf();
        EXPECT_EQ(read.str(), c.content);
        EXPECT_FALSE(fs::exists(dir / "g.bin"));
        writer.DiscardAll();
    }
}

} // namespace
} // namespace qev
