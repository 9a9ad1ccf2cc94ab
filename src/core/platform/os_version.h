#pragma once
// The version the operating system reports, in the numbers of the system the client was
// first written for (platform id, major, minor).
namespace qev {

struct OsVersion {
    unsigned platform = 0, major = 0, minor = 0;
};

// This system's version. Platform 0 on every system other than that first one.
OsVersion CurrentOsVersion();

// The system this build runs on, as update targets name it: "linux", "windows" (or
// "unknown" on any other).
const char* BuildSystemName();

} // namespace qev
