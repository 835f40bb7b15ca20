#include "tests/e2e/scenario_support.h"

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <set>

namespace e2e {

namespace fs = std::filesystem;
using testing_support::ReadFile;
using testing_support::WriteFile;

namespace {

fs::path ExamplesFolder() {
    return fs::path(LUMVAR_SOURCE_DIR) / "examples";
}

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

// "modules/fumi/a.crk" -> "crk"; letter case folded as the wildcard search folds it.
std::string Extension(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    const std::size_t dot = path.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return {};
    return Lower(path.substr(dot + 1));
}

bool IsSettingsExtension(const std::string& extension) {
    return extension == "crk" || extension == "ini" || extension == "txt" || extension == "xml";
}

// Copies the files directly inside one folder of a tree (not those of its subfolders) to another.
void CopyTopLevel(const Tree& from, const std::string& folder, Tree& to, const std::string& destination) {
    for (const auto& [path, content] : SubTree(from, folder)) {
        if (path.find('/') == std::string::npos && content != kEmptyFolder)
            to[destination + "/" + path] = content;
    }
}

void CopyWhole(const Tree& from, const std::string& folder, Tree& to, const std::string& destination) {
    for (const auto& [path, content] : SubTree(from, folder))
        to[destination + "/" + path] = content;
}

// A file below a folder that was empty makes it no longer empty.
void DropFilledFolders(Tree& tree) {
    for (auto it = tree.begin(); it != tree.end();) {
        const std::string prefix = it->first + "/";
        const auto below = tree.lower_bound(prefix);
        const bool filled =
            it->second == kEmptyFolder && below != tree.end() && below->first.rfind(prefix, 0) == 0;
        it = filled ? tree.erase(it) : std::next(it);
    }
}

}  // namespace

Tree ReadTree(const fs::path& root) {
    Tree tree;
    std::error_code error;
    if (!fs::is_directory(root, error))
        return tree;
    for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator(); ++it) {
        const std::string relative = fs::relative(it->path(), root).generic_string();
        if (it->is_directory()) {
            if (fs::is_empty(it->path()))
                tree[relative] = kEmptyFolder;
        } else {
            tree[relative] = ReadFile(it->path());
        }
    }
    return tree;
}

void WriteTree(const fs::path& root, const Tree& tree) {
    for (const auto& [path, content] : tree) {
        if (content == kEmptyFolder) {
            fs::create_directories(root / path);
        } else {
            WriteFile(root / path, content);
        }
    }
}

Tree SubTree(const Tree& tree, const std::string& folder) {
    Tree below;
    const std::string prefix = folder + "/";
    for (auto it = tree.lower_bound(prefix); it != tree.end() && it->first.rfind(prefix, 0) == 0; ++it) {
        below[it->first.substr(prefix.size())] = it->second;
    }
    return below;
}

Tree SampleInstallation() {
    Tree tree = ReadTree(ExamplesFolder() / "sample");
    // Git keeps no empty folders: the sample lists them beside itself.
    std::ifstream list(ExamplesFolder() / "sample-empty-folders.txt");
    for (std::string line; std::getline(list, line);) {
        if (!line.empty())
            tree[line] = kEmptyFolder;
    }
    return tree;
}

Tree FreshInstallation() {
    return ReadTree(ExamplesFolder() / "fresh");
}

Tree ExpectedBackup(const Tree& sample) {
    Tree backup;
    for (const char* file :
         {"suite/Common/CommonConfig.xml", "modules/eobd/eobd.ini", "modules/oscillo/oscillo.ini",
          "modules/Utility/Dorvel.ini", "modules/wizard/ConfigurationWizard.xml"}) {
        const auto found = sample.find(file);
        if (found != sample.end())
            backup[fs::path(file).filename().string()] = found->second;
    }
    const struct {
        const char* module;
        const char* settings;
        const char* measurements;
        const char* measurementExtension;
    } modules[] = {{"fumi", "diesel", "Data/diesel", "opa"}, {"gas", "gas", "Data/gas", "gas"}};
    for (const auto& m : modules) {
        for (const auto& [name, content] : SubTree(sample, std::string("modules/") + m.module)) {
            if (name.find('/') != std::string::npos)
                continue;
            const std::string extension = Extension(name);
            if (IsSettingsExtension(extension))
                backup[std::string(m.settings) + "/" + name] = content;
            if (extension == m.measurementExtension)
                backup[std::string(m.measurements) + "/" + name] = content;
        }
    }
    CopyWhole(sample, "data", backup, "Data");
    DropFilledFolders(backup);
    return backup;
}

Tree ExpectedRestore(const Tree& backup, const Tree& fresh) {
    Tree restored = fresh;
    CopyTopLevel(backup, "diesel", restored, "config/diesel");
    if (backup.count("eobd.ini") != 0)
        restored["config/eobd/eobd.ini"] = backup.at("eobd.ini");
    CopyWhole(backup, "Data/kormo/Exchange - In", restored, "data/kormo/In");
    CopyWhole(backup, "Data/kormo/Exchange - Out", restored, "data/kormo/Out");
    CopyTopLevel(backup, "gas", restored, "config/gas");
    if (backup.count("oscillo.ini") != 0)
        restored["config/oscillo.ini"] = backup.at("oscillo.ini");
    if (backup.count("ConfigurationWizard.xml") != 0) {
        restored["config/ConfigurationWizard.xml"] = backup.at("ConfigurationWizard.xml");
    }
    CopyTopLevel(backup, "Data/kormo", restored, "data/kormo/rec");
    CopyWhole(backup, "Data/clientmanager", restored, "data/clientmanager");
    CopyWhole(backup, "Data/diesel", restored, "data/diesel");
    CopyWhole(backup, "Data/gas", restored, "data/gas");
    CopyWhole(backup, "Data/oscillo", restored, "data/oscillo");
    DropFilledFolders(restored);
    return restored;
}

std::string MergedConfig(const std::string& folder) {
    return ReadFile(ExamplesFolder() / "merged" / folder / "CommonConfig.xml");
}

Tree WithoutLiveConfig(Tree tree) {
    tree.erase("config/CommonConfig.xml");
    tree.erase("common/CommonConfig.xml");
    return tree;
}

void Scenario::SetUp() {
    runner = MakeRunner(GetParam(), scratch.path());
    const std::string reason = runner->UnavailableReason();
    if (!reason.empty())
        GTEST_SKIP() << GetParam() << ": " << reason;
    root = scratch / "Officina Nicolò" / "Suite 3";
}

int Scenario::Run(const std::vector<std::u16string>& arguments) {
    return runner->Run(arguments);
}

std::u16string Scenario::Tool(const std::string& relative) const {
    return runner->ToolPath(root / relative);
}

fs::path Scenario::BackupFolder() const {
    return runner->CommonAppData() / "Lumvar";
}

int Scenario::Backup() {
    return Run({u"/backup", Tool("suite"), Tool("modules"), Tool("data")});
}

int Scenario::Restore(const std::vector<std::u16string>& more) {
    std::vector<std::u16string> arguments{u"/restore", Tool("config"), Tool("data"), Tool("common")};
    arguments.insert(arguments.end(), more.begin(), more.end());
    return Run(arguments);
}

std::string BuildName(const testing::TestParamInfo<std::string>& info) {
    return info.param;
}

}  // namespace e2e
