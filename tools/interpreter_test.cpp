// The tool's side of the POSIX command interpreter: platform::RunCommandInterpreter starts the
// lumvar-cmd found beside the running executable (this test binary shares its bin folder).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "platform/platform.h"
#include "platform/text.h"
#include "tests/support/temp_folder.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using testing_support::ReadFile;
using testing_support::TempFolder;
using testing_support::U16;
using testing_support::WriteFile;

std::u16string Parameters(const fs::path& source, const fs::path& destination, const char16_t* tail) {
    return u"/c XCOPY \"" + U16(source) + u"\" \"" + U16(destination) + u"\\" + tail;
}

TEST(CommandInterpreter, LiesBesideTheRunningExecutable) {
    const fs::path own = fs::read_symlink("/proc/self/exe");
    EXPECT_EQ(platform::CommandInterpreterPath(), U16(own.parent_path() / "lumvar-cmd"));
}

TEST(CommandInterpreter, CopiesAndReportsXcopyExitCodes) {
    TempFolder temp;
    WriteFile(temp / "Dati \xC3\xA9" / "sub" / "a.ini", "a");
    WriteFile(temp / "Dati \xC3\xA9" / "b.xml", "b");

    std::uint32_t exitCode = 99;
    ASSERT_TRUE(platform::RunCommandInterpreter(
        Parameters(temp / "Dati \xC3\xA9", temp / "out" / "Data", u"\" /e /i /v /y"), exitCode));
    EXPECT_EQ(exitCode, 0u);
    EXPECT_EQ(ReadFile(temp / "out" / "Data" / "sub" / "a.ini"), "a");
    EXPECT_EQ(ReadFile(temp / "out" / "Data" / "b.xml"), "b");

    exitCode = 99;
    ASSERT_TRUE(platform::RunCommandInterpreter(Parameters(temp / "missing", temp / "out", u"\" /e /i /v /y"),
                                                exitCode));
    EXPECT_EQ(exitCode, 4u);

    exitCode = 99;
    ASSERT_TRUE(platform::RunCommandInterpreter(u"/c XCOPY unquoted", exitCode));
    EXPECT_EQ(exitCode, 4u);

    WriteFile(temp / "blocker", "");
    exitCode = 99;
    ASSERT_TRUE(platform::RunCommandInterpreter(
        Parameters(temp / "Dati \xC3\xA9", temp / "blocker", u"\" /i /v /y"), exitCode));
    EXPECT_EQ(exitCode, 5u);
}

TEST(CommandInterpreter, ParametersWithAnEmbeddedNulAreNeverStarted) {
    // Cut at the NUL, this string would be a complete, different copy command.
    TempFolder temp;
    WriteFile(temp / "a.ini", "a");
    std::u16string parameters = Parameters(temp / "a.ini", temp / "out", u"\" /i");
    parameters += u'\0';
    parameters += u" /v /y";
    std::uint32_t exitCode = 99;
    EXPECT_FALSE(platform::RunCommandInterpreter(parameters, exitCode));
    EXPECT_EQ(exitCode, 99u);
    EXPECT_FALSE(std::filesystem::exists(temp / "out"));
}

// Run only inside a copy of this binary that has no lumvar-cmd beside it (see below).
TEST(CommandInterpreterAlone, DISABLED_MissingInterpreterIsAFailureToStart) {
    ASSERT_FALSE(fs::exists(fs::read_symlink("/proc/self/exe").parent_path() / "lumvar-cmd"));
    std::uint32_t exitCode = 77;
    EXPECT_FALSE(platform::RunCommandInterpreter(u"/c XCOPY \"a\" \"b\\\" /i /v /y", exitCode));
    EXPECT_EQ(exitCode, 77u);
}

TEST(CommandInterpreter, MissingInterpreterIsReportedAsAFailureToStart) {
    // A copy of this test binary in a folder of its own finds no interpreter beside it; the bin
    // folder that other tests use stays untouched.
    TempFolder temp;
    const fs::path copy = temp / "lumvar_cmd_tests";
    fs::copy_file(fs::read_symlink("/proc/self/exe"), copy);
    const fs::path output = temp / "output.txt";

    posix_spawn_file_actions_t actions;
    ASSERT_EQ(::posix_spawn_file_actions_init(&actions), 0);
    ::posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    std::string program = copy.string();
    std::string filter =
        "--gtest_filter=CommandInterpreterAlone.DISABLED_MissingInterpreterIsAFailureToStart";
    std::string alsoDisabled = "--gtest_also_run_disabled_tests";
    char* argv[] = {program.data(), filter.data(), alsoDisabled.data(), nullptr};
    pid_t child = 0;
    ASSERT_EQ(::posix_spawn(&child, program.c_str(), &actions, nullptr, argv, environ), 0);
    ::posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);

    const std::string report = ReadFile(output);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << report;
    EXPECT_NE(report.find("[  PASSED  ] 1 test."), std::string::npos) << report;
}

}  // namespace
