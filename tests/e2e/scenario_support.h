// What the end-to-end scenarios share: the sample installation of examples/, a fixture that runs the
// tool through the runner of one build, and whole folder trees read into maps so that a scenario can
// compare every file of a folder at once.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "tests/e2e/tool_runner.h"
#include "tests/support/full_disk.h"
#include "tests/support/temp_folder.h"

namespace e2e {

// Every file below a folder, by its path relative to that folder ("a/b.txt") with its bytes; an
// empty folder appears as its path with kEmptyFolder as content. A missing folder reads as empty.
using Tree = std::map<std::string, std::string>;
inline const std::string kEmptyFolder = "<empty folder>";
Tree ReadTree(const std::filesystem::path& root);

// Writes every entry of a tree below root (files with their bytes, empty folders as folders).
void WriteTree(const std::filesystem::path& root, const Tree& tree);

// The entries of a tree below one of its folders ("data/kormo"), relative to that folder.
Tree SubTree(const Tree& tree, const std::string& folder);

// The old installation of examples/sample (suite/, modules/, data/), its empty folders included.
Tree SampleInstallation();
// The defaults of a new installation, examples/fresh (config/, data/, common/).
Tree FreshInstallation();

// What a backup of the sample installation leaves in the backup folder, relative to "Lumvar".
Tree ExpectedBackup(const Tree& sample);

// What the new installation holds after a restore from that backup over the fresh defaults.
Tree ExpectedRestore(const Tree& backup, const Tree& fresh);

// The live CommonConfig.xml of examples/fresh in "config" or "common" once the sample's saved one
// has been merged into it, as examples/merged spells it out.
std::string MergedConfig(const std::string& folder);

// The tree without the live CommonConfig.xml files of a fresh installation: those are the merge's
// business, not the copy-backs'.
Tree WithoutLiveConfig(Tree tree);

// A full disk: the tmpfs lives in a mount namespace of the test process's own where permitted, and
// the tool, started from here, sees it too.
using testing_support::FillFileSystem;
using testing_support::ScopedTmpfs;

// One scenario against one build (the test parameter): a scratch folder, the runner, and the
// paths of the installation below the scratch folder.
class Scenario : public testing::TestWithParam<std::string> {
protected:
    void SetUp() override;

    // Runs the tool with arguments 1 onwards.
    int Run(const std::vector<std::u16string>& arguments);
    // The tool's form of a folder of the installation ("suite", "modules/fumi").
    std::u16string Tool(const std::string& relative) const;

    // The backup folder ("Lumvar" below the common application-data folder).
    std::filesystem::path BackupFolder() const;

    // Runs "/backup" of the installation below root (suite, modules, data).
    int Backup();
    // Runs "/restore" into the installation below root (config, data, common), with any further
    // arguments after the three folders.
    int Restore(const std::vector<std::u16string>& more = {});

    testing_support::TempFolder scratch;
    std::unique_ptr<ToolRunner> runner;
    // The installation folder; its name holds a blank and a non-ASCII letter.
    std::filesystem::path root;
};

// The parameter name of a build, for test names.
std::string BuildName(const testing::TestParamInfo<std::string>& info);

}  // namespace e2e
