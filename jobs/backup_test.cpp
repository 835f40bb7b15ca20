#include "jobs/backup.h"

#include <gtest/gtest.h>

#include <algorithm>
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

std::vector<std::u16string> Sorted(std::vector<std::u16string> commands) {
    std::sort(commands.begin(), commands.end());
    return commands;
}

// A modules folder ("Moduli Officina") with a fumi and a gas folder, and a recording launcher.
class BackupTest : public testing::Test {
protected:
    BackupTest()
        : programData_("ProgramData", (temp / "ProgramData").string()),
          common(U16(temp / "ProgramData")),
          fumi(U16(temp / "Moduli Officina" / "fumi") + u"\\"),
          gas(U16(temp / "Moduli Officina" / "gas") + u"\\") {
        job.fumiSource = fumi;
        job.gasSource = gas;
    }

    void Module(const std::string& relative) { WriteFile(temp / "Moduli Officina" / relative, "data"); }

    // The parameter string that saves folder + name into the backup folder's subfolder.
    std::u16string Saved(const std::u16string& folder, const std::u16string& name,
                         const char16_t* tail) const {
        return u"/c XCOPY \"" + folder + name + u"\" \"" + common + tail;
    }

    TempFolder temp;
    ScopedEnv programData_;
    RecordingLauncher launcher;
    const std::u16string common;
    const std::u16string fumi;
    const std::u16string gas;
    CBackup job;
};

TEST_F(BackupTest, ANewJobHasEveryFieldEmpty) {
    const CBackup fresh;
    for (const std::u16string* field :
         {&fresh.commonConfigSource, &fresh.dataSource, &fresh.fumiSource, &fresh.eobdIniSource,
          &fresh.gasSource, &fresh.oscilloIniSource, &fresh.dorvelIniSource, &fresh.wizardConfigSource}) {
        EXPECT_TRUE(field->empty());
    }
}

TEST_F(BackupTest, FumiFilesGoToDieselAndOpaFilesToDataDiesel) {
    for (const char* name :
         {"Calibrazione.CRK", "motore.ini", "leggimi.txt", "profilo.Xml", "prova 01.opa", "misure.dat",
          "archivio/vecchio.xml", "archivio/vecchio.opa", "opa", "crk.bak"}) {
        Module(std::string("fumi/") + name);
    }
    EXPECT_TRUE(job.SaveFumiFiles());
    const char16_t* diesel = u"\\Lumvar\\diesel\\\" /i /v /y";
    EXPECT_EQ(Sorted(launcher.commands),
              Sorted({
                  Saved(fumi, u"Calibrazione.CRK", diesel),
                  Saved(fumi, u"motore.ini", diesel),
                  Saved(fumi, u"leggimi.txt", diesel),
                  Saved(fumi, u"profilo.Xml", diesel),
                  Saved(fumi, u"prova 01.opa", u"\\Lumvar\\Data\\diesel\\\" /i /v /y"),
              }));
}

TEST_F(BackupTest, GasFilesGoToGasAndGasFilesToDataGas) {
    for (const char* name : {"analizzatore.crk", "Gas.INI", "note.txt", "gas.xml", "Prova Città.GAS",
                             "log.dat", "storico/2019.gas", "storico/2019.xml"}) {
        Module(std::string("gas/") + name);
    }
    EXPECT_TRUE(job.SaveGasFiles());
    const char16_t* settings = u"\\Lumvar\\gas\\\" /i /v /y";
    EXPECT_EQ(Sorted(launcher.commands),
              Sorted({
                  Saved(gas, u"analizzatore.crk", settings),
                  Saved(gas, u"Gas.INI", settings),
                  Saved(gas, u"note.txt", settings),
                  Saved(gas, u"gas.xml", settings),
                  Saved(gas, u"Prova Citt\u00e0.GAS", u"\\Lumvar\\Data\\gas\\\" /i /v /y"),
              }));
}

TEST_F(BackupTest, AFolderWhoseNameMatchesIsHandedOnLikeAFile) {
    Module("fumi/modelli.xml/dentro.txt");
    EXPECT_TRUE(job.CopyMatchingFiles(fumi, u"xml", BackupTarget::TargetDiesel));
    EXPECT_EQ(launcher.commands,
              std::vector<std::u16string>{Saved(fumi, u"modelli.xml", u"\\Lumvar\\diesel\\\" /i /v /y")});
}

TEST_F(BackupTest, AFailingCopyFailsTheWalkButEveryEntryIsStillCopied) {
    for (const char* name : {"a.crk", "b.crk", "c.crk", "d.crk"})
        Module(std::string("fumi/") + name);
    launcher.exitCodeFor = [](const std::u16string& parameters) {
        return parameters.find(u"b.crk") != std::u16string::npos ? 5u : 0u;
    };
    EXPECT_FALSE(job.CopyMatchingFiles(fumi, u"crk", BackupTarget::TargetDiesel));
    EXPECT_EQ(launcher.commands.size(), 4u);
}

TEST_F(BackupTest, AFailingCopyInOneGroupDoesNotStopTheOthers) {
    struct Case {
        const char* module;
        bool (CBackup::*save)();
        const char* names[5];
    } cases[] = {
        {"fumi", &CBackup::SaveFumiFiles, {"a.crk", "b.ini", "c.txt", "d.xml", "e.opa"}},
        {"gas", &CBackup::SaveGasFiles, {"a.crk", "b.ini", "c.txt", "d.xml", "e.gas"}},
    };
    launcher.exitCodeFor = [](const std::u16string& parameters) {
        return parameters.find(u"a.crk") != std::u16string::npos ? 4u : 0u;
    };
    for (const Case& c : cases) {
        for (const char* name : c.names)
            Module(std::string(c.module) + "/" + name);
        launcher.commands.clear();
        EXPECT_FALSE((job.*c.save)()) << c.module;
        EXPECT_EQ(launcher.commands.size(), 5u) << c.module;
    }
}

TEST_F(BackupTest, MissingOrEmptyModuleFoldersSaveNothingAndSucceed) {
    EXPECT_TRUE(job.SaveFumiFiles());
    std::filesystem::create_directories(temp / "Moduli Officina" / "gas");
    EXPECT_TRUE(job.SaveGasFiles());
    EXPECT_TRUE(launcher.commands.empty());
}

// A module folder that is there but cannot be listed (here a loop of links) is never taken for an
// empty one: the walk fails, so the backup cannot report success without its files.
TEST_F(BackupTest, AModuleFolderThatCannotBeListedFailsTheWalk) {
    std::filesystem::create_directories(temp / "Moduli Officina");
    std::filesystem::create_symlink("gas", temp / "Moduli Officina" / "fumi");
    std::filesystem::create_symlink("fumi", temp / "Moduli Officina" / "gas");
    EXPECT_FALSE(job.SaveFumiFiles());
    EXPECT_FALSE(job.CopyMatchingFiles(gas, u"xml", BackupTarget::TargetGas));
    EXPECT_TRUE(launcher.commands.empty());
}

TEST_F(BackupTest, CopyToBackupIsTheBackupFormOfTheCopyStep) {
    Module("eobd/eobd.ini");
    const std::u16string source = U16(temp / "Moduli Officina" / "eobd" / "eobd.ini");
    EXPECT_TRUE(job.CopyToBackup(source, BackupTarget::TargetRoot));
    EXPECT_EQ(launcher.commands, std::vector<std::u16string>{u"/c XCOPY \"" + source + u"\" \"" + common +
                                                             u"\\Lumvar\\\" /i /v /y"});
}

}  // namespace
