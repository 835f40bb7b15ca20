// A small file system that tests can fill, to see what a save does when the disk is full.
#pragma once

#include <filesystem>
#include <string>

namespace testing_support {

// A tmpfs mounted over a scratch folder for as long as the object lives. Mounting needs root and a
// sandbox that permits it; mounted() says whether it worked, reason() why not.
class ScopedTmpfs {
public:
    // options as for mount(8), e.g. "size=64k".
    ScopedTmpfs(const std::filesystem::path& where, const char* options);
    ~ScopedTmpfs();
    ScopedTmpfs(const ScopedTmpfs&) = delete;
    ScopedTmpfs& operator=(const ScopedTmpfs&) = delete;

    bool mounted() const { return mounted_; }
    const std::string& reason() const { return reason_; }
    bool RemountReadOnly() const;

private:
    std::filesystem::path where_;
    bool mounted_ = false;
    std::string reason_;
};

// Writes to a new file until the file system refuses; the errno of that refusal.
int FillFileSystem(const std::filesystem::path& file);

}  // namespace testing_support
