#include "core/platform/folder_tree.h"

namespace qev {

// The web profile is not bounded on Windows yet: nothing is measured or removed there, so
// no walk can go wrong (the Qt client is not built for Windows).
bool ListTree(const PrivateFolder&, const std::string&, std::vector<TreeEntry>& entries)
{
    entries.clear();
    return false;
}

std::string ReadTreeFile(const PrivateFolder&, const std::string&, std::size_t)
{
    return {};
}

bool RemoveTree(const PrivateFolder&, const std::string&)
{
    return false;
}

} // namespace qev
