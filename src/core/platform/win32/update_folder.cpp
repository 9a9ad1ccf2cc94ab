#include "core/platform/update_folder.h"

#include <windows.h>
#include <ntsecapi.h>
#include <sddl.h>
#include <shlobj.h>

#include <algorithm>
#include <vector>

#include "core/platform/process.h"
#include "core/platform/win32/wide.h"

// windows.h maps CreateFile and DeleteFile to their W forms; ours are qev's own names.
#undef CreateFile
#undef DeleteFile

namespace qev {
namespace {

using win32::CorePath;
using win32::Narrow;
using win32::Widen;
using win32::WidePath;

// Run folders are "run-" and 12 random small letters (56 bits): only the run that made
// one knows its name before it exists.
constexpr std::wstring_view RunPrefix = L"run-";
constexpr std::size_t RunLetters = 12;
constexpr int RunNameTries = 16;
// How often a held run folder is tried again while waiting for its lock.
constexpr DWORD LockRetryMs = 50;
// One ReadFile or WriteFile takes a 32-bit count.
constexpr std::size_t MaxPiece = 1u << 30;
// The copy into a sealed image goes by pieces of this size.
constexpr std::size_t CopyPiece = 1u << 20;
// Our own program is read into memory whole; anything larger is not a program of ours.
constexpr std::int64_t MaxOwnProgram = std::int64_t{1} << 30;
// The longest path the system takes in the "\\?\" form.
constexpr DWORD LongPathChars = 32768;
// The folder handle of a run: listing, attributes and DELETE, the right the lock is about.
// It is asked with a share mode that grants DELETE to nobody else, so while it is open
// no other run can open the folder the same way, nor remove or rename it.
constexpr DWORD LockRights = FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | DELETE | SYNCHRONIZE;
constexpr DWORD LockShare = FILE_SHARE_READ | FILE_SHARE_WRITE;
constexpr DWORD PlainRights = FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | SYNCHRONIZE;
constexpr DWORD PlainShare = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
// Never through a link: the entry itself is opened, and then refused when it is one.
constexpr DWORD FolderFlags = FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT;
// A download: written through its handle; others may read it, and it can be removed while
// open (as on Linux), but nobody else can write it.
constexpr DWORD DownloadShare = FILE_SHARE_READ | FILE_SHARE_DELETE;

HANDLE AsHandle(std::intptr_t value)
{
    return reinterpret_cast<HANDLE>(value);
}

// INVALID_HANDLE_VALUE is -1, OpenFile's "closed".
std::intptr_t AsValue(HANDLE handle)
{
    return reinterpret_cast<std::intptr_t>(handle);
}

OVERLAPPED At(std::int64_t offset)
{
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(static_cast<std::uint64_t>(offset) & 0xFFFFFFFFu);
    at.OffsetHigh = static_cast<DWORD>(static_cast<std::uint64_t>(offset) >> 32);
    return at;
}

// path made absolute, '/' turned into '\', "." and ".." resolved; "" on failure.
std::wstring FullPath(const std::wstring& path)
{
    if (path.empty()) return {};
    std::vector<wchar_t> buffer(LongPathChars);
    const DWORD n =
        GetFullPathNameW(path.c_str(), static_cast<DWORD>(buffer.size()), buffer.data(), nullptr);
    if (n == 0 || n >= buffer.size()) return {};
    return std::wstring(buffer.data(), n);
}

// A full path in the "\\?\" form, which the system takes up to 32,767 characters long
// and as it stands (no trailing dots or blanks dropped, no device names).
std::wstring LongPath(const std::wstring& full)
{
    if (full.rfind(L"\\\\?\\", 0) == 0) return full;
    if (full.rfind(L"\\\\", 0) == 0) return L"\\\\?\\UNC\\" + full.substr(2);
    return L"\\\\?\\" + full;
}

// full without separators at its end, unless it is a drive's root ("C:\").
std::wstring WithoutTrailingSeparators(std::wstring full)
{
    while (full.size() > 3 && full.back() == L'\\') full.pop_back();
    return full;
}

bool SameIgnoringCase(std::wstring_view a, std::wstring_view b)
{
    return a.size() == b.size() &&
           CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(),
                                static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

bool IsRunName(std::wstring_view name)
{
    if (name.size() != RunPrefix.size() + RunLetters ||
        name.substr(0, RunPrefix.size()) != RunPrefix)
        return false;
    return std::all_of(name.begin() + RunPrefix.size(), name.end(),
                       [](wchar_t c) { return c >= L'a' && c <= L'z'; });
}

bool RandomLetters(std::size_t count, std::wstring& out)
{
    out.clear();
    unsigned char bytes[32];
    while (out.size() < count) {
        if (!RtlGenRandom(bytes, sizeof bytes)) return false;
        for (const unsigned char b : bytes)
            if (b < 234 && out.size() < count)
                out += static_cast<wchar_t>(L'a' + b % 26); // 234 = 9 * 26: even odds
    }
    return true;
}

// A name for a file in the folder: one path part, nothing the system would read as a
// separator, a stream, a pattern or a control, and valid UTF-8 (a bad byte would become
// U+FFFD and name another file).
bool IsPlainName(const std::string& name)
{
    if (name.empty() || name == "." || name == "..") return false;
    for (const char c : name) {
        const auto b = static_cast<unsigned char>(c);
        if (b < 0x20 || b == 0x7f ||
            std::string_view("/\\:*?\"<>|").find(c) != std::string_view::npos)
            return false;
    }
    return Narrow(Widen(name)) == name;
}

// The attributes of the entry at path itself; a link reports FILE_ATTRIBUTE_REPARSE_POINT
// here even where a handle opened through it would not (Wine reports a Unix link only here).
bool EntryIs(const std::wstring& path, DWORD want)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
           (attributes & FILE_ATTRIBUTE_DIRECTORY) == want;
}

bool HandleIs(HANDLE handle, DWORD want, BY_HANDLE_FILE_INFORMATION& info)
{
    return GetFileInformationByHandle(handle, &info) &&
           !(info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE)) &&
           (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == want;
}

// A plain file with one name: not a link, a folder or a device, nor reachable by a second
// name that someone else could write through.
bool IsLoneFile(HANDLE handle, BY_HANDLE_FILE_INFORMATION& info)
{
    return HandleIs(handle, 0, info) && info.nNumberOfLinks == 1;
}

// Security attributes that let in this user, the system and the administrators and nobody
// else, inherit nothing from above and hand the same down to what is made inside: what
// mode 0700 is to a POSIX folder.
class PrivateAccess {
public:
    PrivateAccess()
    {
        HANDLE token = nullptr;
        if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return;
        DWORD size = 0;
        GetTokenInformation(token, TokenUser, nullptr, 0, &size);
        std::vector<unsigned char> user(size);
        wchar_t* sid = nullptr;
        if (size > 0 && GetTokenInformation(token, TokenUser, user.data(), size, &size) &&
            ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid, &sid)) {
            const std::wstring text =
                L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FA;;;" + std::wstring(sid) + L")";
            if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(text.c_str(), SDDL_REVISION_1,
                                                                      &descriptor_, nullptr))
                descriptor_ = nullptr;
            LocalFree(sid);
        }
        CloseHandle(token);
    }
    ~PrivateAccess()
    {
        if (descriptor_) LocalFree(descriptor_);
    }
    PrivateAccess(const PrivateAccess&) = delete;
    PrivateAccess& operator=(const PrivateAccess&) = delete;

    // nullptr when the descriptor could not be made.
    SECURITY_ATTRIBUTES* Get()
    {
        if (!descriptor_) return nullptr;
        attributes_ = {sizeof attributes_, descriptor_, FALSE};
        return &attributes_;
    }

private:
    PSECURITY_DESCRIPTOR descriptor_ = nullptr;
    SECURITY_ATTRIBUTES attributes_{};
};

// %LOCALAPPDATA%, full and without a trailing separator; "" when unknown or not absolute.
std::wstring LocalAppData()
{
    std::vector<wchar_t> buffer(LongPathChars);
    const DWORD n =
        GetEnvironmentVariableW(L"LOCALAPPDATA", buffer.data(), static_cast<DWORD>(buffer.size()));
    std::wstring value;
    if (n > 0 && n < buffer.size()) {
        value.assign(buffer.data(), n);
    } else {
        wchar_t known[MAX_PATH + 1] = {};
        if (SUCCEEDED(
                SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, known)))
            value = known;
    }
    // A relative value would put the folder wherever the current folder happens to be.
    const bool drive =
        value.size() >= 3 && value[1] == L':' && (value[2] == L'\\' || value[2] == L'/');
    const bool share = value.size() >= 3 && (value[0] == L'\\' || value[0] == L'/') &&
                       (value[1] == L'\\' || value[1] == L'/');
    if (!drive && !share) return {};
    return WithoutTrailingSeparators(FullPath(value));
}

// Makes the folder at path (private) unless it is there; true when a real folder, not a
// link, stands there now.
bool MakeFolder(const std::wstring& path, PrivateAccess& access)
{
    if (!CreateDirectoryW(LongPath(path).c_str(), access.Get()) &&
        GetLastError() != ERROR_ALREADY_EXISTS)
        return false;
    return EntryIs(LongPath(path), FILE_ATTRIBUTE_DIRECTORY);
}

// Opens the folder at the long path without following a link; with lock, as the run's
// lock. INVALID_HANDLE_VALUE on failure, GetLastError() telling why (ERROR_SHARING_VIOLATION:
// another run holds it).
HANDLE OpenFolder(const std::wstring& path, bool lock)
{
    const HANDLE folder =
        CreateFileW(path.c_str(), lock ? LockRights : PlainRights, lock ? LockShare : PlainShare,
                    nullptr, OPEN_EXISTING, FolderFlags, nullptr);
    if (folder == INVALID_HANDLE_VALUE) return folder;
    // The handle says what was opened; the entry's own attributes say whether a link led
    // there (on Windows the handle shows that too).
    BY_HANDLE_FILE_INFORMATION info{};
    if (!HandleIs(folder, FILE_ATTRIBUTE_DIRECTORY, info) ||
        !EntryIs(path, FILE_ATTRIBUTE_DIRECTORY)) {
        CloseHandle(folder);
        SetLastError(ERROR_DIRECTORY);
        return INVALID_HANDLE_VALUE;
    }
    return folder;
}

// Removes the plain file at path through a handle on that very file, so nothing else is
// removed even if the name changes hands meanwhile. A link, a folder or anything else
// stays: removing a link is the one step here that could reach past the folder where the
// system follows it. True when a file went.
bool RemovePlainFile(const std::wstring& path)
{
    if (!EntryIs(path, 0)) return false;
    const HANDLE file = CreateFileW(path.c_str(), DELETE | FILE_READ_ATTRIBUTES,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    BY_HANDLE_FILE_INFORMATION info{};
    FILE_DISPOSITION_INFO remove{TRUE};
    const bool removed =
        HandleIs(file, 0, info) &&
        SetFileInformationByHandle(file, FileDispositionInfo, &remove, sizeof remove);
    CloseHandle(file);
    return removed;
}

// The names in the folder, read through its own handle: a held run folder cannot be opened
// again by those who do not share the right to delete it (Wine's FindFirstFileW does not).
bool ListFolder(HANDLE folder, std::vector<std::wstring>& names)
{
    std::vector<unsigned char> buffer(64 * 1024);
    FILE_INFO_BY_HANDLE_CLASS kind = FileFullDirectoryRestartInfo;
    for (;;) {
        if (!GetFileInformationByHandleEx(folder, kind, buffer.data(),
                                          static_cast<DWORD>(buffer.size())))
            return GetLastError() == ERROR_NO_MORE_FILES;
        kind = FileFullDirectoryInfo;
        for (std::size_t at = 0;;) {
            const auto* entry = reinterpret_cast<const FILE_FULL_DIR_INFO*>(buffer.data() + at);
            const std::wstring_view name(entry->FileName, entry->FileNameLength / sizeof(wchar_t));
            if (name != L"." && name != L"..") names.emplace_back(name);
            if (entry->NextEntryOffset == 0) break;
            at += entry->NextEntryOffset;
        }
    }
}

// The run folder at path when it lies directly under root: its name and the full path.
bool SplitRunPath(const std::string& path, const std::string& root, std::wstring& name,
                  std::wstring& full)
{
    if (path.empty() || root.empty()) return false;
    full = WithoutTrailingSeparators(FullPath(WidePath(path)));
    const auto cut = full.rfind(L'\\');
    if (cut == std::wstring::npos) return false;
    name = full.substr(cut + 1);
    return IsRunName(name) &&
           SameIgnoringCase(full.substr(0, cut + 1),
                            WithoutTrailingSeparators(FullPath(WidePath(root))) + L"\\");
}

} // namespace

bool OpenFile::WriteAt(std::int64_t offset, const void* bytes, std::size_t length,
                       PlatformError* error)
{
    if (!IsOpen()) return Fail(error, ERROR_INVALID_HANDLE, "the file is not open");
    if (offset < 0) return Fail(error, ERROR_NEGATIVE_SEEK, "a position before the start");
    if (length > static_cast<std::uint64_t>(INT64_MAX - offset))
        return Fail(error, ERROR_INVALID_PARAMETER, "a position past the largest file");
    const auto* from = static_cast<const char*>(bytes);
    for (std::size_t done = 0; done < length;) {
        OVERLAPPED at = At(offset + static_cast<std::int64_t>(done));
        const auto piece = static_cast<DWORD>(std::min(length - done, MaxPiece));
        DWORD wrote = 0;
        if (!WriteFile(AsHandle(handle_), from + done, piece, &wrote, &at))
            return Fail(error, static_cast<int>(GetLastError()), "cannot write the file");
        if (wrote == 0) return Fail(error, ERROR_WRITE_FAULT, "cannot write the file");
        done += wrote;
    }
    return true;
}

std::int64_t OpenFile::ReadAt(std::int64_t offset, void* bytes, std::size_t length) const
{
    if (!IsOpen() || offset < 0) return -1;
    if (length == 0) return 0;
    OVERLAPPED at = At(offset);
    DWORD got = 0;
    if (!ReadFile(AsHandle(handle_), bytes, static_cast<DWORD>(std::min(length, MaxPiece)), &got,
                  &at))
        return GetLastError() == ERROR_HANDLE_EOF ? 0 : -1;
    return got;
}

bool OpenFile::Truncate()
{
    LARGE_INTEGER start{};
    return IsOpen() && SetFilePointerEx(AsHandle(handle_), start, nullptr, FILE_BEGIN) &&
           SetEndOfFile(AsHandle(handle_));
}

std::int64_t OpenFile::Size() const
{
    LARGE_INTEGER size{};
    if (!IsOpen() || !GetFileSizeEx(AsHandle(handle_), &size)) return -1;
    return size.QuadPart;
}

void OpenFile::Close()
{
    if (!IsOpen()) return;
    CloseHandle(AsHandle(handle_));
    handle_ = -1;
}

// What an UpdateFolder holds on Windows. Windows has no openat: files are named by the
// folder's full path, which cannot lead elsewhere while the folder is held, since a
// folder open without FILE_SHARE_DELETE can be neither removed nor renamed.
struct UpdateFolder::Handles {
    // The folder itself, opened once; for a run folder, its lock (LockRights).
    HANDLE folder = INVALID_HANDLE_VALUE;
    bool locked = false;
    // The folder's path in the "\\?\" form, ending with '\', so that a long file name
    // still fits under a long %LOCALAPPDATA%.
    std::wstring entries;
    PrivateAccess access;

    ~Handles()
    {
        if (folder != INVALID_HANDLE_VALUE) CloseHandle(folder);
    }
};

UpdateFolder::UpdateFolder(std::string path, std::unique_ptr<Handles> handles)
    : path_(std::move(path)), handles_(std::move(handles))
{
}

UpdateFolder::~UpdateFolder() = default;

std::string UpdateFolderRoot()
{
    const std::wstring base = LocalAppData();
    if (base.empty()) return {};
    PrivateAccess access;
    if (!access.Get()) return {};
    const std::wstring qev = base + L"\\qev", update = qev + L"\\update";
    if (!MakeFolder(qev, access) || !MakeFolder(update, access)) return {};
    return CorePath(update) + "/";
}

std::unique_ptr<UpdateFolder> UpdateFolder::CreateForRun(PlatformError* error)
{
    const std::string root = UpdateFolderRoot();
    if (root.empty()) {
        Fail(error, 0, "no private folder under %LOCALAPPDATA%");
        return nullptr;
    }
    auto handles = std::make_unique<Handles>();
    if (!handles->access.Get()) {
        Fail(error, static_cast<int>(GetLastError()), "cannot describe private access");
        return nullptr;
    }
    const std::wstring rootPath = LongPath(WidePath(root));
    for (int attempt = 0; attempt < RunNameTries; ++attempt) {
        std::wstring letters;
        if (!RandomLetters(RunLetters, letters)) {
            Fail(error, 0, "no random name");
            return nullptr;
        }
        const std::wstring name = std::wstring(RunPrefix) + letters;
        const std::wstring path = rootPath + name;
        if (!CreateDirectoryW(path.c_str(), handles->access.Get())) {
            const DWORD code = GetLastError();
            if (code == ERROR_ALREADY_EXISTS) continue;
            Fail(error, static_cast<int>(code),
                 "cannot make a run folder (error " + std::to_string(code) + ")");
            return nullptr;
        }
        // Until it is locked another run's clean-up may take the empty folder away: then
        // a new name is tried.
        handles->folder = OpenFolder(path, true);
        if (handles->folder == INVALID_HANDLE_VALUE) {
            if (EntryIs(path, FILE_ATTRIBUTE_DIRECTORY)) RemoveDirectoryW(path.c_str());
            continue;
        }
        handles->locked = true;
        handles->entries = path + L"\\";
        return std::unique_ptr<UpdateFolder>(
            new UpdateFolder(root + Narrow(name) + "/", std::move(handles)));
    }
    Fail(error, ERROR_ALREADY_EXISTS, "no run folder could be made and locked");
    return nullptr;
}

std::unique_ptr<UpdateFolder> UpdateFolder::OpenRunFolder(const std::string& path, int waitMs)
{
    const std::string root = UpdateFolderRoot();
    std::wstring name, full;
    if (!SplitRunPath(path, root, name, full)) return nullptr;
    auto handles = std::make_unique<Handles>();
    const std::wstring longPath = LongPath(full);
    const ULONGLONG end = GetTickCount64() + static_cast<ULONGLONG>(std::max(waitMs, 0));
    for (;;) {
        handles->folder = OpenFolder(longPath, true);
        if (handles->folder != INVALID_HANDLE_VALUE) break;
        const ULONGLONG now = GetTickCount64();
        if (GetLastError() != ERROR_SHARING_VIOLATION || now >= end) return nullptr;
        Sleep(static_cast<DWORD>(std::min<ULONGLONG>(LockRetryMs, end - now)));
    }
    handles->locked = true;
    handles->entries = longPath + L"\\";
    return std::unique_ptr<UpdateFolder>(
        new UpdateFolder(root + Narrow(name) + "/", std::move(handles)));
}

// No partial package is kept on Windows yet: every run starts its package from byte 0.
std::unique_ptr<UpdateFolder> UpdateFolder::OpenPartial(bool, PlatformError* error)
{
    Fail(error, ERROR_NOT_SUPPORTED, "partial packages are not kept on this system");
    return nullptr;
}

OpenFile UpdateFolder::OpenExisting(const std::string&)
{
    return {};
}

bool UpdateFolder::MoveInto(const std::string&, UpdateFolder&, const std::string&)
{
    return false;
}

std::unique_ptr<UpdateFolder> UpdateFolder::OpenPlain(const std::string& path)
{
    const std::wstring full = WithoutTrailingSeparators(FullPath(WidePath(path)));
    if (full.empty()) return nullptr;
    auto handles = std::make_unique<Handles>();
    handles->folder = OpenFolder(LongPath(full), false);
    if (handles->folder == INVALID_HANDLE_VALUE) return nullptr;
    handles->entries = LongPath(full);
    if (handles->entries.back() != L'\\') handles->entries += L'\\';
    std::string core = CorePath(full);
    if (core.back() != '/') core += '/';
    return std::unique_ptr<UpdateFolder>(new UpdateFolder(core, std::move(handles)));
}

OpenFile UpdateFolder::CreateFile(const std::string& name)
{
    if (!handles_ || handles_->folder == INVALID_HANDLE_VALUE || !IsPlainName(name)) return {};
    SECURITY_ATTRIBUTES* access = handles_->access.Get();
    if (!access) return {};
    const std::wstring path = handles_->entries + Widen(name);
    RemovePlainFile(path); // whatever else stands there makes the creation fail
    OpenFile file(AsValue(
        CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, DownloadShare, access, CREATE_NEW,
                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr)));
    BY_HANDLE_FILE_INFORMATION info{};
    if (file.IsOpen() && !IsLoneFile(AsHandle(file.Handle()), info)) file.Close();
    return file;
}

bool UpdateFolder::RemoveFile(const std::string& name)
{
    return handles_ && handles_->folder != INVALID_HANDLE_VALUE && IsPlainName(name) &&
           RemovePlainFile(handles_->entries + Widen(name));
}

bool UpdateFolder::RemoveAll()
{
    if (!handles_ || handles_->folder == INVALID_HANDLE_VALUE) return false;
    std::vector<std::wstring> names;
    bool emptied = ListFolder(handles_->folder, names);
    for (const auto& name : names)
        if (!RemovePlainFile(handles_->entries + name)) emptied = false;
    if (!emptied) return false;
    // A run folder goes through the handle that holds it, so no other run can take it in
    // between; while it cannot go (a file removed while open stays until it is closed) it
    // keeps its lock. A plain folder goes by its name once our handle is closed.
    if (handles_->locked) {
        FILE_DISPOSITION_INFO remove{TRUE};
        if (!SetFileInformationByHandle(handles_->folder, FileDispositionInfo, &remove,
                                        sizeof remove))
            return false;
    }
    CloseHandle(handles_->folder);
    handles_->folder = INVALID_HANDLE_VALUE;
    if (handles_->locked) return true;
    const std::wstring folder = WithoutTrailingSeparators(handles_->entries);
    return EntryIs(folder, FILE_ATTRIBUTE_DIRECTORY) && RemoveDirectoryW(folder.c_str());
}

int UpdateFolder::RemoveAbandonedRunFolders(std::string& left)
{
    left.clear();
    const std::string root = UpdateFolderRoot();
    if (root.empty()) return 0;
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found{};
    const HANDLE search = FindFirstFileW((LongPath(WidePath(root)) + L"*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return 0;
    do {
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
            !(found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) && IsRunName(found.cFileName))
            names.emplace_back(found.cFileName);
    } while (FindNextFileW(search, &found));
    FindClose(search);
    int removed = 0;
    for (const auto& name : names) {
        // A run that still lives holds the lock, and the folder is not opened at all.
        const auto folder = UpdateFolder::OpenRunFolder(root + Narrow(name), 0);
        if (folder && folder->RemoveAll()) ++removed;
    }
    return removed;
}

std::optional<SealedProgram> SealedProgram::Seal(const OpenFile& from, std::int64_t size,
                                                 const std::string& name, UpdateFolder& folder,
                                                 PlatformError* error)
{
    const std::string fileName = "update" + name;
    if (!from.IsOpen() || size < 0) {
        Fail(error, 0, "nothing to seal");
        return std::nullopt;
    }
    // Windows starts no program from a path of MAX_PATH characters or more, "\\?\" form
    // or not: such a copy could never run.
    if (FullPath(WidePath(folder.Path() + fileName)).size() >= MAX_PATH) {
        Fail(error, ERROR_FILENAME_EXCED_RANGE, "the program's path is too long to start");
        return std::nullopt;
    }
    OpenFile copy = folder.CreateFile(fileName);
    if (!copy.IsOpen()) {
        Fail(error, static_cast<int>(GetLastError()), "cannot make " + fileName);
        return std::nullopt;
    }
    // code: the failed call's, taken before the clean-up calls put theirs in its place.
    const auto fail = [&](const char* why, DWORD code) {
        copy.Close();
        folder.RemoveFile(fileName);
        Fail(error, static_cast<int>(code), why);
        return std::nullopt;
    };
    std::vector<char> buffer(CopyPiece);
    for (std::int64_t done = 0; done < size;) {
        const auto want = static_cast<std::size_t>(
            std::min<std::int64_t>(static_cast<std::int64_t>(buffer.size()), size - done));
        const std::int64_t got = from.ReadAt(done, buffer.data(), want);
        if (got < 0) return fail("cannot read the program", GetLastError());
        if (got == 0) return fail("the program is shorter than its size", 0);
        if (PlatformError writeError;
            !copy.WriteAt(done, buffer.data(), static_cast<std::size_t>(got), &writeError))
            return fail("cannot write the copy", static_cast<DWORD>(writeError.code));
        done += got;
    }
    BY_HANDLE_FILE_INFORMATION written{};
    if (!FlushFileBuffers(AsHandle(copy.Handle())) ||
        !GetFileInformationByHandle(AsHandle(copy.Handle()), &written))
        return fail("cannot write the copy", GetLastError());
    copy.Close();

    // Writing is over. The copy is opened again to read only, sharing reading only: from
    // now on no process can write, rename or remove it while this object holds it. It
    // must be the very file just written, with nothing added.
    const std::wstring path = LongPath(WidePath(folder.Path() + fileName));
    OpenFile image(AsValue(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                       OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr)));
    if (!image.IsOpen()) return fail("cannot hold the copy", GetLastError());
    BY_HANDLE_FILE_INFORMATION held{};
    if (!IsLoneFile(AsHandle(image.Handle()), held) ||
        held.dwVolumeSerialNumber != written.dwVolumeSerialNumber ||
        held.nFileIndexHigh != written.nFileIndexHigh ||
        held.nFileIndexLow != written.nFileIndexLow || image.Size() != size) {
        Fail(error, 0, "the copy changed before it was held");
        return std::nullopt; // not ours to remove any more
    }
    SealedProgram sealed;
    sealed.image_ = std::move(image);
    sealed.size_ = size;
    sealed.name_ = folder.Path() + fileName;
    return sealed;
}

std::optional<int> SealedProgram::Start(std::string_view commandLine, PlatformError* error) const
{
    if (!image_.IsOpen()) {
        Fail(error, ERROR_INVALID_HANDLE, "the sealed copy could not be started");
        return std::nullopt;
    }
    // Started by name while the handle is held: the name cannot lead to other bytes.
    PlatformError failed;
    const std::optional<int> pid = StartProcess(commandLine, name_, &failed);
    if (!pid) Fail(error, failed.code, "the sealed copy could not be started");
    return pid;
}

bool ReadOwnProgram(std::string& bytes)
{
    std::vector<wchar_t> buffer(LongPathChars);
    const DWORD n = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n == 0 || n >= buffer.size()) return false;
    // A running image can be read, never written; others may still rename it meanwhile.
    const std::wstring path = LongPath(FullPath(std::wstring(buffer.data(), n)));
    OpenFile program(
        AsValue(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)));
    const std::int64_t size = program.Size();
    if (size < 0 || size > MaxOwnProgram) return false;
    std::string read(static_cast<std::size_t>(size), '\0');
    for (std::int64_t done = 0; done < size;) {
        const std::int64_t got =
            program.ReadAt(done, read.data() + done, static_cast<std::size_t>(size - done));
        if (got <= 0) return false;
        done += got;
    }
    bytes = std::move(read);
    return true;
}

bool WriteFileOver(std::string_view bytes, const std::string& to)
{
    const std::wstring target = FullPath(WidePath(to));
    std::uint32_t random = 0;
    if (target.empty() || !RtlGenRandom(&random, sizeof random)) return false;
    // The sibling's name is the one CopyFileOver gives, so RemoveStaleCopies knows it.
    const std::wstring tmp = LongPath(target + L".qev-" + std::to_wstring(GetCurrentProcessId()) +
                                      L"-" + std::to_wstring(random % 1000000000) + L".tmp");
    OpenFile file(
        AsValue(CreateFileW(tmp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                            FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr)));
    if (!file.IsOpen()) return false;
    const bool written =
        file.WriteAt(0, bytes.data(), bytes.size()) && FlushFileBuffers(AsHandle(file.Handle()));
    file.Close();
    if (written && MoveFileExW(tmp.c_str(), LongPath(target).c_str(),
                               MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return true;
    DeleteFileW(tmp.c_str());
    return false;
}

} // namespace qev
