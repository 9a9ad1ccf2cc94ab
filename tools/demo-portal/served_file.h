#pragma once
// What the demo portal agrees to serve and to read: regular files only, none reached
// through a link out of the files folder, and request heads of a bounded size.
#include <cstddef>
#include <string>

namespace qev::portal {

// A request head with more header lines, or more header bytes, than this is refused (431):
// a browser or the client sends about ten lines in well under 1 KiB.
inline constexpr std::size_t MaxRequestHeaders = 64;
inline constexpr std::size_t MaxRequestHeaderBytes = 16 * 1024;

// Whether a request with headerCount header lines of headerBytes bytes in all is served.
bool RequestHeadWithinLimits(std::size_t headerCount, std::size_t headerBytes);

// Opens name (a plain file name) inside folder for reading: a descriptor, or -1 when it is
// missing or not a regular file, or is a symbolic link (which could lead out of the
// folder). A FIFO or a device is refused without waiting for a writer.
int OpenFileInFolder(const std::string& folder, const std::string& name);

// Opens path for reading (links followed: the operator named it): a descriptor, or -1
// unless it is a regular file. Never waits on a FIFO.
int OpenRegularFile(const std::string& path);

} // namespace qev::portal
