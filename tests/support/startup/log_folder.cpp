// Linked into every test program: the log goes where the client's does (tests point
// XDG_STATE_HOME at a folder of their own), handed in before main() as the client hands
// it in at its start.
#include "core/base/log.h"
#include "core/platform/files.h"

namespace {
const bool handedIn = [] {
    qev::SetLogFolderSource(qev::GetLogFolder);
    return true;
}();
} // namespace
