// A downloaded manifest is read from a file in the temporary folder.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "layout/update_manifest.h"

namespace {

// One scratch file per fuzzing process, removed at exit.
struct ScratchFile {
    ScratchFile()
    {
        char pattern[] = "/tmp/qev-manifest-fuzz-XXXXXX";
        const int fd = mkstemp(pattern);
        if (fd < 0) std::abort();
        close(fd);
        path = pattern;
    }
    ~ScratchFile() { unlink(path.c_str()); }
    std::string path;
};

const std::string& InputPath()
{
    static const ScratchFile file;
    return file.path;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::FILE* file = std::fopen(InputPath().c_str(), "wb");
    if (!file) return 0;
    std::fwrite(data, 1, size, file);
    std::fclose(file);
    qev::LayoutDocument doc;
    doc.major = 7;
    if (qev::ReadUpdateManifest(doc, InputPath()) == 0 &&
        (doc.major != 7 || !doc.manifestItems.empty()))
        std::abort(); // a failed read must change nothing
    return 0;
}
