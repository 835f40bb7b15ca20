#include "jobs/run_report.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "jobs/backup.h"
#include "jobs/cd_nero.h"
#include "jobs/recording_launcher.h"
#include "jobs/restore.h"
#include "platform/text.h"
#include "tests/support/temp_folder.h"

namespace {

namespace fs = std::filesystem;
using testing_support::ReadFile;
using testing_support::RecordingLauncher;
using testing_support::ScopedEnv;
using testing_support::TempFolder;
using testing_support::U16;
using testing_support::WriteFile;

// The report with the parts that change from run to run replaced: the header's time by "<time>"
// and each duration by "<n> ms".
std::string Normalised(const std::string& report) {
    static const std::regex time("(^|\n)\\d{4}-\\d{2}-\\d{2}T\\d{2}:\\d{2}:\\d{2}Z ");
    static const std::regex duration(" \\| \\d+ ms \\| ");
    return std::regex_replace(std::regex_replace(report, time, "$1<time> "), duration, " | <n> ms | ");
}

class RunReportTest : public testing::Test {
protected:
    RunReportTest()
        : programData_("ProgramData", (temp / "ProgramData").string()),
          common((temp / "ProgramData").string()),
          modules((temp / "Moduli è").string()) {}

    std::string Report() const { return Normalised(ReadFile(reportFile)); }

    TempFolder temp;
    ScopedEnv programData_;
    RecordingLauncher launcher;
    const std::string common;
    const std::string modules;
    const fs::path reportFile = temp / "Report" / "lumvar.log";
};

// Each line is in the file as soon as its step has ended, nested copies come before the step that
// made them, and the run ends with the exit code; a second run appends below the first.
TEST_F(RunReportTest, StepsAreWrittenInOrderAsEachEnds) {
    WriteFile(temp / "Moduli è" / "fumi" / "fumi.ini", "[fumi]\r\n");
    WriteFile(temp / "Moduli è" / "fumi" / "Prova 0001.opa", "opa");
    launcher.exitCodeFor = [](const std::u16string& parameters) {
        return parameters.find(u".opa") == std::u16string::npos ? 0u : 4u;
    };
    fs::create_directories(reportFile.parent_path());
    const ScopedEnv variable("LUMVAR_LOG", reportFile.string());
    CBackup job;
    job.fumiSource = platform::FromUtf8(modules) + u"\\fumi\\";
    job.eobdIniSource = platform::FromUtf8(modules) + u"\\eobd\\eobd.ini";
    const std::string xcopyOpa = "/c XCOPY \"" + modules + "\\fumi\\Prova 0001.opa\" \"" + common +
                                 "\\Lumvar\\Data\\diesel\\\" /i /v /y";
    const std::string xcopyIni =
        "/c XCOPY \"" + modules + "\\fumi\\fumi.ini\" \"" + common + "\\Lumvar\\diesel\\\" /i /v /y";
    {
        run_report::CRunReport report(
            {u"lumvar.exe", u"/backup", u"C:\\Suite", platform::FromUtf8(modules), u"D:\\"});
        const std::string header =
            "<time> lumvar " LUMVAR_TEST_VERSION " \"/backup\" \"C:\\Suite\" \"" + modules + "\" \"D:\\\"\n";
        ASSERT_EQ(Report(), header);
        EXPECT_FALSE(job.SaveFumiFiles());
        const std::string afterFumi = header + "  CopyToBackup | " + xcopyIni +
                                      " | exit code 0 | <n> ms | succeeded\n" + "  CopyToBackup | " +
                                      xcopyOpa + " | exit code 4 | <n> ms | failed\n" + "SaveFumiFiles | " +
                                      modules + "\\fumi\\ | 2 copies, 1 failed | <n> ms | failed\n";
        EXPECT_EQ(Report(), afterFumi);
        EXPECT_TRUE(job.CopyToBackup(job.eobdIniSource, BackupTarget::TargetRoot));
        report.Finish(4);
        EXPECT_EQ(Report(), afterFumi + "CopyToBackup | " + modules +
                                "\\eobd\\eobd.ini | nothing to copy | <n> ms | succeeded\n" +
                                "exit code 4\n");
    }
    const std::string first = Report();
    { run_report::CRunReport({u"lumvar.exe"}).Finish(2); }
    EXPECT_EQ(Report(), first + "<time> lumvar " LUMVAR_TEST_VERSION "\nexit code 2\n");
}

// A failing step says why: the interpreter's exit code or start failure, the system's error text
// of a rename, which document of the merge could not be read or parsed. Of the merge's
// documents only element and attribute names appear, never their values.
TEST_F(RunReportTest, FailingStepsNameTheirErrorAndTheMergeNamesNoValues) {
    const ScopedEnv variable("LUMVAR_LOG", reportFile.string());
    fs::create_directories(reportFile.parent_path());
    const fs::path live = temp / "Config" / "CommonConfig.xml";
    const std::u16string livePath = U16(live);
    const std::string saved =
        "<r><brand name=\"Marchio Segreto\"/><language name=\"Klingon\" ISOname=\"tlh\" code=\"7\" "
        "lang=\"8\" "
        "subl=\"9\" img=\"k.bmp\"/><customerInfo><ragioneSociale>Officina Zeta</ragioneSociale>"
        "<stato code=\"SM\">San Marino</stato><fax>0549 111</fax></customerInfo></r>";
    const std::string installed =
        "<r><brand name=\"B\"/><language name=\"L\"/><customerInfo><stato/><fax/>"
        "<ragioneSociale/></customerInfo><platform name=\"P\"/></r>";
    WriteFile(temp / "ProgramData" / "Lumvar" / "CommonConfig.xml", saved);
    WriteFile(live, installed);
    CRestore restore;
    restore.commonConfigFile = livePath;
    CCDNero addin;
    addin.addinTargetFolder = U16(temp / "Nero") + u"\\";
    addin.addinSourceFolder = U16(temp / "Suite" / "addin");
    {
        run_report::CRunReport report({u"lumvar"});
        EXPECT_TRUE(restore.MergeCommonConfig());
        WriteFile(live, "<r><brand name=\"B\"></r>");
        EXPECT_FALSE(restore.MergeCommonConfig());
        restore.SetCommonFolder(U16(temp / "Common"));
        EXPECT_FALSE(restore.MergeCommonConfig());
        EXPECT_FALSE(addin.RenameSettingsFile());
        launcher.starts = false;
        EXPECT_FALSE(addin.CopyAddin());
    }
    const std::string report = Report();
    const std::string livePathText = live.string();
    const std::string commonPath = (temp / "Common").string() + "\\CommonConfig.xml";
    const std::string nero = (temp / "Nero").string() + "\\";
    EXPECT_EQ(report,
              "<time> lumvar " LUMVAR_TEST_VERSION
              "\n"
              "MergeCommonConfig | " +
                  livePathText +
                  " | written; carried brand[name], language[name,ISOname,code,lang,subl,img], "
                  "customerInfo/ragioneSociale[text], customerInfo/stato[code,text], customerInfo/fax[text] "
                  "| <n> ms | succeeded\n"
                  "MergeCommonConfig | " +
                  livePathText +
                  " | live file: Empty document, End tag 'r' at offset 20 does not match start tag 'brand' "
                  "at offset 3 | <n> ms | failed\n"
                  "MergeCommonConfig | " +
                  commonPath +
                  " | live file: No such file or directory | <n> ms | failed\n"
                  "RenameSettingsFile | " +
                  nero +
                  "\\sett.xml | No such file or directory | <n> ms | failed\n"
                  "CopyAddin | /c XCOPY \"" +
                  (temp / "Suite" / "addin").string() + "\" \"" + nero +
                  "\" /e /i /v /y | the command interpreter could not be started | <n> ms | failed\n");
    for (const char* value : {"Marchio", "Klingon", "tlh", "k.bmp", "Zeta", "San Marino", "SM", "0549"})
        EXPECT_EQ(report.find(value), std::string::npos) << value;
}

// Without LUMVAR_LOG, with it empty, or naming something that cannot take a report, the steps
// run exactly as they would and nothing appears or changes anywhere.
TEST_F(RunReportTest, AReportThatCannotBeWrittenChangesNothing) {
    const fs::path target = temp / "Elsewhere" / "system.ini";
    WriteFile(target, "[kept]\r\n");
    fs::create_directories(temp / "Report" / "folder");
    fs::create_symlink(target, temp / "Report" / "link");
    ASSERT_EQ(::mkfifo((temp / "Report" / "pipe").c_str(), 0600), 0);
    WriteFile(temp / "Moduli è" / "gas" / "gas.ini", "[gas]\r\n");
    WriteFile(temp / "Moduli è" / "gas" / "Prova.gas", "gas");
    // The copy step makes the backup folder before its first copy; here it is there already.
    fs::create_directories(temp / "ProgramData" / "Lumvar");
    const auto before = [this] {
        std::vector<std::string> entries;
        for (const auto& entry : fs::recursive_directory_iterator(temp.path()))
            entries.push_back(entry.path().string() + " " +
                              std::to_string(entry.symlink_status().type() == fs::file_type::regular
                                                 ? fs::file_size(entry.path())
                                                 : 0));
        return entries;
    };
    const std::vector<std::string> untouched = before();
    const struct {
        const char* name;
        const char* value;  // nullptr: the variable is not set
    } cases[] = {
        {"unset", nullptr},
        {"empty", ""},
        {"a folder", "folder"},
        {"a file in a missing folder", "missing/lumvar.log"},
        {"a link to another file", "link"},
        {"a named pipe", "pipe"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ::unsetenv("LUMVAR_LOG");
        std::unique_ptr<ScopedEnv> variable;
        if (c.value != nullptr)
            variable = std::make_unique<ScopedEnv>(
                "LUMVAR_LOG", *c.value == '\0' ? "" : (temp / "Report" / c.value).string());
        launcher.commands.clear();
        launcher.exitCodeFor = [](const std::u16string& parameters) {
            return parameters.find(u".gas") == std::u16string::npos ? 0u : 4u;
        };
        CBackup job;
        job.gasSource = platform::FromUtf8(modules) + u"\\gas\\";
        {
            run_report::CRunReport report({u"lumvar", u"/backup"});
            EXPECT_FALSE(job.SaveGasFiles());
            report.Finish(4);
        }
        EXPECT_EQ(launcher.commands.size(), 2u);
        EXPECT_EQ(before(), untouched);
        EXPECT_EQ(ReadFile(target), "[kept]\r\n");
    }
}

}  // namespace
