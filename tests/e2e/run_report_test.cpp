// The run report of the real executable (LUMVAR_LOG), on both builds: every step in the order it
// ran with its command and exit code, the error of a failing step, no values of the user's
// settings, and nothing changed when the report cannot be written.
#include <gtest/gtest.h>

#include <sstream>

#include "jobs/recording_launcher.h"
#include "platform/text.h"
#include "tests/e2e/scenario_support.h"

namespace e2e {
namespace {

namespace fs = std::filesystem;
using testing_support::ReadFile;
using testing_support::ScopedEnv;

// One line of a report: a step's fields, or a header or exit-code line kept whole in name.
struct Line {
    int depth = 0;
    std::string name;
    std::string subject;
    std::string outcome;
    std::string result;
};

std::vector<Line> Lines(const std::string& report) {
    std::vector<Line> lines;
    std::istringstream stream(report);
    std::string text;
    while (std::getline(stream, text)) {
        Line line;
        const std::size_t indent = text.find_first_not_of(' ');
        line.depth = static_cast<int>(indent / 2);
        text.erase(0, indent);
        std::vector<std::string> fields;
        for (std::size_t start = 0;;) {
            const std::size_t bar = text.find(" | ", start);
            fields.push_back(text.substr(start, bar == std::string::npos ? std::string::npos : bar - start));
            if (bar == std::string::npos)
                break;
            start = bar + 3;
        }
        line.name = fields.front();
        if (fields.size() >= 5) {
            // The subject may itself hold the separator; the last three fields never do.
            line.result = fields[fields.size() - 1];
            line.outcome = fields[fields.size() - 3];
            line.subject = text.substr(line.name.size() + 3);
            line.subject.resize(line.subject.size() - line.result.size() - line.outcome.size() -
                                fields[fields.size() - 2].size() - 9);
        }
        lines.push_back(line);
    }
    return lines;
}

const std::string kCarriedIntoConfig =
    "written; carried brand[name], platform[name], titolo-language[text], "
    "language[name,ISOname,code,lang,subl,img], titolo-customerInfo[text], "
    "customerInfo/ragioneSociale[text], "
    "customerInfo/indirizzo[text], customerInfo/civico[text], customerInfo/cap[text], "
    "customerInfo/citta[text], "
    "customerInfo/provincia[text], customerInfo/stato[code,text], customerInfo/telefono[text], "
    "customerInfo/cellulare[text], customerInfo/fax[text], customerInfo/email[text]";
const std::string kCarriedIntoCommon =
    "written; carried brand[name], platform[name], language[name,ISOname,code,lang,subl,img]";

class RunReportScenario : public Scenario {
protected:
    void SetUp() override {
        Scenario::SetUp();
        if (IsSkipped())
            return;
        fs::create_directories(reportFolder);
        variable = std::make_unique<ScopedEnv>("LUMVAR_LOG", platform::ToUtf8(runner->ToolPath(reportFile)));
    }

    // The steps of the report with the run's own lines (header, exit code) as their first word.
    std::vector<std::string> TopLevel() const {
        std::vector<std::string> names;
        for (const Line& line : Lines(ReadFile(reportFile))) {
            if (line.depth > 0)
                continue;
            if (line.result.empty()) {
                const bool exitLine = line.name.rfind("exit code ", 0) == 0;
                names.push_back(exitLine ? line.name : line.name.substr(line.name.find('"')));
                continue;
            }
            names.push_back(line.name + " " + line.result);
        }
        return names;
    }

    fs::path reportFolder = scratch / "Rapporti";
    fs::path reportFile = reportFolder / "lumvar.log";
    std::unique_ptr<ScopedEnv> variable;
};

TEST_P(RunReportScenario, AFullRunListsEveryStepInOrderWithItsCommandAndNoValues) {
    WriteTree(root, SampleInstallation());
    ASSERT_EQ(Backup(), 0);
    fs::remove_all(root);
    WriteTree(root, FreshInstallation());
    ASSERT_EQ(Restore({u"/common"}), 0);

    const std::string quoted = [this] {
        std::string text;
        for (const char* folder : {"config", "data", "common"})
            text += " \"" + platform::ToUtf8(Tool(folder)) + "\"";
        return text;
    }();
    const std::vector<std::string> expected = {"\"/backup\" \"" + platform::ToUtf8(Tool("suite")) + "\" \"" +
                                                   platform::ToUtf8(Tool("modules")) + "\" \"" +
                                                   platform::ToUtf8(Tool("data")) + "\"",
                                               "CopyToBackup succeeded",
                                               "SaveFumiFiles succeeded",
                                               "CopyToBackup succeeded",
                                               "SaveGasFiles succeeded",
                                               "CopyToBackup succeeded",
                                               "CopyToBackup succeeded",
                                               "CopyToBackup succeeded",
                                               "CopyToBackup succeeded",
                                               "exit code 0",
                                               "\"/restore\"" + quoted + " \"/common\"",
                                               "MergeCommonConfig succeeded",
                                               "RestoreDieselConfig succeeded",
                                               "RestoreEobdIni succeeded",
                                               "RestoreExchangeIn succeeded",
                                               "RestoreExchangeOut succeeded",
                                               "RestoreGasConfig succeeded",
                                               "RestoreOscilloIni succeeded",
                                               "RestoreWizardConfig succeeded",
                                               "RestoreRec succeeded",
                                               "RestoreClientManager succeeded",
                                               "RestoreDieselData succeeded",
                                               "RestoreGasData succeeded",
                                               "RestoreOscilloData succeeded",
                                               "MergeCommonConfig succeeded",
                                               "exit code 0"};
    EXPECT_EQ(TopLevel(), expected);

    // Every copy ran its XCOPY with exit code 0 (the sample has each saved item); each walk of a
    // module folder counts the copies listed above it; each merge names what it carried.
    const std::string report = ReadFile(reportFile);
    int copiesAbove = 0;
    for (const Line& line : Lines(report)) {
        if (line.result.empty())
            continue;
        SCOPED_TRACE(line.name + " | " + line.subject);
        if (line.name == "SaveFumiFiles" || line.name == "SaveGasFiles") {
            EXPECT_EQ(line.outcome, std::to_string(copiesAbove) + " copies, 0 failed");
            EXPECT_GT(copiesAbove, 0);
            copiesAbove = 0;
        } else if (line.name == "MergeCommonConfig") {
            // The configuration folder's file has every listed element, the common folder's only
            // three.
            const bool common = line.subject.find("common") != std::string::npos;
            EXPECT_EQ(line.outcome, common ? kCarriedIntoCommon : kCarriedIntoConfig);
        } else {
            EXPECT_EQ(line.outcome, "exit code 0");
            EXPECT_EQ(line.subject.rfind("/c XCOPY \"", 0), 0u);
            copiesAbove += line.depth;
        }
    }
    for (const char* value :
         {"Lumen Diagnostica", "Banco Prova", "Lingua di lavoro", "Italiano", "flag_it", "Dati dell",
          "Autofficina", "Via Emilia", "112/B", "47121", "Forl", "0543", "347 551", "ricciefigli"}) {
        EXPECT_EQ(report.find(value), std::string::npos) << value;
    }
}

// Failing steps say why; a report that cannot be written (its name is a folder) changes neither
// the exit code nor a file.
TEST_P(RunReportScenario, FailingStepsNameTheirErrorAndAnUnwritableReportChangesNothing) {
    WriteTree(root, FreshInstallation());
    EXPECT_EQ(Restore(), 5);
    EXPECT_EQ(Run({u"/cdnero", Tool("suite"), Tool("Nero 7")}), 6);
    const std::vector<Line> lines = Lines(ReadFile(reportFile));
    ASSERT_EQ(lines.size(), 19u);
    EXPECT_EQ(lines[1].name, "MergeCommonConfig");
    EXPECT_EQ(lines[1].outcome, "saved file: No such file or directory");
    EXPECT_EQ(lines[1].result, "failed");
    for (std::size_t i = 2; i < 14; ++i)
        EXPECT_EQ(lines[i].outcome + " " + lines[i].result, "nothing to copy succeeded") << lines[i].name;
    EXPECT_EQ(lines[14].name, "exit code 5");
    EXPECT_EQ(lines[16].name, "CopyAddin");
    EXPECT_EQ(lines[16].outcome.rfind("exit code ", 0), 0u);
    EXPECT_NE(lines[16].outcome, "exit code 0");
    EXPECT_EQ(lines[17].name + " " + lines[17].outcome + " " + lines[17].result,
              "RenameSettingsFile No such file or directory failed");
    EXPECT_EQ(lines[18].name, "exit code 6");

    const Tree before = ReadTree(scratch.path());
    variable.reset();
    const ScopedEnv unwritable("LUMVAR_LOG", platform::ToUtf8(runner->ToolPath(reportFolder)));
    EXPECT_EQ(Restore(), 5);
    EXPECT_EQ(Run({u"/cdnero", Tool("suite"), Tool("Nero 7")}), 6);
    EXPECT_EQ(ReadTree(scratch.path()), before);
}

INSTANTIATE_TEST_SUITE_P(Builds, RunReportScenario, testing::ValuesIn(AllBuilds()), BuildName);

}  // namespace
}  // namespace e2e
