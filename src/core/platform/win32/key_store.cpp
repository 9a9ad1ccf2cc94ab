#include "core/platform/key_store.h"

namespace qev {

// No database library in the Windows build; the profile is not pruned there (the Qt client
// is not built for Windows).
bool ReadKeyStore(const PrivateFolder&, const std::string&, const KeyVisitor&)
{
    return false;
}

int PruneKeyStore(const PrivateFolder&, const std::string&, const KeyFilter&)
{
    return -1;
}

} // namespace qev
