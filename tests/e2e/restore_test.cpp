// "/restore" on the real executable: the saved items come back over a fresh installation.
#include <gtest/gtest.h>

#include <thread>

#include "tests/e2e/scenario_support.h"

namespace e2e {
namespace {

namespace fs = std::filesystem;
using testing_support::ReadFile;
using testing_support::WriteFile;

class RestoreScenario : public Scenario {
protected:
    // Backs the sample installation up, removes it and installs the fresh defaults in its place.
    Tree BackUpAndReinstall() {
        WriteTree(root, SampleInstallation());
        EXPECT_EQ(Backup(), 0);
        fs::remove_all(root);
        WriteTree(root, FreshInstallation());
        return ReadTree(BackupFolder());
    }
};

TEST_P(RestoreScenario, TheRoundTripBringsEverySavedItemBackToItsPlace) {
    const Tree backup = BackUpAndReinstall();
    ASSERT_EQ(backup, ExpectedBackup(SampleInstallation()));
    EXPECT_EQ(Restore(), 0);

    const Tree restored = ReadTree(root);
    EXPECT_EQ(WithoutLiveConfig(restored), WithoutLiveConfig(ExpectedRestore(backup, FreshInstallation())));
    // The destinations, spelled out on the sample's files.
    const Tree sample = SampleInstallation();
    const struct {
        const char* original;
        const char* restored;
    } places[] = {
        {"modules/fumi/Calibrazione.CRK", "config/diesel/Calibrazione.CRK"},
        {"modules/fumi/Prova Nicolò.opa", "data/diesel/Prova Nicolò.opa"},
        {"data/diesel/Archivio/Prova 0003.opa", "data/diesel/Archivio/Prova 0003.opa"},
        {"modules/gas/gas.ini", "config/gas/gas.ini"},
        {"modules/gas/Prova Università.GAS", "data/gas/Prova Università.GAS"},
        {"modules/eobd/eobd.ini", "config/eobd/eobd.ini"},
        {"modules/oscillo/oscillo.ini", "config/oscillo.ini"},
        {"modules/wizard/ConfigurationWizard.xml", "config/ConfigurationWizard.xml"},
        {"data/kormo/Officina Ricci.idx", "data/kormo/rec/Officina Ricci.idx"},
        {"data/kormo/Exchange - In/2019/Ordine 0002.xml", "data/kormo/In/2019/Ordine 0002.xml"},
        {"data/kormo/Exchange - Out/Revisione Città.xml", "data/kormo/Out/Revisione Città.xml"},
        {"data/clientmanager/archivio/2020/Müller Jürgen.xml",
         "data/clientmanager/archivio/2020/Müller Jürgen.xml"},
        {"data/oscillo/sonde/Sonda A.ini", "data/oscillo/sonde/Sonda A.ini"},
    };
    for (const auto& place : places) {
        ASSERT_EQ(restored.count(place.restored), 1u) << place.restored;
        EXPECT_EQ(restored.at(place.restored), sample.at(place.original)) << place.restored;
    }
    EXPECT_EQ(restored.at("data/clientmanager/Esportazioni"), kEmptyFolder);
    EXPECT_EQ(restored.count("data/kormo/rec/Exchange - In"), 0u) << "kormo's subfolders do not go to rec";
    EXPECT_EQ(restored.count("config/Dorvel.ini"), 0u) << "Dorvel.ini is saved but never restored";
    // The configuration folder's CommonConfig.xml carries the old customer details and language in
    // the new file's structure; without "/common" the common folder's stays as installed. The
    // restore only reads the backup folder.
    EXPECT_EQ(restored.at("config/CommonConfig.xml"), MergedConfig("config"));
    EXPECT_EQ(restored.at("common/CommonConfig.xml"), FreshInstallation().at("common/CommonConfig.xml"));
    EXPECT_EQ(ReadTree(BackupFolder()), backup);
}

TEST_P(RestoreScenario, AnEmptySavedDataFolderLeavesTheDataFolderAsInstalled) {
    const Tree sample = SampleInstallation();
    WriteTree(BackupFolder(), {{"CommonConfig.xml", sample.at("suite/Common/CommonConfig.xml")},
                               {"eobd.ini", sample.at("modules/eobd/eobd.ini")},
                               {"oscillo.ini", sample.at("modules/oscillo/oscillo.ini")},
                               {"Data", kEmptyFolder}});
    const Tree fresh = FreshInstallation();
    WriteTree(root, fresh);
    EXPECT_EQ(Restore(), 0);

    Tree expected = fresh;
    expected["config/eobd/eobd.ini"] = sample.at("modules/eobd/eobd.ini");
    expected["config/oscillo.ini"] = sample.at("modules/oscillo/oscillo.ini");
    expected["config/CommonConfig.xml"] = MergedConfig("config");
    EXPECT_EQ(ReadTree(root), expected);
}

TEST_P(RestoreScenario, AFailingCopyBackGivesFiveWhileTheLaterStepsStillRun) {
    const Tree backup = BackUpAndReinstall();
    // A file where the exchange-in folder belongs: the fourth copy-back cannot write there.
    WriteFile(root / "data" / "kormo" / "In", "not a folder");
    EXPECT_EQ(Restore(), 5);

    Tree expected;
    for (const auto& [path, content] : ExpectedRestore(backup, FreshInstallation())) {
        if (path.rfind("data/kormo/In/", 0) != 0)
            expected[path] = content;
    }
    expected["data/kormo/In"] = "not a folder";
    expected["config/CommonConfig.xml"] = MergedConfig("config");
    EXPECT_EQ(ReadTree(root), expected);
}

TEST_P(RestoreScenario, ACommonSwitchInAnyOtherFormIsIgnored) {
    const Tree backup = BackUpAndReinstall();
    EXPECT_EQ(Restore({u"/Common"}), 0);
    Tree expected = ExpectedRestore(backup, FreshInstallation());
    expected["config/CommonConfig.xml"] = MergedConfig("config");
    EXPECT_EQ(ReadTree(root), expected);
}

TEST_P(RestoreScenario, ARestoreRunTwiceGivesTheSameInstallation) {
    const Tree backup = BackUpAndReinstall();
    EXPECT_EQ(Restore(), 0);
    EXPECT_EQ(Restore(), 0);
    Tree expected = ExpectedRestore(backup, FreshInstallation());
    expected["config/CommonConfig.xml"] = MergedConfig("config");
    EXPECT_EQ(ReadTree(root), expected);
}

// Two restores of the same installation at once (an installer started twice) both succeed: each
// one's clean-up of stale temporaries leaves the other's temporaries alone while it writes them.
TEST_P(RestoreScenario, TwoRestoresAtOnceBothSucceed) {
    if (GetParam() != "posix")
        GTEST_SKIP() << "run on the POSIX build; under Wine each run takes seconds, so they rarely overlap";
    const Tree backup = BackUpAndReinstall();
    for (int round = 0; round < 8; ++round) {
        int other = -1;
        std::thread second([this, &other] { other = Restore({u"/common"}); });
        const int first = Restore({u"/common"});
        second.join();
        EXPECT_EQ(first, 0) << "round " << round;
        EXPECT_EQ(other, 0) << "round " << round;
    }
    Tree expected = ExpectedRestore(backup, FreshInstallation());
    expected["config/CommonConfig.xml"] = MergedConfig("config");
    expected["common/CommonConfig.xml"] = MergedConfig("common");
    EXPECT_EQ(ReadTree(root), expected);
}

// "/common" merges the same saved values into the common folder's own copy, whose other contents
// and layout differ from the configuration folder's.
TEST_P(RestoreScenario, TheCommonSwitchAlsoMergesTheCommonFoldersFile) {
    const Tree backup = BackUpAndReinstall();
    EXPECT_EQ(Restore({u"/common"}), 0);
    Tree expected = ExpectedRestore(backup, FreshInstallation());
    expected["config/CommonConfig.xml"] = MergedConfig("config");
    expected["common/CommonConfig.xml"] = MergedConfig("common");
    EXPECT_EQ(ReadTree(root), expected);
    EXPECT_EQ(ReadTree(BackupFolder()), backup);
}

TEST_P(RestoreScenario, TheCommonSwitchWithoutAFileThereGivesFiveAfterTheOtherSteps) {
    const Tree backup = BackUpAndReinstall();
    fs::remove(root / "common" / "CommonConfig.xml");
    EXPECT_EQ(Restore({u"/common"}), 5);
    Tree expected = ExpectedRestore(backup, FreshInstallation());
    expected.erase("common/CommonConfig.xml");
    expected["common"] = kEmptyFolder;
    expected["config/CommonConfig.xml"] = MergedConfig("config");
    EXPECT_EQ(ReadTree(root), expected);
}

// A saved or live CommonConfig.xml that cannot be read or parsed fails the merge: the live file
// stays byte for byte as it was (or absent), every copy-back still runs, and the code is 5.
TEST_P(RestoreScenario, AnUnreadableConfigurationFileGivesFiveAndIsLeftAlone) {
    const struct {
        const char* name;
        bool inBackup;        // which file is spoiled: the saved one or the live one
        const char* content;  // nullptr: the file is missing
    } cases[] = {
        {"saved file missing", true, nullptr},
        {"saved file malformed", true, "<CommonConfig><brand name=\"Lumen\"></CommonConfig>"},
        {"saved file empty", true, ""},
        {"live file missing", false, nullptr},
        {"live file malformed", false, "<CommonConfig>\r\n\t<brand name=\"Lumen\"/>\r\n"},
        {"live file with two roots", false, "<CommonConfig/><CommonConfig/>"},
    };
    const Tree sample = SampleInstallation();
    WriteTree(root, sample);
    ASSERT_EQ(Backup(), 0);
    const Tree backup = ReadTree(BackupFolder());
    const Tree fresh = FreshInstallation();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(root);
        WriteTree(root, fresh);
        WriteTree(BackupFolder(), backup);
        const fs::path spoiled =
            c.inBackup ? BackupFolder() / "CommonConfig.xml" : root / "config" / "CommonConfig.xml";
        if (c.content == nullptr) {
            fs::remove(spoiled);
        } else {
            WriteFile(spoiled, c.content);
        }
        EXPECT_EQ(Restore(), 5);

        Tree saved = backup;
        Tree expected = ExpectedRestore(backup, fresh);
        // The spoiled file stays as it was written, or absent; the other is merged or untouched.
        Tree& holder = c.inBackup ? saved : expected;
        const std::string entry = c.inBackup ? "CommonConfig.xml" : "config/CommonConfig.xml";
        if (c.content == nullptr) {
            holder.erase(entry);
        } else {
            holder[entry] = c.content;
        }
        EXPECT_EQ(ReadTree(root), expected);
        EXPECT_EQ(ReadTree(BackupFolder()), saved);
    }
}

// The common folder's file on a disk that is full: its merge cannot be written, so the restore
// gives 5, and the installed file survives whole. Without "/common" the same restore succeeds.
TEST_P(RestoreScenario, ACommonFolderOnAFullDiskKeepsItsFileAndGivesFive) {
    if (runner->Name() == "wine")
        GTEST_SKIP() << "the full disk is mounted in this test's own mount namespace, which the Wine server "
                        "started by earlier tests does not share";
    const Tree backup = BackUpAndReinstall();
    const ScopedTmpfs disk(root / "common", "size=64k");
    if (!disk.mounted())
        GTEST_SKIP() << disk.reason();
    const Tree fresh = FreshInstallation();
    WriteFile(root / "common" / "CommonConfig.xml", fresh.at("common/CommonConfig.xml"));
    ASSERT_EQ(FillFileSystem(root / "common" / "filler"), ENOSPC);
    const std::string filler = ReadFile(root / "common" / "filler");

    EXPECT_EQ(Restore({u"/common"}), 5);
    Tree expected = ExpectedRestore(backup, fresh);
    expected["config/CommonConfig.xml"] = MergedConfig("config");
    expected["common/filler"] = filler;
    EXPECT_EQ(ReadTree(root), expected);

    EXPECT_EQ(Restore(), 0);
    EXPECT_EQ(ReadTree(root), expected);
}

INSTANTIATE_TEST_SUITE_P(Builds, RestoreScenario, testing::ValuesIn(AllBuilds()), BuildName);

}  // namespace
}  // namespace e2e
