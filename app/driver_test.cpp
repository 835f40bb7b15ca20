#include "app/driver.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "jobs/recording_launcher.h"
#include "platform/text.h"
#include "tests/support/temp_folder.h"

namespace {

using testing_support::ReadFile;
using testing_support::RecordingLauncher;
using testing_support::ScopedEnv;
using testing_support::TempFolder;
using testing_support::U16;
using testing_support::WriteFile;

// Start-up services that record what start-up did.
std::vector<std::string> startupCalls;
void RecordHide() {
    startupCalls.push_back("hide");
}
bool RecordInitOk() {
    startupCalls.push_back("init");
    return true;
}
bool RecordInitFails() {
    startupCalls.push_back("init");
    return false;
}
constexpr StartupServices kStartupOk{RecordHide, RecordInitOk};
constexpr StartupServices kStartupFails{RecordHide, RecordInitFails};

// The saved CommonConfig.xml of a backup, a live one as an installation brings it, and that live
// one after the merge.
const std::string kSavedConfig = "<Old><brand name=\"Saved\"/></Old>";
const std::string kLiveConfig = "<CommonConfig version=\"4\">\n<brand name=\"Live\"/>\n</CommonConfig>\n";
const std::string kMergedConfig = "<CommonConfig version=\"4\">\n<brand name=\"Saved\"/>\n</CommonConfig>\n";

class DriverTest : public testing::Test {
protected:
    DriverTest()
        : programData_("ProgramData", (temp / "ProgramData").string()), common(U16(temp / "ProgramData")) {
        startupCalls.clear();
    }

    ExitCode Run(std::vector<std::u16string> arguments) {
        arguments.insert(arguments.begin(), u"C:\\Programmi\\Lumvar\\lumvar.exe");
        return RunLumvar(arguments, kStartupOk);
    }

    void Write(const std::string& relative) { WriteFile(temp / relative, "x"); }
    std::u16string Path(const std::string& relative) const { return U16(temp / relative); }

    // An installation with every source of a backup, one matching file per pattern.
    void InstallSuite() {
        for (const char* file : {"suite/Common/CommonConfig.xml", "modules/fumi/a.crk", "modules/fumi/b.opa",
                                 "modules/eobd/eobd.ini", "modules/gas/c.xml", "modules/gas/d.gas",
                                 "modules/oscillo/oscillo.ini", "modules/Utility/Dorvel.ini",
                                 "modules/wizard/ConfigurationWizard.xml", "data/kormo/k.dat"}) {
            Write(file);
        }
    }

    // Every item a restore copies back.
    void SaveBackup() {
        for (const char* item :
             {"diesel/a.crk", "eobd.ini", "gas/c.xml", "oscillo.ini", "ConfigurationWizard.xml",
              "Data/kormo/k.dat", "Data/kormo/Exchange - In/i.xml", "Data/kormo/Exchange - Out/o.xml",
              "Data/clientmanager/c.xml", "Data/diesel/b.opa", "Data/gas/d.gas", "Data/oscillo/o.osc"}) {
            Write(std::string("ProgramData/Lumvar/") + item);
        }
        WriteFile(temp / "ProgramData/Lumvar/CommonConfig.xml", kSavedConfig);
    }

    // The CommonConfig.xml that a new installation brings, in a folder below temp.
    void InstallConfig(const std::string& folder) {
        WriteFile(temp / folder / "CommonConfig.xml", kLiveConfig);
    }

    TempFolder temp;
    ScopedEnv programData_;
    RecordingLauncher launcher;
    const std::u16string common;
};

struct ArgumentCase {
    std::vector<std::u16string> arguments;  // after the program path
    ExitCode expected;
};

TEST_F(DriverTest, MalformedCommandLinesGetTheirCodeAndStartNothing) {
    const ArgumentCase cases[] = {
        {{}, ExitCode::BadArgumentCount},
        {{u"/backup"}, ExitCode::BadArgumentCount},
        {{u"/backup", u"a", u"b"}, ExitCode::BadArgumentCount},
        {{u"/backup", u"a", u"b", u"c", u"d"}, ExitCode::BadArgumentCount},
        {{u"/restore", u"a", u"b"}, ExitCode::BadArgumentCount},
        {{u"/restore", u"a", u"b", u"c", u"/common", u"e"}, ExitCode::BadArgumentCount},
        {{u"/cdnero"}, ExitCode::BadArgumentCount},
        {{u"/cdnero", u"a"}, ExitCode::BadArgumentCount},
        {{u"/cdnero", u"a", u"b", u"c"}, ExitCode::BadArgumentCount},
        {{u"/BACKUP", u"a", u"b", u"c"}, ExitCode::UnknownVerb},
        {{u"/Backup", u"a", u"b", u"c"}, ExitCode::UnknownVerb},
        {{u"backup", u"a", u"b", u"c"}, ExitCode::UnknownVerb},
        {{u"/Restore", u"a", u"b", u"c"}, ExitCode::UnknownVerb},
        {{u"/CDNERO", u"a", u"b"}, ExitCode::UnknownVerb},
        {{u"/backup ", u"a", u"b", u"c"}, ExitCode::UnknownVerb},
        {{u"", u"a", u"b", u"c"}, ExitCode::UnknownVerb},
        {{u"/copy"}, ExitCode::UnknownVerb},
        // An empty or blank folder argument (an installer variable never set) would make every
        // path start at the root of the drive.
        {{u"/backup", u"", Path("modules"), Path("data")}, ExitCode::BadArgumentCount},
        {{u"/backup", Path("suite"), u" ", Path("data")}, ExitCode::BadArgumentCount},
        {{u"/backup", Path("suite"), Path("modules"), u"\t"}, ExitCode::BadArgumentCount},
        {{u"/restore", u"", u"", u""}, ExitCode::BadArgumentCount},
        {{u"/restore", Path("Config"), u" \t ", Path("Comune"), u"/common"}, ExitCode::BadArgumentCount},
        {{u"/restore", Path("Config"), Path("Dati"), u""}, ExitCode::BadArgumentCount},
        {{u"/restore", Path("Config"), Path("Dati"), u"  ", u"/common"}, ExitCode::BadArgumentCount},
        {{u"/cdnero", u"", Path("Nero")}, ExitCode::BadArgumentCount},
        {{u"/cdnero", Path("suite"), u"\t\t"}, ExitCode::BadArgumentCount},
        {{u"/cdnero", u"", u""}, ExitCode::BadArgumentCount},
        {{u"/cdnero", u""}, ExitCode::BadArgumentCount},
    };
    SaveBackup();
    InstallSuite();
    InstallConfig("Config");
    InstallConfig("Comune");
    for (const ArgumentCase& c : cases) {
        EXPECT_EQ(Run(c.arguments), c.expected) << testing::PrintToString(c.arguments);
    }
    EXPECT_TRUE(launcher.commands.empty());
    EXPECT_EQ(ReadFile(temp / "Config/CommonConfig.xml"), kLiveConfig);
    EXPECT_EQ(ReadFile(temp / "Comune/CommonConfig.xml"), kLiveConfig);
}

TEST_F(DriverTest, StartUpHidesTheConsoleThenInitialises) {
    EXPECT_EQ(Run({u"/nothing"}), ExitCode::UnknownVerb);
    EXPECT_EQ(startupCalls, (std::vector<std::string>{"hide", "init"}));
}

TEST_F(DriverTest, AFailedInitialisationEndsWithOneBeforeAnyArgumentIsRead) {
    InstallSuite();
    const std::vector<std::vector<std::u16string>> commandLines = {
        {u"lumvar"},
        {u"lumvar", u"/copy"},
        {u"lumvar", u"/backup", Path("suite"), Path("modules"), Path("data")},
    };
    for (const auto& arguments : commandLines) {
        EXPECT_EQ(RunLumvar(arguments, kStartupFails), ExitCode::FrameworkFailed);
    }
    EXPECT_TRUE(launcher.commands.empty());
}

TEST_F(DriverTest, ExitCodesHaveTheirFixedValues) {
    EXPECT_EQ(static_cast<int>(ExitCode::Success), 0);
    EXPECT_EQ(static_cast<int>(ExitCode::FrameworkFailed), 1);
    EXPECT_EQ(static_cast<int>(ExitCode::BadArgumentCount), 2);
    EXPECT_EQ(static_cast<int>(ExitCode::UnknownVerb), 3);
    EXPECT_EQ(static_cast<int>(ExitCode::BackupFailed), 4);
    EXPECT_EQ(static_cast<int>(ExitCode::RestoreFailed), 5);
    EXPECT_EQ(static_cast<int>(ExitCode::AddinFailed), 6);
}

// The eight steps of a backup in their order, built from the three folder arguments.
std::vector<std::u16string> BackupCommands(const std::u16string& suite, const std::u16string& modules,
                                           const std::u16string& data, const std::u16string& common) {
    const auto copy = [&](const std::u16string& source, const char16_t* tail) {
        return u"/c XCOPY \"" + source + u"\" \"" + common + tail;
    };
    return {
        copy(suite + u"\\Common\\CommonConfig.xml", u"\\Lumvar\\\" /i /v /y"),
        copy(modules + u"\\fumi\\a.crk", u"\\Lumvar\\diesel\\\" /i /v /y"),
        copy(modules + u"\\fumi\\b.opa", u"\\Lumvar\\Data\\diesel\\\" /i /v /y"),
        copy(modules + u"\\eobd\\eobd.ini", u"\\Lumvar\\\" /i /v /y"),
        copy(modules + u"\\gas\\c.xml", u"\\Lumvar\\gas\\\" /i /v /y"),
        copy(modules + u"\\gas\\d.gas", u"\\Lumvar\\Data\\gas\\\" /i /v /y"),
        copy(modules + u"\\oscillo\\oscillo.ini", u"\\Lumvar\\\" /i /v /y"),
        copy(modules + u"\\Utility\\Dorvel.ini", u"\\Lumvar\\\" /i /v /y"),
        copy(modules + u"\\wizard\\ConfigurationWizard.xml", u"\\Lumvar\\\" /i /v /y"),
        copy(data, u"\\Lumvar\\Data\\\" /e /i /v /y"),
    };
}

TEST_F(DriverTest, BackupRunsEveryStepInOrderWithPathsJoinedFromTheArguments) {
    InstallSuite();
    EXPECT_EQ(Run({u"/backup", Path("suite"), Path("modules"), Path("data")}), ExitCode::Success);
    EXPECT_EQ(launcher.commands, BackupCommands(Path("suite"), Path("modules"), Path("data"), common));
}

TEST_F(DriverTest, BackupKeepsATrailingSeparatorOfAnArgument) {
    InstallSuite();
    EXPECT_EQ(Run({u"/backup", Path("suite") + u"\\", Path("modules") + u"\\", Path("data") + u"\\"}),
              ExitCode::Success);
    EXPECT_EQ(launcher.commands,
              BackupCommands(Path("suite") + u"\\", Path("modules") + u"\\", Path("data") + u"\\", common));
    EXPECT_NE(launcher.commands[0].find(u"suite\\\\Common\\CommonConfig.xml"), std::u16string::npos);
}

TEST_F(DriverTest, ABackupWithNothingInstalledSucceedsWithoutCopying) {
    EXPECT_EQ(Run({u"/backup", Path("suite"), Path("modules"), Path("data")}), ExitCode::Success);
    EXPECT_TRUE(launcher.commands.empty());
}

TEST_F(DriverTest, AFailedBackupCopyGivesFourAndTheLaterStepsStillRun) {
    InstallSuite();
    // The first step, and one file of each module group.
    for (const char16_t* failing : {u"CommonConfig.xml", u"fumi\\b.opa", u"gas\\c.xml"}) {
        launcher.commands.clear();
        launcher.exitCodeFor = [failing](const std::u16string& parameters) {
            return parameters.find(failing) != std::u16string::npos ? 4u : 0u;
        };
        EXPECT_EQ(Run({u"/backup", Path("suite"), Path("modules"), Path("data")}), ExitCode::BackupFailed)
            << platform::ToUtf8(failing);
        EXPECT_EQ(launcher.commands, BackupCommands(Path("suite"), Path("modules"), Path("data"), common));
    }
}

TEST_F(DriverTest, OnlyTheDataCopyFailingGivesFour) {
    InstallSuite();
    launcher.exitCodeFor = [](const std::u16string& parameters) {
        return parameters.find(u"/e /i /v /y") != std::u16string::npos ? 5u : 0u;
    };
    EXPECT_EQ(Run({u"/backup", Path("suite"), Path("modules"), Path("data")}), ExitCode::BackupFailed);
    EXPECT_EQ(launcher.commands.size(), 10u);
}

// The twelve copy-backs of a restore in their order, built from the configuration and data folders.
std::vector<std::u16string> RestoreCommands(const std::u16string& config, const std::u16string& data,
                                            const std::u16string& common) {
    const auto copy = [&](const char16_t* item, const std::u16string& destination, const char16_t* tail) {
        return u"/c XCOPY \"" + common + item + u"\" \"" + destination + tail;
    };
    const char16_t* flat = u"\" /i /v /y";
    const char16_t* tree = u"\" /e /i /v /y";
    return {
        copy(u"\\Lumvar\\diesel", config + u"\\diesel\\", flat),
        copy(u"\\Lumvar\\eobd.ini", config + u"\\eobd\\", flat),
        copy(u"\\Lumvar\\Data\\kormo\\Exchange - In", data + u"\\kormo\\In\\", tree),
        copy(u"\\Lumvar\\Data\\kormo\\Exchange - Out", data + u"\\kormo\\Out\\", tree),
        copy(u"\\Lumvar\\gas", config + u"\\gas\\", flat),
        copy(u"\\Lumvar\\oscillo.ini", config + u"\\", flat),
        copy(u"\\Lumvar\\ConfigurationWizard.xml", config + u"\\", flat),
        copy(u"\\Lumvar\\Data\\kormo", data + u"\\kormo\\rec\\", flat),
        copy(u"\\Lumvar\\Data\\clientmanager", data + u"\\clientmanager\\", tree),
        copy(u"\\Lumvar\\Data\\diesel", data + u"\\diesel\\", tree),
        copy(u"\\Lumvar\\Data\\gas", data + u"\\gas\\", tree),
        copy(u"\\Lumvar\\Data\\oscillo", data + u"\\oscillo\\", tree),
    };
}

TEST_F(DriverTest, RestoreMergesTheConfigurationThenRunsTheTwelveCopyBacksInOrder) {
    SaveBackup();
    InstallConfig("Suite Officina/Config");
    InstallConfig("Comune");
    const std::u16string config = Path("Suite Officina/Config");
    const std::u16string data = Path("Dati Officina");
    EXPECT_EQ(Run({u"/restore", config, data, Path("Comune")}), ExitCode::Success);
    EXPECT_EQ(launcher.commands, RestoreCommands(config, data, common));
    EXPECT_EQ(ReadFile(temp / "Suite Officina/Config/CommonConfig.xml"), kMergedConfig);
    EXPECT_EQ(ReadFile(temp / "Comune/CommonConfig.xml"), kLiveConfig);
    EXPECT_EQ(ReadFile(temp / "ProgramData/Lumvar/CommonConfig.xml"), kSavedConfig);
}

TEST_F(DriverTest, RestoreWithAnyOtherFifthWordRunsWithoutTheCommonMerge) {
    SaveBackup();
    InstallConfig("Comune");
    const std::u16string config = Path("Config");
    const std::u16string data = Path("Dati");
    for (const char16_t* fifth : {u"/COMMON", u"common", u"/common ", u"/Common"}) {
        launcher.commands.clear();
        InstallConfig("Config");
        EXPECT_EQ(Run({u"/restore", config, data, Path("Comune"), fifth}), ExitCode::Success);
        EXPECT_EQ(launcher.commands, RestoreCommands(config, data, common));
        EXPECT_EQ(ReadFile(temp / "Config/CommonConfig.xml"), kMergedConfig);
        EXPECT_EQ(ReadFile(temp / "Comune/CommonConfig.xml"), kLiveConfig);
    }
}

// The configuration folder's file is merged before the first copy-back; the common folder's only
// after the last one.
TEST_F(DriverTest, CommonRestoreMergesTheCommonFolderAfterTheCopyBacks) {
    SaveBackup();
    InstallConfig("Config");
    InstallConfig("Comune");
    std::vector<std::string> seen;
    launcher.exitCodeFor = [&](const std::u16string&) {
        seen.push_back(ReadFile(temp / "Config/CommonConfig.xml") +
                       ReadFile(temp / "Comune/CommonConfig.xml"));
        return 0u;
    };
    EXPECT_EQ(Run({u"/restore", Path("Config"), Path("Dati"), Path("Comune"), u"/common"}),
              ExitCode::Success);
    EXPECT_EQ(launcher.commands, RestoreCommands(Path("Config"), Path("Dati"), common));
    EXPECT_EQ(seen, std::vector<std::string>(12, kMergedConfig + kLiveConfig));
    EXPECT_EQ(ReadFile(temp / "Config/CommonConfig.xml"), kMergedConfig);
    EXPECT_EQ(ReadFile(temp / "Comune/CommonConfig.xml"), kMergedConfig);
}

TEST_F(DriverTest, CommonRestoreWithoutAFileInTheCommonFolderGivesFive) {
    SaveBackup();
    InstallConfig("Config");
    std::filesystem::create_directories(temp / "Comune");
    EXPECT_EQ(Run({u"/restore", Path("Config"), Path("Dati"), Path("Comune"), u"/common"}),
              ExitCode::RestoreFailed);
    EXPECT_EQ(launcher.commands, RestoreCommands(Path("Config"), Path("Dati"), common));
    EXPECT_EQ(ReadFile(temp / "Config/CommonConfig.xml"), kMergedConfig);
    EXPECT_TRUE(std::filesystem::is_empty(temp / "Comune"));
}

TEST_F(DriverTest, AMissingSavedConfigurationGivesFiveAfterEveryCopyBack) {
    SaveBackup();
    std::filesystem::remove(temp / "ProgramData/Lumvar/CommonConfig.xml");
    InstallConfig("Config");
    EXPECT_EQ(Run({u"/restore", Path("Config"), Path("Dati"), Path("Comune")}), ExitCode::RestoreFailed);
    EXPECT_EQ(launcher.commands, RestoreCommands(Path("Config"), Path("Dati"), common));
    EXPECT_EQ(ReadFile(temp / "Config/CommonConfig.xml"), kLiveConfig);
}

TEST_F(DriverTest, RestoreKeepsATrailingSeparatorOfAnArgument) {
    SaveBackup();
    InstallConfig("Suite");
    const std::u16string config = Path("Suite") + u"\\";
    EXPECT_EQ(Run({u"/restore", config, Path("Dati") + u"\\", Path("Comune") + u"\\"}), ExitCode::Success);
    EXPECT_EQ(launcher.commands, RestoreCommands(config, Path("Dati") + u"\\", common));
    EXPECT_EQ(launcher.commands[5],
              u"/c XCOPY \"" + common + u"\\Lumvar\\oscillo.ini\" \"" + Path("Suite") + u"\\\\\" /i /v /y");
    EXPECT_EQ(ReadFile(temp / "Suite/CommonConfig.xml"), kMergedConfig);
}

TEST_F(DriverTest, AFailedCopyBackGivesFiveAndTheLaterStepsStillRun) {
    SaveBackup();
    InstallConfig("Config");
    launcher.exitCodeFor = [](const std::u16string& parameters) {
        return parameters.find(u"Exchange - In") != std::u16string::npos ? 4u : 0u;
    };
    EXPECT_EQ(Run({u"/restore", Path("Config"), Path("Dati"), Path("Comune")}), ExitCode::RestoreFailed);
    EXPECT_EQ(launcher.commands, RestoreCommands(Path("Config"), Path("Dati"), common));
    EXPECT_EQ(ReadFile(temp / "Config/CommonConfig.xml"), kMergedConfig);
}

TEST_F(DriverTest, CdNeroCopiesTheAddinThenRenames) {
    Write("Nero/neroaddin/sett.xml");
    EXPECT_EQ(Run({u"/cdnero", Path("Suite Officina"), Path("Nero")}), ExitCode::Success);
    EXPECT_EQ(launcher.commands, std::vector<std::u16string>{u"/c XCOPY \"" + Path("Suite Officina") +
                                                             u"\\bancadati\\addin\" \"" + Path("Nero") +
                                                             u"\\neroaddin\\\" /e /i /v /y"});
    EXPECT_TRUE(std::filesystem::exists(temp / "Nero" / "neroaddin" / "settings.xml"));
}

TEST_F(DriverTest, CdNeroRenamesEvenWhenTheCopyFailsAndGivesSix) {
    Write("Nero/neroaddin/sett.xml");
    launcher.exitCodeFor = [](const std::u16string&) { return 4u; };
    EXPECT_EQ(Run({u"/cdnero", Path("Suite"), Path("Nero")}), ExitCode::AddinFailed);
    EXPECT_TRUE(std::filesystem::exists(temp / "Nero" / "neroaddin" / "settings.xml"));
}

TEST_F(DriverTest, CdNeroWithoutSettGivesSix) {
    EXPECT_EQ(Run({u"/cdnero", Path("Suite"), Path("Nero")}), ExitCode::AddinFailed);
    EXPECT_EQ(launcher.commands.size(), 1u);
}

// A blank fifth word of a restore is no folder: like any word but "/common", it is ignored.
TEST_F(DriverTest, OnlyFolderArgumentsMustNotBeBlank) {
    SaveBackup();
    InstallConfig("Config");
    EXPECT_EQ(Run({u"/restore", Path("Config"), Path("Dati"), Path("Comune"), u" "}), ExitCode::Success);
    EXPECT_EQ(launcher.commands, RestoreCommands(Path("Config"), Path("Dati"), common));
}

// Makes a folder the working folder for the object's lifetime.
class ScopedWorkingFolder {
public:
    explicit ScopedWorkingFolder(const std::filesystem::path& folder)
        : previous_(std::filesystem::current_path()) {
        std::filesystem::current_path(folder);
    }
    ~ScopedWorkingFolder() {
        std::error_code ignored;
        std::filesystem::current_path(previous_, ignored);
    }
    ScopedWorkingFolder(const ScopedWorkingFolder&) = delete;
    ScopedWorkingFolder& operator=(const ScopedWorkingFolder&) = delete;

private:
    std::filesystem::path previous_;
};

// The command interpreter runs in a folder of its own: relative folder arguments reach it joined to
// the tool's working folder, absolute ones exactly as given.
TEST_F(DriverTest, RelativeFolderArgumentsAreJoinedToTheWorkingFolder) {
    InstallSuite();
    SaveBackup();
    InstallConfig("Config");
    Write("Nero/neroaddin/sett.xml");
    const ScopedWorkingFolder working(temp.path());
    const std::u16string here = U16(std::filesystem::current_path()) + u"/";

    EXPECT_EQ(Run({u"/backup", u"suite", Path("modules"), u"./data"}), ExitCode::Success);
    EXPECT_EQ(launcher.commands, BackupCommands(here + u"suite", Path("modules"), here + u"./data", common));

    launcher.commands.clear();
    InstallConfig("Comune");
    EXPECT_EQ(Run({u"/restore", u"Config\\", u"Dati", u"Comune", u"/common"}), ExitCode::Success);
    EXPECT_EQ(launcher.commands, RestoreCommands(here + u"Config\\", here + u"Dati", common));
    EXPECT_EQ(ReadFile(temp / "Config/CommonConfig.xml"), kMergedConfig);
    EXPECT_EQ(ReadFile(temp / "Comune/CommonConfig.xml"), kMergedConfig);

    launcher.commands.clear();
    EXPECT_EQ(Run({u"/cdnero", u"C:\\Suite", u"Nero"}), ExitCode::Success);
    EXPECT_EQ(launcher.commands,
              std::vector<std::u16string>{u"/c XCOPY \"" + here + u"C:\\Suite\\bancadati\\addin\" \"" + here +
                                          u"Nero\\neroaddin\\\" /e /i /v /y"});
    EXPECT_TRUE(std::filesystem::exists(temp / "Nero" / "neroaddin" / "settings.xml"));
}

// A working folder that no longer exists gives relative arguments no meaning: the job fails
// without running anything. Absolute arguments do not depend on it.
TEST_F(DriverTest, RelativeFolderArgumentsWithoutAWorkingFolderFailTheJob) {
    InstallSuite();
    SaveBackup();
    InstallConfig("Config");
    Write("Nero/neroaddin/sett.xml");
    std::filesystem::create_directories(temp / "gone");
    const ScopedWorkingFolder working(temp / "gone");
    std::filesystem::remove(temp / "gone");
    const ArgumentCase cases[] = {
        {{u"/backup", Path("suite"), Path("modules"), u"data"}, ExitCode::BackupFailed},
        {{u"/restore", Path("Config"), u"Dati", Path("Comune")}, ExitCode::RestoreFailed},
        {{u"/cdnero", u"suite", Path("Nero")}, ExitCode::AddinFailed},
    };
    for (const ArgumentCase& c : cases) {
        EXPECT_EQ(Run(c.arguments), c.expected) << testing::PrintToString(c.arguments);
    }
    EXPECT_TRUE(launcher.commands.empty());
    EXPECT_EQ(ReadFile(temp / "Config/CommonConfig.xml"), kLiveConfig);
    EXPECT_TRUE(std::filesystem::exists(temp / "Nero" / "neroaddin" / "sett.xml"));
    EXPECT_EQ(Run({u"/backup", Path("suite"), Path("modules"), Path("data")}), ExitCode::Success);
    EXPECT_EQ(launcher.commands, BackupCommands(Path("suite"), Path("modules"), Path("data"), common));
}

}  // namespace
