#include "core/platform/private_folder.h"

#include <windows.h>

#include <vector>

#include "core/platform/win32/wide.h"

namespace qev {
namespace {

using win32::CorePath;
using win32::WidePath;

constexpr DWORD VariableChars = 32768;

// An absolute folder from the environment, '/' between its parts, without a separator at
// the end (unless it is a drive's root); "" when unset or relative.
std::string FolderFromEnvironment(const wchar_t* variable)
{
    std::vector<wchar_t> buffer(VariableChars);
    const DWORD n = GetEnvironmentVariableW(variable, buffer.data(), VariableChars);
    if (n == 0 || n >= VariableChars) return {};
    std::string folder = CorePath(std::wstring_view(buffer.data(), n));
    const bool drive = folder.size() >= 3 && folder[1] == ':' && folder[2] == '/';
    const bool share = folder.size() >= 3 && folder[0] == '/' && folder[1] == '/';
    if (!drive && !share) return {};
    while (folder.size() > 3 && folder.back() == '/') folder.pop_back();
    return folder;
}

// Opens the folder at path itself, never a link's target; the handle lets nobody remove or
// rename it while it is open. INVALID_HANDLE_VALUE when it is not a plain folder.
HANDLE OpenFolder(const std::wstring& path)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY) ||
        (attributes & FILE_ATTRIBUTE_REPARSE_POINT))
        return INVALID_HANDLE_VALUE;
    const HANDLE folder =
        CreateFileW(path.c_str(), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                    FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (folder == INVALID_HANDLE_VALUE) return folder;
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(folder, &info) ||
        !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        CloseHandle(folder);
        return INVALID_HANDLE_VALUE;
    }
    return folder;
}

} // namespace

PrivateFolder::~PrivateFolder()
{
    for (const std::intptr_t handle : held_) CloseHandle(reinterpret_cast<HANDLE>(handle));
}

std::unique_ptr<PrivateFolder> PrivateFolder::Open(const std::string& base,
                                                   const std::vector<std::string>& parts,
                                                   PlatformError* error)
{
    std::unique_ptr<PrivateFolder> folder(new PrivateFolder);
    std::string path = base;
    while (path.size() > 3 && (path.back() == '/' || path.back() == '\\')) path.pop_back();
    const DWORD attributes = GetFileAttributesW(WidePath(path).c_str());
    if (path.empty() || attributes == INVALID_FILE_ATTRIBUTES ||
        !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        Fail(error, attributes == INVALID_FILE_ATTRIBUTES ? static_cast<int>(GetLastError()) : 0,
             "cannot open " + path);
        return nullptr;
    }
    for (const std::string& part : parts) {
        if (part.empty() || part == "." || part == ".." ||
            part.find_first_of("/\\:") != std::string::npos) {
            Fail(error, 0, "not a folder name: " + part);
            return nullptr;
        }
        path += (path.back() == '/' ? "" : "/") + part;
        const std::wstring wide = WidePath(path);
        if (!CreateDirectoryW(wide.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
            const DWORD code = GetLastError();
            Fail(error, static_cast<int>(code),
                 "cannot make " + path + " (error " + std::to_string(code) + ")");
            return nullptr;
        }
        const HANDLE held = OpenFolder(wide);
        if (held == INVALID_HANDLE_VALUE) {
            Fail(error, 0, path + " is a link or not a folder");
            return nullptr;
        }
        folder->held_.push_back(reinterpret_cast<std::intptr_t>(held));
    }
    folder->path_ = std::move(path);
    return folder;
}

std::string CacheHome()
{
    return FolderFromEnvironment(L"LOCALAPPDATA");
}

std::string DataHome()
{
    return FolderFromEnvironment(L"APPDATA");
}

} // namespace qev
