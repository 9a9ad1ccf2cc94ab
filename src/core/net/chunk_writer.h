#pragma once
// Writing a download's chunks to disk, shared by the update flow and qev-fetch.
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>

#include "core/net/download_thread.h"
#include "core/platform/update_folder.h"

namespace qev {

// The file name a download is stored under: the part of objectPath after its last '/',
// URL-decoded. "" when that name is unusable as a plain file name in one folder (empty,
// "." or "..", or holding '/', '\\' or a NUL byte): such a download is not written at all.
std::string TargetFileName(std::string_view objectPath);

// Puts the chunks of download notices into files in one folder, each download into the
// file named after its object. The file is created when the download opens at byte 0
// (exclusively, through the folder's handle) and every later chunk, and every resume,
// goes through that one open file: its name is never looked up again.
class DownloadFileWriter {
public:
    explicit DownloadFileWriter(UpdateFolder* folder = nullptr) : folder_(folder) {}
    void SetFolder(UpdateFolder* folder) { folder_ = folder; }

    // Handles NoticeOpened (a new file when at 0, or the same one emptied when the server
    // started over; a resume keeps what the file holds), NoticeChunk and NoticeComplete
    // (write the chunk at received - chunkLength). Other kinds are ignored.
    void OnNotice(const DownloadNotice& notice);

    // The folder's path + TargetFileName(objectPath), or "" when the name is refused or
    // there is no folder.
    std::string TargetPath(const DownloadNotice& notice) const;
    // True when the download with this id is complete on disk: its name was accepted, its
    // file was made and every write since it was opened succeeded.
    bool Intact(int id) const;
    // The open file of download id (nullptr when it has none).
    const OpenFile* File(int id) const;
    // Hands download id's open file over and forgets the download; the file stays.
    OpenFile Take(int id);
    // Takes file, stored under name, as download id's: a resume of bytes kept from before.
    void Adopt(int id, const std::string& name, OpenFile file)
    {
        downloads_[id] = {name, std::move(file), false};
    }
    // Closes download id's file and removes it from the folder.
    void Discard(int id);
    // Discard for every download.
    void DiscardAll();

private:
    struct Download {
        std::string name;
        OpenFile file;
        bool failed = false;
    };
    UpdateFolder* folder_ = nullptr;
    std::map<int, Download> downloads_;
};

} // namespace qev
