#include "core/platform/os_version.h"

#include <sys/utsname.h>

#include <cstdio>

namespace qev {

OsVersion CurrentOsVersion()
{
    // The kernel's release numbers, under platform 0: no rule keyed to the other system's
    // platform id can match here.
    OsVersion version;
    utsname names{};
    if (uname(&names) == 0) std::sscanf(names.release, "%u.%u", &version.major, &version.minor);
    return version;
}

const char* BuildSystemName()
{
#if defined(__linux__)
    return "linux";
#else
    return "unknown";
#endif
}

} // namespace qev
