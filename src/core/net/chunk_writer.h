#pragma once
// Writing a download's chunks to disk, shared by the update flow and qev-fetch.
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>

#include "net/download_thread.h"

namespace qev {

// The file name a download is stored under: the part of objectPath after its last '/',
// URL-decoded. "" when that name is unusable as a plain file name in one folder (empty,
// "." or "..", or holding '/', '\\' or a NUL byte): such a download is not written at all.
std::string TargetFileName(std::string_view objectPath);

// Writes length bytes at offset into path: the file is created (0600) when missing and
// never truncated, and a symbolic link in its place is refused. 0 or an errno value.
int WriteChunk(std::int64_t offset, const std::string& path, const char* bytes, std::size_t length);

// Puts the chunks of download notices into files in one folder, each download into the
// file named after its object. A download opened at offset 0 starts from an empty file.
class DownloadFileWriter {
public:
    // folder ends with '/'.
    explicit DownloadFileWriter(std::string folder = {}) : folder_(std::move(folder)) {}
    void SetFolder(std::string folder) { folder_ = std::move(folder); }

    // Handles kinds 2 (opened: truncate when at 0), 4 and 5 (write the chunk at
    // received - chunkLength). Other kinds are ignored.
    void OnNotice(const DownloadNotice& notice);

    // folder + TargetFileName(objectPath), or "" when the name is refused or no folder is set.
    std::string TargetPath(const DownloadNotice& notice) const;
    // True when the download with this id is complete on disk: its name was accepted and
    // every write since it was opened succeeded.
    bool Intact(int id) const;
    void Forget(int id) { failed_.erase(id); }

private:
    std::string folder_;
    std::map<int, bool> failed_; // per download id: a write failed or the name was refused
};

} // namespace qev
