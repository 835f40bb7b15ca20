// lumvar-platform-probe.exe: a Windows program of the MinGW build that exposes the Win32 platform
// layer one operation per run, so that the tests of the Wine tier can drive it from the host and
// check its effects on the host's file system. Not shipped; the tool itself has no such route.
//
//   interpreter                 prints CommandInterpreterPath()
//   appdata                     prints CommonAppDataFolder()
//   init                        prints the result of InitializeFramework()
//   run <parameters>            RunCommandInterpreter(parameters): exits with the interpreter's
//                               exit code, or prints "not started" and exits with 255
//   exists <path>               prints "yes" or "no"
//   find <pattern>              prints the name of every matching entry, one a line, sorted
//   rename <from> <to>          prints "ok" or "failed"
//   read <path>                 ReadFileExclusive: prints the bytes, or "failed"
//   read-held <path>            the same while this program holds the file open itself
//   replace <path> <text>       ReplaceFileContents with the UTF-8 form of text: prints "ok",
//                               or "failed: " and SystemErrorText(errno)
//   open-missing <path>         OpenFile(path, "rb"): prints SystemErrorText(errno) on failure
//   error-text <number>         prints SystemErrorText(number)
#include <fcntl.h>
#include <io.h>
#include <share.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/text.h"

namespace {

void Print(const std::u16string& text) {
    const std::string bytes = platform::ToUtf8(text) + "\n";
    std::fwrite(bytes.data(), 1, bytes.size(), stdout);
}

void PrintBytes(const std::string& bytes) {
    std::fwrite(bytes.data(), 1, bytes.size(), stdout);
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
        Print(platform::PathExists(args[2]) ? u"yes" : u"no");
        return 0;
    }
    if (command == u"find" && count == 3) {
        std::vector<std::u16string> names;
        platform::FindMatchingEntries(args[2],
                                      [&names](const std::u16string& name) { names.push_back(name); });
        std::sort(names.begin(), names.end());
        for (const auto& name : names)
            Print(name);
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
