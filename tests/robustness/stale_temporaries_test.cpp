// A save killed between writing its temporary file and renaming it leaves the hidden temporary
// ".<name>.lumvar-XXXXXX" beside the file. The next successful save of the same file removes such
// leftovers of that file, and nothing else: not the temporary of a save still running (it holds its
// temporary locked), which another restore of the same installation may be writing at that moment.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"
#include "platform/save_temporary.h"
#include "tests/robustness/tree_snapshot.h"
#include "tests/support/temp_folder.h"

namespace robustness {
namespace {

namespace fs = std::filesystem;
using testing_support::ReadFile;
using testing_support::TempFolder;
using testing_support::U16;
using testing_support::WriteFile;

TEST(StaleTemporaries, TheNextSaveOfTheFileRemovesItsOwnLeftoversOnly) {
    TempFolder temp;
    WriteFile(temp / "CommonConfig.xml", "<old/>");
    for (const char* stale : {".CommonConfig.xml.lumvar-Ab12Cd", ".CommonConfig.xml.lumvar-000000"})
        WriteFile(temp / stale, "<half");
    // Temporaries of other files, names that only look alike, and a folder of a matching name.
    const char* kept[] = {".Other.xml.lumvar-Ab12Cd",           ".CommonConfig.xml.lumvar-Ab12C",
                          ".CommonConfig.xml.lumvar-Ab12Cde",   "CommonConfig.xml.lumvar-Ab12Cd",
                          ".CommonConfig.xml.lumvar-Ab_2Cd",    ".commonconfig.xml.lumvar-Ab12Cd",
                          ".CommonConfig.xml.lumvar-Ab12Cd.bak"};
    for (const char* name : kept)
        WriteFile(temp / name, name);
    fs::create_directories(temp / ".CommonConfig.xml.lumvar-Folder" / "inside");
    // The temporary of a save still running in another process: locked by its writer.
    WriteFile(temp / ".CommonConfig.xml.lumvar-Live00", "<being written");
    const int writer = ::open((temp / ".CommonConfig.xml.lumvar-Live00").c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_EQ(::flock(writer, LOCK_EX), 0);

    ASSERT_TRUE(platform::ReplaceFileContents(U16(temp / "CommonConfig.xml"), "<new/>"));
    ::close(writer);

    Snapshot expected;
    expected["CommonConfig.xml"] = "<new/>";
    expected[".CommonConfig.xml.lumvar-Live00"] = "<being written";
    for (const char* name : kept)
        expected[name] = name;
    expected[".CommonConfig.xml.lumvar-Folder"] = kFolder;
    expected[".CommonConfig.xml.lumvar-Folder/inside"] = kFolder;
    EXPECT_EQ(TakeSnapshot(temp.path()), expected);
}

// Any name the file system takes can be saved, and the stale temporaries of a long one are found
// too: its temporaries carry a shortened name and a hash of the whole one.
TEST(StaleTemporaries, NamesUpToTheLimitSaveAndTheirLeftoversAreRemoved) {
    TempFolder temp;
    for (const std::size_t length : {240u, 241u, 250u, 255u}) {
        const std::string name = std::string(length - 4, 'n') + ".xml";
        const std::string stale = platform::save_temporary::Stem<char>(name, '.', 255, 6, 0) + "Ab12Cd";
        ASSERT_LE(stale.size(), 255u);
        WriteFile(temp / name, "<old/>");
        WriteFile(temp / stale, "<half");
        ASSERT_TRUE(platform::ReplaceFileContents(U16(temp / name), "<new/>")) << length;
        EXPECT_EQ(TakeSnapshot(temp.path()), (Snapshot{{name, "<new/>"}})) << length;
        fs::remove(temp / name);
    }
}

// The names of the files that one save of file creates in its folder (its temporary file).
std::vector<std::string> CreatedBySave(const fs::path& file, std::string_view bytes) {
    std::vector<std::string> names;
    const int watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (watch < 0 || ::inotify_add_watch(watch, file.parent_path().c_str(), IN_CREATE) < 0 ||
        !platform::ReplaceFileContents(U16(file), bytes)) {
        if (watch >= 0)
            ::close(watch);
        return names;
    }
    alignas(inotify_event) char buffer[16384];
    for (ssize_t got; (got = ::read(watch, buffer, sizeof buffer)) > 0;) {
        for (ssize_t at = 0; at < got;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
            if (event->len != 0 && event->name != file.filename().string())
                names.emplace_back(event->name);
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        }
    }
    ::close(watch);
    return names;
}

// Whatever form the temporary names take: a leftover under the exact name a save of the file uses
// is removed by the next save, while a name of the same length that differs from it in a
// character every such name has (another file's temporary, another dot-file) stays.
TEST(StaleTemporaries, OnlyTheExactTemporaryNamesOfTheFileCountAsStale) {
    TempFolder temp;
    WriteFile(temp / "CommonConfig.xml", "<old/>");
    // The characters that six saves' temporaries share are the fixed part of the name; the others
    // are chosen afresh by each save.
    std::vector<std::string> seen;
    for (int save = 0; save < 6; ++save) {
        const std::vector<std::string> created = CreatedBySave(temp / "CommonConfig.xml", "<saved/>");
        ASSERT_EQ(created.size(), 1u) << "a save makes one temporary file";
        seen.push_back(created[0]);
    }
    const std::string& temporary = seen[0];
    std::vector<std::string> lookAlikes;
    for (std::size_t at = 0; at < temporary.size(); ++at) {
        const bool fixed = std::all_of(seen.begin(), seen.end(), [&](const std::string& name) {
            return name.size() == temporary.size() && name[at] == temporary[at];
        });
        if (fixed) {
            std::string lookAlike = temporary;
            lookAlike[at] = temporary[at] == 'Q' ? 'R' : 'Q';
            lookAlikes.push_back(lookAlike);
        }
    }
    ASSERT_GT(lookAlikes.size(), 1u);
    WriteFile(temp / temporary, "<half");
    for (const std::string& name : lookAlikes)
        WriteFile(temp / name, name);

    ASSERT_TRUE(platform::ReplaceFileContents(U16(temp / "CommonConfig.xml"), "<new/>"));

    Snapshot expected{{"CommonConfig.xml", "<new/>"}};
    for (const std::string& name : lookAlikes)
        expected[name] = name;
    EXPECT_EQ(TakeSnapshot(temp.path()), expected);
}

TEST(StaleTemporaries, AFailedSaveLeavesTheFileAndRemovesOnlyItsOwnTemporary) {
    TempFolder temp;
    WriteFile(temp / "CommonConfig.xml", "<old/>");
    WriteFile(temp / ".CommonConfig.xml.lumvar-Ab12Cd", "<half");
    // The rename over a folder fails after the temporary has been written.
    fs::create_directories(temp / "Folder.xml" / "inside");
    WriteFile(temp / ".Folder.xml.lumvar-Ab12Cd", "<half");

    EXPECT_FALSE(platform::ReplaceFileContents(U16(temp / "Folder.xml"), "<new/>"));

    Snapshot expected{{"CommonConfig.xml", "<old/>"},
                      {".CommonConfig.xml.lumvar-Ab12Cd", "<half"},
                      {".Folder.xml.lumvar-Ab12Cd", "<half"},
                      {"Folder.xml", kFolder},
                      {"Folder.xml/inside", kFolder}};
    EXPECT_EQ(TakeSnapshot(temp.path()), expected);
}

}  // namespace
}  // namespace robustness
