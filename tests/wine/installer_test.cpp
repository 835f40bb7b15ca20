// The suite's installer as the tool's real caller: the two NSIS installers of examples/installer/,
// built with makensis and run silently under Wine in a claimed prefix, install the old sample
// suite into "C:\Lumen Suite" and upgrade it with lumvar.exe /backup and /restore ... /common,
// the run report (LUMVAR_LOG) going to a file of the test's.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "tests/e2e/scenario_support.h"
#include "tests/support/temp_folder.h"
#include "tests/wine/file_holder.h"
#include "tests/wine/wine_session.h"

namespace {

namespace fs = std::filesystem;
using e2e::ReadTree;
using e2e::Tree;
using testing_support::ReadFile;

// An installer run copies a file per XCOPY, each a Wine process: allow for a busy machine.
constexpr std::chrono::seconds kInstallerLimit{300};

// The report's lines outside the nested copies, each cut to its first field: step name, header or
// exit code; the header's time is dropped.
std::vector<std::string> TopLevelLines(const std::string& report) {
    std::vector<std::string> lines;
    std::istringstream stream(report);
    for (std::string line; std::getline(stream, line);) {
        if (line.empty() || line[0] == ' ')
            continue;
        const std::size_t header = line.find(" lumvar ");
        if (header != std::string::npos && line.find(" | ") == std::string::npos)
            line.erase(0, header + 1);
        const std::size_t bar = line.find(" | ");
        const std::size_t result = line.rfind(" | ");
        lines.push_back(bar == std::string::npos ? line
                                                 : line.substr(0, bar) + " " + line.substr(result + 3));
    }
    return lines;
}

class InstallerTest : public testing::Test {
protected:
    static void SetUpTestSuite() {
        if (std::system("command -v makensis >/dev/null 2>&1") != 0) {
            unavailable_ = "makensis is not installed (Debian package nsis)";
            return;
        }
        unavailable_ = wine::ProgramUnavailableReason("lumvar.exe");
        if (unavailable_.empty())
            unavailable_ = wine::ProgramUnavailableReason("lumvar-platform-probe.exe");
        if (!unavailable_.empty())
            return;
        installers_.emplace();
        const std::string command = "'" LUMVAR_SOURCE_DIR "/examples/installer/build.sh' '" +
                                    (wine::MingwBinFolder() / "lumvar.exe").string() + "' '" +
                                    installers_->path().string() + "' >/dev/null";
        if (std::system(command.c_str()) != 0)
            unavailable_ = "examples/installer/build.sh failed: " + command;
    }

    static void TearDownTestSuite() { installers_.reset(); }

    void SetUp() override {
        // Where makensis or Wine is missing the test is skipped; CI has both.
        if (!unavailable_.empty())
            GTEST_SKIP() << unavailable_;
        ASSERT_TRUE(claim_.held());
        ASSERT_EQ(wine::Prepare(claim_.prefix()), "");
        suite_ = wine::PrefixFolder(claim_.prefix()) / "drive_c" / "Lumen Suite";
        backup_ = wine::CommonAppDataFolder(claim_.prefix()) / "Lumvar";
        fs::remove_all(suite_);
        fs::remove_all(backup_);
        ASSERT_EQ(RunInstaller("old.exe", u""), 0);
        ASSERT_EQ(ReadTree(suite_), e2e::SampleInstallation());
    }

    void TearDown() override {
        if (!suite_.empty()) {
            fs::remove_all(suite_);
            fs::remove_all(backup_);
        }
    }

    // Runs an installer silently, with one more option when given.
    int RunInstaller(const char* name, const std::u16string& option) {
        std::vector<std::u16string> arguments{u"/S"};
        if (!option.empty())
            arguments.push_back(option);
        return wine::Run(installers_->path() / name, arguments, nullptr, kInstallerLimit, claim_.prefix());
    }

    // The upgrade, silent, with its report in the test's scratch folder.
    int Upgrade() { return RunInstaller("upgrade.exe", u"/LOG=" + wine::DrivePath(report_)); }

    static inline std::string unavailable_;
    static inline std::optional<testing_support::TempFolder> installers_;
    wine::PrefixClaim claim_;
    testing_support::TempFolder scratch_;
    fs::path report_ = scratch_ / "lumvar.log";
    fs::path suite_;
    fs::path backup_;
};

TEST_F(InstallerTest, TheUpgradeCarriesSettingsAndDataIntoTheNewVersion) {
    ASSERT_EQ(Upgrade(), 0);

    const Tree backup = ReadTree(backup_);
    EXPECT_EQ(backup, e2e::ExpectedBackup(e2e::SampleInstallation()));
    const Tree installed = ReadTree(suite_);
    EXPECT_EQ(e2e::WithoutLiveConfig(installed),
              e2e::WithoutLiveConfig(e2e::ExpectedRestore(backup, e2e::FreshInstallation())));
    EXPECT_EQ(installed.at("config/CommonConfig.xml"), e2e::MergedConfig("config"));
    EXPECT_EQ(installed.at("common/CommonConfig.xml"), e2e::MergedConfig("common"));

    const std::vector<std::string> expected = {
        "lumvar " LUMVAR_TEST_VERSION
        R"( "/backup" "C:\Lumen Suite\suite" "C:\Lumen Suite\modules" "C:\Lumen Suite\data")",
        "CopyToBackup succeeded",
        "SaveFumiFiles succeeded",
        "CopyToBackup succeeded",
        "SaveGasFiles succeeded",
        "CopyToBackup succeeded",
        "CopyToBackup succeeded",
        "CopyToBackup succeeded",
        "CopyToBackup succeeded",
        "exit code 0",
        "lumvar " LUMVAR_TEST_VERSION
        R"( "/restore" "C:\Lumen Suite\config" "C:\Lumen Suite\data" "C:\Lumen Suite\common" "/common")",
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
    const std::string report = ReadFile(report_);
    EXPECT_EQ(TopLevelLines(report), expected) << report;
    EXPECT_EQ(report.find("Autofficina"), std::string::npos);
}

// A settings file held open by another program fails its copy, so /backup returns 4: the upgrade
// stops there with the tool's exit code, and the old installation is left whole, nothing of the
// new version installed. The report names the failed copy and its XCOPY exit code.
TEST_F(InstallerTest, AFailedBackupStopsTheUpgradeBeforeAnythingIsRemoved) {
    const Tree old = ReadTree(suite_);
    {
        wine::HeldFile holder(suite_ / "modules" / "eobd" / "eobd.ini", claim_.prefix());
        ASSERT_TRUE(holder.held()) << holder.output();
        EXPECT_EQ(Upgrade(), 4);
        EXPECT_EQ(holder.Release(), 0) << holder.output();
    }
    EXPECT_EQ(ReadTree(suite_), old);

    const std::string report = ReadFile(report_);
    const std::vector<std::string> lines = TopLevelLines(report);
    ASSERT_EQ(lines.size(), 10u) << report;
    EXPECT_EQ(lines[3], "CopyToBackup failed");
    EXPECT_EQ(lines[9], "exit code 4");
    EXPECT_NE(
        report.find(
            R"(CopyToBackup | /c XCOPY "C:\Lumen Suite\modules\eobd\eobd.ini" "C:\ProgramData\Lumvar\" )"
            R"(/i /v /y | exit code 5 | )"),
        std::string::npos)
        << report;
}

}  // namespace
