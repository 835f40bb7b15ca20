#include "jobs/copy_step.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "jobs/recording_launcher.h"
#include "tests/support/temp_folder.h"

namespace {

using testing_support::ReadFile;
using testing_support::RecordingLauncher;
using testing_support::ScopedEnv;
using testing_support::TempFolder;
using testing_support::U16;
using testing_support::WriteFile;

// A common application-data folder with a blank in its name, a launcher that records, and a suite
// file to copy.
class CopyStepTest : public testing::Test {
protected:
    CopyStepTest()
        : programData_("ProgramData", (temp / "Program Data").string()),
          common(U16(temp / "Program Data")),
          source(U16(temp / "Suite Officina" / "Common" / "CommonConfig.xml")) {
        WriteFile(temp / "Suite Officina" / "Common" / "CommonConfig.xml", "<config/>");
    }

    // Makes a saved item exist in the backup folder (relative path with "/" separators).
    void Save(const std::string& relative) {
        WriteFile(temp / "Program Data" / "Lumvar" / relative, "saved");
    }

    TempFolder temp;
    ScopedEnv programData_;
    RecordingLauncher launcher;
    const std::u16string common;
    const std::u16string source;
};

struct BackupFormCase {
    BackupTarget target;
    const char16_t* destinationAndTail;
};

TEST_F(CopyStepTest, BackupFormBuildsTheParameterStringOfEachTarget) {
    const BackupFormCase cases[] = {
        {BackupTarget::TargetRoot, u"\\Lumvar\\\" /i /v /y"},
        {BackupTarget::TargetData, u"\\Lumvar\\Data\\\" /e /i /v /y"},
        {BackupTarget::TargetDiesel, u"\\Lumvar\\diesel\\\" /i /v /y"},
        {BackupTarget::TargetDataDiesel, u"\\Lumvar\\Data\\diesel\\\" /i /v /y"},
        {BackupTarget::TargetGas, u"\\Lumvar\\gas\\\" /i /v /y"},
        {BackupTarget::TargetDataGas, u"\\Lumvar\\Data\\gas\\\" /i /v /y"},
    };
    for (const BackupFormCase& c : cases) {
        launcher.commands.clear();
        EXPECT_TRUE(CopyToBackup(source, c.target));
        const std::vector<std::u16string> expected{u"/c XCOPY \"" + source + u"\" \"" + common +
                                                   c.destinationAndTail};
        EXPECT_EQ(launcher.commands, expected) << static_cast<int>(c.target);
    }
}

TEST_F(CopyStepTest, TargetValuesAreFixed) {
    EXPECT_EQ(static_cast<int>(BackupTarget::TargetRoot), 0);
    EXPECT_EQ(static_cast<int>(BackupTarget::TargetData), 1);
    EXPECT_EQ(static_cast<int>(BackupTarget::TargetDiesel), 2);
    EXPECT_EQ(static_cast<int>(BackupTarget::TargetDataDiesel), 3);
    EXPECT_EQ(static_cast<int>(BackupTarget::TargetGas), 4);
    EXPECT_EQ(static_cast<int>(BackupTarget::TargetDataGas), 5);
}

TEST_F(CopyStepTest, BackupFormSkipsAMissingSourceAsSuccess) {
    EXPECT_TRUE(CopyToBackup(U16(temp / "Suite Officina" / "eobd" / "eobd.ini"), BackupTarget::TargetRoot));
    EXPECT_TRUE(launcher.commands.empty());
}

// Only "not found" is absent. A source that cannot be examined may hold data that the installer
// is about to remove: its step fails, starts nothing and does not even make the backup folder.
TEST_F(CopyStepTest, ASourceThatCannotBeExaminedFailsInsteadOfBeingSkipped) {
    const std::filesystem::path suite = temp / "Suite Officina";
    std::filesystem::create_symlink("loop-b", suite / "loop-a");
    std::filesystem::create_symlink("loop-a", suite / "loop-b");
    const struct {
        const char* what;
        std::u16string source;
        bool result;
    } backupCases[] = {
        {"a missing file", U16(suite / "eobd.ini"), true},
        {"below a missing folder", U16(suite / "eobd" / "eobd.ini"), true},
        {"below a file", U16(suite / "Common" / "CommonConfig.xml" / "eobd.ini"), true},
        {"a loop of links", U16(suite / "loop-a"), false},
        {"below a loop of links", U16(suite / "loop-a" / "eobd.ini"), false},
        {"a name too long for the file system", U16(suite / std::string(300, 'n')), false},
    };
    for (const auto& c : backupCases) {
        EXPECT_EQ(CopyToBackup(c.source, BackupTarget::TargetRoot), c.result) << c.what;
        EXPECT_EQ(CopyToBackup(c.source, BackupTarget::TargetData), c.result) << c.what;
    }
    EXPECT_TRUE(launcher.commands.empty());
    EXPECT_FALSE(std::filesystem::exists(temp / "Program Data" / "Lumvar"));

    Save("eobd.ini");
    Save("Data/eobd.ini");
    for (const std::filesystem::path& folder :
         {temp / "Program Data" / "Lumvar", temp / "Program Data" / "Lumvar" / "Data"}) {
        std::filesystem::create_symlink("loop-b", folder / "loop-a");
        std::filesystem::create_symlink("loop-a", folder / "loop-b");
    }
    const struct {
        const char* what;
        const char16_t* item;
        bool result;
    } copyBackCases[] = {
        {"a missing item", u"oscillo.ini", true},
        {"below a missing folder", u"diesel\\fumi.ini", true},
        {"below a file", u"eobd.ini\\fumi.ini", true},
        {"a loop of links", u"loop-a", false},
        {"below a loop of links", u"loop-a\\fumi.ini", false},
    };
    for (const auto& c : copyBackCases) {
        for (const CopyKind kind : {CopyKind::SettingsFlat, CopyKind::DataTree})
            EXPECT_EQ(CopyBack(c.item, kind, u"C:\\Suite\\"), c.result) << c.what;
    }
    EXPECT_TRUE(launcher.commands.empty());
}

mode_t ModeOf(const std::filesystem::path& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0)
        return 0;
    return info.st_mode;
}

// The first copy into the backup folder finds it made already, open to its owner alone, even under
// a umask that would leave XCOPY's folders open to everyone.
TEST_F(CopyStepTest, BackupFormMakesTheBackupFolderProtectedBeforeTheCopyRuns) {
    const mode_t previous = ::umask(0);
    std::vector<mode_t> modesSeenByTheCopy;
    launcher.exitCodeFor = [&](const std::u16string&) {
        modesSeenByTheCopy.push_back(ModeOf(temp / "Program Data" / "Lumvar"));
        return 0u;
    };
    const bool copied = CopyToBackup(source, BackupTarget::TargetDataGas);
    ::umask(previous);
    EXPECT_TRUE(copied);
    ASSERT_EQ(modesSeenByTheCopy.size(), 1u);
    EXPECT_TRUE(S_ISDIR(modesSeenByTheCopy[0]));
    EXPECT_EQ(modesSeenByTheCopy[0] & 07777, 0700u);
    // Only the backup folder itself: its subfolders are the copy's to make.
    EXPECT_FALSE(std::filesystem::exists(temp / "Program Data" / "Lumvar" / "Data"));
}

// The backup folder is the tool's own only as a folder of root's or the running account's: such a
// folder gets its rights again and keeps what earlier runs saved. A link, or a folder of anyone
// else, fails the backup step and every copy-back step without running anything, and the backup
// step writes nothing into it.
TEST_F(CopyStepTest, OnlyATrustedBackupFolderIsWrittenOrRead) {
    const bool root = ::geteuid() == 0;
    const std::filesystem::path backup = temp / "Program Data" / "Lumvar";
    const std::filesystem::path elsewhere = temp / "Elsewhere";
    struct Case {
        const char* name;
        bool link;        // "Lumvar" is a link to a folder elsewhere
        bool otherOwner;  // the folder belongs to another user (root only)
        bool trusted;
    } const cases[] = {
        {"own folder", false, false, true},
        {"link to own folder", true, false, false},
        {"folder of another user", false, true, false},
        {"link to a folder of another user", true, true, false},
    };
    bool skipped = false;
    for (const Case& c : cases) {
        if (c.otherOwner && !root) {
            skipped = true;
            continue;
        }
        std::filesystem::remove_all(backup);
        std::filesystem::remove_all(elsewhere);
        const std::filesystem::path folder = c.link ? elsewhere : backup;
        WriteFile(folder / "eobd.ini", "saved");
        ASSERT_EQ(::chmod(folder.c_str(), 0777), 0);
        if (c.otherOwner) {
            ASSERT_EQ(::chown(folder.c_str(), 4321, 4321), 0);
        }
        if (c.link)
            std::filesystem::create_directory_symlink(elsewhere, backup);
        launcher.commands.clear();
        EXPECT_EQ(CopyToBackup(source, BackupTarget::TargetRoot), c.trusted) << c.name;
        EXPECT_EQ(CopyBack(u"eobd.ini", CopyKind::SettingsFlat, U16(temp / "Suite" / "eobd") + u"\\"),
                  c.trusted)
            << c.name;
        EXPECT_EQ(launcher.commands.size(), c.trusted ? 2u : 0u) << c.name;
        EXPECT_EQ(ModeOf(folder) & 07777, c.trusted ? 0700u : 0777u) << c.name;
        EXPECT_EQ(ReadFile(folder / "eobd.ini"), "saved") << c.name;
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder), {}), 1) << c.name;
    }
    if (skipped)
        GTEST_SKIP() << "the rows with a folder of another user need root; the others ran";
}

// Every copy form against links: below its source, where it would write, and on the way from a
// folder argument (or the common folder) to either. Each row plants one link into a fresh
// installation and says whether the copy may run. The folder arguments and the common folder
// themselves may be links.
TEST_F(CopyStepTest, NoCopyFollowsALink) {
    namespace fs = std::filesystem;
    const fs::path modules = temp / "Suite" / "modules";
    const fs::path data = temp / "Suite" / "data";
    const fs::path config = temp / "Suite" / "config";
    const fs::path backup = temp / "Program Data" / "Lumvar";
    const fs::path elsewhere = temp / "Elsewhere";
    auto link = [](const fs::path& target, const fs::path& at) {
        fs::remove_all(at);
        fs::create_directories(at.parent_path());
        fs::create_symlink(target, at);
    };
    // A folder moved elsewhere, a link in its place.
    auto moveAway = [&](const fs::path& folder) {
        const fs::path moved = elsewhere / ("moved " + folder.filename().string());
        fs::rename(folder, moved);
        fs::create_directory_symlink(moved, folder);
    };
    auto backupData = [&] { return CopyToBackup(U16(data), BackupTarget::TargetData); };
    auto backupFumi = [&] {
        return CopyToBackup(U16(modules) + u"\\fumi\\b.crk", BackupTarget::TargetDiesel);
    };
    auto backupEobd = [&] {
        return CopyToBackup(U16(modules) + u"\\eobd\\eobd.ini", BackupTarget::TargetRoot);
    };
    auto restoreClients = [&] {
        return CopyBack(u"clientmanager", CopyKind::DataTree, U16(data) + u"\\clientmanager\\");
    };
    auto restoreRec = [&] { return CopyBack(u"kormo", CopyKind::DataFlat, U16(data) + u"\\kormo\\rec\\"); };
    auto restoreEobd = [&] {
        return CopyBack(u"eobd.ini", CopyKind::SettingsFlat, U16(config) + u"\\eobd\\");
    };
    auto restoreIntoConfig = [&] {
        return CopyBack(u"eobd.ini", CopyKind::SettingsFlat, U16(config) + u"\\");
    };
    auto addin = [&] {
        return CopyAddinTree(U16(modules) + u"\\bancadati\\addin", U16(config) + u"\\neroaddin\\");
    };
    struct Case {
        const char* name;
        std::function<void()> plant;
        std::function<bool()> copy;
        bool runs;
        bool named = true;  // the folder arguments are known, as in a run of the tool
    } const cases[] = {
        {"backup, nothing linked", [] {}, backupData, true},
        {"a link to a file in the data folder",
         [&] { link(elsewhere / "secret.txt", data / "clientmanager" / "secret.txt"); }, backupData, false},
        {"a link to a folder deep in the data folder",
         [&] { link(elsewhere / "folder", data / "clientmanager" / "sub" / "link"); }, backupData, false},
        {"a dangling link in the data folder", [&] { link(elsewhere / "nowhere", data / "dangling"); },
         backupData, false},
        {"a link loop in the data folder",
         [&] {
             link("loop b", data / "loop a");
             link("loop a", data / "loop b");
         },
         backupData, false},
        {"a link in the data folder back into the backup folder", [&] { link(backup, data / "backup"); },
         backupData, false},
        {"the data folder argument itself a link", [&] { moveAway(data); }, backupData, true},
        {"a fumi file that is a link", [&] { link(elsewhere / "secret.txt", modules / "fumi" / "b.crk"); },
         backupFumi, false},
        {"a module folder that is a link", [&] { moveAway(modules / "eobd"); }, backupEobd, false},
        {"the backup folder's Data a link", [&] { link(elsewhere / "folder", backup / "Data"); }, backupData,
         false},
        {"a saved file where the backup would land a link",
         [&] { link(elsewhere / "secret.txt", backup / "Data" / "clientmanager" / "a.txt"); }, backupData,
         false},
        {"the common folder itself a link", [&] { moveAway(temp / "Program Data"); }, backupData, true},
        {"restore, nothing linked", [] {}, restoreClients, true},
        {"a restore destination below the folder argument a link", [&] { moveAway(data / "kormo"); },
         restoreRec, false},
        {"a file where the restore would land a link",
         [&] { link(elsewhere / "secret.txt", data / "clientmanager" / "a.txt"); }, restoreClients, false},
        {"a folder where the restore would land a link",
         [&] {
             WriteFile(backup / "Data" / "clientmanager" / "sub" / "b.txt", "saved");
             link(elsewhere / "folder", data / "clientmanager" / "sub");
         },
         restoreClients, false},
        {"a saved item a link", [&] { link(elsewhere / "secret.txt", backup / "eobd.ini"); }, restoreEobd,
         false},
        {"a link inside a saved tree",
         [&] { link(elsewhere / "folder", backup / "Data" / "clientmanager" / "l"); }, restoreClients, false},
        {"the common folder itself a link, restore", [&] { moveAway(temp / "Program Data"); }, restoreClients,
         true},
        {"the configuration folder argument a link", [&] { moveAway(config); }, restoreIntoConfig, true},
        {"add-in, nothing linked", [] {}, addin, true},
        {"a link in the add-in tree",
         [&] { link(elsewhere / "folder", modules / "bancadati" / "addin" / "l"); }, addin, false},
        {"the add-in destination a link", [&] { moveAway(config / "neroaddin"); }, addin, false},
        {"no folder arguments known, a destination that is a link", [&] { moveAway(config / "eobd"); },
         restoreEobd, false, false},
        {"no folder arguments known, restore into a plain folder", [] {}, restoreEobd, true, false},
    };
    for (const Case& c : cases) {
        for (const fs::path& folder : {temp / "Suite", temp / "Program Data", elsewhere})
            fs::remove_all(folder);
        WriteFile(data / "clientmanager" / "a.txt", "data");
        WriteFile(data / "kormo" / "rec" / "r.dat", "data");
        WriteFile(modules / "fumi" / "a.crk", "data");
        WriteFile(modules / "eobd" / "eobd.ini", "data");
        WriteFile(modules / "bancadati" / "addin" / "sett.xml", "data");
        fs::create_directories(config / "eobd");
        fs::create_directories(config / "neroaddin");
        WriteFile(backup / "eobd.ini", "saved");
        WriteFile(backup / "Data" / "clientmanager" / "a.txt", "saved");
        WriteFile(backup / "Data" / "kormo" / "r.dat", "saved");
        ASSERT_EQ(::chmod(backup.c_str(), 0700), 0);
        WriteFile(elsewhere / "secret.txt", "secret");
        WriteFile(elsewhere / "folder" / "s.txt", "secret");
        c.plant();
        std::optional<ScopedNamedFolders> named;
        if (c.named)
            named.emplace(std::vector<std::u16string>{U16(modules), U16(data), U16(config)});
        launcher.commands.clear();
        EXPECT_EQ(c.copy(), c.runs) << c.name;
        EXPECT_EQ(launcher.commands.size(), c.runs ? 1u : 0u) << c.name;
    }
}

// XCOPY must never get the chance to make the backup folder itself, open to everyone.
TEST_F(CopyStepTest, BackupFormFailsWithoutRunningAnythingWhenTheBackupFolderCannotBeMade) {
    WriteFile(temp / "Program Data" / "Lumvar", "a file in the way");
    for (const BackupTarget target : {BackupTarget::TargetRoot, BackupTarget::TargetData}) {
        EXPECT_FALSE(CopyToBackup(source, target)) << static_cast<int>(target);
    }
    EXPECT_TRUE(launcher.commands.empty());
    EXPECT_EQ(ReadFile(temp / "Program Data" / "Lumvar"), "a file in the way");
}

// Nothing to copy, nothing to make; and the copy-back form only ever reads the backup folder.
TEST_F(CopyStepTest, OnlyACopyIntoTheBackupFolderMakesIt) {
    EXPECT_TRUE(CopyToBackup(U16(temp / "Suite Officina" / "eobd" / "eobd.ini"), BackupTarget::TargetRoot));
    EXPECT_TRUE(CopyBack(u"eobd.ini", CopyKind::SettingsFlat, u"C:\\Suite\\eobd\\"));
    EXPECT_TRUE(launcher.commands.empty());
    EXPECT_FALSE(std::filesystem::exists(temp / "Program Data" / "Lumvar"));
}

TEST_F(CopyStepTest, AnyNonzeroExitCodeFailsTheStep) {
    Save("eobd.ini");
    for (const std::uint32_t code : {1u, 4u, 5u, 0x80000000u}) {
        launcher.exitCodeFor = [code](const std::u16string&) { return code; };
        EXPECT_FALSE(CopyToBackup(source, BackupTarget::TargetRoot)) << code;
        EXPECT_FALSE(CopyBack(u"eobd.ini", CopyKind::SettingsFlat, u"C:\\Suite\\eobd\\")) << code;
        EXPECT_FALSE(CopyAddinTree(u"C:\\Suite\\bancadati\\addin", u"C:\\Nero\\neroaddin\\")) << code;
    }
}

TEST_F(CopyStepTest, AnInterpreterThatCannotStartFailsEveryForm) {
    Save("eobd.ini");
    launcher.starts = false;
    EXPECT_NE(RunHiddenCommand(u"/c XCOPY \"a\" \"b\\\" /i /v /y"), 0u);
    EXPECT_FALSE(CopyToBackup(source, BackupTarget::TargetRoot));
    EXPECT_FALSE(CopyBack(u"eobd.ini", CopyKind::SettingsFlat, u"C:\\Suite\\eobd\\"));
    EXPECT_FALSE(CopyAddinTree(u"C:\\Suite\\bancadati\\addin", u"C:\\Nero\\neroaddin\\"));
    EXPECT_EQ(launcher.commands.size(), 4u);
}

TEST_F(CopyStepTest, RunHiddenCommandPassesTheStringAndReturnsTheExitCode) {
    launcher.exitCodeFor = [](const std::u16string&) { return 4u; };
    EXPECT_EQ(RunHiddenCommand(u"/c XCOPY \"x y\" \"z\\\" /i /v /y"), 4u);
    EXPECT_EQ(launcher.commands, std::vector<std::u16string>{u"/c XCOPY \"x y\" \"z\\\" /i /v /y"});
}

TEST_F(CopyStepTest, UnknownCommonFolderFailsWithoutRunningAnything) {
    Save("eobd.ini");
    WriteFile(temp / "a file", "x");
    // A folder below a file, and a file where the folder should be.
    for (const std::filesystem::path& unusable : {temp / "a file" / "below", temp / "a file"}) {
        ScopedEnv programData("ProgramData", unusable.string());
        EXPECT_FALSE(CopyToBackup(source, BackupTarget::TargetRoot)) << unusable;
        EXPECT_FALSE(CopyBack(u"eobd.ini", CopyKind::SettingsFlat, u"C:\\Suite\\eobd\\")) << unusable;
    }
    EXPECT_TRUE(launcher.commands.empty());
    EXPECT_EQ(ReadFile(temp / "a file"), "x");
}

struct CopyBackCase {
    const char* saved;  // what exists below the backup folder
    const char16_t* item;
    CopyKind kind;
    const char16_t* sourceAfterCommon;
    const char16_t* tail;
};

TEST_F(CopyStepTest, CopyBackFormBuildsTheParameterStringOfEachKind) {
    const CopyBackCase cases[] = {
        {"eobd.ini", u"eobd.ini", CopyKind::SettingsFlat, u"\\Lumvar\\eobd.ini", u"\" /i /v /y"},
        {"diesel/a.crk", u"diesel", CopyKind::SettingsFlat, u"\\Lumvar\\diesel", u"\" /i /v /y"},
        {"Data/kormo/a.dat", u"kormo", CopyKind::DataFlat, u"\\Lumvar\\Data\\kormo", u"\" /i /v /y"},
        {"Data/kormo/Exchange - In/a.xml", u"kormo\\Exchange - In", CopyKind::DataTree,
         u"\\Lumvar\\Data\\kormo\\Exchange - In", u"\" /e /i /v /y"},
    };
    const std::u16string destination = u"C:\\Programmi\\Suite Officina\\dati\\";
    for (const CopyBackCase& c : cases) {
        Save(c.saved);
        launcher.commands.clear();
        EXPECT_TRUE(CopyBack(c.item, c.kind, destination));
        const std::vector<std::u16string> expected{u"/c XCOPY \"" + common + c.sourceAfterCommon + u"\" \"" +
                                                   destination + c.tail};
        EXPECT_EQ(launcher.commands, expected) << c.saved;
    }
}

TEST_F(CopyStepTest, CopyBackSkipsAMissingItemAsSuccess) {
    Save("eobd.ini");  // in the backup folder, not in its Data subfolder
    EXPECT_TRUE(CopyBack(u"oscillo.ini", CopyKind::SettingsFlat, u"C:\\Suite\\"));
    EXPECT_TRUE(CopyBack(u"eobd.ini", CopyKind::DataFlat, u"C:\\Suite\\"));
    EXPECT_TRUE(CopyBack(u"clientmanager", CopyKind::DataTree, u"C:\\Dati\\clientmanager\\"));
    EXPECT_TRUE(launcher.commands.empty());
}

TEST_F(CopyStepTest, CopyBackSourceMayFillTheBufferButNeverExceedIt) {
    const std::size_t room = 259 - (common.size() + std::u16string(u"\\Lumvar\\").size());
    ASSERT_LT(room, 250u) << "the temporary folder is too short for this test";
    const std::string fits(room, 'f');
    const std::string tooLong(room + 1, 'f');
    // The longer name exists too: cutting it down to the buffer would find the shorter one.
    Save(fits);
    Save(tooLong);
    EXPECT_TRUE(CopyBack(U16(fits), CopyKind::SettingsFlat, u"C:\\Suite\\"));
    ASSERT_EQ(launcher.commands.size(), 1u);
    EXPECT_EQ(launcher.commands[0],
              u"/c XCOPY \"" + common + u"\\Lumvar\\" + U16(fits) + u"\" \"C:\\Suite\\\" /i /v /y");

    EXPECT_FALSE(CopyBack(U16(tooLong), CopyKind::SettingsFlat, u"C:\\Suite\\"));
    EXPECT_EQ(launcher.commands.size(), 1u);
}

// Names that would end the quoted path, expand a variable or end the command line.
const char* const kUnsafeNames[] = {"say \"cheese\".ini", "100%.ini", "%PATH%.ini", "line\rbreak.ini",
                                    "line\nfeed.ini"};

TEST_F(CopyStepTest, UnsafeSourcePathsFailWithoutRunningAnything) {
    for (const char* name : kUnsafeNames) {
        WriteFile(temp / "Suite Officina" / name, "x");
        Save(name);
        EXPECT_FALSE(CopyToBackup(U16(temp / "Suite Officina" / name), BackupTarget::TargetRoot)) << name;
        EXPECT_FALSE(CopyBack(U16(name), CopyKind::SettingsFlat, u"C:\\Suite\\")) << name;
        EXPECT_FALSE(CopyAddinTree(U16(temp / "Suite Officina" / name), u"C:\\Nero\\neroaddin\\")) << name;
    }
    EXPECT_TRUE(launcher.commands.empty());
}

TEST_F(CopyStepTest, UnsafeDestinationPathsFailWithoutRunningAnything) {
    Save("eobd.ini");
    for (const char* name : kUnsafeNames) {
        const std::u16string destination = u"C:\\Suite\\" + U16(name) + u"\\";
        EXPECT_FALSE(CopyBack(u"eobd.ini", CopyKind::SettingsFlat, destination)) << name;
        EXPECT_FALSE(CopyAddinTree(u"C:\\Suite\\bancadati\\addin", destination)) << name;
    }
    EXPECT_TRUE(launcher.commands.empty());
}

TEST_F(CopyStepTest, UnsafeCommonFolderFailsWithoutRunningAnything) {
    ScopedEnv percent("ProgramData", (temp / "Data 100%").string());
    Save("eobd.ini");
    WriteFile(temp / "Data 100%" / "Lumvar" / "eobd.ini", "saved");
    EXPECT_FALSE(CopyToBackup(source, BackupTarget::TargetRoot));
    EXPECT_FALSE(CopyBack(u"eobd.ini", CopyKind::SettingsFlat, u"C:\\Suite\\eobd\\"));
    EXPECT_TRUE(launcher.commands.empty());
}

TEST_F(CopyStepTest, AddinFormRunsWithoutAnExistenceTest) {
    EXPECT_TRUE(
        CopyAddinTree(u"C:\\Programmi\\Suite Officina\\bancadati\\addin", u"D:\\Nero 7\\neroaddin\\"));
    EXPECT_EQ(launcher.commands,
              std::vector<std::u16string>{u"/c XCOPY \"C:\\Programmi\\Suite Officina\\bancadati\\addin\" "
                                          u"\"D:\\Nero 7\\neroaddin\\\" /e /i /v /y"});
}

}  // namespace
