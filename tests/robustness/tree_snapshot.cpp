#include "tests/robustness/tree_snapshot.h"

#include "tests/support/temp_folder.h"

namespace robustness {

namespace fs = std::filesystem;

Snapshot TakeSnapshot(const fs::path& root) {
    Snapshot snapshot;
    std::error_code error;
    if (!fs::is_directory(root, error))
        return snapshot;
    for (auto it = fs::recursive_directory_iterator(root, error); !error && it != fs::recursive_directory_iterator();
         it.increment(error)) {
        const std::string relative = fs::relative(it->path(), root).generic_string();
        if (it->is_symlink()) {
            snapshot[relative] = "-> " + fs::read_symlink(it->path()).string();
        } else if (it->is_directory()) {
            snapshot[relative] = kFolder;
        } else {
            snapshot[relative] = testing_support::ReadFile(it->path());
        }
    }
    return snapshot;
}

std::vector<std::string> Differences(const Snapshot& before, const Snapshot& after) {
    std::vector<std::string> differences;
    for (const auto& [path, content] : before) {
        const auto found = after.find(path);
        if (found == after.end()) {
            differences.push_back("removed: " + path);
        } else if (found->second != content) {
            differences.push_back("changed: " + path);
        }
    }
    for (const auto& [path, content] : after) {
        if (before.count(path) == 0)
            differences.push_back("added: " + path);
    }
    return differences;
}

Snapshot Without(Snapshot snapshot, const std::vector<std::string>& folders) {
    for (auto it = snapshot.begin(); it != snapshot.end();) {
        bool below = false;
        for (const auto& folder : folders)
            below = below || it->first == folder || it->first.rfind(folder + "/", 0) == 0;
        it = below ? snapshot.erase(it) : std::next(it);
    }
    return snapshot;
}

ScopedWorkingFolder::ScopedWorkingFolder(const fs::path& folder) : previous_(fs::current_path()) {
    fs::create_directories(folder);
    fs::current_path(folder);
}

ScopedWorkingFolder::~ScopedWorkingFolder() {
    std::error_code ignored;
    fs::current_path(previous_, ignored);
}

std::vector<std::string> Temporaries(const Snapshot& snapshot) {
    std::vector<std::string> found;
    for (const auto& [path, content] : snapshot) {
        const std::string name = fs::path(path).filename().string();
        if (name.front() == '.' && name.find(".lumvar-") != std::string::npos)
            found.push_back(path);
    }
    return found;
}

}  // namespace robustness
