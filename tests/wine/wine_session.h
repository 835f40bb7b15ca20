// Runs the Windows build of the tool and its helper programs under Wine, in a private Wine prefix
// below the build folder. The prefix is created once (by whichever test process needs it first)
// and one persistent wine server is kept alive between test processes, so that each run costs a
// fraction of a second instead of a Wine start-up. Implemented in tests/e2e/wine_runner.cpp.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace wine {

// Folder of the MinGW build's executables: <source>/build/mingw/bin.
std::filesystem::path MingwBinFolder();

// The private Wine prefix: <source>/build/wine-prefix.
std::filesystem::path PrefixFolder();

// The prefix's common application-data folder as seen from the host (drive_c/ProgramData).
std::filesystem::path CommonAppDataFolder();

// Makes Wine usable: finds it on the search path, creates the prefix when it is not there yet and
// starts the persistent wine server. Empty on success, otherwise why Wine cannot be used here.
// Cheap after the first call in a process.
std::string Prepare();

// Empty when the named program of the MinGW build exists and Wine can be used; otherwise why not.
std::string ProgramUnavailableReason(const std::string& programName);

// Runs a Windows program under Wine with the given arguments (each passed as one argument, as
// the program's wmain receives it), waits for it and returns its exit code, or -1 when it could
// not be started. The program's standard output goes to *output when given; Wine's own messages
// go to the tier's log file.
int Run(const std::filesystem::path& program, const std::vector<std::u16string>& arguments,
        std::string* output = nullptr);

// The form in which a Windows program under Wine sees a host path: drive Z: stands for the host's
// root folder, separators are backslashes.
std::u16string DrivePath(const std::filesystem::path& host);

// Exclusive use of the prefix's common application-data folder for as long as the object lives.
// Test processes that run the tool at the same time would otherwise share its backup folder.
class AppDataLock {
public:
    AppDataLock();
    ~AppDataLock();
    AppDataLock(const AppDataLock&) = delete;
    AppDataLock& operator=(const AppDataLock&) = delete;

    bool held() const { return fd_ >= 0; }

private:
    int fd_ = -1;
};

}  // namespace wine
