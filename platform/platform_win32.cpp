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

// A new, empty file beside the target whose name no other writer uses: the process id and a
// counter make it unique within the machine, CREATE_NEW guarantees it was not there before.
HANDLE CreateTemporaryBeside(const std::wstring& target, std::wstring& temporary) {
    static std::atomic<unsigned> counter{0};
    const std::size_t cut = target.find_last_of(L"\\/");
    const std::wstring folder = cut == std::wstring::npos ? std::wstring() : target.substr(0, cut + 1);
    const std::wstring name = cut == std::wstring::npos ? target : target.substr(cut + 1);
    for (int attempt = 0; attempt < 100; ++attempt) {
        temporary = folder + L"~" + name + L".lumvar-" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
                    std::to_wstring(counter++) + L".tmp";
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

bool PathExists(const std::u16string& path) {
    return ::GetFileAttributesW(Wide(path).c_str()) != INVALID_FILE_ATTRIBUTES;
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
    ::FindClose(search);
    return true;
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

void FindMatchingEntries(const std::u16string& pattern,
                         const std::function<void(const std::u16string& name)>& visit) {
    WIN32_FIND_DATAW entry{};
    const HANDLE search = ::FindFirstFileW(Wide(pattern).c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE)
        return;
    do {
        const std::wstring_view name(entry.cFileName);
        if (name == L"." || name == L"..")
            continue;
        visit(Utf16(name));
    } while (::FindNextFileW(search, &entry));
    ::FindClose(search);
}

// The interpreter is named by its full path in the system folder, never found through the search
// path: an installer often starts the tool from a folder that other users can write to, and a
// "cmd.exe" planted there would otherwise run with the installer's rights.
std::u16string CommandInterpreterPath() {
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
    return Utf16(folder) + u"cmd.exe";
}

bool RunCommandInterpreter(const std::u16string& parameters, std::uint32_t& exitCode) {
    const std::u16string interpreter = CommandInterpreterPath();
    if (interpreter.empty())
        return false;
    const std::wstring file = Wide(interpreter);
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
    launch.lpDirectory = nullptr;
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
    return ::MoveFileW(Wide(from).c_str(), Wide(to).c_str()) != 0;
}

bool ReadFileExclusive(const std::u16string& path, std::string& bytes) {
    const HANDLE file = ::CreateFileW(Wide(path).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    LARGE_INTEGER size{};
    bool ok = ::GetFileSizeEx(file, &size) && size.QuadPart >= 0 &&
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
    std::wstring wideMode;
    for (const char* c = mode; *c != '\0'; ++c)
        wideMode += static_cast<wchar_t>(static_cast<unsigned char>(*c));
    return ::_wfopen(Wide(path).c_str(), wideMode.c_str());
}

bool ReplaceFileContents(const std::u16string& path, std::string_view bytes) {
    const std::wstring target = Wide(path);
    std::wstring temporary;
    const HANDLE file = CreateTemporaryBeside(target, temporary);
    if (file == INVALID_HANDLE_VALUE) {
        SetErrnoFromLastError();
        return false;
    }
    bool ok = WriteAll(file, bytes) && ::FlushFileBuffers(file);
    DWORD error = ok ? ERROR_SUCCESS : ::GetLastError();
    if (!::CloseHandle(file) && ok) {
        ok = false;
        error = ::GetLastError();
    }
    if (ok && !::MoveFileExW(temporary.c_str(), target.c_str(),
                             MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        ok = false;
        error = ::GetLastError();
    }
    if (ok)
        return true;
    ::DeleteFileW(temporary.c_str());
    errno = ErrnoFromWindowsError(error);
    return false;
}

std::u16string SystemErrorText(int errorNumber) {
    const wchar_t* message = ::_wcserror(errorNumber);
    if (message == nullptr)
        return {};
    std::u16string text = Utf16(message);
    const std::size_t cut = text.find_first_of(u"\r\n");
    if (cut != std::u16string::npos)
        text.resize(cut);
    return text;
}

}  // namespace platform
