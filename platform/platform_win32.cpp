// The Windows services the tool uses. This is the only file of the tool that includes <windows.h>;
// wchar_t is a UTF-16 code unit here, so text passes between std::u16string and the wide API
// unit by unit without any conversion of content.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
// windows.h first: the shell and security headers depend on its types.
#include <aclapi.h>
#include <fcntl.h>
#include <io.h>
#include <objbase.h>
#include <sddl.h>
#include <shellapi.h>
#include <shlobj.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <cwchar>
#include <limits>
#include <string>

#include "platform/platform.h"
#include "platform/save_temporary.h"

static_assert(sizeof(wchar_t) == sizeof(char16_t), "the Windows wide API works in UTF-16 code units");

namespace platform {

namespace {

std::wstring Wide(std::u16string_view text) {
    return std::wstring(text.begin(), text.end());
}

std::u16string Utf16(std::wstring_view text) {
    return std::u16string(text.begin(), text.end());
}

// The C library's errno value closest to a Windows error code, so that callers can report a failed
// file operation through SystemErrorText like any other C library failure.
int ErrnoFromWindowsError(DWORD error) {
    switch (error) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_DRIVE:
        case ERROR_BAD_NETPATH:
        case ERROR_BAD_NET_NAME:
        case ERROR_BAD_PATHNAME:
        case ERROR_INVALID_NAME:
        case ERROR_DIRECTORY:
            return ENOENT;
        case ERROR_FILENAME_EXCED_RANGE:
            return ENAMETOOLONG;
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
        case ERROR_WRITE_PROTECT:
        case ERROR_CURRENT_DIRECTORY:
        case ERROR_NETWORK_ACCESS_DENIED:
            return EACCES;
        case ERROR_FILE_EXISTS:
        case ERROR_ALREADY_EXISTS:
            return EEXIST;
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL:
            return ENOSPC;
        case ERROR_NOT_ENOUGH_MEMORY:
        case ERROR_OUTOFMEMORY:
            return ENOMEM;
        case ERROR_NOT_SAME_DEVICE:
            return EXDEV;
        default:
            return EIO;
    }
}

void SetErrnoFromLastError() {
    errno = ErrnoFromWindowsError(::GetLastError());
}

// Writes all bytes to an open file; ReadFile/WriteFile take at most a DWORD per call.
bool WriteAll(HANDLE file, std::string_view bytes) {
    while (!bytes.empty()) {
        const DWORD chunk =
            static_cast<DWORD>(std::min<std::size_t>(bytes.size(), std::numeric_limits<DWORD>::max()));
        DWORD written = 0;
        if (!::WriteFile(file, bytes.data(), chunk, &written, nullptr))
            return false;
        if (written == 0) {
            ::SetLastError(ERROR_HANDLE_DISK_FULL);
            return false;
        }
        bytes.remove_prefix(written);
    }
    return true;
}

// The temporaries of a save: the stem (save_temporary.h), the writer's process id in 8 hex digits
// and a counter in 4, then ".tmp": "~CommonConfig.xml.lumvar-00001a2b0000.tmp". The process id tells
// a later save whether the writer still runs.
constexpr std::size_t kUniqueLength = 12;
constexpr std::wstring_view kTemporarySuffix = L".tmp";

// The folder of a save's target, opened only to ask about it ("" is the working folder).
HANDLE OpenFolderToQuery(const std::wstring& folder) {
    return ::CreateFileW(folder.empty() ? L"." : folder.c_str(), FILE_READ_ATTRIBUTES,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                         FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

// The longest name the folder's volume takes, in UTF-16 units; 255 where it does not say.
std::size_t LongestName(const std::wstring& folder) {
    const HANDLE handle = OpenFolderToQuery(folder);
    DWORD longest = 0;
    if (handle != INVALID_HANDLE_VALUE) {
        if (!::GetVolumeInformationByHandleW(handle, nullptr, 0, nullptr, &longest, nullptr, nullptr, 0))
            longest = 0;
        ::CloseHandle(handle);
    }
    return longest > 0 ? longest : 255;
}

std::wstring TemporaryStem(const std::wstring& folder, std::wstring_view name) {
    return save_temporary::Stem<wchar_t>(name, L'~', LongestName(folder), kUniqueLength,
                                         kTemporarySuffix.size());
}

std::wstring Hex(std::uint32_t value, int digits) {
    std::wstring text;
    for (int shift = 4 * (digits - 1); shift >= 0; shift -= 4)
        text.push_back(L"0123456789abcdef"[(value >> shift) & 15]);
    return text;
}

// A new, empty file beside the target whose name no other writer uses: the process id and a
// counter make it unique within the machine, CREATE_NEW guarantees it was not there before.
HANDLE CreateTemporaryBeside(const std::wstring& folder, const std::wstring& stem, std::wstring& temporary) {
    static std::atomic<unsigned> counter{0};
    for (int attempt = 0; attempt < 100; ++attempt) {
        temporary = folder + stem + Hex(::GetCurrentProcessId(), 8) + Hex(counter++, 4) +
                    std::wstring(kTemporarySuffix);
        const HANDLE file = ::CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                          FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE)
            return file;
        const DWORD error = ::GetLastError();
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS)
            return INVALID_HANDLE_VALUE;
    }
    ::SetLastError(ERROR_FILE_EXISTS);
    return INVALID_HANDLE_VALUE;
}

// True when the process that wrote a temporary still runs (or cannot be told apart from one that
// does: another account's process, or this process itself).
bool WriterRuns(std::wstring_view unique) {
    const DWORD id = std::wcstoul(std::wstring(unique.substr(0, 8)).c_str(), nullptr, 16);
    if (id == ::GetCurrentProcessId())
        return true;
    const HANDLE process = ::OpenProcess(SYNCHRONIZE, FALSE, id);
    if (process == nullptr)
        return ::GetLastError() != ERROR_INVALID_PARAMETER;
    const bool running = ::WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
    ::CloseHandle(process);
    return running;
}

// Removes what saves of the same file left behind when their processes were killed between making
// their temporary files and replacing the file: a stale temporary holds either old or half-written
// bytes and must not stay beside the file (a later copy of the folder would carry it along). A
// temporary whose writer still runs stays; so does one that anything else holds open (it is opened
// without sharing and deleted as that handle closes).
void RemoveStaleTemporaries(const std::wstring& folder, const std::wstring& stem) {
    WIN32_FIND_DATAW entry{};
    const HANDLE search = ::FindFirstFileW((folder + stem + L"*").c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE)
        return;
    do {
        const std::wstring_view name(entry.cFileName);
        if ((entry.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0 ||
            !save_temporary::IsTemporary<wchar_t>(name, stem, kUniqueLength, kTemporarySuffix) ||
            WriterRuns(name.substr(stem.size(), kUniqueLength)))
            continue;
        const HANDLE stale =
            ::CreateFileW((folder + std::wstring(name)).c_str(), DELETE, 0, nullptr, OPEN_EXISTING,
                          FILE_FLAG_DELETE_ON_CLOSE | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
        if (stale != INVALID_HANDLE_VALUE)
            ::CloseHandle(stale);
    } while (::FindNextFileW(search, &entry));
    ::FindClose(search);
}

// 0 when an open handle is a file on a disk; else the errno to report (a device, a pipe, a folder).
int NotRegularError(HANDLE file) {
    if (::GetFileType(file) != FILE_TYPE_DISK)
        return kErrorNotRegularFile;
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(file, &info))
        return ErrnoFromWindowsError(::GetLastError());
    return (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? EISDIR : 0;
}

// Gives the new file the attributes of the file it replaces (hidden, system, archive, not indexed).
// ReplaceFileW carries them over on Windows itself, with the security descriptor and the streams;
// Wine's only renames the file, so the attributes are set here first. (Wine keeps a file's rights as
// its Unix mode, which no Win32 call copies faithfully: a DACL written back comes out as 0775.)
void CopyAttributes(const std::wstring& from, HANDLE to) {
    constexpr DWORD kCarried = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                               FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
    const DWORD attributes = ::GetFileAttributesW(from.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & kCarried) == 0)
        return;
    // Times of 0 are left as they are.
    FILE_BASIC_INFO basic{};
    basic.FileAttributes = attributes & kCarried;
    ::SetFileInformationByHandle(to, FileBasicInfo, &basic, sizeof basic);
}

// The path of an open file or folder as the system resolves it, links followed. Empty when the
// system cannot say.
std::wstring FinalPath(HANDLE handle) {
    std::wstring path(MAX_PATH, L'\0');
    for (int attempt = 0; attempt < 2; ++attempt) {
        const DWORD length = ::GetFinalPathNameByHandleW(handle, path.data(), static_cast<DWORD>(path.size()),
                                                         FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
        if (length == 0)
            return {};
        if (length < path.size()) {
            path.resize(length);
            return path;
        }
        path.assign(length + 1, L'\0');
    }
    return {};
}

// True when an open file is not the entry name of folder but what a link there points to. Wine
// shows a Unix symbolic link as the file it points to, without a reparse point: only the resolved
// path tells the two apart. Letter case is ignored; when the system cannot resolve the paths the
// file is taken for what its attributes say.
bool ResolvesElsewhere(HANDLE file, const std::wstring& folder, const std::wstring& name) {
    const HANDLE parent = OpenFolderToQuery(folder);
    if (parent == INVALID_HANDLE_VALUE)
        return false;
    std::wstring expected = FinalPath(parent);
    ::CloseHandle(parent);
    const std::wstring actual = FinalPath(file);
    if (expected.empty() || actual.empty())
        return false;
    if (expected.back() != L'\\')
        expected += L'\\';
    expected += name;
    return ::CompareStringOrdinal(expected.c_str(), static_cast<int>(expected.size()), actual.c_str(),
                                  static_cast<int>(actual.size()), TRUE) != CSTR_EQUAL;
}

// What a save finds at its target's path.
enum class Existing { None, File, Link };

// Looks at the target without opening what a link points to: a link is replaced itself, never
// written through. False, with errno set, for anything else than a file, a link or nothing.
bool ExaminePath(const std::wstring& target, const std::wstring& folder, const std::wstring& name,
                 Existing& existing) {
    const HANDLE file = ::CreateFileW(
        target.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
        OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD error = ::GetLastError();
        existing = Existing::None;
        // A missing file is made; a missing folder fails when the temporary is made in it.
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
            return true;
        errno = ErrnoFromWindowsError(error);
        return false;
    }
    BY_HANDLE_FILE_INFORMATION info{};
    const bool link = ::GetFileInformationByHandle(file, &info) &&
                      ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ||
                       ResolvesElsewhere(file, folder, name));
    const int error = link ? 0 : NotRegularError(file);
    ::CloseHandle(file);
    if (error != 0) {
        errno = error;
        return false;
    }
    existing = link ? Existing::Link : Existing::File;
    return true;
}

}  // namespace

void HideConsole() {
    const HWND console = ::GetConsoleWindow();
    if (console != nullptr)
        ::ShowWindow(console, SW_HIDE);
}

// The tool has no class library to start. What it needs before a job runs:
// - no dialog may ever stop an unattended run: a missing disk, a file that cannot be opened or a
//   crash is reported as an error, never in a message box (the command interpreters the tool
//   starts inherit this error mode);
// - its own module handle and command line, the inputs a framework start-up would take, must be
//   there;
// - COM must be initialised on the thread that calls ShellExecuteExW, as the shell requires.
// A failure of any of these makes the tool end with exit code 1 before it looks at its arguments.
bool InitializeFramework() {
    ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
    if (::GetModuleHandleW(nullptr) == nullptr)
        return false;
    const wchar_t* commandLine = ::GetCommandLineW();
    if (commandLine == nullptr)
        return false;
    // The COM library stays initialised until the process ends.
    const HRESULT com = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    return SUCCEEDED(com);
}

std::u16string CommonAppDataFolder() {
    wchar_t buffer[MAX_PATH] = {};
    if (!::SHGetSpecialFolderPathW(nullptr, buffer, CSIDL_COMMON_APPDATA, TRUE))
        return {};
    return Utf16(buffer);
}

PathState PathStateOf(const std::u16string& path) {
    // The system would test only the part before a NUL, another path.
    if (path.find(u'\0') != std::u16string::npos)
        return PathState::Unknown;
    if (::GetFileAttributesW(Wide(path).c_str()) != INVALID_FILE_ATTRIBUTES)
        return PathState::Present;
    const DWORD error = ::GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
        return PathState::Missing;
    return PathState::Unknown;
}

std::u16string AbsolutePath(const std::u16string& path) {
    if (path.empty() || path.find(u'\0') != std::u16string::npos)
        return {};
    const auto separator = [](char16_t c) { return c == u'\\' || c == u'/'; };
    const auto letter = [](char16_t c) { return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z'); };
    const bool onDrive = path.size() >= 3 && letter(path[0]) && path[1] == u':' && separator(path[2]);
    const bool network = path.size() >= 2 && separator(path[0]) && separator(path[1]);
    if (onDrive || network)
        return path;
    const std::wstring relative = Wide(path);
    std::wstring full;
    DWORD needed = ::GetFullPathNameW(relative.c_str(), 0, nullptr, nullptr);
    // A second round only when the working folder changed between the two calls.
    for (int attempt = 0; attempt < 2 && needed != 0; ++attempt) {
        full.assign(needed, L'\0');
        const DWORD length = ::GetFullPathNameW(relative.c_str(), needed, full.data(), nullptr);
        if (length == 0)
            return {};
        if (length < needed) {
            full.resize(length);
            return Utf16(full);
        }
        needed = length;
    }
    return {};
}

namespace {

// A path without separators at its end (a drive's root keeps its own): "link\\" may name what the
// link points to, "link" names the link itself.
std::wstring EntryPath(const std::u16string& path) {
    std::wstring native = Wide(path);
    while (native.size() > 1 && (native.back() == L'\\' || native.back() == L'/') &&
           !(native.size() == 3 && native[1] == L':'))
        native.pop_back();
    return native;
}

EntryKind KindOfAttributes(DWORD attributes) {
    // Symbolic links, junctions and every other kind of reparse point alike: none is followed.
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0)
        return EntryKind::Link;
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
        return EntryKind::Folder;
    if ((attributes & FILE_ATTRIBUTE_DEVICE) != 0)
        return EntryKind::Other;
    return EntryKind::File;
}

// The security identifier of the account this process runs as, in SDDL's string form; empty when
// it cannot be read.
std::wstring RunningAccountSid() {
    HANDLE token = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token))
        return {};
    std::wstring text;
    DWORD size = 0;
    ::GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    std::string buffer(size, '\0');
    wchar_t* sid = nullptr;
    if (size != 0 && ::GetTokenInformation(token, TokenUser, buffer.data(), size, &size) &&
        ::ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid, &sid)) {
        text = sid;
        ::LocalFree(sid);
    }
    ::CloseHandle(token);
    return text;
}

// SYSTEM, Administrators, or the account this process runs as.
bool IsTrustedOwner(PSID owner) {
    if (owner == nullptr || !::IsValidSid(owner))
        return false;
    if (::IsWellKnownSid(owner, WinLocalSystemSid) || ::IsWellKnownSid(owner, WinBuiltinAdministratorsSid))
        return true;
    wchar_t* text = nullptr;
    if (!::ConvertSidToStringSidW(owner, &text))
        return false;
    const std::wstring account = RunningAccountSid();
    const bool running = !account.empty() && account == text;
    ::LocalFree(text);
    return running;
}

// Who may open the backup folder: full control for SYSTEM, Administrators and the running account,
// each inherited by every file and folder created below (OICI); "P" protects the list from the
// entries of the parent, which on the common application-data folder let every user add files.
std::wstring ProtectedFolderRights() {
    const std::wstring account = RunningAccountSid();
    if (account.empty())
        return {};
    return L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FA;;;" + account + L")";
}

// The folder itself, opened without following a reparse point at its place, held so that it cannot
// be renamed or removed while open; INVALID_HANDLE_VALUE when it is no folder, is a reparse point,
// or is owned by anyone untrusted.
HANDLE OpenTrustedFolder(const std::wstring& folder, DWORD access) {
    // Wine opens what a Unix link points to even when asked for the link itself, but reports the
    // link to a folder as a reparse point in its attributes: both are asked.
    const DWORD attributes = ::GetFileAttributesW(folder.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || KindOfAttributes(attributes) != EntryKind::Folder)
        return INVALID_HANDLE_VALUE;
    const HANDLE handle =
        ::CreateFileW(folder.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                      FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return handle;
    BY_HANDLE_FILE_INFORMATION information{};
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    const bool trusted = ::GetFileInformationByHandle(handle, &information) &&
                         KindOfAttributes(information.dwFileAttributes) == EntryKind::Folder &&
                         ::GetSecurityInfo(handle, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner,
                                           nullptr, nullptr, nullptr, &descriptor) == ERROR_SUCCESS &&
                         IsTrustedOwner(owner);
    if (descriptor != nullptr)
        ::LocalFree(descriptor);
    if (trusted)
        return handle;
    ::CloseHandle(handle);
    return INVALID_HANDLE_VALUE;
}

}  // namespace

EntryKind EntryKindOf(const std::u16string& path) {
    const DWORD attributes = ::GetFileAttributesW(EntryPath(path).c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES)
        return KindOfAttributes(attributes);
    const DWORD error = ::GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? EntryKind::Missing
                                                                          : EntryKind::Unknown;
}

bool ListEntryKinds(const std::u16string& folder,
                    const std::function<void(const std::u16string& name, EntryKind kind)>& visit) {
    std::wstring pattern = Wide(folder);
    if (pattern.empty() || (pattern.back() != L'\\' && pattern.back() != L'/'))
        pattern += L'\\';
    pattern += L'*';
    WIN32_FIND_DATAW entry{};
    const HANDLE search = ::FindFirstFileW(pattern.c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE)
        return ::GetLastError() == ERROR_FILE_NOT_FOUND;  // a folder without entries (a drive's root)
    do {
        const std::wstring_view name(entry.cFileName);
        if (name == L"." || name == L"..")
            continue;
        visit(Utf16(name), KindOfAttributes(entry.dwFileAttributes));
    } while (::FindNextFileW(search, &entry));
    // A listing that stopped part way never passes for a folder read whole.
    const bool listed = ::GetLastError() == ERROR_NO_MORE_FILES;
    ::FindClose(search);
    return listed;
}

bool CreateProtectedFolder(const std::u16string& path) {
    const std::wstring folder = EntryPath(path);
    const std::wstring rights = ProtectedFolderRights();
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (rights.empty() || !::ConvertStringSecurityDescriptorToSecurityDescriptorW(
                              rights.c_str(), SDDL_REVISION_1, &descriptor, nullptr))
        return false;
    SECURITY_ATTRIBUTES security{};
    security.nLength = sizeof(security);
    security.lpSecurityDescriptor = descriptor;
    security.bInheritHandle = FALSE;
    const bool created = ::CreateDirectoryW(folder.c_str(), &security) != 0;
    bool ok = created || ::GetLastError() == ERROR_ALREADY_EXISTS;
    // Whatever is there now is examined through one handle of the folder itself, held until its
    // rights are set, so that it cannot be swapped for a link in between.
    const HANDLE handle = ok ? OpenTrustedFolder(folder, READ_CONTROL | WRITE_DAC) : INVALID_HANDLE_VALUE;
    ok = handle != INVALID_HANDLE_VALUE;
    if (ok && !created) {
        // An earlier folder gets the rights again; the system passes them on to what lies below.
        BOOL present = FALSE;
        BOOL defaulted = FALSE;
        PACL dacl = nullptr;
        ok = ::GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted) && present &&
             ::SetNamedSecurityInfoW(const_cast<wchar_t*>(folder.c_str()), SE_FILE_OBJECT,
                                     DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION, nullptr,
                                     nullptr, dacl, nullptr) == ERROR_SUCCESS;
    }
    if (handle != INVALID_HANDLE_VALUE)
        ::CloseHandle(handle);
    ::LocalFree(descriptor);
    if (!ok && created)
        ::RemoveDirectoryW(folder.c_str());
    return ok;
}

bool IsTrustedFolder(const std::u16string& path) {
    const HANDLE handle = OpenTrustedFolder(EntryPath(path), READ_CONTROL);
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    ::CloseHandle(handle);
    return true;
}

bool FindMatchingEntries(const std::u16string& pattern,
                         const std::function<void(const std::u16string& name)>& visit) {
    WIN32_FIND_DATAW entry{};
    const HANDLE search = ::FindFirstFileW(Wide(pattern).c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE) {
        // Nothing matches, or the folder (or one on its way) is not there; anything else (access
        // denied, a name the system refuses, an unreachable share) leaves the folder unread.
        const DWORD error = ::GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND || error == ERROR_NO_MORE_FILES;
    }
    bool more = true;
    while (more) {
        const std::wstring_view name(entry.cFileName);
        if (name != L"." && name != L"..")
            visit(Utf16(name));
        more = ::FindNextFileW(search, &entry) != 0;
    }
    const bool listed = ::GetLastError() == ERROR_NO_MORE_FILES;
    ::FindClose(search);
    return listed;
}

namespace {

// The system folder, ending in a backslash; empty when it cannot be read.
std::wstring SystemFolder() {
    const UINT needed = ::GetSystemDirectoryW(nullptr, 0);
    if (needed == 0)
        return {};
    std::wstring folder(needed, L'\0');
    const UINT length = ::GetSystemDirectoryW(folder.data(), needed);
    if (length == 0 || length >= needed)
        return {};
    folder.resize(length);
    if (folder.back() != L'\\')
        folder += L'\\';
    return folder;
}

}  // namespace

// The interpreter is named by its full path in the system folder, never found through the search
// path: an installer often starts the tool from a folder that other users can write to, and a
// "cmd.exe" planted there would otherwise run with the installer's rights.
std::u16string CommandInterpreterPath() {
    const std::wstring folder = SystemFolder();
    if (folder.empty())
        return {};
    return Utf16(folder) + u"cmd.exe";
}

bool RunCommandInterpreter(const std::u16string& parameters, std::uint32_t& exitCode) {
    // The interpreter looks a command up in its working folder before the search path. Started in
    // the system folder, it finds the system's own XCOPY there, whatever lies in the tool's working
    // folder (often a downloads folder that other users can write to).
    const std::wstring folder = SystemFolder();
    if (folder.empty())
        return false;
    const std::wstring file = folder + L"cmd.exe";
    const std::wstring arguments = Wide(parameters);

    SHELLEXECUTEINFOW launch{};
    launch.cbSize = sizeof(launch);
    // A process handle must come back; the call returns only once the launch is complete, and it
    // never shows an error dialog of its own.
    launch.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI;
    launch.hwnd = nullptr;
    launch.lpVerb = nullptr;
    launch.lpFile = file.c_str();
    launch.lpParameters = arguments.c_str();
    launch.lpDirectory = folder.c_str();
    launch.nShow = SW_HIDE;
    if (!::ShellExecuteExW(&launch) || launch.hProcess == nullptr)
        return false;

    DWORD code = 0;
    const bool finished = ::WaitForSingleObject(launch.hProcess, INFINITE) == WAIT_OBJECT_0 &&
                          ::GetExitCodeProcess(launch.hProcess, &code);
    ::CloseHandle(launch.hProcess);
    if (!finished)
        return false;
    exitCode = code;
    return true;
}

bool RenameNoReplace(const std::u16string& from, const std::u16string& to) {
    if (::MoveFileW(Wide(from).c_str(), Wide(to).c_str()))
        return true;
    SetErrnoFromLastError();
    return false;
}

bool ReadFileExclusive(const std::u16string& path, std::string& bytes) {
    const HANDLE file = ::CreateFileW(Wide(path).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    // A device or pipe is refused at once.
    LARGE_INTEGER size{};
    bool ok = NotRegularError(file) == 0 && ::GetFileSizeEx(file, &size) && size.QuadPart >= 0 &&
              static_cast<unsigned long long>(size.QuadPart) <= bytes.max_size();
    if (ok) {
        bytes.assign(static_cast<std::size_t>(size.QuadPart), '\0');
        std::size_t done = 0;
        while (done < bytes.size()) {
            const DWORD chunk = static_cast<DWORD>(
                std::min<std::size_t>(bytes.size() - done, std::numeric_limits<DWORD>::max()));
            DWORD got = 0;
            if (!::ReadFile(file, bytes.data() + done, chunk, &got, nullptr)) {
                ok = false;
                break;
            }
            if (got == 0)
                break;
            done += got;
        }
        bytes.resize(done);
    }
    ::CloseHandle(file);
    return ok;
}

void SleepMilliseconds(unsigned milliseconds) {
    ::Sleep(milliseconds);
}

std::FILE* OpenFile(const std::u16string& path, const char* mode) {
    const bool reading = mode[0] == 'r';
    // Opened as _wfopen opens (others may read and write meanwhile), then examined before a
    // writer's file is emptied: only a file on a disk becomes a stream.
    const HANDLE file = ::CreateFileW(Wide(path).c_str(), reading ? GENERIC_READ : GENERIC_WRITE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                      reading ? OPEN_EXISTING : OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        SetErrnoFromLastError();
        return nullptr;
    }
    int error = NotRegularError(file);
    if (error == 0 && !reading && !::SetEndOfFile(file))
        error = ErrnoFromWindowsError(::GetLastError());
    const int descriptor = error == 0
                               ? ::_open_osfhandle(reinterpret_cast<std::intptr_t>(file),
                                                   reading ? _O_RDONLY | _O_BINARY : _O_WRONLY | _O_BINARY)
                               : -1;
    if (descriptor < 0) {
        ::CloseHandle(file);
        errno = error != 0 ? error : EMFILE;
        return nullptr;
    }
    std::FILE* stream = ::_fdopen(descriptor, mode);
    if (stream == nullptr) {
        const int saved = errno;
        ::_close(descriptor);
        errno = saved;
    }
    return stream;
}

bool FileLength(std::FILE* file, std::uint64_t& length) {
    const auto handle = reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(file)));
    LARGE_INTEGER size{};
    if (handle == INVALID_HANDLE_VALUE || !::GetFileSizeEx(handle, &size) || size.QuadPart < 0) {
        SetErrnoFromLastError();
        return false;
    }
    length = static_cast<std::uint64_t>(size.QuadPart);
    return true;
}

bool ReplaceFileContents(const std::u16string& path, std::string_view bytes) {
    const std::wstring target = Wide(path);
    const std::size_t cut = target.find_last_of(L"\\/");
    const std::wstring folder = cut == std::wstring::npos ? std::wstring() : target.substr(0, cut + 1);
    const std::wstring name = cut == std::wstring::npos ? target : target.substr(cut + 1);
    Existing existing = Existing::None;
    if (!ExaminePath(target, folder, name, existing))
        return false;

    const std::wstring stem = TemporaryStem(folder, name);
    std::wstring temporary;
    const HANDLE file = CreateTemporaryBeside(folder, stem, temporary);
    if (file == INVALID_HANDLE_VALUE) {
        SetErrnoFromLastError();
        return false;
    }
    if (existing == Existing::File)
        CopyAttributes(target, file);
    bool ok = WriteAll(file, bytes) && ::FlushFileBuffers(file);
    DWORD error = ok ? ERROR_SUCCESS : ::GetLastError();
    if (!::CloseHandle(file) && ok) {
        ok = false;
        error = ::GetLastError();
    }
    // Set when the replaced file is gone and the temporary holds the only copy of the text.
    bool onlyCopy = false;
    if (ok && existing == Existing::File) {
        // The replaced file's security descriptor, attributes and streams pass to the new one.
        if (!::ReplaceFileW(target.c_str(), temporary.c_str(), nullptr, REPLACEFILE_WRITE_THROUGH, nullptr,
                            nullptr)) {
            error = ::GetLastError();
            // The file was removed meanwhile, or removed without the new one taking its place: the
            // new one is moved there as for a file that did not exist.
            ok = (error == ERROR_FILE_NOT_FOUND || error == ERROR_UNABLE_TO_MOVE_REPLACEMENT) &&
                 ::GetFileAttributesW(target.c_str()) == INVALID_FILE_ATTRIBUTES;
            onlyCopy = ok && error == ERROR_UNABLE_TO_MOVE_REPLACEMENT;
            existing = ok ? Existing::None : existing;
        }
    }
    // A file that did not exist is made; a link is replaced by the file, never written through.
    if (ok && existing != Existing::File &&
        !::MoveFileExW(temporary.c_str(), target.c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        ok = false;
        error = ::GetLastError();
    }
    if (ok) {
        RemoveStaleTemporaries(folder, stem);
        return true;
    }
    if (!onlyCopy)
        ::DeleteFileW(temporary.c_str());
    errno = ErrnoFromWindowsError(error);
    return false;
}

std::u16string SystemErrorText(int errorNumber) {
    if (errorNumber == kErrorNotRegularFile)
        return u"Not a regular file";
    const wchar_t* message = ::_wcserror(errorNumber);
    if (message == nullptr)
        return {};
    std::u16string text = Utf16(message);
    const std::size_t cut = text.find_first_of(u"\r\n");
    if (cut != std::u16string::npos)
        text.resize(cut);
    return text;
}

bool EnvironmentValue(const std::u16string& name, std::u16string& value) {
    const std::wstring wideName = Wide(name);
    std::wstring buffer(64, L'\0');
    for (;;) {
        ::SetLastError(ERROR_SUCCESS);
        const DWORD length =
            ::GetEnvironmentVariableW(wideName.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0) {
            if (::GetLastError() == ERROR_ENVVAR_NOT_FOUND)
                return false;
            value.clear();
            return true;
        }
        // Too small: the length returned counts the terminator.
        if (length >= buffer.size()) {
            buffer.assign(length, L'\0');
            continue;
        }
        buffer.resize(length);
        value = Utf16(buffer);
        return true;
    }
}

AppendFile OpenAppendFile(const std::u16string& path) {
    // Append access alone: every write lands at the end of the file. The last component is opened
    // as itself, never followed, when it is a link or junction; it is then refused below.
    const HANDLE file =
        ::CreateFileW(Wide(path).c_str(), FILE_APPEND_DATA | SYNCHRONIZE,
                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                      FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return kNoAppendFile;
    BY_HANDLE_FILE_INFORMATION information{};
    const bool plainFile =
        ::GetFileType(file) == FILE_TYPE_DISK && ::GetFileInformationByHandle(file, &information) &&
        (information.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0;
    if (!plainFile) {
        ::CloseHandle(file);
        return kNoAppendFile;
    }
    return reinterpret_cast<AppendFile>(file);
}

bool AppendToFile(AppendFile file, std::string_view bytes) {
    if (file == kNoAppendFile)
        return false;
    // WriteFile hands the bytes to the system; nothing is buffered in this process.
    return WriteAll(reinterpret_cast<HANDLE>(file), bytes);
}

void CloseAppendFile(AppendFile file) {
    if (file != kNoAppendFile)
        ::CloseHandle(reinterpret_cast<HANDLE>(file));
}

}  // namespace platform
