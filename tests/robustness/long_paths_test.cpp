// Folder arguments of every length from short to far past the 260 characters of MAX_PATH, against
// both builds. Lengths are counted in the tool's own form of the path (under Wine "Z:\..." is two
// characters longer than the host path). Whatever the length: the tool does not crash, a run that
// reports success has copied everything into the right place, a run that cannot work reports
// failure (4, 5 or 6 by verb), and nothing ever lands outside the named folders, as it would if a
// cut path reached a copy. The working folder is one of the scratch folder's, so a file written
// by a garbled relative path is seen too.
//
// XCOPY holds its paths in MAX_PATH buffers, so the copy step starts no copy that would read or
// write a path of more than 259 characters: short arguments copy on both builds, arguments of 260
// characters and more fail on both, and in between it depends on the depth of what is copied.
// Under Wine, lumvar.exe declares itself longPathAware in its manifest and Wine does not enforce
// MAX_PATH in its file functions, so the merge of CommonConfig.xml works at every length; but
// Wine's xcopy.exe, given a destination near or past MAX_PATH, writes the files below a garbled
// name in its working folder and exits with 0, and with some deeper trees never ends. The test
// prints what each length gave, so a change shows in the log.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "platform/text.h"
#include "tests/e2e/scenario_support.h"
#include "tests/robustness/long_path_support.h"
#include "tests/robustness/tree_snapshot.h"

namespace robustness {
namespace {

namespace fs = std::filesystem;
using e2e::Tree;

class LongPaths : public e2e::Scenario {
protected:
    void SetUp() override {
        e2e::Scenario::SetUp();
        if (!IsSkipped())
            working = std::make_unique<ScopedWorkingFolder>(scratch / "working folder");
    }
    void TearDown() override { working.reset(); }

    // Short arguments must work and those past MAX_PATH must fail, on every build.
    void ExpectOutcomeOfLength(std::size_t length, int exitCode, int failure) {
        if (length <= 200) {
            EXPECT_EQ(exitCode, 0);
        } else if (length >= 260) {
            EXPECT_EQ(exitCode, failure);
        } else if (exitCode != 0) {
            EXPECT_EQ(exitCode, failure);
        }
    }

    std::unique_ptr<ScopedWorkingFolder> working;

    // The folder below scratch whose tool-form path has the given length; empty when too short.
    fs::path Folder(const std::string& base, std::size_t length, const std::string& marker) {
        const fs::path host = scratch / base;
        const std::size_t prefix = runner->ToolPath(host).size() - platform::FromUtf8(host.string()).size();
        const fs::path folder = PathOfLength(host, prefix, length, marker);
        if (!folder.empty()) {
            EXPECT_EQ(runner->ToolPath(folder).size(), length);
        }
        return folder;
    }

    std::u16string ToolForm(const fs::path& folder) const { return runner->ToolPath(folder); }

    // The changes of the whole scratch folder and the backup folder between two snapshots must all
    // lie inside one of the given folders (relative to scratch).
    void ExpectChangesOnlyInside(const Snapshot& before, const Snapshot& after, const std::vector<fs::path>& inside) {
        std::vector<std::string> folders;
        for (const auto& folder : inside)
            folders.push_back(fs::relative(folder, scratch.path()).generic_string());
        std::vector<std::string> differences = Differences(Without(before, folders), Without(after, folders));
        // The folders above a named destination that the copy created for it are its own.
        std::erase_if(differences, [&](const std::string& difference) {
            const std::string added = "added: ";
            if (difference.rfind(added, 0) != 0 || after.at(difference.substr(added.size())) != kFolder)
                return false;
            const std::string path = difference.substr(added.size()) + "/";
            return std::any_of(folders.begin(), folders.end(),
                               [&](const std::string& folder) { return folder.rfind(path, 0) == 0; });
        });
        if (differences.size() > 3)
            differences.resize(3);
        EXPECT_EQ(differences, std::vector<std::string>{}) << "changed outside the named folders";
    }

    void Report(const char* verb, std::size_t length, int exitCode) {
        std::printf("%s: %s with arguments of %zu characters: exit code %d\n", GetParam().c_str(), verb, length,
                    exitCode);
    }
};

TEST_P(LongPaths, CdNeroCopiesWholeOrFails) {
    const Tree addin{{"bancadati/addin/sett.xml", "<sett/>"}, {"bancadati/addin/db/archivio.mdb", "mdb"}};
    for (const std::size_t length : kArgumentLengths) {
        SCOPED_TRACE("arguments of " + std::to_string(length) + " characters");
        const fs::path source = Folder("s", length, "-suite");
        const fs::path target = Folder("n", length, "-nero");
        if (source.empty())
            continue;
        e2e::WriteTree(source, addin);
        const Snapshot before = TakeSnapshot(scratch.path());
        const int exitCode = Run({u"/cdnero", ToolForm(source), ToolForm(target)});
        Report("/cdnero", length, exitCode);
        ExpectChangesOnlyInside(before, TakeSnapshot(scratch.path()), {target});
        ExpectOutcomeOfLength(length, exitCode, 6);
        if (exitCode == 0) {
            EXPECT_EQ(e2e::ReadTree(target / "neroaddin"), (Tree{{"settings.xml", "<sett/>"}, {"db/archivio.mdb", "mdb"}}));
        } else {
            EXPECT_EQ(e2e::ReadTree(target), (Tree{})) << "a failed run copied something";
        }
    }
}

TEST_P(LongPaths, BackupCopiesWholeOrFails) {
    const Tree sample = e2e::SampleInstallation();
    const Tree expected = e2e::ExpectedBackup(sample);
    for (const std::size_t length : kArgumentLengths) {
        SCOPED_TRACE("arguments of " + std::to_string(length) + " characters");
        std::vector<fs::path> folders;
        for (const char* part : {"suite", "modules", "data"})
            folders.push_back(Folder(std::string(1, part[0]), length, std::string("-") + part));
        if (folders[0].empty())
            continue;
        for (std::size_t i = 0; i < folders.size(); ++i)
            e2e::WriteTree(folders[i], e2e::SubTree(sample, i == 0 ? "suite" : i == 1 ? "modules" : "data"));
        fs::remove_all(BackupFolder());
        const Snapshot before = TakeSnapshot(scratch.path());
        const int exitCode = Run({u"/backup", ToolForm(folders[0]), ToolForm(folders[1]), ToolForm(folders[2])});
        Report("/backup", length, exitCode);
        ExpectChangesOnlyInside(before, TakeSnapshot(scratch.path()), {BackupFolder()});
        const Tree backup = e2e::ReadTree(BackupFolder());
        ExpectOutcomeOfLength(length, exitCode, 4);
        if (exitCode == 0) {
            EXPECT_EQ(backup, expected);
        } else {
            // Whatever was copied is a whole file of the backup, in its place.
            for (const auto& [path, content] : backup) {
                const auto found = expected.find(path);
                EXPECT_TRUE(content == e2e::kEmptyFolder || (found != expected.end() && found->second == content))
                    << path;
            }
        }
    }
}

TEST_P(LongPaths, RestoreCopiesWholeOrFails) {
    const Tree backup = e2e::ExpectedBackup(e2e::SampleInstallation());
    e2e::WriteTree(BackupFolder(), backup);
    const Tree fresh = e2e::FreshInstallation();
    Tree expected = e2e::ExpectedRestore(backup, fresh);
    expected["config/CommonConfig.xml"] = e2e::MergedConfig("config");
    expected["common/CommonConfig.xml"] = e2e::MergedConfig("common");
    for (const std::size_t length : kArgumentLengths) {
        SCOPED_TRACE("arguments of " + std::to_string(length) + " characters");
        std::vector<fs::path> folders;
        for (const char* part : {"config", "data", "common"})
            folders.push_back(Folder(std::string(1, part[0]) + part[2], length, std::string("-") + part));
        if (folders[0].empty())
            continue;
        for (std::size_t i = 0; i < folders.size(); ++i) {
            const char* part = i == 0 ? "config" : i == 1 ? "data" : "common";
            fs::remove_all(folders[i]);
            e2e::WriteTree(folders[i], e2e::SubTree(fresh, part));
        }
        const Snapshot before = TakeSnapshot(scratch.path());
        const int exitCode =
            Run({u"/restore", ToolForm(folders[0]), ToolForm(folders[1]), ToolForm(folders[2]), u"/common"});
        Report("/restore", length, exitCode);
        ExpectChangesOnlyInside(before, TakeSnapshot(scratch.path()), folders);
        EXPECT_EQ(e2e::ReadTree(BackupFolder()), backup) << "the backup folder changed";
        for (std::size_t i = 0; i < folders.size(); ++i) {
            const std::string part = i == 0 ? "config" : i == 1 ? "data" : "common";
            const Tree now = e2e::ReadTree(folders[i]);
            if (exitCode == 0) {
                EXPECT_EQ(now, e2e::SubTree(expected, part));
                continue;
            }
            // A failed restore leaves each file either as installed or as restored, never cut.
            const Tree wasInstalled = e2e::SubTree(fresh, part);
            const Tree restored = e2e::SubTree(expected, part);
            for (const auto& [path, content] : now) {
                const auto a = wasInstalled.find(path);
                const auto b = restored.find(path);
                EXPECT_TRUE(content == e2e::kEmptyFolder || (a != wasInstalled.end() && a->second == content) ||
                            (b != restored.end() && b->second == content))
                    << part << "/" << path;
            }
        }
        ExpectOutcomeOfLength(length, exitCode, 5);
    }
}

INSTANTIATE_TEST_SUITE_P(Builds, LongPaths, testing::ValuesIn(e2e::AllBuilds()), e2e::BuildName);

}  // namespace
}  // namespace robustness
