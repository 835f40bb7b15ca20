// A restore killed at any moment (power cut, installer aborted) leaves every live file whole: each
// "CommonConfig.xml" is byte for byte either the installed file or the fully merged one, every
// copied file is either absent, as installed, or complete, the backup folder is untouched, and a
// fresh restore afterwards ends with exit code 0 and the same result as an uninterrupted one.
//
// The POSIX build only: the tool and the lumvar-cmd runs it starts are killed together with
// SIGKILL through their process group. A killed save may leave its hidden temporary
// ".CommonConfig.xml.lumvar-XXXXXX" beside the live file, and a killed copy of a file its
// ".<name>.lumvar-cmd.tmp" beside it; the next successful save of that file, and the next copy of
// that file, remove them, which the fresh restore proves.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/wait.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "tests/e2e/scenario_support.h"
#include "tests/robustness/tree_snapshot.h"
#include "tests/support/temp_folder.h"

extern char** environ;

namespace robustness {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using e2e::Tree;
using testing_support::TempFolder;

// Kill points spread evenly from the start of a run to past its uninterrupted end, then for each
// live file fine steps around the moment it is saved.
constexpr int kCoarseKillPoints = 16;
constexpr int kFineKillPoints = 16;

// A history element of many records inserted before the end tag of the root, so that loading,
// parsing and saving "CommonConfig.xml" take a noticeable share of the run (some MB).
std::string WithHistory(const std::string& config, const std::string& note, int records) {
    std::string history = "\t<storico>\n";
    for (int i = 0; i < records; ++i) {
        history += "\t\t<voce n=\"" + std::to_string(i) + "\" data=\"2019-03-" + std::to_string(10 + i % 20) +
                   "\">" + note + " n. " + std::to_string(i) + " &amp; controllo</voce>\n";
    }
    history += "\t</storico>\n";
    std::string result = config;
    const std::size_t end = result.rfind("</CommonConfig>");
    result.insert(end == std::string::npos ? result.size() : end, history);
    return result;
}

// Many saved files of a few KB, so that the copy-backs take the rest of the run.
void AddBulkData(Tree& tree, const std::string& folder, int files) {
    for (int i = 0; i < files; ++i) {
        tree[folder + "/bulk/registro_" + std::to_string(i) + ".dat"] =
            std::string(2048 + i % 7 * 301, static_cast<char>('a' + i % 26));
    }
}

struct Outcome {
    bool exited = false;  // the tool ended by itself before the kill
    int exitCode = -1;
};

class InterruptedRestore : public testing::Test {
protected:
    void SetUp() override {
        if (!fs::exists(tool))
            GTEST_SKIP() << "the POSIX build has no executable at " << tool;
        // The lumvar-cmd runs of a killed tool become children of this process, so that each is
        // waited for before the files are looked at.
        ASSERT_EQ(::prctl(PR_SET_CHILD_SUBREAPER, 1), 0);

        Tree saved = e2e::ExpectedBackup(e2e::SampleInstallation());
        saved["CommonConfig.xml"] = WithHistory(saved["CommonConfig.xml"], "Intervento salvato", 20000);
        AddBulkData(saved, "Data/clientmanager", 80);
        AddBulkData(saved, "Data/oscillo", 80);
        AddBulkData(saved, "Data/kormo/Exchange - In", 60);
        e2e::WriteTree(programData / "Lumvar", saved);
        savedSnapshot = TakeSnapshot(programData / "Lumvar");

        installed = e2e::FreshInstallation();
        for (const char* live : {"config/CommonConfig.xml", "common/CommonConfig.xml"})
            installed[live] = WithHistory(installed[live], "Intervento installato", 16000);
    }

    void TearDown() override { ::prctl(PR_SET_CHILD_SUBREAPER, 0); }

    void Install() {
        fs::remove_all(root);
        e2e::WriteTree(root, installed);
    }

    // Starts "/restore ... /common" in a process group of its own, kills the whole group after
    // delay (never, when delay is negative) and waits for every process of the group.
    Outcome Restore(Clock::duration delay) {
        std::vector<std::string> owned{tool.string(),
                                       "/restore",
                                       (root / "config").string(),
                                       (root / "data").string(),
                                       (root / "common").string(),
                                       "/common"};
        std::vector<char*> argv;
        for (auto& argument : owned)
            argv.push_back(argument.data());
        argv.push_back(nullptr);
        std::vector<std::string> environment{"ProgramData=" + programData.string()};
        for (char** entry = environ; *entry != nullptr; ++entry) {
            if (std::string(*entry).rfind("ProgramData=", 0) != 0)
                environment.emplace_back(*entry);
        }
        std::vector<char*> envp;
        for (auto& entry : environment)
            envp.push_back(entry.data());
        envp.push_back(nullptr);

        posix_spawnattr_t attributes;
        ::posix_spawnattr_init(&attributes);
        ::posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
        ::posix_spawnattr_setpgroup(&attributes, 0);
        pid_t child = 0;
        const Clock::time_point start = Clock::now();
        const int spawned = ::posix_spawn(&child, argv[0], nullptr, &attributes, argv.data(), envp.data());
        ::posix_spawnattr_destroy(&attributes);
        Outcome outcome;
        if (spawned != 0) {
            ADD_FAILURE() << "cannot start " << tool;
            return outcome;
        }
        if (delay >= Clock::duration::zero()) {
            std::this_thread::sleep_until(start + delay);
            // The group keeps the tool's id until the tool has been waited for, even when it has
            // ended already, so this never reaches another process.
            ::kill(-child, SIGKILL);
        }
        for (;;) {
            int status = 0;
            const pid_t ended = ::waitpid(-child, &status, 0);
            if (ended < 0) {
                if (errno == EINTR)
                    continue;
                break;
            }
            if (ended == child && WIFEXITED(status)) {
                outcome.exited = true;
                outcome.exitCode = WEXITSTATUS(status);
            }
            // Anything the group started just before the signal goes too.
            if (delay >= Clock::duration::zero())
                ::kill(-child, SIGKILL);
        }
        return outcome;
    }

    TempFolder temp;
    const fs::path tool = fs::path(LUMVAR_BINARY_DIR) / "bin" / "lumvar";
    const fs::path programData = temp / "ProgramData";
    const fs::path root = temp / "Officina Nicolò" / "Suite 3";
    Snapshot savedSnapshot;
    Tree installed;
};

TEST_F(InterruptedRestore, EveryKillLeavesWholeFilesAndTheNextRestoreCompletesIt) {
    // The uninterrupted result, and how long a run takes (the second of two runs, caches warm).
    Install();
    ASSERT_EQ(Restore(Clock::duration(-1)).exitCode, 0);
    Install();
    const Clock::time_point start = Clock::now();
    ASSERT_EQ(Restore(Clock::duration(-1)).exitCode, 0);
    const Clock::duration runTime = Clock::now() - start;
    const Snapshot complete = TakeSnapshot(root);
    const Snapshot before = TakeSnapshot(root.parent_path());
    ASSERT_NE(complete.at("config/CommonConfig.xml"), installed.at("config/CommonConfig.xml"));
    ASSERT_NE(complete.at("common/CommonConfig.xml"), installed.at("common/CommonConfig.xml"));
    ASSERT_TRUE(Temporaries(complete).empty());

    const char* const liveFiles[] = {"config/CommonConfig.xml", "common/CommonConfig.xml"};
    int kills = 0;
    int killedRuns = 0;
    int temporariesLeft = 0;
    int foundInstalled = 0;
    int foundMerged = 0;
    // Kills one run after delay, checks what it left and that a fresh restore completes it. For each
    // live file: -1 still as installed, +1 merged (anything else fails the test).
    auto killAndCheck = [&](Clock::duration delay) {
        SCOPED_TRACE("kill after " +
                     std::to_string(std::chrono::duration<double, std::milli>(delay).count()) + " ms of a " +
                     std::to_string(std::chrono::duration<double, std::milli>(runTime).count()) + " ms run");
        ++kills;
        Install();
        const Outcome outcome = Restore(delay);
        killedRuns += outcome.exited ? 0 : 1;
        if (outcome.exited) {
            EXPECT_EQ(outcome.exitCode, 0);
        }

        const Snapshot after = TakeSnapshot(root);
        for (const auto& [path, content] : after) {
            const std::string name = fs::path(path).filename().string();
            if (name.rfind(".CommonConfig.xml.lumvar-", 0) == 0 ||
                (name.front() == '.' && name.ends_with(".lumvar-cmd.tmp"))) {
                ++temporariesLeft;
                continue;
            }
            const auto wasInstalled = installed.find(path);
            const auto merged = complete.find(path);
            const bool whole = (wasInstalled != installed.end() && wasInstalled->second == content) ||
                               (merged != complete.end() && merged->second == content) || content == kFolder;
            EXPECT_TRUE(whole) << path << " is neither as installed nor as restored (" << content.size()
                               << " bytes)";
            EXPECT_TRUE(merged != complete.end()) << path << " is not part of a restore";
        }
        std::vector<int> states;
        for (const char* live : liveFiles) {
            const auto found = after.find(live);
            EXPECT_TRUE(found != after.end()) << live << " is gone";
            const std::string content = found == after.end() ? std::string() : found->second;
            const bool asInstalled = content == installed.at(live);
            EXPECT_TRUE(asInstalled || content == complete.at(live)) << live;
            foundInstalled += asInstalled ? 1 : 0;
            foundMerged += asInstalled ? 0 : 1;
            states.push_back(asInstalled ? -1 : 1);
        }
        EXPECT_EQ(Differences(savedSnapshot, TakeSnapshot(programData / "Lumvar")),
                  std::vector<std::string>{})
            << "the backup folder changed";

        const Outcome again = Restore(Clock::duration(-1));
        EXPECT_TRUE(again.exited);
        EXPECT_EQ(again.exitCode, 0);
        EXPECT_EQ(Differences(complete, TakeSnapshot(root)), std::vector<std::string>{});
        EXPECT_EQ(Differences(before, TakeSnapshot(root.parent_path())), std::vector<std::string>{});
        return states;
    };
    auto delayAt = [&](double share) { return std::chrono::duration_cast<Clock::duration>(runTime * share); };

    // Coarse kill points spread over the whole run and past its end; for each live file, the last
    // one that found it as installed and the first that found it merged.
    std::vector<Clock::duration> lastInstalled(std::size(liveFiles), Clock::duration::zero());
    std::vector<Clock::duration> firstMerged(std::size(liveFiles), Clock::duration::max());
    for (int point = 0; point < kCoarseKillPoints && !HasFailure(); ++point) {
        const Clock::duration delay = delayAt(1.4 * point / (kCoarseKillPoints - 1));
        const std::vector<int> states = killAndCheck(delay);
        for (std::size_t file = 0; file < states.size(); ++file) {
            if (states[file] < 0)
                lastInstalled[file] = std::max(lastInstalled[file], delay);
            if (states[file] > 0)
                firstMerged[file] = std::min(firstMerged[file], delay);
        }
    }
    // Then fine steps where each file changes: halving the span between the two states homes in
    // on the save itself, where a file written in place would be found cut.
    for (std::size_t file = 0; file < std::size(liveFiles); ++file) {
        Clock::duration low = lastInstalled[file];
        // A loaded machine may run slower than the measured run: past four times its length every
        // file has been saved.
        Clock::duration high = std::min(firstMerged[file], delayAt(4.0));
        for (int step = 0; step < kFineKillPoints && low < high && !HasFailure(); ++step) {
            const Clock::duration delay = low + (high - low) / 2;
            const std::vector<int> states = killAndCheck(delay);
            (states[file] < 0 ? low : high) = delay;
        }
    }

    // The kill points reached both sides of the saves: some before, some after.
    EXPECT_GT(foundInstalled, 0);
    EXPECT_GT(foundMerged, 0);
    RecordProperty("kills", kills);
    RecordProperty("temporaries_left_by_kills", temporariesLeft);
    std::printf(
        "%d kills, %d of them before the run ended; live files found as installed %d times, merged %d "
        "times; %d temporaries left by kills and removed by the next restore; uninterrupted run %.1f ms\n",
        kills, killedRuns, foundInstalled, foundMerged, temporariesLeft,
        std::chrono::duration<double, std::milli>(runTime).count());
}

}  // namespace
}  // namespace robustness
