#include "core/platform/network_init.h"

namespace qev {

// WinINet needs no process-wide set-up: each request opens its own internet handle.
bool InitNetwork()
{
    return true;
}

void ShutdownNetwork() {}

} // namespace qev
