// A downloaded manifest is read from a file in the temporary folder.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "core/base/utf.h"

#include "core/layout/update_manifest.h"
#include "core/layout/xml_text.h"

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

// Refusals are logged; the log goes to a scratch folder, not the user's.
void UseScratchLog()
{
    static const bool done = [] {
        char pattern[] = "/tmp/qev-manifest-fuzz-log-XXXXXX";
        if (!mkdtemp(pattern)) std::abort();
        setenv("XDG_STATE_HOME", pattern, 1);
        return true;
    }();
    (void)done;
}

// The depth of the parsed tree, walked without recursion.
int TreeDepth(const TiXmlNode* root)
{
    int deepest = 0;
    int depth = 0;
    const TiXmlNode* node = root->FirstChild();
    while (node) {
        if (node->ToElement() && depth + 1 > deepest) deepest = depth + 1;
        if (node->FirstChild()) {
            node = node->FirstChild();
            ++depth;
            continue;
        }
        while (node && !node->NextSibling()) {
            node = node->Parent();
            --depth;
            if (node == root) node = nullptr;
        }
        if (node) node = node->NextSibling();
    }
    return deepest;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    UseScratchLog();
    // The guard's count must never be below what the library builds from accepted text.
    {
        TiXmlDocument xml;
        const std::string_view text(reinterpret_cast<const char*>(data), size);
        if (qev::ParseXmlText(xml, text) == qev::XmlRefusal::None &&
            TreeDepth(&xml) > qev::XmlNestingDepth(qev::SanitizeUtf8(text), 1 << 30))
            std::abort();
    }
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
