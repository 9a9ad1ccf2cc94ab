#include "net/chunk_writer.h"

#include "net/url_codec.h"
#include "platform/files.h"

namespace qev {

std::string TargetFileName(std::string_view objectPath)
{
    const auto slash = objectPath.rfind('/');
    const std::string name =
        UrlDecode(slash == std::string_view::npos ? objectPath : objectPath.substr(slash + 1));
    if (name.empty() || name == "." || name == "..") return {};
    if (name.find_first_of(std::string_view("/\\\0", 3)) != std::string::npos) return {};
    return name;
}

int WriteChunk(std::int64_t offset, const std::string& path, const char* bytes, std::size_t length)
{
    return WriteFileAt(path, offset, bytes, length);
}

std::string DownloadFileWriter::TargetPath(const DownloadNotice& notice) const
{
    const std::string name = TargetFileName(notice.objectPath);
    // Without a folder there is no safe place: never fall back to the current directory.
    return name.empty() || folder_.empty() ? std::string() : folder_ + name;
}

bool DownloadFileWriter::Intact(int id) const
{
    const auto it = failed_.find(id);
    return it == failed_.end() || !it->second;
}

void DownloadFileWriter::OnNotice(const DownloadNotice& notice)
{
    const bool opened = notice.kind == NoticeOpened && notice.code == 0;
    const bool chunk = notice.kind == NoticeChunk || notice.kind == NoticeComplete;
    if (!opened && !chunk) return;
    const std::string path = TargetPath(notice);
    if (path.empty()) {
        failed_[notice.id] = true;
        return;
    }
    if (opened) {
        // Reopened at 0 (a fresh start, or a server that ignored the range): drop any old
        // tail. A resume keeps what the file holds.
        if (notice.received != 0) return;
        failed_[notice.id] = false;
        if (!TruncateFile(path)) failed_[notice.id] = true;
        return;
    }
    if (notice.chunkLength <= 0) return;
    const std::int64_t offset = static_cast<std::int64_t>(notice.received) - notice.chunkLength;
    if (WriteChunk(offset, path, notice.chunk, static_cast<std::size_t>(notice.chunkLength)) != 0)
        failed_[notice.id] = true;
}

} // namespace qev
