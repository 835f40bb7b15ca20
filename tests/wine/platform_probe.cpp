// lumvar-platform-probe.exe: a Windows program of the MinGW build that exposes the Win32 platform
// layer one operation per run, so that the tests of the Wine tier can drive it from the host and
// check its effects on the host's file system. Not shipped; the tool itself has no such route.
//
//   interpreter                 prints CommandInterpreterPath()
//   appdata                     prints CommonAppDataFolder()
//   init                        prints the result of InitializeFramework()
//   run <parameters>            RunCommandInterpreter(parameters): exits with the interpreter's
//                               exit code, or prints "not started" and exits with 255
//   exists <path>               PathStateOf(path): prints "present", "missing" or "unknown"
//   absolute <path>             prints AbsolutePath(path), or "failed" when it is empty
//   find <pattern>              prints the name of every matching entry, one a line, sorted,
//                               then "failed" when the folder could not be listed
//   rename <from> <to>          prints "ok" or "failed"
//   read <path>                 ReadFileExclusive: prints the bytes, or "failed"
//   read-held <path>            the same while this program holds the file open itself
//   replace <path> <text>       ReplaceFileContents with the UTF-8 form of text: prints "ok",
//                               or "failed: " and SystemErrorText(errno)
//   open-missing <path>         OpenFile(path, "rb"): prints SystemErrorText(errno) on failure,
//                               "opened" otherwise
//   attributes <path>           prints the file attributes of path in hex (GetFileAttributesW)
//   set-attributes <path> <hex> SetFileAttributesW: prints "ok" or "failed <error code>"
//   error-text <number>         prints SystemErrorText(number)
//   kind <path>                 prints EntryKindOf(path): "missing", "file", "folder", "link",
//                               "other" or "unknown"
//   list <folder>               ListEntryKinds(folder): prints "<kind> <name>" for every entry, one
//                               a line, sorted, or "failed"
//   protect <path>              CreateProtectedFolder(path): prints "ok" or "failed"
//   trusted <path>              IsTrustedFolder(path): prints "yes" or "no"
//   rights <path>               prints the DACL of path as GetNamedSecurityInfoW reads it back,
//                               in SDDL ("D:P(A;OICI;FA;;;SY)..."), or "failed <error code>"
//   hold <path> <ready> <stop> <seconds>
//                               opens path for reading without sharing (CreateFileW, share mode
//                               0), creates the file ready (holding this process's id in 8 hex
//                               digits), and keeps path open until the file
//                               stop exists or the seconds have passed; prints "held" and exits
//                               with 0, or prints "failed <error code>" and exits with 3 when path
//                               cannot be opened so
//   load <path>                 CFileXml::LoadFileText of path: prints "loaded" or "not loaded",
//                               then the message
//   ini <path> <section> <key>  CFileIni::Load of path: prints "loaded" and GetValue(section,
//                               key), or "not loaded" and errorText
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
// windows.h first: the security headers depend on its types.
#include <aclapi.h>
#include <fcntl.h>
#include <io.h>
#include <sddl.h>
#include <share.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>
#include <vector>

#include "ini/file_ini.h"
#include "platform/platform.h"
#include "platform/text.h"
#include "xml/file_xml.h"

namespace {

void Print(const std::u16string& text) {
    const std::string bytes = platform::ToUtf8(text) + "\n";
    std::fwrite(bytes.data(), 1, bytes.size(), stdout);
}

void PrintBytes(const std::string& bytes) {
    std::fwrite(bytes.data(), 1, bytes.size(), stdout);
}

std::wstring Wide(const std::u16string& text) {
    return std::wstring(text.begin(), text.end());
}

std::u16string Utf16(const std::wstring& text) {
    return std::u16string(text.begin(), text.end());
}

void PrintFailure(DWORD error) {
    Print(u"failed " + Utf16(std::to_wstring(error)));
}

// The DACL of a file or folder as the system reads it back, in SDDL.
int PrintRights(const std::u16string& path) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    const DWORD read = ::GetNamedSecurityInfoW(Wide(path).c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION,
                                               nullptr, nullptr, nullptr, nullptr, &descriptor);
    if (read != ERROR_SUCCESS) {
        PrintFailure(read);
        return 0;
    }
    wchar_t* text = nullptr;
    if (::ConvertSecurityDescriptorToStringSecurityDescriptorW(descriptor, SDDL_REVISION_1,
                                                               DACL_SECURITY_INFORMATION, &text, nullptr)) {
        Print(Utf16(text));
        ::LocalFree(text);
    } else {
        PrintFailure(::GetLastError());
    }
    ::LocalFree(descriptor);
    return 0;
}

// Creates a file holding this process's id in 8 lowercase hex digits.
bool CreateIdFile(const std::u16string& path) {
    const HANDLE file = ::CreateFileW(Wide(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    char id[16] = {};
    std::snprintf(id, sizeof id, "%08lx", static_cast<unsigned long>(::GetCurrentProcessId()));
    DWORD written = 0;
    const bool ok = ::WriteFile(file, id, 8, &written, nullptr) && written == 8;
    ::CloseHandle(file);
    return ok;
}

// Another process holding a file open without sharing, as an editor or a running module of the
// suite may: nobody else can open it for reading or writing until it lets go.
int Hold(const std::u16string& path, const std::u16string& ready, const std::u16string& stop,
         const std::u16string& seconds) {
    const HANDLE file = ::CreateFileW(Wide(path).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        PrintFailure(::GetLastError());
        return 3;
    }
    if (!CreateIdFile(ready)) {
        PrintFailure(::GetLastError());
        ::CloseHandle(file);
        return 3;
    }
    const ULONGLONG limit = std::strtoull(platform::ToUtf8(seconds).c_str(), nullptr, 10) * 1000;
    const ULONGLONG start = ::GetTickCount64();
    while (platform::PathStateOf(stop) != platform::PathState::Present && ::GetTickCount64() - start < limit)
        ::Sleep(20);
    ::CloseHandle(file);
    Print(u"held");
    return 0;
}

int LoadIni(const std::u16string& path, const std::u16string& section, const std::u16string& key) {
    CFileIni ini;
    ini.filePath = path;
    if (!ini.Load()) {
        Print(u"not loaded");
        Print(ini.errorText);
        return 0;
    }
    Print(u"loaded");
    Print(ini.GetValue(section, key));
    return 0;
}

std::u16string KindName(platform::EntryKind kind) {
    switch (kind) {
        case platform::EntryKind::Missing:
            return u"missing";
        case platform::EntryKind::File:
            return u"file";
        case platform::EntryKind::Folder:
            return u"folder";
        case platform::EntryKind::Link:
            return u"link";
        case platform::EntryKind::Other:
            return u"other";
        case platform::EntryKind::Unknown:
            return u"unknown";
    }
    return u"?";
}

int Probe(const std::vector<std::u16string>& args) {
    const std::size_t count = args.size();
    if (count < 2)
        return 2;
    const std::u16string& command = args[1];
    if (command == u"interpreter" && count == 2) {
        Print(platform::CommandInterpreterPath());
        return 0;
    }
    if (command == u"appdata" && count == 2) {
        Print(platform::CommonAppDataFolder());
        return 0;
    }
    if (command == u"init" && count == 2) {
        Print(platform::InitializeFramework() ? u"true" : u"false");
        return 0;
    }
    if (command == u"run" && count == 3) {
        std::uint32_t exitCode = 0;
        if (!platform::InitializeFramework() || !platform::RunCommandInterpreter(args[2], exitCode)) {
            Print(u"not started");
            return 255;
        }
        return static_cast<int>(exitCode);
    }
    if (command == u"exists" && count == 3) {
        switch (platform::PathStateOf(args[2])) {
            case platform::PathState::Missing:
                Print(u"missing");
                return 0;
            case platform::PathState::Present:
                Print(u"present");
                return 0;
            case platform::PathState::Unknown:
                Print(u"unknown");
                return 0;
        }
        return 2;
    }
    if (command == u"absolute" && count == 3) {
        const std::u16string absolute = platform::AbsolutePath(args[2]);
        Print(absolute.empty() ? u"failed" : absolute);
        return 0;
    }
    if (command == u"find" && count == 3) {
        std::vector<std::u16string> names;
        const bool listed = platform::FindMatchingEntries(
            args[2], [&names](const std::u16string& name) { names.push_back(name); });
        std::sort(names.begin(), names.end());
        for (const auto& name : names)
            Print(name);
        if (!listed)
            Print(u"failed");
        return 0;
    }
    if (command == u"rename" && count == 4) {
        Print(platform::RenameNoReplace(args[2], args[3]) ? u"ok" : u"failed");
        return 0;
    }
    if ((command == u"read" || command == u"read-held") && count == 3) {
        std::FILE* held = nullptr;
        if (command == u"read-held") {
            const std::wstring path(args[2].begin(), args[2].end());
            held = ::_wfsopen(path.c_str(), L"rb", _SH_DENYNO);
            if (held == nullptr)
                return 3;
        }
        std::string bytes;
        const bool read = platform::ReadFileExclusive(args[2], bytes);
        if (held != nullptr)
            std::fclose(held);
        if (read) {
            PrintBytes(bytes);
        } else {
            Print(u"failed");
        }
        return 0;
    }
    if (command == u"replace" && count == 4) {
        if (platform::ReplaceFileContents(args[2], platform::ToUtf8(args[3]))) {
            Print(u"ok");
        } else {
            Print(u"failed: " + platform::SystemErrorText(errno));
        }
        return 0;
    }
    if (command == u"open-missing" && count == 3) {
        std::FILE* file = platform::OpenFile(args[2], "rb");
        if (file != nullptr) {
            std::fclose(file);
            Print(u"opened");
            return 0;
        }
        Print(platform::SystemErrorText(errno));
        return 0;
    }
    if (command == u"attributes" && count == 3) {
        const DWORD attributes = ::GetFileAttributesW(Wide(args[2]).c_str());
        wchar_t text[16] = {};
        std::swprintf(text, 16, L"%lx", static_cast<unsigned long>(attributes));
        Print(Utf16(text));
        return 0;
    }
    if (command == u"set-attributes" && count == 4) {
        const DWORD attributes = std::wcstoul(Wide(args[3]).c_str(), nullptr, 16);
        if (::SetFileAttributesW(Wide(args[2]).c_str(), attributes))
            Print(u"ok");
        else
            PrintFailure(::GetLastError());
        return 0;
    }
    if (command == u"kind" && count == 3) {
        Print(KindName(platform::EntryKindOf(args[2])));
        return 0;
    }
    if (command == u"list" && count == 3) {
        std::vector<std::u16string> lines;
        const bool listed =
            platform::ListEntryKinds(args[2], [&lines](const std::u16string& name, platform::EntryKind kind) {
                lines.push_back(KindName(kind) + u" " + name);
            });
        std::sort(lines.begin(), lines.end());
        for (const auto& line : lines)
            Print(line);
        if (!listed)
            Print(u"failed");
        return 0;
    }
    if (command == u"trusted" && count == 3) {
        Print(platform::IsTrustedFolder(args[2]) ? u"yes" : u"no");
        return 0;
    }
    if (command == u"protect" && count == 3) {
        Print(platform::CreateProtectedFolder(args[2]) ? u"ok" : u"failed");
        return 0;
    }
    if (command == u"rights" && count == 3)
        return PrintRights(args[2]);
    if (command == u"hold" && count == 6)
        return Hold(args[2], args[3], args[4], args[5]);
    if (command == u"load" && count == 3) {
        std::u16string text;
        std::u16string message;
        Print(CFileXml::LoadFileText(args[2], text, &message) ? u"loaded" : u"not loaded");
        Print(message);
        return 0;
    }
    if (command == u"ini" && count == 5)
        return LoadIni(args[2], args[3], args[4]);
    if (command == u"error-text" && count == 3) {
        Print(platform::SystemErrorText(std::atoi(platform::ToUtf8(args[2]).c_str())));
        return 0;
    }
    return 2;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    ::_setmode(::_fileno(stdout), _O_BINARY);
    std::vector<std::u16string> args;
    for (int i = 0; i < argc; ++i) {
        const std::wstring_view argument(argv[i]);
        args.emplace_back(argument.begin(), argument.end());
    }
    const int code = Probe(args);
    std::fflush(stdout);
    return code;
}
