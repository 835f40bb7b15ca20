// "/restore" on the real executable: the saved items come back over a fresh installation.
#include <gtest/gtest.h>

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
    // No copy-back touches the live CommonConfig.xml, and the restore only reads the backup folder.
    EXPECT_EQ(restored.at("config/CommonConfig.xml"), FreshInstallation().at("config/CommonConfig.xml"));
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
    EXPECT_EQ(WithoutLiveConfig(ReadTree(root)), WithoutLiveConfig(expected));
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
    EXPECT_EQ(WithoutLiveConfig(ReadTree(root)), WithoutLiveConfig(expected));
}

TEST_P(RestoreScenario, ACommonSwitchInAnyOtherFormIsIgnored) {
    const Tree backup = BackUpAndReinstall();
    EXPECT_EQ(Restore({u"/Common"}), 0);
    EXPECT_EQ(WithoutLiveConfig(ReadTree(root)),
              WithoutLiveConfig(ExpectedRestore(backup, FreshInstallation())));
}

TEST_P(RestoreScenario, ARestoreRunTwiceGivesTheSameInstallation) {
    const Tree backup = BackUpAndReinstall();
    EXPECT_EQ(Restore(), 0);
    EXPECT_EQ(Restore(), 0);
    EXPECT_EQ(WithoutLiveConfig(ReadTree(root)),
              WithoutLiveConfig(ExpectedRestore(backup, FreshInstallation())));
}

INSTANTIATE_TEST_SUITE_P(Builds, RestoreScenario, testing::ValuesIn(AllBuilds()), BuildName);

}  // namespace
}  // namespace e2e
