// "/backup" on the real executable: the layout of the backup folder, file by file.
#include <gtest/gtest.h>

#include "tests/e2e/scenario_support.h"

namespace e2e {
namespace {

namespace fs = std::filesystem;
using testing_support::ReadFile;
using testing_support::WriteFile;

class BackupScenario : public Scenario {};

TEST_P(BackupScenario, TheSampleInstallationLandsInTheBackupFolderFileByFile) {
    const Tree sample = SampleInstallation();
    WriteTree(root, sample);
    EXPECT_EQ(Backup(), 0);
    const Tree backup = ReadTree(BackupFolder());
    EXPECT_EQ(backup, ExpectedBackup(sample));

    // The rules of the layout, spelled out on a few of the sample's files.
    EXPECT_EQ(backup.count("diesel/Calibrazione.CRK"), 1u) << "extensions are matched ignoring case";
    EXPECT_EQ(backup.count("gas/Note Gas.TXT"), 1u);
    EXPECT_EQ(backup.count("Data/gas/Prova Università.GAS"), 1u);
    EXPECT_EQ(backup.count("Data/diesel/Prova Nicolò.opa"), 1u);
    EXPECT_EQ(backup.count("diesel/misure.dat"), 0u) << "other extensions are not saved";
    EXPECT_EQ(backup.count("diesel/Parametri 2017.xml"), 0u) << "files in subfolders of fumi are not saved";
    EXPECT_EQ(backup.count("gas/gas 2017.xml"), 0u) << "files in subfolders of gas are not saved";
    EXPECT_EQ(backup.count("Data/clientmanager/Esportazioni"), 1u) << "empty folders of the data are saved";
    EXPECT_EQ(backup.at("CommonConfig.xml"), sample.at("suite/Common/CommonConfig.xml"));
}

TEST_P(BackupScenario, AnInstallationWithNothingToSaveSucceeds) {
    fs::create_directories(root);
    EXPECT_EQ(Backup(), 0);
    EXPECT_TRUE(ReadTree(BackupFolder()).empty());
}

TEST_P(BackupScenario, APartialInstallationSavesWhatItHas) {
    Tree partial = SampleInstallation();
    for (auto it = partial.begin(); it != partial.end();) {
        const bool keep = it->first.rfind("modules/gas/", 0) == 0 || it->first == "modules/eobd/eobd.ini";
        it = keep ? std::next(it) : partial.erase(it);
    }
    WriteTree(root, partial);
    EXPECT_EQ(Backup(), 0);
    EXPECT_EQ(ReadTree(BackupFolder()), ExpectedBackup(partial));
}

TEST_P(BackupScenario, AFailingCopyGivesFourWhileEveryOtherStepStillRuns) {
    if (runner->Name() == "wine")
        GTEST_SKIP() << "Wine 8's xcopy loops for ever when a folder of the destination path is a file "
                        "(Windows reports an error); the POSIX build runs this scenario";
    const Tree sample = SampleInstallation();
    WriteTree(root, sample);
    // A file where the backup's Data folder belongs: every copy into it must fail.
    WriteFile(BackupFolder() / "Data", "not a folder");
    EXPECT_EQ(Backup(), 4);

    Tree expected;
    for (const auto& [path, content] : ExpectedBackup(sample)) {
        if (path.rfind("Data/", 0) != 0)
            expected[path] = content;
    }
    expected["Data"] = "not a folder";
    EXPECT_EQ(ReadTree(BackupFolder()), expected);
}

TEST_P(BackupScenario, FilesOfAnEarlierBackupStayAndSameNamesAreOverwritten) {
    WriteTree(BackupFolder(), {{"eobd.ini", "[EOBD]\nold=1\n"},
                               {"Vecchio.ini", "from an earlier backup"},
                               {"diesel/Vecchio.crk", "earlier"},
                               {"Data/kormo/archiviato.dat", "earlier"}});
    Tree sample = SampleInstallation();
    WriteTree(root, sample);
    EXPECT_EQ(Backup(), 0);

    // Files removed from the suite after one backup are still in the folder after the next.
    fs::remove(root / "modules" / "oscillo" / "oscillo.ini");
    fs::remove(root / "data" / "kormo" / "veicoli.dat");
    EXPECT_EQ(Backup(), 0);

    Tree expected = ExpectedBackup(sample);
    expected["Vecchio.ini"] = "from an earlier backup";
    expected["diesel/Vecchio.crk"] = "earlier";
    expected["Data/kormo/archiviato.dat"] = "earlier";
    EXPECT_EQ(ReadTree(BackupFolder()), expected);
}

TEST_P(BackupScenario, FolderArgumentsWithATrailingSeparatorStillWork) {
    const Tree sample = SampleInstallation();
    WriteTree(root, sample);
    EXPECT_EQ(Run({u"/backup", Tool("suite") + u"\\", Tool("modules") + u"\\", Tool("data") + u"\\"}), 0);
    EXPECT_EQ(ReadTree(BackupFolder()), ExpectedBackup(sample));
}

INSTANTIATE_TEST_SUITE_P(Builds, BackupScenario, testing::ValuesIn(AllBuilds()), BuildName);

}  // namespace
}  // namespace e2e
