// Runs the Windows build of the tool and its helper programs under Wine, in private Wine prefixes
// below the build folder. Each prefix is created once (by whichever test process needs it first)
// and keeps one persistent wine server alive between test processes, so that each run costs a
// fraction of a second instead of a Wine start-up. There are two prefixes, so that two scenarios
// (each needing the common application-data folder to itself) can run at the same time.
// Implemented in tests/e2e/wine_runner.cpp.
#pragma once

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

namespace wine {

// Folder of the MinGW build's executables: <source>/build/mingw/bin.
std::filesystem::path MingwBinFolder();

constexpr int kPrefixCount = 2;

// A private Wine prefix: <source>/build/wine-prefix, then <source>/build/wine-prefix-2.
std::filesystem::path PrefixFolder(int prefix = 0);

// A prefix's common application-data folder as seen from the host (drive_c/ProgramData).
std::filesystem::path CommonAppDataFolder(int prefix = 0);

// Makes Wine usable: finds it on the search path, creates the prefix when it is not there yet and
// starts its persistent wine server. Empty on success, otherwise why Wine cannot be used here.
// Cheap after the first call in a process.
std::string Prepare(int prefix = 0);

// Empty when the named program of the MinGW build exists and Wine can be used with the first
// prefix; otherwise why not.
std::string ProgramUnavailableReason(const std::string& programName);

// Runs a Windows program under Wine with the given arguments (each passed as one argument, as
// the program's wmain receives it), waits for it and returns its exit code, or -1 when it could
// not be started or had to be ended: a run that has not ended within the limit is stuck, and it
// is ended together with every Windows program it started (Wine's xcopy, for one, loops for ever
// when a folder of its destination path is a file). The program's standard output goes to
// *output when given; Wine's own messages go to the tier's log file.
int Run(const std::filesystem::path& program, const std::vector<std::u16string>& arguments,
        std::string* output = nullptr, std::chrono::seconds limit = std::chrono::seconds(60), int prefix = 0);

// The form in which a Windows program under Wine sees a host path: drive Z: stands for the host's
// root folder, separators are backslashes.
std::u16string DrivePath(const std::filesystem::path& host);

// Exclusive use of one prefix's common application-data folder for as long as the object lives:
// test processes that run the tool at the same time would otherwise share a backup folder. Takes
// a free prefix, or waits for one.
class PrefixClaim {
public:
    PrefixClaim();
    ~PrefixClaim();
    PrefixClaim(const PrefixClaim&) = delete;
    PrefixClaim& operator=(const PrefixClaim&) = delete;

    bool held() const { return fd_ >= 0; }
    int prefix() const { return prefix_; }

private:
    int fd_ = -1;
    int prefix_ = 0;
};

}  // namespace wine
