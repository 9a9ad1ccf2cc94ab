#include "core/net/chunk_writer.h"

#include "core/base/url_codec.h"

namespace qev {

std::string TargetFileName(std::string_view objectPath)
{
    const auto slash = objectPath.rfind('/');
    std::string name =
        UrlDecode(slash == std::string_view::npos ? objectPath : objectPath.substr(slash + 1));
    if (name.empty() || name == "." || name == "..") return {};
    if (name.find_first_of(std::string_view("/\\\0", 3)) != std::string::npos) return {};
    return name;
}

std::string DownloadFileWriter::TargetPath(const DownloadNotice& notice) const
{
    const std::string name = TargetFileName(notice.objectPath);
    // Without a folder there is no safe place: never fall back to the current directory.
    return name.empty() || !folder_ ? std::string() : folder_->Path() + name;
}

bool DownloadFileWriter::Intact(int id) const
{
    const auto it = downloads_.find(id);
    return it != downloads_.end() && !it->second.failed && it->second.file.IsOpen();
}

const OpenFile* DownloadFileWriter::File(int id) const
{
    const auto it = downloads_.find(id);
    return it == downloads_.end() || !it->second.file.IsOpen() ? nullptr : &it->second.file;
}

OpenFile DownloadFileWriter::Take(int id)
{
    const auto it = downloads_.find(id);
    if (it == downloads_.end()) return {};
    OpenFile file = std::move(it->second.file);
    downloads_.erase(it);
    return file;
}

void DownloadFileWriter::Discard(int id)
{
    const auto it = downloads_.find(id);
    if (it == downloads_.end()) return;
    it->second.file.Close();
    if (folder_ && !it->second.name.empty()) folder_->RemoveFile(it->second.name);
    downloads_.erase(it);
}

void DownloadFileWriter::DiscardAll()
{
    while (!downloads_.empty()) Discard(downloads_.begin()->first);
}

void DownloadFileWriter::OnNotice(const DownloadNotice& notice)
{
    const bool opened = notice.kind == NoticeOpened && notice.code == 0;
    const bool chunk = notice.kind == NoticeChunk || notice.kind == NoticeComplete;
    if (!opened && !chunk) return;
    Download& d = downloads_[notice.id];
    const std::string name = TargetFileName(notice.objectPath);
    if (name.empty() || !folder_) {
        d.failed = true;
        return;
    }
    if (opened) {
        // A resume appends to the file it has; anything else starts from an empty one.
        if (notice.received != 0) {
            if (!d.file.IsOpen() || d.name != name) d.failed = true;
            return;
        }
        d.failed = false;
        if (d.file.IsOpen() && d.name == name) {
            // The server started over: the same file, emptied.
            if (!d.file.Truncate()) d.failed = true;
            return;
        }
        d.file = folder_->CreateFile(name);
        d.name = name;
        if (!d.file.IsOpen()) d.failed = true;
        return;
    }
    if (notice.chunkLength <= 0) return;
    if (!d.file.IsOpen() || d.name != name) {
        d.failed = true;
        return;
    }
    const std::int64_t offset = static_cast<std::int64_t>(notice.received) - notice.chunkLength;
    if (!d.file.WriteAt(offset, notice.chunk, static_cast<std::size_t>(notice.chunkLength)))
        d.failed = true;
}

} // namespace qev
