// Hostile command lines: folder names with the characters that the command interpreter treats
// specially, control characters, and arguments that look like switches. Whatever the names, no
// command runs but the intended XCOPY (canaries planted in the names never appear), nothing
// outside the named folders changes (a sentinel tree beside the installation is compared byte for
// byte), and the exit code follows the table. The copy step refuses paths holding a double quote,
// "%", CR or LF without running anything, so those fail with 4, 5 or 6; every other name is
// copied as the literal name it is.
//
// Under Wine the parameter string is parsed by Wine's real cmd.exe, which is the point of running
// it there. Names that Windows does not allow in file names ("|", "<", ">", "*", "?", control
// characters) are copied literally by the POSIX build; under Wine, whose file functions accept
// some of them, a run either copies the whole tree and succeeds or fails with its exit code,
// leaving only whole files in the named target.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/text.h"
#include "tests/e2e/scenario_support.h"
#include "tests/robustness/tree_snapshot.h"

namespace robustness {
namespace {

namespace fs = std::filesystem;
using e2e::Tree;

// What a name is expected to do.
enum class NameKind {
    Literal,          // copied as the literal name on both builds
    Refused,          // refused by the copy step: nothing runs, the job fails
    InvalidOnWindows  // copied literally by the POSIX build; fails cleanly under Wine
};

struct HostileName {
    const char* name;
    NameKind kind;
};

// Every name carries a command that would create a file or folder named "canary_..." in the
// working folder if the interpreter ever ran part of the name as a command. Names with "<", ">",
// "|", "*", "?" or control characters are not allowed by Windows.
const HostileName kHostileNames[] = {
    {"a & md canary_md & b", NameKind::Literal},
    {"x & copy nul canary_copy & x", NameKind::Literal},
    {"x && md canary_and & y", NameKind::Literal},
    {"^& caret ^^ ^& md canary_caret", NameKind::Literal},
    {"!x! bang !COMSPEC! & md canary_bang", NameKind::Literal},
    {"(paren) ) & md canary_paren", NameKind::Literal},
    {"semi;colon,comma=equal & md canary_semi", NameKind::Literal},
    {"`back tick` $(touch canary_dollar) 'single'", NameKind::Literal},
    {"@echo off & md canary_at", NameKind::Literal},
    {" /e /y -rf /common /restore & md canary_switch", NameKind::Literal},
    {"-rf", NameKind::Literal},
    {"x\" & md canary_quote & \"", NameKind::Refused},
    {"\" & md canary_lonequote", NameKind::Refused},
    {"%COMSPEC% & md canary_comspec", NameKind::Refused},
    {"100% & md canary_percent", NameKind::Refused},
    {"%PATH:~0,1% & md canary_substring", NameKind::Refused},
    {"line\nbreak & md canary_lf", NameKind::Refused},
    {"cr\rreturn & md canary_cr", NameKind::Refused},
    {"x & echo pwned > canary_echo & x", NameKind::InvalidOnWindows},
    {"pipe | md canary_pipe", NameKind::InvalidOnWindows},
    {"x && md canary_and || md canary_or", NameKind::InvalidOnWindows},
    {"less < more > canary_redirect", NameKind::InvalidOnWindows},
    {"star * question ? canary_wildcard", NameKind::InvalidOnWindows},
    {"tab\tand\x01\x1f control & md canary_control", NameKind::InvalidOnWindows},
};

std::string Printable(const std::string& name) {
    std::string text;
    for (const char c : name) {
        if (static_cast<unsigned char>(c) < 0x20) {
            text += "\\x" + std::string(1, "0123456789abcdef"[c >> 4]) + "0123456789abcdef"[c & 15];
        } else {
            text += c;
        }
    }
    return text;
}

// Every file or folder named "canary_..." or "pwned", anywhere below root.
std::vector<std::string> Canaries(const fs::path& root) {
    std::vector<std::string> found;
    std::error_code error;
    for (auto it =
             fs::recursive_directory_iterator(root, fs::directory_options::skip_permission_denied, error);
         !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
        const std::string name = it->path().filename().string();
        if (name.rfind("canary_", 0) == 0 || name == "pwned")
            found.push_back(it->path().string());
    }
    return found;
}

class HostileCommandLines : public e2e::Scenario {
protected:
    void SetUp() override {
        e2e::Scenario::SetUp();
        if (IsSkipped())
            return;
        // A canary with a relative name lands in the working folder of the interpreter, which
        // inherits the tool's: a folder below the scratch folder.
        workingFolder = scratch / "working folder";
        working = std::make_unique<ScopedWorkingFolder>(workingFolder);
        e2e::WriteTree(scratch / "sentinel", Tree{{"CommonConfig.xml", "<sentinel/>"},
                                                  {"diesel/fumi.ini", "[sentinel]\n"},
                                                  {"neroaddin/settings.xml", "<sentinel/>"},
                                                  {"empty", e2e::kEmptyFolder}});
    }

    void TearDown() override {
        working.reset();
        if (runner && runner->UnavailableReason().empty()) {
            EXPECT_EQ(Canaries(scratch.path()), std::vector<std::string>{});
            // Under Wine a canary of a command started without the tool's folder would land in
            // the prefix's drive C.
            const fs::path driveC = runner->CommonAppData().parent_path();
            if (GetParam() == "wine") {
                EXPECT_EQ(Canaries(driveC / "windows" / "system32"), std::vector<std::string>{});
                EXPECT_EQ(Canaries(driveC / "users"), std::vector<std::string>{});
            }
        }
    }

    // Changes of the scratch folder outside the given folders (relative to scratch).
    std::vector<std::string> ChangesOutside(const Snapshot& before, const std::vector<std::string>& inside) {
        return Differences(Without(before, inside), Without(TakeSnapshot(scratch.path()), inside));
    }

    fs::path workingFolder;
    std::unique_ptr<ScopedWorkingFolder> working;
};

// The add-in job, one XCOPY per run: the hostile name is part of both the source and the target.
TEST_P(HostileCommandLines, CdNeroCopiesLiteralNamesAndRunsNothingElse) {
    const Tree addin{{"bancadati/addin/sett.xml", "<sett/>"}, {"bancadati/addin/db/archivio.mdb", "mdb"}};
    int index = 0;
    for (const HostileName& hostile : kHostileNames) {
        SCOPED_TRACE("folder name \"" + Printable(hostile.name) + "\"");
        const std::string number = std::to_string(index++);
        const fs::path source = scratch / ("suite " + number) / hostile.name;
        const fs::path target = scratch / ("nero " + number) / hostile.name;
        e2e::WriteTree(source, addin);
        fs::create_directories(target);
        const Snapshot before = TakeSnapshot(scratch.path());

        const int exitCode = Run({u"/cdnero", runner->ToolPath(source), runner->ToolPath(target)});

        EXPECT_EQ(ChangesOutside(before, {"nero " + number}), std::vector<std::string>{});
        const Tree whole{{"neroaddin/settings.xml", "<sett/>"}, {"neroaddin/db/archivio.mdb", "mdb"}};
        const Tree copied = e2e::ReadTree(target);
        if (hostile.kind == NameKind::InvalidOnWindows && GetParam() == "wine") {
            EXPECT_TRUE(exitCode == 0 || exitCode == 6) << exitCode;
            if (exitCode == 0) {
                EXPECT_EQ(copied, whole);
            }
            // Whatever came is whole ("sett.xml" not yet renamed included).
            for (const auto& [path, content] : copied) {
                const std::string renamed = path == "neroaddin/sett.xml" ? "neroaddin/settings.xml" : path;
                EXPECT_TRUE(content == e2e::kEmptyFolder ||
                            (whole.count(renamed) != 0 && whole.at(renamed) == content))
                    << path;
            }
        } else if (hostile.kind == NameKind::Refused) {
            EXPECT_EQ(exitCode, 6);
            EXPECT_EQ(copied, (Tree{})) << "a refused copy ran";
        } else {
            EXPECT_EQ(exitCode, 0);
            EXPECT_EQ(copied, whole);
        }
        EXPECT_EQ(Canaries(scratch.path()), std::vector<std::string>{});
    }
}

// A whole backup and restore of an installation whose folder holds every hostile character that
// Windows allows in a name: each copy form meets it, and the merge writes the files below it.
TEST_P(HostileCommandLines, BackupAndRestoreBelowAHostileFolder) {
    root = scratch / "Officina & md canary_root & ^& !x! (1);=,`$' -rf" / "Suite 3";
    const Tree sample = e2e::SampleInstallation();
    e2e::WriteTree(root, sample);
    Snapshot before = TakeSnapshot(scratch.path());
    ASSERT_EQ(Backup(), 0);
    EXPECT_EQ(e2e::ReadTree(BackupFolder()), e2e::ExpectedBackup(sample));
    const std::string relativeBackup = fs::relative(BackupFolder(), scratch.path()).generic_string();
    EXPECT_EQ(ChangesOutside(before, {relativeBackup}), std::vector<std::string>{});

    fs::remove_all(root);
    const Tree fresh = e2e::FreshInstallation();
    e2e::WriteTree(root, fresh);
    before = TakeSnapshot(scratch.path());
    EXPECT_EQ(Restore({u"/common"}), 0);
    Tree expected = e2e::ExpectedRestore(e2e::ExpectedBackup(sample), fresh);
    expected["config/CommonConfig.xml"] = e2e::MergedConfig("config");
    expected["common/CommonConfig.xml"] = e2e::MergedConfig("common");
    EXPECT_EQ(e2e::ReadTree(root), expected);
    EXPECT_EQ(ChangesOutside(before, {fs::relative(root, scratch.path()).generic_string()}),
              std::vector<std::string>{});
}

// A restore into folders with a double quote or "%" in their names copies nothing back and fails;
// only the merge, which does not pass through the interpreter, writes the live files there. The
// folders beside it stay as they were.
TEST_P(HostileCommandLines, RestoreIntoRefusedNamesCopiesNothing) {
    const Tree sample = e2e::SampleInstallation();
    e2e::WriteTree(root, sample);
    ASSERT_EQ(Backup(), 0);
    const Tree fresh = e2e::FreshInstallation();
    for (const char* name : {"x\" & md canary_quote & \"", "%COMSPEC% & md canary_percent"}) {
        SCOPED_TRACE(name);
        root = scratch / name / "Suite 3";
        e2e::WriteTree(root, fresh);
        const Snapshot before = TakeSnapshot(scratch.path());
        const int exitCode = Restore({u"/common"});
        EXPECT_EQ(exitCode, 5);
        std::vector<std::string> changes = ChangesOutside(before, {});
        std::erase_if(changes, [&](const std::string& change) {
            return change.find("CommonConfig.xml") != std::string::npos &&
                   change.rfind("changed: " + fs::relative(root, scratch.path()).generic_string(), 0) == 0;
        });
        EXPECT_EQ(changes, std::vector<std::string>{});
    }
}

// Arguments that are switches of XCOPY or of the tool itself, given where folders belong: the
// driver reads only argument 1 as the verb and argument 5 as "/common"; the rest are folder paths.
TEST_P(HostileCommandLines, SwitchLikeArgumentsAreFolderPaths) {
    for (const char* absolute : {"/e", "/common", "/restore", "/i", "/y"}) {
        if (fs::exists(absolute))
            GTEST_SKIP() << absolute << " exists on this machine";
    }
    const Snapshot before = TakeSnapshot(scratch.path());
    // Nothing is saved yet: the merge finds no saved file, the copy-backs have nothing to copy.
    EXPECT_EQ(Run({u"/restore", u"/common", u"/common", u"/common", u"/common"}), 5);
    EXPECT_EQ(Run({u"/backup", u"/e", u"/i", u"/v"}), 0);
    EXPECT_EQ(Run({u"/cdnero", u"/e", u"-rf"}), 6);
    EXPECT_EQ(Run({u"/restore", u"/e", u"/i", u"/v", u"/y"}), 5);
    EXPECT_EQ(Run({u"/backup", u"/restore", u"/common"}), 2);
    EXPECT_EQ(Run({u"/e", u"/restore", u"/common", u"/backup"}), 3);
    for (const char* absolute : {"/e", "/common", "/restore", "/i", "/y"})
        EXPECT_FALSE(fs::exists(absolute)) << absolute;
    EXPECT_EQ(Differences(before, TakeSnapshot(scratch.path())), std::vector<std::string>{});
    EXPECT_TRUE(e2e::ReadTree(BackupFolder()).empty());

    // Relative folders named like switches, below the working folder, are copied as folders.
    e2e::WriteTree(workingFolder / "-rf", e2e::SubTree(e2e::SampleInstallation(), "suite"));
    e2e::WriteTree(workingFolder / "-y", Tree{{"bancadati/addin/sett.xml", "<sett/>"}});
    EXPECT_EQ(Run({u"/cdnero", u"-y", u"-rf"}), 0);
    EXPECT_EQ(testing_support::ReadFile(workingFolder / "-rf" / "neroaddin" / "settings.xml"), "<sett/>");
    EXPECT_EQ(Run({u"/backup", u"-rf", u"-e", u"/i"}), 0);
    EXPECT_EQ(testing_support::ReadFile(BackupFolder() / "CommonConfig.xml"),
              testing_support::ReadFile(workingFolder / "-rf" / "Common" / "CommonConfig.xml"));
}

// The interpreter looks a command up in its working folder before the search path. Scripts named
// like XCOPY in the tool's working folder (often a downloads folder that any user can write to)
// never run, since the interpreter starts in a folder of its own; the system's XCOPY makes every
// copy, also for folder arguments relative to the tool's working folder. Each script would leave a
// canary in the working folder, which TearDown looks for.
TEST_P(HostileCommandLines, AnXcopyPlantedInTheWorkingFolderNeverRuns) {
    for (const std::string kind : {"bat", "cmd"}) {
        const std::string canary = "canary_planted_" + kind;
        const std::string absolute = platform::ToUtf8(runner->ToolPath(workingFolder / (canary + ".txt")));
        testing_support::WriteFile(
            workingFolder / ("xcopy." + kind),
            "@md " + canary + "\r\n@echo planted> \"" + absolute + "\"\r\n@exit /b 0\r\n");
    }
    root = workingFolder / "Officina";
    const Tree sample = e2e::SampleInstallation();
    e2e::WriteTree(root, sample);
    EXPECT_EQ(Run({u"/backup", u"Officina\\suite", u"Officina\\modules", u"Officina\\data"}), 0);
    const Tree backup = e2e::ReadTree(BackupFolder());
    EXPECT_EQ(backup, e2e::ExpectedBackup(sample));

    fs::remove_all(root);
    const Tree fresh = e2e::FreshInstallation();
    e2e::WriteTree(root, fresh);
    EXPECT_EQ(Run({u"/restore", u"Officina\\config", u"Officina\\data", u"Officina\\common", u"/common"}), 0);
    EXPECT_EQ(e2e::WithoutLiveConfig(e2e::ReadTree(root)),
              e2e::WithoutLiveConfig(e2e::ExpectedRestore(backup, fresh)));
    EXPECT_EQ(testing_support::ReadFile(root / "config" / "CommonConfig.xml"), e2e::MergedConfig("config"));
    EXPECT_EQ(testing_support::ReadFile(root / "common" / "CommonConfig.xml"), e2e::MergedConfig("common"));
    EXPECT_EQ(Canaries(scratch.path()), std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(Builds, HostileCommandLines, testing::ValuesIn(e2e::AllBuilds()), e2e::BuildName);

}  // namespace
}  // namespace robustness
