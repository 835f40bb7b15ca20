// Folder arguments of every length, from short to far past the 260 characters of MAX_PATH: the
// parameter strings handed to the command interpreter always hold the whole path, never a cut one,
// and a copy that would make XCOPY read or write a path past 259 characters is not started at all
// and fails its step. Checked through the recording launcher, on the tool's driver itself.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "app/driver.h"
#include "jobs/copy_step.h"
#include "jobs/recording_launcher.h"
#include "platform/text.h"
#include "tests/e2e/scenario_support.h"
#include "tests/robustness/long_path_support.h"
#include "tests/support/temp_folder.h"

namespace robustness {
namespace {

namespace fs = std::filesystem;
using testing_support::RecordingLauncher;
using testing_support::ScopedEnv;
using testing_support::TempFolder;
using testing_support::U16;

StartupServices QuietStartup() {
    return {[] {}, [] { return true; }};
}

// The command with every whole argument replaced by its name, so that the commands of one
// installation at different path lengths can be compared; a cut argument stays visible as text.
std::u16string Normalised(std::u16string command,
                          const std::vector<std::pair<std::u16string, std::u16string>>& names) {
    for (const auto& [argument, name] : names) {
        for (std::size_t at = command.find(argument); at != std::u16string::npos;
             at = command.find(argument, at))
            command.replace(at, argument.size(), name);
    }
    return command;
}

class LongArguments : public testing::Test {
protected:
    struct Run;

    // Every command of a run is one of the reference run's, whole; all of them when the run
    // succeeded, and none once the arguments alone are longer than XCOPY's paths can be.
    static void ExpectWholeCommands(std::size_t length, const Run& run,
                                    const std::vector<std::u16string>& reference, int failure);

    // Runs the tool's driver with arguments 1 onwards; the commands come back normalised.
    struct Run {
        int exitCode;
        std::vector<std::u16string> commands;
    };
    Run RunTool(const std::vector<std::u16string>& arguments,
                const std::vector<std::pair<std::u16string, std::u16string>>& names) {
        RecordingLauncher launcher;
        std::vector<std::u16string> argv{u"lumvar"};
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        Run run{static_cast<int>(RunLumvar(argv, QuietStartup())), {}};
        for (const auto& command : launcher.commands)
            run.commands.push_back(Normalised(command, names));
        return run;
    }

    // Three folders of the given length below the scratch folder, filled with parts of the sample
    // installation (or of the fresh one for a restore).
    std::vector<fs::path> Folders(std::size_t length, const e2e::Tree& tree,
                                  const std::vector<std::string>& parts) {
        std::vector<fs::path> folders;
        for (const auto& part : parts) {
            const fs::path folder = PathOfLength(temp / part.substr(0, 1), 0, length, "-" + part);
            if (folder.empty())
                return {};
            // Past what the file system can name, the folder cannot be made: the tool gets a path
            // that names nothing.
            if (folder.string().size() < 4000 + 1) {
                e2e::WriteTree(folder, e2e::SubTree(tree, part));
                fs::create_directories(folder);
            }
            folders.push_back(folder);
        }
        return folders;
    }

    TempFolder temp;
    ScopedEnv programData{"ProgramData", (temp / "PD").string()};
};

void LongArguments::ExpectWholeCommands(std::size_t length, const Run& run,
                                        const std::vector<std::u16string>& reference, int failure) {
    for (const auto& command : run.commands) {
        EXPECT_NE(std::find(reference.begin(), reference.end(), command), reference.end())
            << "not a whole command: " << platform::ToUtf8(command);
    }
    if (length <= 200) {
        EXPECT_EQ(run.commands, reference);
    }
    if (length >= 260) {
        EXPECT_EQ(run.commands, std::vector<std::u16string>{});
    }
    EXPECT_EQ(run.exitCode, run.commands == reference ? 0 : failure);
}

std::vector<std::size_t> LengthsWithBeyond() {
    std::vector<std::size_t> lengths(std::begin(kArgumentLengths), std::end(kArgumentLengths));
    lengths.push_back(5000);  // beyond what POSIX can name (PATH_MAX)
    return lengths;
}

TEST_F(LongArguments, EveryBackupCommandHoldsTheWholeArguments) {
    const e2e::Tree sample = e2e::SampleInstallation();
    std::vector<std::u16string> reference;
    for (const std::size_t length : LengthsWithBeyond()) {
        SCOPED_TRACE("arguments of " + std::to_string(length) + " characters");
        const auto folders = Folders(length, sample, {"suite", "modules", "data"});
        if (folders.empty())
            continue;
        const Run run = RunTool({u"/backup", U16(folders[0]), U16(folders[1]), U16(folders[2])},
                                {{U16(folders[0]), u"<suite>"},
                                 {U16(folders[1]), u"<modules>"},
                                 {U16(folders[2]), u"<data>"},
                                 {U16(temp / "PD"), u"<common>"}});
        if (length > 4000) {
            // The system cannot even test such a path: that is no "not found", so the backup
            // fails rather than skip sources that it could not examine.
            EXPECT_EQ(run.exitCode, 4);
            EXPECT_EQ(run.commands, std::vector<std::u16string>{});
            continue;
        }
        if (reference.empty()) {
            reference = run.commands;
            ASSERT_GE(reference.size(), 8u);
            for (const auto& command : reference)
                ASSERT_EQ(command.find(u"/c XCOPY \"<"), 0u) << platform::ToUtf8(command);
        }
        ExpectWholeCommands(length, run, reference, 4);
    }
}

TEST_F(LongArguments, EveryRestoreCommandHoldsTheWholeArguments) {
    e2e::WriteTree(temp / "PD" / "Lumvar", e2e::ExpectedBackup(e2e::SampleInstallation()));
    const e2e::Tree fresh = e2e::FreshInstallation();
    std::vector<std::u16string> reference;
    for (const std::size_t length : LengthsWithBeyond()) {
        SCOPED_TRACE("arguments of " + std::to_string(length) + " characters");
        const auto folders = Folders(length, fresh, {"config", "data", "common"});
        if (folders.empty())
            continue;
        const Run run = RunTool({u"/restore", U16(folders[0]), U16(folders[1]), U16(folders[2]), u"/common"},
                                {{U16(folders[0]), u"<config>"},
                                 {U16(folders[1]), u"<data>"},
                                 {U16(folders[2]), u"<common folder>"},
                                 {U16(temp / "PD"), u"<common>"}});
        if (reference.empty()) {
            reference = run.commands;
            ASSERT_EQ(reference.size(), 12u);
        }
        if (length > 4000) {
            // Nothing can be opened by such a path: the merge fails, and no copy is started.
            EXPECT_EQ(run.exitCode, 5);
            EXPECT_EQ(run.commands, std::vector<std::u16string>{});
            continue;
        }
        ExpectWholeCommands(length, run, reference, 5);
        // The merge opens the live files itself and has no such limit.
        for (const auto& folder : {folders[0], folders[2]}) {
            const std::string merged = testing_support::ReadFile(folder / "CommonConfig.xml");
            EXPECT_NE(merged.find("Lumen Diagnostica Pro"), std::string::npos) << folder;
        }
    }
}

TEST_F(LongArguments, EveryAddinCommandHoldsTheWholeArguments) {
    for (const std::size_t length : LengthsWithBeyond()) {
        SCOPED_TRACE("arguments of " + std::to_string(length) + " characters");
        const fs::path source = PathOfLength(temp / "s", 0, length, "-suite");
        const fs::path target = PathOfLength(temp / "n", 0, length, "-nero");
        if (source.empty())
            continue;
        const Run run = RunTool({u"/cdnero", U16(source), U16(target)},
                                {{U16(source), u"<suite>"}, {U16(target), u"<nero>"}});
        // The source folder does not exist: only the target and the source themselves count.
        const std::vector<std::u16string> whole{
            u"/c XCOPY \"<suite>\\bancadati\\addin\" \"<nero>\\neroaddin\\\" /e /i /v /y"};
        if (length + 16 <= 259) {
            EXPECT_EQ(run.commands, whole);
        } else {
            EXPECT_EQ(run.commands, std::vector<std::u16string>{});
        }
        // The recording launcher copies nothing, so there is no sett.xml to rename.
        EXPECT_EQ(run.exitCode, 6);
    }
}

// The copy-back source is bounded by the 260-character buffer of the common application-data
// folder: up to 259 characters it is passed whole; beyond, the step fails without running
// anything, whatever exists at the cut path.
TEST_F(LongArguments, ACopyBackSourcePastTheBufferFailsWithoutRunning) {
    const std::u16string prefix = U16(temp / "PD") + u"\\Lumvar\\";
    for (const std::size_t length : {std::size_t{250}, std::size_t{258}, std::size_t{259}, std::size_t{260},
                                     std::size_t{261}, std::size_t{300}}) {
        SCOPED_TRACE("source of " + std::to_string(length) + " characters");
        ASSERT_GT(length, prefix.size() + 1);
        const std::u16string item(length - prefix.size(), u'i');
        testing_support::WriteFile(temp / "PD" / "Lumvar" / platform::ToUtf8(item), "saved");
        // What a cut source would name exists too.
        testing_support::WriteFile(
            temp / "PD" / "Lumvar" / platform::ToUtf8(item.substr(0, 259 - prefix.size())), "cut");
        RecordingLauncher launcher;
        const bool copied = CopyBack(item, CopyKind::SettingsFlat, u"/dest/");
        if (length <= 259) {
            EXPECT_TRUE(copied);
            EXPECT_EQ(launcher.commands, std::vector<std::u16string>{u"/c XCOPY \"" + prefix + item +
                                                                     u"\" \"/dest/\" /i /v /y"});
        } else {
            EXPECT_FALSE(copied);
            EXPECT_EQ(launcher.commands, std::vector<std::u16string>{});
        }
        // A saved item of the same length that does not exist: skipped while the path fits; past
        // the buffer it was never looked for, so it cannot count as absent.
        const std::u16string missing(length - prefix.size(), u'm');
        EXPECT_EQ(CopyBack(missing, CopyKind::SettingsFlat, u"/dest/"), length <= 259) << "missing item";
        EXPECT_EQ(launcher.commands.size(), length <= 259 ? 1u : 0u) << "missing item";
    }
}

}  // namespace
}  // namespace robustness

namespace robustness {
namespace {

// A destination path of exactly the given length, ending in a backslash.
std::u16string DestinationOfLength(std::size_t length) {
    std::u16string destination = u"/dest/";
    destination.append(length - destination.size() - 1, u'd');
    return destination + u"\\";
}

// XCOPY's paths are held in MAX_PATH buffers: the copy step starts a copy only when every path it
// reads or writes has at most 259 characters, counting what lies below a source folder.
TEST(XcopyPathLimit, ACopyIsStartedOnlyWhenItsDeepestPathFits) {
    TempFolder temp;
    ScopedEnv programData{"ProgramData", (temp / "PD").string()};
    testing_support::WriteFile(
        temp / "PD" / "Lumvar" / "Data" / "clientmanager" / "archivio" / "2019" / "Rossi.xml", "saved");
    const std::size_t deepest = std::u16string(u"archivio\\2019\\Rossi.xml").size();
    const std::size_t topLevel = std::u16string(u"archivio").size();
    // A single file lands under its own name.
    const char16_t* file = u"clientmanager\\archivio\\2019\\Rossi.xml";
    const std::size_t fileName = std::u16string(u"Rossi.xml").size();
    struct Case {
        CopyKind kind;
        std::size_t destinationLength;
        bool started;
        const char16_t* item = u"clientmanager";
    } cases[] = {
        {CopyKind::DataTree, 259 - deepest, true},
        {CopyKind::DataTree, 260 - deepest, false},
        // Without subfolders only the top level is copied, so only it counts.
        {CopyKind::DataFlat, 260 - deepest, true},
        {CopyKind::DataFlat, 259 - topLevel, true},
        {CopyKind::DataFlat, 260 - topLevel, false},
        {CopyKind::DataFlat, 259, false},
        {CopyKind::DataFlat, 260, false},
        {CopyKind::DataFlat, 259 - fileName, true, file},
        {CopyKind::DataFlat, 260 - fileName, false, file},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("destination of " + std::to_string(c.destinationLength) + " characters, " +
                     (c.kind == CopyKind::DataTree ? "tree " : "flat ") + platform::ToUtf8(c.item));
        RecordingLauncher launcher;
        const std::u16string destination = DestinationOfLength(c.destinationLength);
        EXPECT_EQ(CopyBack(c.item, c.kind, destination), c.started);
        ASSERT_EQ(launcher.commands.size(), c.started ? 1u : 0u);
        if (c.started) {
            EXPECT_NE(launcher.commands[0].find(u"\" \"" + destination + u"\" "), std::u16string::npos);
        }
    }
}

TEST(XcopyPathLimit, ABackupIsStartedOnlyWhenEverySourcePathFits) {
    TempFolder temp;
    ScopedEnv programData{"ProgramData", (temp / "PD").string()};
    const std::size_t below = std::string("/archivio/Rossi.xml").size();
    for (const std::size_t deepest : {std::size_t{259}, std::size_t{260}}) {
        SCOPED_TRACE("deepest source path of " + std::to_string(deepest) + " characters");
        const fs::path data = PathOfLength(temp / std::to_string(deepest), 0, deepest - below, "-data");
        testing_support::WriteFile(data / "archivio" / "Rossi.xml", "saved");
        RecordingLauncher launcher;
        EXPECT_EQ(CopyToBackup(U16(data), BackupTarget::TargetData), deepest <= 259);
        EXPECT_EQ(launcher.commands.size(), deepest <= 259 ? 1u : 0u);
        // A single file is written under its own name into the backup folder.
        RecordingLauncher fileLauncher;
        EXPECT_TRUE(CopyToBackup(U16(data / "archivio" / "Rossi.xml"), BackupTarget::TargetRoot) ==
                    (deepest <= 259));
    }
}

}  // namespace
}  // namespace robustness
