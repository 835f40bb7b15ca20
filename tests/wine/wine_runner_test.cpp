// The Wine runner itself: lumvar.exe runs under Wine with host paths in drive form, its exit code
// comes back unchanged, and its backup folder is the one the runner names.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/e2e/tool_runner.h"
#include "tests/support/temp_folder.h"

namespace {

using testing_support::ReadFile;
using testing_support::TempFolder;
using testing_support::WriteFile;

class WineRunnerTest : public ::testing::Test {
protected:
    void SetUp() override {
        runner_ = e2e::MakeRunner("wine", temp_ / "scratch");
        ASSERT_EQ(runner_->Name(), "wine");
        const std::string reason = runner_->UnavailableReason();
        if (!reason.empty())
            GTEST_SKIP() << reason;
    }

    TempFolder temp_;
    std::unique_ptr<e2e::ToolRunner> runner_;
};

TEST_F(WineRunnerTest, DrivePathsUseDriveZAndBackslashes) {
    EXPECT_EQ(runner_->ToolPath("/tmp/Suite été/x.ini"), u"Z:\\tmp\\Suite été\\x.ini");
}

TEST_F(WineRunnerTest, BackupFolderStartsEmptyInThePrefix) {
    EXPECT_FALSE(std::filesystem::exists(runner_->CommonAppData() / "Lumvar"));
    EXPECT_EQ(runner_->CommonAppData().filename(), "ProgramData");
}

// Exit codes that the tool gives before it touches any file pass through Wine unchanged.
TEST_F(WineRunnerTest, ExitCodesOfMalformedCallsComeBack) {
    const struct {
        std::vector<std::u16string> arguments;
        int exitCode;
    } cases[] = {
        {{}, 2},
        {{u"/backup", u"a", u"b"}, 2},
        {{u"/BACKUP", u"a", u"b", u"c"}, 3},
        {{u"backup", u"a", u"b", u"c"}, 3},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(runner_->Run(c.arguments), c.exitCode) << c.arguments.size() << " arguments";
    }
}

// A whole job under Wine: the add-in tree, in folders with blanks and non-ASCII letters, is copied
// by Wine's own cmd.exe and xcopy.exe and its settings file renamed.
TEST_F(WineRunnerTest, AddinJobRunsWithWinesInterpreter) {
    const std::filesystem::path suite = temp_ / "Suite été";
    const std::filesystem::path target = temp_ / "Nero ü";
    WriteFile(suite / "bancadati" / "addin" / "sett.xml", "<settings/>");
    WriteFile(suite / "bancadati" / "addin" / "db" / "data.bin", std::string("\0\r\n\x1A", 4));
    std::filesystem::create_directories(suite / "bancadati" / "addin" / "empty");

    EXPECT_EQ(runner_->Run({u"/cdnero", runner_->ToolPath(suite), runner_->ToolPath(target)}), 0);
    EXPECT_EQ(ReadFile(target / "neroaddin" / "settings.xml"), "<settings/>");
    EXPECT_FALSE(std::filesystem::exists(target / "neroaddin" / "sett.xml"));
    EXPECT_EQ(ReadFile(target / "neroaddin" / "db" / "data.bin"), std::string("\0\r\n\x1A", 4));
    EXPECT_TRUE(std::filesystem::is_directory(target / "neroaddin" / "empty"));

    // A second installation brings back sett.xml, and the rename refuses to replace settings.xml.
    EXPECT_EQ(runner_->Run({u"/cdnero", runner_->ToolPath(suite), runner_->ToolPath(target)}), 6);
    EXPECT_EQ(ReadFile(target / "neroaddin" / "sett.xml"), "<settings/>");
}

// The backup lands in the folder that the runner reports as the common application-data folder.
TEST_F(WineRunnerTest, BackupLandsInTheRunnersAppDataFolder) {
    const std::filesystem::path suite = temp_ / "Suite";
    WriteFile(suite / "Common" / "CommonConfig.xml", "<config/>");
    EXPECT_EQ(runner_->Run({u"/backup", runner_->ToolPath(suite), runner_->ToolPath(temp_ / "Modules"),
                            runner_->ToolPath(temp_ / "Data")}),
              0);
    EXPECT_EQ(ReadFile(runner_->CommonAppData() / "Lumvar" / "CommonConfig.xml"), "<config/>");
}

}  // namespace
