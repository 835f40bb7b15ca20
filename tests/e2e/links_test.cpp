// Links planted by an ordinary user into the folders that an elevated run reads and writes: no run
// copies through one, each fails with its exit code instead (and ends), and nothing outside the
// named folders changes. Folder arguments that are links themselves are the caller's choice.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <iostream>

#include "tests/e2e/scenario_support.h"

namespace e2e {
namespace {

namespace fs = std::filesystem;
using testing_support::WriteFile;

class Links : public Scenario {
protected:
    // A folder moved out of the installation, a link in its place.
    void MoveAway(const fs::path& folder) {
        const fs::path moved = Elsewhere() / ("moved " + folder.filename().string());
        fs::create_directories(Elsewhere());
        fs::rename(folder, moved);
        fs::create_directory_symlink(moved, folder);
    }
    fs::path Elsewhere() const { return scratch / "Elsewhere"; }
};

struct LinkCase {
    const char* name;
    bool restore;  // the link is planted into a fresh installation after a clean backup
    std::function<void()> plant;
    int expected;
    // Wine shows a Unix link to a file as the file itself: the Windows build cannot see it there.
    bool wineSeesIt = true;
    bool needsRoot = false;
};

TEST_P(Links, NoRunCopiesThroughALink) {
    const std::string secret = "not for the backup";
    const LinkCase cases[] = {
        {"a link in the data folder back into the backup folder", false,
         [this] { fs::create_directory_symlink(BackupFolder(), root / "data" / "clientmanager" / "loop"); },
         4},
        {"a link in the data folder to a folder outside", false,
         [this] { fs::create_directory_symlink(Elsewhere() / "private", root / "data" / "private"); }, 4},
        {"a link in the data folder to a file outside", false,
         [this] { fs::create_symlink(Elsewhere() / "private" / "key.txt", root / "data" / "key.txt"); }, 4,
         false},
        {"a module folder that is a link", false, [this] { MoveAway(root / "modules" / "fumi"); }, 4},
        {"the backup folder a link, backup", false, [this] { MoveAway(BackupFolder()); }, 4},
        {"the backup folder owned by another user, backup", false,
         [this] { ASSERT_EQ(::chown(BackupFolder().c_str(), 4321, 4321), 0); }, 4, true, true},
        {"the data folder argument itself a link", false, [this] { MoveAway(root / "data"); }, 0},
        {"a destination folder of the restore that is a link to a folder outside", true,
         [this] {
             fs::remove_all(root / "data" / "clientmanager");
             fs::create_directory_symlink(Elsewhere() / "private", root / "data" / "clientmanager");
         },
         5},
        {"the backup folder a link, restore", true, [this] { MoveAway(BackupFolder()); }, 5},
        {"the backup folder owned by another user, restore", true,
         [this] { ASSERT_EQ(::chown(BackupFolder().c_str(), 4321, 4321), 0); }, 5, true, true},
        {"the configuration folder argument itself a link", true, [this] { MoveAway(root / "config"); }, 0},
    };
    for (const LinkCase& c : cases) {
        SCOPED_TRACE(c.name);
        if ((runner->Name() == "wine" && !c.wineSeesIt) || (c.needsRoot && ::geteuid() != 0)) {
            std::cout << "[ SKIPPED  ] " << c.name
                      << (c.needsRoot ? ": giving a folder to another user needs root\n"
                                      : ": Wine shows a Unix link to a file as the file itself\n");
            continue;
        }
        fs::remove_all(root);
        fs::remove_all(Elsewhere());
        fs::remove_all(BackupFolder());
        WriteFile(Elsewhere() / "private" / "key.txt", secret);
        const Tree outside = ReadTree(Elsewhere());
        WriteTree(root, SampleInstallation());
        if (c.restore) {
            ASSERT_EQ(Backup(), 0);
            fs::remove_all(root);
            WriteTree(root, FreshInstallation());
        } else {
            // An earlier backup left the folder there.
            fs::create_directories(BackupFolder());
        }
        c.plant();
        EXPECT_EQ(c.restore ? Restore() : Backup(), c.expected);
        EXPECT_EQ(ReadTree(Elsewhere()).count("private/key.txt"), 1u);
        for (const auto& [path, content] : ReadTree(Elsewhere())) {
            if (path.rfind("moved ", 0) != 0) {
                EXPECT_EQ(outside.at(path), content) << path;
            }
        }
        for (const auto& [path, content] : ReadTree(BackupFolder())) {
            EXPECT_NE(content, secret) << path;
        }
        if (fs::is_symlink(BackupFolder()))
            fs::remove(BackupFolder());
        fs::remove_all(BackupFolder());
    }
}

INSTANTIATE_TEST_SUITE_P(Builds, Links, testing::ValuesIn(AllBuilds()), BuildName);

}  // namespace
}  // namespace e2e
