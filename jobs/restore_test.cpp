#include "jobs/restore.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "jobs/recording_launcher.h"
#include "tests/support/temp_folder.h"

namespace {

using testing_support::RecordingLauncher;
using testing_support::ScopedEnv;
using testing_support::TempFolder;
using testing_support::U16;
using testing_support::WriteFile;

// Every item a backup saves, below the backup folder.
const char* const kSavedItems[] = {
    "diesel/motore.ini",
    "eobd.ini",
    "gas/gas.ini",
    "oscillo.ini",
    "ConfigurationWizard.xml",
    "Data/kormo/clienti.dat",
    "Data/kormo/Exchange - In/ordine.xml",
    "Data/kormo/Exchange - Out/fattura.xml",
    "Data/clientmanager/archivio/Rossi.xml",
    "Data/diesel/prova.opa",
    "Data/gas/prova.gas",
    "Data/oscillo/traccia.osc",
};

class RestoreTest : public testing::Test {
protected:
    RestoreTest()
        : programData_("ProgramData", (temp / "ProgramData").string()), common(U16(temp / "ProgramData")) {
        job.recFolder = u"D:\\Dati Officina\\kormo\\rec\\";
        job.clientManagerFolder = u"D:\\Dati Officina\\clientmanager\\";
        job.commonConfigFile = u"C:\\Suite\\CommonConfig.xml";
        job.dieselConfigFolder = u"C:\\Suite\\diesel\\";
        job.dieselDataFolder = u"D:\\Dati Officina\\diesel\\";
        job.eobdFolder = u"C:\\Suite\\eobd\\";
        job.exchangeInFolder = u"D:\\Dati Officina\\kormo\\In\\";
        job.exchangeOutFolder = u"D:\\Dati Officina\\kormo\\Out\\";
        job.gasConfigFolder = u"C:\\Suite\\gas\\";
        job.gasDataFolder = u"D:\\Dati Officina\\gas\\";
        job.oscilloIniFolder = u"C:\\Suite\\\\";
        job.oscilloDataFolder = u"D:\\Dati Officina\\oscillo\\";
        job.wizardFolder = u"C:\\Suite\\";
    }

    void SaveEverything() {
        for (const char* item : kSavedItems)
            WriteFile(temp / "ProgramData" / "Lumvar" / item, "saved");
    }

    TempFolder temp;
    ScopedEnv programData_;
    RecordingLauncher launcher;
    const std::u16string common;
    CRestore job;
};

struct CopyBackStep {
    bool (CRestore::*step)();
    const char16_t* sourceAfterCommon;
    const char16_t* destinationAndTail;
};

const CopyBackStep kSteps[] = {
    {&CRestore::RestoreDieselConfig, u"\\Lumvar\\diesel", u"C:\\Suite\\diesel\\\" /i /v /y"},
    {&CRestore::RestoreEobdIni, u"\\Lumvar\\eobd.ini", u"C:\\Suite\\eobd\\\" /i /v /y"},
    {&CRestore::RestoreExchangeIn, u"\\Lumvar\\Data\\kormo\\Exchange - In",
     u"D:\\Dati Officina\\kormo\\In\\\" /e /i /v /y"},
    {&CRestore::RestoreExchangeOut, u"\\Lumvar\\Data\\kormo\\Exchange - Out",
     u"D:\\Dati Officina\\kormo\\Out\\\" /e /i /v /y"},
    {&CRestore::RestoreGasConfig, u"\\Lumvar\\gas", u"C:\\Suite\\gas\\\" /i /v /y"},
    {&CRestore::RestoreOscilloIni, u"\\Lumvar\\oscillo.ini", u"C:\\Suite\\\\\" /i /v /y"},
    {&CRestore::RestoreWizardConfig, u"\\Lumvar\\ConfigurationWizard.xml", u"C:\\Suite\\\" /i /v /y"},
    {&CRestore::RestoreRec, u"\\Lumvar\\Data\\kormo", u"D:\\Dati Officina\\kormo\\rec\\\" /i /v /y"},
    {&CRestore::RestoreClientManager, u"\\Lumvar\\Data\\clientmanager",
     u"D:\\Dati Officina\\clientmanager\\\" /e /i /v /y"},
    {&CRestore::RestoreDieselData, u"\\Lumvar\\Data\\diesel", u"D:\\Dati Officina\\diesel\\\" /e /i /v /y"},
    {&CRestore::RestoreGasData, u"\\Lumvar\\Data\\gas", u"D:\\Dati Officina\\gas\\\" /e /i /v /y"},
    {&CRestore::RestoreOscilloData, u"\\Lumvar\\Data\\oscillo",
     u"D:\\Dati Officina\\oscillo\\\" /e /i /v /y"},
};

TEST_F(RestoreTest, EachCopyBackStepRunsOneCopyWithItsExactParameters) {
    SaveEverything();
    for (const CopyBackStep& s : kSteps) {
        launcher.commands.clear();
        EXPECT_TRUE((job.*s.step)());
        const std::vector<std::u16string> expected{u"/c XCOPY \"" + common + s.sourceAfterCommon + u"\" \"" +
                                                   s.destinationAndTail};
        EXPECT_EQ(launcher.commands, expected);
    }
}

TEST_F(RestoreTest, AFailedCopyFailsItsStep) {
    SaveEverything();
    launcher.exitCodeFor = [](const std::u16string&) { return 4u; };
    for (const CopyBackStep& s : kSteps)
        EXPECT_FALSE((job.*s.step)()) << std::string(s.sourceAfterCommon, s.sourceAfterCommon + 3);
    EXPECT_EQ(launcher.commands.size(), std::size(kSteps));
}

TEST_F(RestoreTest, AnEmptyBackupFolderRunsNothingAndEveryStepSucceeds) {
    std::filesystem::create_directories(temp / "ProgramData" / "Lumvar" / "Data");
    for (const CopyBackStep& s : kSteps)
        EXPECT_TRUE((job.*s.step)());
    EXPECT_TRUE(launcher.commands.empty());
}

TEST_F(RestoreTest, AnEmptySavedDataFolderLeavesOnlyTheSettingsStepsRunning) {
    SaveEverything();
    std::filesystem::remove_all(temp / "ProgramData" / "Lumvar" / "Data");
    std::filesystem::create_directories(temp / "ProgramData" / "Lumvar" / "Data");
    for (const CopyBackStep& s : kSteps)
        EXPECT_TRUE((job.*s.step)());
    // diesel, eobd.ini, gas, oscillo.ini and ConfigurationWizard.xml
    EXPECT_EQ(launcher.commands.size(), 5u);
    for (const std::u16string& command : launcher.commands)
        EXPECT_EQ(command.find(u"\\Data\\"), std::u16string::npos);
}

TEST_F(RestoreTest, SetCommonFolderPointsTheConfigFileIntoIt) {
    CRestore fresh;
    EXPECT_TRUE(fresh.commonConfigFile.empty());
    fresh.SetCommonFolder(u"C:\\Comune Officina");
    EXPECT_EQ(fresh.commonConfigFile, u"C:\\Comune Officina\\CommonConfig.xml");
    fresh.SetCommonFolder(u"E:\\");
    EXPECT_EQ(fresh.commonConfigFile, u"E:\\\\CommonConfig.xml");
}

TEST_F(RestoreTest, ANewJobHasEveryFieldEmpty) {
    const CRestore fresh;
    for (const std::u16string* field :
         {&fresh.recFolder, &fresh.clientManagerFolder, &fresh.commonConfigFile, &fresh.dieselConfigFolder,
          &fresh.dieselDataFolder, &fresh.eobdFolder, &fresh.exchangeInFolder, &fresh.exchangeOutFolder,
          &fresh.gasConfigFolder, &fresh.gasDataFolder, &fresh.oscilloIniFolder, &fresh.oscilloDataFolder,
          &fresh.wizardFolder}) {
        EXPECT_TRUE(field->empty());
    }
}

}  // namespace
