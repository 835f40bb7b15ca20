// Whole folder trees captured byte for byte, so that a test can say exactly what a run changed.
#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace robustness {

// Every entry below a folder by its relative path: a file's bytes, a folder as kFolder, a symbolic
// link as "-> " and its target. Hidden entries are included; nothing is followed out of the tree.
using Snapshot = std::map<std::string, std::string>;
inline const std::string kFolder = "<folder>";
Snapshot TakeSnapshot(const std::filesystem::path& root);

// The entries that differ between two snapshots (added, removed or changed), for messages.
std::vector<std::string> Differences(const Snapshot& before, const Snapshot& after);

// The snapshot without the entries at or below one of the relative folders.
Snapshot Without(Snapshot snapshot, const std::vector<std::string>& folders);

// Makes a folder the process's working folder for the object's lifetime: the tool and the programs
// it starts inherit it, so whatever they write by a relative or garbled path lands where a test
// looks.
class ScopedWorkingFolder {
public:
    explicit ScopedWorkingFolder(const std::filesystem::path& folder);
    ~ScopedWorkingFolder();
    ScopedWorkingFolder(const ScopedWorkingFolder&) = delete;
    ScopedWorkingFolder& operator=(const ScopedWorkingFolder&) = delete;

private:
    std::filesystem::path previous_;
};

// Entries whose last name is a temporary of a save (".<name>.lumvar-XXXXXX") or of a copy by
// lumvar-cmd (".<name>.lumvar-cmd.tmp"), with their relative paths.
std::vector<std::string> Temporaries(const Snapshot& snapshot);

}  // namespace robustness
