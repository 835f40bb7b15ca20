// The Windows build under Wine: lumvar.exe of the MinGW build, run in a private Wine prefix whose
// own cmd.exe and xcopy.exe do the copies. Also the Wine plumbing that the tests in tests/wine
// share (tests/wine/wine_session.h).
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <sstream>
#include <thread>

#include "platform/text.h"
#include "tests/e2e/tool_runner.h"
#include "tests/support/temp_folder.h"
#include "tests/wine/wine_session.h"

extern char** environ;

namespace wine {

namespace {

const std::filesystem::path kSourceFolder = LUMVAR_SOURCE_DIR;

// Seconds the wine server stays up after its last client has gone: long enough to bridge the
// gaps between the test processes of one ctest run, short enough to leave nothing behind.
constexpr const char* kServerLinger = "-p30";

// Creating the prefix takes some seconds; one that has not ended after this long is stuck.
constexpr std::chrono::seconds kPrefixLimit{300};

std::filesystem::path LogFile() {
    return kSourceFolder / "build" / "wine-tier.log";
}

// The full path of a program found through PATH, or empty.
std::string FindOnPath(const std::string& name) {
    const char* path = std::getenv("PATH");
    if (path == nullptr)
        return {};
    std::stringstream folders(path);
    std::string folder;
    while (std::getline(folders, folder, ':')) {
        if (folder.empty())
            continue;
        const std::string candidate = folder + "/" + name;
        if (::access(candidate.c_str(), X_OK) == 0)
            return candidate;
    }
    return {};
}

// The environment of every Wine process: the private prefix, no debug channels, no Mono or Gecko
// installer, no desktop menu entries, no display (nothing may ever show a window), and a UTF-8
// locale so that non-ASCII arguments and file names reach Windows programs intact.
std::vector<std::string> WineEnvironment(int prefix) {
    const char* replaced[] = {"WINEPREFIX=", "WINEDEBUG=", "WINEDLLOVERRIDES=", "WINEARCH=",
                              "LC_ALL=",     "DISPLAY=",   "WAYLAND_DISPLAY="};
    std::vector<std::string> environment{"WINEPREFIX=" + PrefixFolder(prefix).string(), "WINEDEBUG=-all",
                                         "WINEDLLOVERRIDES=mscoree,mshtml=;winemenubuilder.exe=d",
                                         "LC_ALL=C.UTF-8"};
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string text(*entry);
        bool keep = true;
        for (const char* name : replaced)
            keep = keep && text.rfind(name, 0) != 0;
        if (keep)
            environment.push_back(text);
    }
    return environment;
}

// Ends every process that carries the run's mark in its environment: the Wine process started
// here and the Windows programs it started in turn (Wine gives each its own session, so no
// process group holds them together, but each inherits the environment).
void KillMarkedProcesses(const std::string& mark) {
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/proc", error)) {
        const std::string name = entry.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos)
            continue;
        const std::string environment = testing_support::ReadFile(entry.path() / "environ");
        std::size_t start = 0;
        while (start < environment.size()) {
            const std::size_t end = std::min(environment.find('\0', start), environment.size());
            if (environment.compare(start, end - start, mark) == 0) {
                ::kill(static_cast<pid_t>(std::stol(name)), SIGKILL);
                break;
            }
            start = end + 1;
        }
    }
}

// Runs a host program with the Wine environment; its standard output goes to outputFile (or is
// dropped), its standard error to the tier's log. The exit code, or -1 when it could not start or
// did not end within the time limit: then it is ended, with every Windows program it started.
int Spawn(const std::vector<std::string>& arguments, const std::string& outputFile,
          std::chrono::seconds limit, int prefix) {
    static std::atomic<unsigned> runs{0};
    const std::string mark = "LUMVAR_WINE_RUN=" + std::to_string(::getpid()) + "-" + std::to_string(runs++);
    std::vector<std::string> owned = arguments;
    std::vector<char*> argv;
    for (auto& argument : owned)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    std::vector<std::string> environment = WineEnvironment(prefix);
    environment.push_back(mark);
    std::vector<char*> envp;
    for (auto& entry : environment)
        envp.push_back(entry.data());
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    ::posix_spawn_file_actions_init(&actions);
    ::posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    ::posix_spawn_file_actions_addopen(&actions, 1, outputFile.empty() ? "/dev/null" : outputFile.c_str(),
                                       O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const std::string log = LogFile().string();
    ::posix_spawn_file_actions_addopen(&actions, 2, log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    pid_t child = 0;
    const int started = ::posix_spawnp(&child, argv[0], &actions, nullptr, argv.data(), envp.data());
    ::posix_spawn_file_actions_destroy(&actions);
    if (started != 0)
        return -1;

    const auto deadline = std::chrono::steady_clock::now() + limit;
    auto pause = std::chrono::milliseconds(1);
    int status = 0;
    for (;;) {
        const pid_t ended = ::waitpid(child, &status, WNOHANG);
        if (ended == child)
            return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        if (ended < 0 && errno != EINTR)
            return -1;
        if (std::chrono::steady_clock::now() >= deadline)
            break;
        std::this_thread::sleep_for(pause);
        pause = std::min(pause * 2, std::chrono::milliseconds(20));
    }
    std::string command;
    for (const auto& argument : arguments)
        command += (command.empty() ? "" : " ") + argument;
    std::ofstream(log, std::ios::app) << "lumvar wine tier: '" << command << "' did not end within "
                                      << limit.count() << " s and was ended\n";
    KillMarkedProcesses(mark);
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    return -1;
}

// Opens (creating it) and locks a file exclusively; with wait false only when no one else holds
// it. The descriptor, whose closing releases the lock, or -1.
int OpenLocked(const std::filesystem::path& file, bool wait) {
    const int fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        return -1;
    while (::flock(fd, wait ? LOCK_EX : LOCK_EX | LOCK_NB) != 0) {
        if (errno == EINTR)
            continue;
        ::close(fd);
        return -1;
    }
    return fd;
}

// Creates the prefix unless it is complete already, and starts its wine server. Runs with the
// prefix's creation lock held.
std::string CreatePrefixLocked(int prefix) {
    std::error_code ignored;
    const std::filesystem::path folder = PrefixFolder(prefix);
    const std::filesystem::path ready = folder / ".lumvar-ready";
    if (!std::filesystem::exists(ready)) {
        // A prefix without the mark was left half-made by an interrupted start.
        std::filesystem::remove_all(folder, ignored);
        if (Spawn({"wineboot", "-i"}, {}, kPrefixLimit, prefix) != 0) {
            return "wineboot could not create the Wine prefix at " + folder.string() + " (see " +
                   LogFile().string() + ")";
        }
        if (!std::filesystem::exists(folder / "drive_c" / "windows" / "system32" / "cmd.exe"))
            return "the Wine prefix at " + folder.string() + " has no cmd.exe";
        std::ofstream(ready) << "created by the Wine test tier\n";
    }
    // A server that is already up makes this one exit at once; either way one keeps running.
    Spawn({"wineserver", kServerLinger}, {}, kPrefixLimit, prefix);
    return {};
}

std::string PrepareOnce(int prefix) {
    if (FindOnPath("wine").empty())
        return "wine is not installed (no wine on PATH)";
    if (FindOnPath("wineboot").empty() || FindOnPath("wineserver").empty())
        return "the Wine installation lacks wineboot or wineserver";
    std::error_code ignored;
    std::filesystem::create_directories(kSourceFolder / "build", ignored);
    // Test processes may start in parallel; only one of them creates the prefix.
    const std::filesystem::path lockFile = PrefixFolder(prefix).string() + ".lock";
    const int lock = OpenLocked(lockFile, true);
    if (lock < 0)
        return "cannot lock " + lockFile.string();
    const std::string reason = CreatePrefixLocked(prefix);
    ::close(lock);
    return reason;
}

}  // namespace

std::filesystem::path MingwBinFolder() {
    return kSourceFolder / "build" / "mingw" / "bin";
}

std::filesystem::path PrefixFolder(int prefix) {
    const std::filesystem::path first = kSourceFolder / "build" / "wine-prefix";
    return prefix == 0 ? first : std::filesystem::path(first.string() + "-" + std::to_string(prefix + 1));
}

std::filesystem::path CommonAppDataFolder(int prefix) {
    return PrefixFolder(prefix) / "drive_c" / "ProgramData";
}

std::string Prepare(int prefix) {
    static std::once_flag once[kPrefixCount];
    static std::string reason[kPrefixCount];
    if (prefix < 0 || prefix >= kPrefixCount)
        return "there is no Wine prefix number " + std::to_string(prefix);
    std::call_once(once[prefix], [prefix] { reason[prefix] = PrepareOnce(prefix); });
    return reason[prefix];
}

std::string ProgramUnavailableReason(const std::string& programName) {
    const std::filesystem::path program = MingwBinFolder() / programName;
    if (!std::filesystem::exists(program)) {
        return "the Windows build has no " + programName + " at " + program.string() +
               " (build it with: cmake --preset mingw && cmake --build --preset mingw)";
    }
    return Prepare(0);
}

int Run(const std::filesystem::path& program, const std::vector<std::u16string>& arguments,
        std::string* output, std::chrono::seconds limit, int prefix) {
    std::vector<std::string> command{"wine", program.string()};
    for (const auto& argument : arguments)
        command.push_back(platform::ToUtf8(argument));
    if (output == nullptr)
        return Spawn(command, {}, limit, prefix);

    char name[] = "/tmp/lumvar-wine-output-XXXXXX";
    const int fd = ::mkstemp(name);
    if (fd < 0)
        return -1;
    ::close(fd);
    const int code = Spawn(command, name, limit, prefix);
    *output = testing_support::ReadFile(name);
    ::unlink(name);
    return code;
}

std::u16string DrivePath(const std::filesystem::path& host) {
    std::u16string path = u"Z:" + platform::FromUtf8(std::filesystem::absolute(host).string());
    for (char16_t& unit : path) {
        if (unit == u'/')
            unit = u'\\';
    }
    return path;
}

PrefixClaim::PrefixClaim() {
    for (int candidate = 0; candidate < kPrefixCount && fd_ < 0; ++candidate) {
        fd_ = OpenLocked(PrefixFolder(candidate).string() + ".claim", false);
        prefix_ = candidate;
    }
    if (fd_ >= 0)
        return;
    // All taken: wait for one, spreading the waiting processes over the prefixes.
    prefix_ = static_cast<int>(::getpid() % kPrefixCount);
    fd_ = OpenLocked(PrefixFolder(prefix_).string() + ".claim", true);
}

PrefixClaim::~PrefixClaim() {
    if (fd_ >= 0)
        ::close(fd_);
}

}  // namespace wine

namespace e2e {

namespace {

constexpr std::chrono::seconds kRunLimit{60};

class WineRunner : public ToolRunner {
public:
    WineRunner() : tool_(wine::MingwBinFolder() / "lumvar.exe") {
        reason_ = wine::ProgramUnavailableReason("lumvar.exe");
        if (!reason_.empty())
            return;
        // Held until the runner goes: the backup folder in the claimed prefix is this runner's alone.
        claim_ = std::make_unique<wine::PrefixClaim>();
        if (!claim_->held()) {
            reason_ = "cannot claim a Wine prefix";
            return;
        }
        reason_ = wine::Prepare(claim_->prefix());
        if (!reason_.empty())
            return;
        std::error_code ignored;
        std::filesystem::remove_all(CommonAppData() / "Lumvar", ignored);
    }

    std::string Name() const override { return "wine"; }

    std::string UnavailableReason() const override { return reason_; }

    std::u16string ToolPath(const std::filesystem::path& host) const override {
        return wine::DrivePath(host);
    }

    std::filesystem::path CommonAppData() const override {
        return wine::CommonAppDataFolder(claim_ ? claim_->prefix() : 0);
    }

    int Run(const std::vector<std::u16string>& arguments) override {
        if (!reason_.empty())
            return -1;
        return wine::Run(tool_, arguments, nullptr, kRunLimit, claim_->prefix());
    }

private:
    std::filesystem::path tool_;
    std::string reason_;
    std::unique_ptr<wine::PrefixClaim> claim_;
};

}  // namespace

std::unique_ptr<ToolRunner> MakeWineRunner(const std::filesystem::path&) {
    return std::make_unique<WineRunner>();
}

}  // namespace e2e
