#include "core/platform/files.h"

#include <windows.h>

#include <climits>
#include <cstdlib>
#include <random>
#include <string_view>
#include <vector>

#include "core/platform/win32/wide.h"

// windows.h maps DeleteFile to DeleteFileW; ours is qev::DeleteFile.
#undef DeleteFile

namespace qev {
namespace {

using win32::CorePath;
using win32::WidePath;

// Paths the system calls here take without the long-path prefix.
constexpr DWORD PathChars = MAX_PATH;

// A copy's temporary sibling: "<to>.qev-<pid>-<random>.tmp", so a later run can tell its
// own leftovers (and whether their maker still runs) from anything else in the folder.
constexpr std::wstring_view CopyInfix = L".qev-";
constexpr std::wstring_view CopySuffix = L".tmp";
// OpenProcess right enough to learn whether a process has ended.
constexpr DWORD WaitRight = SYNCHRONIZE;

bool AllDigits(std::wstring_view s)
{
    if (s.empty() || s.size() > 10) return false;
    for (const wchar_t c : s)
        if (c < L'0' || c > L'9') return false;
    return true;
}

bool SameNameIgnoringCase(std::wstring_view a, std::wstring_view b)
{
    return a.size() == b.size() &&
           CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(),
                                static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

// The maker's id when name is a temporary sibling of a file named base; 0 otherwise.
// Names are compared as the file system does, ignoring case.
long CopyMaker(std::wstring_view name, std::wstring_view base)
{
    if (name.size() <= base.size() + CopyInfix.size() + CopySuffix.size() ||
        !SameNameIgnoringCase(name.substr(0, base.size()), base) ||
        !SameNameIgnoringCase(name.substr(base.size(), CopyInfix.size()), CopyInfix) ||
        !SameNameIgnoringCase(name.substr(name.size() - CopySuffix.size()), CopySuffix))
        return 0;
    const std::wstring_view middle =
        name.substr(base.size() + CopyInfix.size(),
                    name.size() - base.size() - CopyInfix.size() - CopySuffix.size());
    const auto dash = middle.find(L'-');
    if (dash == std::wstring_view::npos || !AllDigits(middle.substr(0, dash)) ||
        !AllDigits(middle.substr(dash + 1)))
        return 0;
    return std::wcstol(std::wstring(middle.substr(0, dash)).c_str(), nullptr, 10);
}

// True only when the process pid is known to have ended: no such process, or one that
// has finished and is only held open by someone. Any other answer keeps its files.
bool HasEnded(long pid)
{
    const HANDLE process = OpenProcess(WaitRight, FALSE, static_cast<DWORD>(pid));
    if (!process) return GetLastError() == ERROR_INVALID_PARAMETER;
    const bool ended = WaitForSingleObject(process, 0) == WAIT_OBJECT_0;
    CloseHandle(process);
    return ended;
}

// Opens path for writing without following a link planted in its place.
HANDLE OpenForWriting(const std::string& path, DWORD disposition)
{
    return CreateFileW(WidePath(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, disposition,
                       FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

} // namespace

std::string GetProgramPath()
{
    std::vector<wchar_t> buffer(PathChars);
    for (;;) {
        const DWORD n =
            GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (n == 0) return {};
        if (n < buffer.size()) return CorePath(std::wstring_view(buffer.data(), n));
        buffer.resize(buffer.size() * 2); // cut short: try again with room
    }
}

bool CopyFileOver(const std::string& from, const std::string& to)
{
    // The copy goes to a sibling first and then takes to's place in one move, so a
    // program file is never left half written.
    std::mt19937_64 rng(std::random_device{}());
    const std::string tmp = to + ".qev-" + std::to_string(GetCurrentProcessId()) + "-" +
                            std::to_string(rng() % 1000000000) + ".tmp";
    const std::wstring wideTmp = WidePath(tmp);
    if (!CopyFileW(WidePath(from).c_str(), wideTmp.c_str(), TRUE)) return false;
    if (MoveFileExW(wideTmp.c_str(), WidePath(to).c_str(),
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return true;
    DeleteFileW(wideTmp.c_str());
    return false;
}

int RemoveStaleCopies(const std::string& to)
{
    const auto slash = to.rfind('/');
    const std::string folder = slash == std::string::npos ? "./" : to.substr(0, slash + 1);
    const std::wstring base = win32::Widen(slash == std::string::npos ? to : to.substr(slash + 1));
    if (base.empty()) return 0;
    // The pattern only narrows the search (it also matches short names); CopyMaker decides.
    const std::wstring pattern =
        WidePath(folder) + base + std::wstring(CopyInfix) + L"*" + std::wstring(CopySuffix);
    WIN32_FIND_DATAW found{};
    const HANDLE search = FindFirstFileW(pattern.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return 0;
    int removed = 0;
    const long self = static_cast<long>(GetCurrentProcessId());
    do {
        const long maker = CopyMaker(found.cFileName, base);
        if (maker <= 0 || maker > INT_MAX || maker == self) continue;
        // Only plain files: no folders, nor links that would point the removal elsewhere.
        if (found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT))
            continue;
        // A maker still running may be copying right now.
        if (!HasEnded(maker)) continue;
        if (DeleteFileW((WidePath(folder) + found.cFileName).c_str())) ++removed;
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return removed;
}

bool CanReplaceFile(const std::string& path)
{
    if (!FileExists(path)) return false;
    // Trying is the only answer that holds for every case (the folder's access list, a
    // read-only medium): make a sibling, as the copy would, and let it go again.
    std::mt19937_64 rng(std::random_device{}());
    const std::string probe = path + ".qev-probe-" + std::to_string(rng() % 1000000000);
    const HANDLE file = CreateFileW(WidePath(probe).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    CloseHandle(file);
    return true;
}

bool DeleteFile(const std::string& path)
{
    return DeleteFileW(WidePath(path).c_str()) != 0;
}

bool FileExists(const std::string& path)
{
    return GetFileAttributesW(WidePath(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool WriteFileAt(const std::string& path, std::int64_t offset, const char* bytes,
                 std::size_t length, PlatformError* error)
{
    const HANDLE file = OpenForWriting(path, OPEN_ALWAYS);
    if (file == INVALID_HANDLE_VALUE)
        return Fail(error, static_cast<int>(GetLastError()), "cannot open the file");
    int result = 0;
    LARGE_INTEGER at{};
    at.QuadPart = offset;
    if (!SetFilePointerEx(file, at, nullptr, FILE_BEGIN)) result = static_cast<int>(GetLastError());
    for (std::size_t done = 0; result == 0 && done < length;) {
        constexpr std::size_t MaxWrite = 1u << 30; // one WriteFile takes a 32-bit count
        DWORD wrote = 0;
        const auto piece = static_cast<DWORD>(std::min(length - done, MaxWrite));
        if (!WriteFile(file, bytes + done, piece, &wrote, nullptr))
            result = static_cast<int>(GetLastError());
        else if (wrote == 0)
            result = ERROR_WRITE_FAULT;
        done += wrote;
    }
    if (!CloseHandle(file) && result == 0) result = static_cast<int>(GetLastError());
    return result == 0 || Fail(error, result, "cannot write the file");
}

bool TruncateFile(const std::string& path)
{
    const HANDLE file = OpenForWriting(path, CREATE_ALWAYS);
    if (file == INVALID_HANDLE_VALUE) return false;
    CloseHandle(file);
    return true;
}

bool MakeOwnerExecutable(const std::string& path)
{
    // Windows runs any file it can read; there is no bit to set.
    return FileExists(path);
}

std::string GetLogFolder()
{
    return "C:/log";
}

} // namespace qev
