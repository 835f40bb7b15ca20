// Paths that the command interpreter would misread fail their copies instead of copying something
// else, and a tool whose command interpreter cannot be started reports every copy as failed.
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>

#include "platform/text.h"
#include "tests/e2e/scenario_support.h"

extern char** environ;

namespace e2e {
namespace {

namespace fs = std::filesystem;
using testing_support::TempFolder;
using testing_support::WriteFile;

class UnsafePaths : public Scenario {};

// "%" is legal in a folder name, but the interpreter would expand "%...%" in the command line.
TEST_P(UnsafePaths, AnInstallationBelowAPercentFolderIsNotCopiedAndTheBackupFails) {
    root = scratch / "Officina 100%" / "Suite %USERNAME%";
    WriteTree(root, SampleInstallation());
    EXPECT_EQ(Backup(), 4);
    EXPECT_TRUE(ReadTree(BackupFolder()).empty());
}

TEST_P(UnsafePaths, ARestoreIntoAPercentFolderCopiesNothingAndFails) {
    WriteTree(root, SampleInstallation());
    ASSERT_EQ(Backup(), 0);
    root = scratch / "Nuova 100%" / "Suite %USERNAME%";
    const Tree fresh = FreshInstallation();
    WriteTree(root, fresh);
    EXPECT_EQ(Restore(), 5);
    EXPECT_EQ(WithoutLiveConfig(ReadTree(root)), WithoutLiveConfig(fresh));
}

INSTANTIATE_TEST_SUITE_P(Builds, UnsafePaths, testing::ValuesIn(AllBuilds()), BuildName);

// The POSIX tool copied alone into a folder: its command interpreter is not beside it.
class WithoutInterpreter : public testing::Test {
protected:
    void SetUp() override {
        const fs::path built = fs::path(LUMVAR_BINARY_DIR) / "bin" / "lumvar";
        if (!fs::exists(built))
            GTEST_SKIP() << "the POSIX build has no executable at " << built;
        fs::create_directories(temp / "bin");
        fs::copy_file(built, tool);
        root = temp / "installation";
        WriteTree(root, SampleInstallation());
    }

    int Run(const std::vector<std::string>& arguments) {
        std::vector<std::string> owned{tool.string()};
        for (const auto& argument : arguments)
            owned.push_back(argument);
        std::vector<char*> argv;
        for (auto& argument : owned)
            argv.push_back(argument.data());
        argv.push_back(nullptr);
        std::vector<std::string> environment{"ProgramData=" + (temp / "ProgramData").string()};
        std::vector<char*> envp{environment[0].data(), nullptr};
        pid_t child = 0;
        if (::posix_spawn(&child, tool.c_str(), nullptr, nullptr, argv.data(), envp.data()) != 0)
            return -1;
        int status = 0;
        while (::waitpid(child, &status, 0) < 0) {
            if (errno != EINTR)
                return -1;
        }
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    std::string In(const std::string& relative) const { return (root / relative).string(); }

    TempFolder temp;
    const fs::path tool = temp / "bin" / "lumvar";
    fs::path root;
};

TEST_F(WithoutInterpreter, EveryJobThatCopiesFails) {
    EXPECT_EQ(Run({"/backup", In("suite"), In("modules"), In("data")}), 4);
    // The backup folder is made, protected, before the first copy; nothing is copied into it.
    EXPECT_TRUE(fs::is_directory(temp / "ProgramData" / "Lumvar"));
    EXPECT_TRUE(fs::is_empty(temp / "ProgramData" / "Lumvar"));

    WriteFile(temp / "ProgramData" / "Lumvar" / "eobd.ini", "[EOBD]\n");
    EXPECT_EQ(Run({"/restore", In("config"), In("data"), In("common")}), 5);
    EXPECT_FALSE(fs::exists(root / "config"));

    // The rename still runs after the failed copy.
    WriteFile(root / "nero" / "neroaddin" / "sett.xml", "<sett/>");
    EXPECT_EQ(Run({"/cdnero", In("suite"), In("nero")}), 6);
    EXPECT_TRUE(fs::exists(root / "nero" / "neroaddin" / "settings.xml"));
}

TEST_F(WithoutInterpreter, NothingToCopyStillSucceeds) {
    EXPECT_EQ(Run({"/backup", In("missing"), In("missing"), In("missing")}), 0);
}

}  // namespace
}  // namespace e2e
