#include "core/platform/os_version.h"

#include <windows.h>

namespace qev {
namespace {

// The NT platform id the version rules are keyed to.
constexpr unsigned NtPlatform = VER_PLATFORM_WIN32_NT;

using RtlGetVersionCall = LONG(WINAPI*)(OSVERSIONINFOW*);

} // namespace

OsVersion CurrentOsVersion()
{
    // RtlGetVersion, not GetVersionExW: the latter reports an older system to programs
    // without a manifest that names the newer ones.
    OsVersion version;
    version.platform = NtPlatform;
    OSVERSIONINFOW info{};
    info.dwOSVersionInfoSize = sizeof info;
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    const FARPROC call = ntdll ? GetProcAddress(ntdll, "RtlGetVersion") : nullptr;
    if (call && reinterpret_cast<RtlGetVersionCall>(reinterpret_cast<void*>(call))(&info) == 0) {
        version.platform = info.dwPlatformId;
        version.major = info.dwMajorVersion;
        version.minor = info.dwMinorVersion;
    }
    return version;
}

const char* BuildSystemName()
{
    return "windows";
}

} // namespace qev
