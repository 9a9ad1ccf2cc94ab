#include "core/base/log.h"

#include <cerrno>
#include <cstdio>
#include <functional>
#include <filesystem>
#include <system_error>

#include "core/base/message.h"

namespace qev {

std::string EscapeForLog(std::string_view text, std::string_view alsoEscaped, bool keepHighBytes,
                         std::size_t maxBytes)
{
    static constexpr char Digits[] = "0123456789ABCDEF";
    std::string out;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        const bool escaped = byte < 0x20 || byte == 0x7F || (byte > 0x7F && !keepHighBytes) ||
                             alsoEscaped.find(c) != std::string_view::npos;
        const std::string piece = escaped
                                      ? std::string{'\\', 'x', Digits[byte >> 4], Digits[byte & 15]}
                                      : std::string(1, c);
        if (out.size() + piece.size() > maxBytes) break;
        out += piece;
    }
    return out;
}

namespace {

constexpr const char* LogFileName = "qev.log";
constexpr const char* FolderFailedText = "日志文件夹创建失败";
constexpr const char* OpenFailedFormat = "打开日志文件失败！错误码 = %d\n";

bool EnsureFolder(const std::string& folder)
{
    if (folder.empty()) return false;
    std::error_code ec;
    if (std::filesystem::is_directory(folder, ec)) return true;
    std::filesystem::create_directories(folder, ec);
    return !ec && std::filesystem::is_directory(folder, ec);
}

} // namespace

int FileErrorCauseFromErrno(int error)
{
    switch (error) {
    case 0: return FileErrorNone;
    case ENOENT: return FileErrorNotFound;
    case ENOTDIR:
    case ENAMETOOLONG:
    case ELOOP:
    case EINVAL: return FileErrorBadPath;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR: return FileErrorAccessDenied;
    case ETXTBSY:
    case EBUSY:
    case EAGAIN: return FileErrorSharingViolation;
    case EMFILE:
    case ENFILE: return FileErrorTooManyOpen;
#ifdef EDQUOT // a C library without quotas (Windows) has no such error
    case EDQUOT:
#endif
    case ENOSPC: return FileErrorDiskFull;
    case EIO: return FileErrorHardIo;
    default: return FileErrorGeneric;
    }
}

namespace {
std::function<std::string()>& FolderSource()
{
    static std::function<std::string()> source;
    return source;
}
} // namespace

void SetLogFolderSource(std::function<std::string()> source)
{
    FolderSource() = std::move(source);
}

std::string LogFolderPath()
{
    const auto& source = FolderSource();
    return source ? source() : std::string();
}

std::string LogFilePath()
{
    const std::string folder = LogFolderPath();
    return folder.empty() ? folder : folder + "/" + LogFileName;
}

void WriteLog(std::string_view text)
{
    WriteLog(text, LogFolderPath());
}

void WriteLog(std::string_view text, const std::string& folder)
{
    if (!EnsureFolder(folder)) {
        ShowMessage(FolderFailedText);
        return;
    }
    const std::string path = folder + "/" + LogFileName;
    std::error_code ec;
    if (const auto size = std::filesystem::file_size(path, ec); !ec && size >= MaxLogBytes)
        std::filesystem::rename(path, path + ".1", ec); // on failure, go on appending
    errno = 0;
    // Append mode: never truncates, every write lands after the last byte even when
    // another process wrote meanwhile. Text mode gives the platform's line ends.
    std::FILE* file = std::fopen(path.c_str(), "a");
    if (!file) {
        char message[128];
        std::snprintf(message, sizeof message, OpenFailedFormat, FileErrorCauseFromErrno(errno));
        ShowMessage(message);
        return;
    }
    std::string line(text);
    line += '\n';
    std::fwrite(line.data(), 1, line.size(), file);
    std::fclose(file);
}

} // namespace qev
