// The driver: hides the console, initialises the runtime, checks the verb and the argument count,
// runs at most one job and turns its result into the process exit code. Nothing is printed.
// Folder arguments that are empty or hold only blanks and tabs make a malformed command line
// (exit code 2, like a missing argument); relative ones are made absolute against the working
// folder before any path is joined.
#pragma once

#include <string>
#include <vector>

// The process exit codes, the tool's only report.
enum class ExitCode : int {
    Success = 0,
    FrameworkFailed = 1,
    BadArgumentCount = 2,
    UnknownVerb = 3,
    BackupFailed = 4,
    RestoreFailed = 5,
    AddinFailed = 6,
};

// What start-up needs of the platform, replaceable so that a test can make initialisation fail.
struct StartupServices {
    void (*hideConsole)();
    bool (*initializeFramework)();
};

// The platform's own start-up services.
StartupServices PlatformStartupServices();

// Runs the tool on its argument vector (argument 0 is the program's own path) and returns the exit
// code. Start-up comes first: a failed initialisation ends the run before any argument is read.
ExitCode RunLumvar(const std::vector<std::u16string>& arguments, const StartupServices& startup);
