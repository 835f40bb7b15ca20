#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <set>
#include <vector>

#include "platform/platform.h"
#include "platform/save_temporary.h"
#include "platform/text.h"
#include "tests/support/read_fault.h"
#include "tests/support/syscall_supervisor.h"
#include "tests/support/temp_folder.h"

namespace {

using testing_support::ReadFile;
using testing_support::TempFolder;
using testing_support::U16;
using testing_support::WriteFile;

class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::string& value) : name_(name) {
        if (const char* old = std::getenv(name))
            old_ = old, hadOld_ = true;
        ::setenv(name, value.c_str(), 1);
    }
    ~ScopedEnv() {
        if (hadOld_) {
            ::setenv(name_, old_.c_str(), 1);
        } else {
            ::unsetenv(name_);
        }
    }

private:
    const char* name_;
    std::string old_;
    bool hadOld_ = false;
};

std::vector<std::u16string> Matches(const std::u16string& pattern) {
    std::vector<std::u16string> names;
    platform::FindMatchingEntries(pattern, [&](const std::u16string& name) { names.push_back(name); });
    std::sort(names.begin(), names.end());
    return names;
}

TEST(PlatformPosix, CommonAppDataFolderComesFromProgramDataAndIsCreated) {
    TempFolder temp;
    const std::string nested = (temp / "Program Data" / "nested").string();
    const struct {
        std::string programData;
        std::string folder;
    } cases[] = {
        {nested + "//", nested},
        // The root folder keeps its only separator.
        {"/", "/"},
        {"//", "/"},
    };
    for (const auto& c : cases) {
        ScopedEnv env("ProgramData", c.programData);
        EXPECT_EQ(platform::CommonAppDataFolder(), U16(c.folder)) << c.programData;
        EXPECT_TRUE(std::filesystem::is_directory(c.folder)) << c.programData;
    }
}

TEST(PlatformPosix, CommonAppDataFolderIsEmptyWhenItCannotBeCreated) {
    TempFolder temp;
    WriteFile(temp / "file", "x");
    // Below a file, and a file itself: neither is a folder.
    for (const std::filesystem::path& folder : {temp / "file" / "below", temp / "file"}) {
        ScopedEnv env("ProgramData", folder.string());
        EXPECT_EQ(platform::CommonAppDataFolder(), u"") << folder;
    }
    EXPECT_EQ(ReadFile(temp / "file"), "x");
}

TEST(PlatformPosix, BackslashesAreSeparatorsAndDoubledOnesAreHarmless) {
    TempFolder temp;
    WriteFile(temp / "a" / "b.txt", "x");
    EXPECT_EQ(platform::PathStateOf(U16(temp.path()) + u"\\a\\\\b.txt"), platform::PathState::Present);
    EXPECT_EQ(platform::PathStateOf(U16(temp.path()) + u"\\a\\"), platform::PathState::Present);
    EXPECT_EQ(platform::PathStateOf(U16(temp.path()) + u"\\a\\c.txt"), platform::PathState::Missing);
}

const char* StateName(platform::PathState state) {
    switch (state) {
        case platform::PathState::Missing:
            return "Missing";
        case platform::PathState::Present:
            return "Present";
        case platform::PathState::Unknown:
            return "Unknown";
    }
    return "?";
}

// A path of many short folder names, each three characters with its separator.
std::u16string LongPath(std::size_t folders) {
    std::u16string path;
    for (std::size_t i = 0; i < folders; ++i)
        path += u"pp\\";
    return path + u"file.ini";
}

// Only "not found" is missing: every other failure of the test leaves the answer open.
TEST(PlatformPosix, PathStateTellsMissingFromUnknown) {
    using platform::PathState;
    TempFolder temp;
    WriteFile(temp / "folder" / "file.ini", "x");
    std::filesystem::create_symlink("loop-b", temp / "loop-a");
    std::filesystem::create_symlink("loop-a", temp / "loop-b");
    std::filesystem::create_symlink("nowhere", temp / "dangling");
    std::filesystem::create_symlink("folder", temp / "linked");
    const std::u16string root = U16(temp.path()) + u"\\";
    const struct {
        const char* what;
        std::u16string path;
        PathState expected;
    } cases[] = {
        {"a file", root + u"folder\\file.ini", PathState::Present},
        {"a folder with a trailing separator", root + u"folder\\", PathState::Present},
        {"through a link to a folder", root + u"linked\\file.ini", PathState::Present},
        {"a missing file", root + u"folder\\missing.ini", PathState::Missing},
        {"below a missing folder", root + u"missing\\file.ini", PathState::Missing},
        {"below two missing folders", root + u"missing\\deeper\\file.ini", PathState::Missing},
        {"a file in place of a folder of the path", root + u"folder\\file.ini\\below.ini",
         PathState::Missing},
        {"a link to nothing", root + u"dangling", PathState::Missing},
        {"a loop of links", root + u"loop-a", PathState::Unknown},
        {"below a loop of links", root + u"loop-a\\file.ini", PathState::Unknown},
        {"a name longer than the file system allows", root + std::u16string(300, u'n'), PathState::Unknown},
        {"a path longer than the system allows", root + LongPath(1400), PathState::Unknown},
        {"a NUL inside the path", root + u"folder" + std::u16string(1, u'\0') + u"\\x", PathState::Unknown},
    };
    for (const auto& c : cases) {
        EXPECT_STREQ(StateName(platform::PathStateOf(c.path)), StateName(c.expected)) << c.what;
    }
}

// The answer PathStateOf gives to a process without administrator rights: the superuser passes
// every permission check, so a child process gives its rights up first (to "nobody") and reports
// the state through its exit status.
// The exit status of a child that gives up administrator rights (to "nobody") and runs the test;
// 100 when it could not give them up, -1 when it did not end normally.
int ExitStatusAsAnOrdinaryUser(const std::function<int()>& test) {
    const pid_t child = ::fork();
    if (child == 0) {
        if (::geteuid() == 0 &&
            (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0))
            ::_exit(100);
        ::_exit(test());
    }
    int status = 0;
    if (child < 0 || ::waitpid(child, &status, 0) != child || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}

std::string StateSeenByAnOrdinaryUser(const std::u16string& path) {
    const int code =
        ExitStatusAsAnOrdinaryUser([&] { return static_cast<int>(platform::PathStateOf(path)); });
    if (code < 0)
        return "child failed";
    if (code > static_cast<int>(platform::PathState::Unknown))
        return "could not give up rights";
    return StateName(static_cast<platform::PathState>(code));
}

TEST(PlatformPosix, PathStateBelowAFolderThatMayNotBeSearchedIsUnknown) {
    TempFolder temp;
    WriteFile(temp / "closed" / "file.ini", "x");
    // Everyone may reach the scratch folder; only its owner may look inside "closed".
    std::filesystem::permissions(temp.path(), std::filesystem::perms::owner_all |
                                                  std::filesystem::perms::group_exec |
                                                  std::filesystem::perms::others_exec);
    std::filesystem::permissions(temp / "closed", std::filesystem::perms::none);
    const std::u16string closed = U16(temp / "closed");
    EXPECT_EQ(StateSeenByAnOrdinaryUser(closed + u"\\file.ini"), "Unknown");
    EXPECT_EQ(StateSeenByAnOrdinaryUser(closed + u"\\missing.ini"), "Unknown");
    EXPECT_EQ(StateSeenByAnOrdinaryUser(closed), "Present");
    std::filesystem::permissions(temp / "closed", std::filesystem::perms::owner_all);
}

// A relative path is joined to the working folder; an absolute one comes back unchanged.
TEST(PlatformPosix, AbsolutePathJoinsOnlyRelativePathsToTheWorkingFolder) {
    const std::u16string working = U16(std::filesystem::current_path());
    const std::u16string base = working == u"/" ? working : working + u"/";
    const struct {
        std::u16string path;
        std::u16string expected;
    } cases[] = {
        {u"/srv/Suite Officina", u"/srv/Suite Officina"},
        {u"/srv/Suite Officina/", u"/srv/Suite Officina/"},
        {u"\\srv\\Suite", u"\\srv\\Suite"},
        {u"//srv//a/../b", u"//srv//a/../b"},
        {u"Suite Officina", base + u"Suite Officina"},
        {u"Suite\\Config\\", base + u"Suite\\Config\\"},
        {u"./data", base + u"./data"},
        {u"../data", base + u"../data"},
        {u"C:\\Suite", base + u"C:\\Suite"},
        {u" /leading blank", base + u" /leading blank"},
        {u"-rf", base + u"-rf"},
        {u"", u""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(platform::AbsolutePath(c.path), c.expected) << testing::PrintToString(c.path);
    }
}

TEST(PlatformPosix, WildcardWalkIgnoresCaseAndListsOnlyTheFolderItself) {
    TempFolder temp;
    for (const char* name : {"one.crk", "TWO.CRK", "three.Crk", "four.crkx", "five.crk.bak", "six.txt"}) {
        WriteFile(temp / "fumi" / name, "x");
    }
    WriteFile(temp / "fumi" / "sub" / "deep.crk", "x");
    std::filesystem::create_directories(temp / "fumi" / "folder.crk");
    const std::u16string folder = U16(temp / "fumi") + u"\\";
    EXPECT_EQ(Matches(folder + u"*.crk"),
              (std::vector<std::u16string>{u"TWO.CRK", u"folder.crk", u"one.crk", u"three.Crk"}));
    EXPECT_EQ(Matches(folder + u"*.opa"), std::vector<std::u16string>{});
    EXPECT_EQ(Matches(U16(temp / "missing") + u"\\*.crk"), std::vector<std::u16string>{});
}

// Only a folder that is not there matches nothing; one that is there (or cannot be examined) but
// cannot be listed fails the walk, so that its files are never silently left out.
TEST(PlatformPosix, WildcardWalkFailsWhereTheFolderCannotBeListed) {
    TempFolder temp;
    WriteFile(temp / "fumi" / "a.crk", "x");
    WriteFile(temp / "closed" / "a.crk", "x");
    WriteFile(temp / "file", "x");
    std::filesystem::create_symlink("loop-b", temp / "loop-a");
    std::filesystem::create_symlink("loop-a", temp / "loop-b");
    const std::u16string root = U16(temp.path()) + u"\\";
    const auto walk = [](const std::u16string& folder) {
        return platform::FindMatchingEntries(folder + u"*.crk", [](const std::u16string&) {});
    };
    const struct {
        const char* what;
        std::u16string folder;
        bool listed;
    } cases[] = {
        {"a folder", root + u"fumi\\", true},
        {"a missing folder", root + u"missing\\", true},
        {"below a missing folder", root + u"missing\\fumi\\", true},
        {"a file in place of the folder", root + u"file\\", true},
        {"a loop of links", root + u"loop-a\\", false},
        {"below a loop of links", root + u"loop-a\\fumi\\", false},
        {"a name longer than the file system allows", root + std::u16string(300, u'n') + u"\\", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(walk(c.folder), c.listed) << c.what;
    }

    // Everyone may reach the scratch folder; only its owner may list "closed" or look inside it.
    std::filesystem::permissions(temp.path(), std::filesystem::perms::owner_all |
                                                  std::filesystem::perms::group_exec |
                                                  std::filesystem::perms::others_exec);
    std::filesystem::permissions(temp / "closed", std::filesystem::perms::owner_exec);
    std::filesystem::permissions(temp / "fumi", std::filesystem::perms::none);
    for (const auto& [what, folder] :
         {std::pair{"a folder that may not be read", root + u"closed\\"},
          std::pair{"below a folder that may not be searched", root + u"fumi\\sub\\"}}) {
        EXPECT_EQ(ExitStatusAsAnOrdinaryUser([&] { return walk(folder) ? 1 : 0; }), 0) << what;
    }
    std::filesystem::permissions(temp / "closed", std::filesystem::perms::owner_all);
    std::filesystem::permissions(temp / "fumi", std::filesystem::perms::owner_all);
}

// Sets the process's umask for as long as the object lives.
class ScopedUmask {
public:
    explicit ScopedUmask(mode_t mask) : old_(::umask(mask)) {}
    ~ScopedUmask() { ::umask(old_); }

private:
    mode_t old_;
};

mode_t ModeOf(const std::filesystem::path& path) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0)
        return 0;
    return info.st_mode;
}

// Nobody but its owner (the installer's account) may open the backup folder, whatever umask the
// tool inherits from its caller.
TEST(PlatformPosix, ProtectedFolderIsCreatedWithMode0700WhateverTheUmask) {
    TempFolder temp;
    for (const mode_t mask : {mode_t{0}, mode_t{022}, mode_t{077}, mode_t{0777}}) {
        const std::filesystem::path folder = temp / ("Lumvar " + std::to_string(mask));
        {
            ScopedUmask umask(mask);
            ASSERT_TRUE(platform::CreateProtectedFolder(U16(folder))) << mask;
        }
        EXPECT_TRUE(S_ISDIR(ModeOf(folder))) << mask;
        EXPECT_EQ(ModeOf(folder) & 07777, 0700u) << mask;
    }
    // The tool's form of the path: backslashes, a doubled one included.
    ASSERT_TRUE(platform::CreateProtectedFolder(U16(temp.path()) + u"\\\\Città"));
    EXPECT_EQ(ModeOf(temp / "Citt\xC3\xA0") & 07777, 0700u);
}

// An existing folder is trusted only as a folder of SYSTEM's, Administrators' or the running
// account's own (POSIX: root or this user); it then gets the rights again, its contents kept.
// A link to a folder, or a folder of anyone else, fails and is left exactly as it was.
TEST(PlatformPosix, ProtectedFolderTakesBackAnExistingFolderOnlyWhenItIsTrusted) {
    const bool root = ::geteuid() == 0;
    struct Case {
        const char* name;
        mode_t mode;
        bool link;        // the path is a link to the folder
        bool otherOwner;  // the folder belongs to another user (root only)
        bool expected;
        mode_t modeAfter;  // of the folder itself
    } const cases[] = {
        {"own 0700", 0700, false, false, true, 0700},     {"own 0755", 0755, false, false, true, 0700},
        {"own 0777", 0777, false, false, true, 0700},     {"own 01777", 01777, false, false, true, 0700},
        {"own 0000", 0000, false, false, true, 0700},     {"link to own", 0755, true, false, false, 0755},
        {"other 0700", 0700, false, true, false, 0700},   {"other 0777", 0777, false, true, false, 0777},
        {"link to other", 0777, true, true, false, 0777},
    };
    bool skipped = false;
    for (const Case& c : cases) {
        if (c.otherOwner && !root) {
            skipped = true;
            continue;
        }
        TempFolder temp;
        const std::filesystem::path folder = temp / "Folder";
        WriteFile(folder / "eobd.ini", "kept");
        if (c.otherOwner) {
            ASSERT_EQ(::chown(folder.c_str(), 4321, 4321), 0) << c.name;
        }
        ASSERT_EQ(::chmod(folder.c_str(), c.mode), 0) << c.name;
        std::filesystem::path named = folder;
        if (c.link) {
            named = temp / "Lumvar";
            std::filesystem::create_directory_symlink(folder, named);
        }
        EXPECT_EQ(platform::CreateProtectedFolder(U16(named)), c.expected) << c.name;
        EXPECT_EQ(platform::IsTrustedFolder(U16(named)), c.expected) << c.name;
        EXPECT_EQ(ModeOf(folder) & 07777, c.modeAfter) << c.name;
        EXPECT_EQ(c.link, std::filesystem::is_symlink(named)) << c.name;
        ::chmod(folder.c_str(), 0700);
        EXPECT_EQ(ReadFile(folder / "eobd.ini"), "kept") << c.name;
    }
    if (skipped)
        GTEST_SKIP() << "the rows with a folder of another user need root; the others ran";
}

// What a path is, the path itself never followed: a link is a link whatever it points to, however
// the tool spells it. Missing only when it or a folder on its way is not there.
TEST(PlatformPosix, EntryKindsAreReadWithoutFollowingLinks) {
    TempFolder temp;
    WriteFile(temp / "d" / "file.ini", "x");
    std::filesystem::create_directories(temp / "d" / "folder");
    std::filesystem::create_symlink(temp / "d" / "file.ini", temp / "d" / "file link");
    std::filesystem::create_directory_symlink(temp / "d" / "folder", temp / "d" / "folder link");
    std::filesystem::create_symlink(temp / "nowhere", temp / "d" / "dangling");
    std::filesystem::create_symlink("loop b", temp / "d" / "loop a");
    std::filesystem::create_symlink("loop a", temp / "d" / "loop b");
    ASSERT_EQ(::mkfifo((temp / "d" / "fifo").c_str(), 0600), 0);
    using platform::EntryKind;
    const std::u16string d = U16(temp / "d") + u"\\";
    const struct {
        std::u16string path;
        EntryKind expected;
    } cases[] = {
        {d + u"file.ini", EntryKind::File},
        {d + u"folder", EntryKind::Folder},
        {d + u"folder\\", EntryKind::Folder},
        {d + u"file link", EntryKind::Link},
        {d + u"folder link", EntryKind::Link},
        {d + u"folder link\\", EntryKind::Link},
        {d + u"folder link\\\\", EntryKind::Link},
        {d + u"dangling", EntryKind::Link},
        {d + u"loop a", EntryKind::Link},
        {d + u"fifo", EntryKind::Other},
        {d + u"missing", EntryKind::Missing},
        {d + u"missing\\below", EntryKind::Missing},
        {d + u"file.ini\\below", EntryKind::Missing},
        {d + u"loop a\\below", EntryKind::Unknown},
        {d + std::u16string(300, u'n'), EntryKind::Unknown},
    };
    for (const auto& c : cases)
        EXPECT_EQ(platform::EntryKindOf(c.path), c.expected) << platform::ToUtf8(c.path);

    std::vector<std::string> listed;
    EXPECT_TRUE(platform::ListEntryKinds(d, [&](const std::u16string& name, EntryKind kind) {
        listed.push_back(platform::ToUtf8(name) + " " + std::to_string(static_cast<int>(kind)));
    }));
    std::sort(listed.begin(), listed.end());
    auto row = [](const char* name, EntryKind kind) {
        return std::string(name) + " " + std::to_string(static_cast<int>(kind));
    };
    EXPECT_EQ(listed,
              (std::vector<std::string>{row("dangling", EntryKind::Link), row("fifo", EntryKind::Other),
                                        row("file link", EntryKind::Link), row("file.ini", EntryKind::File),
                                        row("folder", EntryKind::Folder), row("folder link", EntryKind::Link),
                                        row("loop a", EntryKind::Link), row("loop b", EntryKind::Link)}));
    // A folder argument may be a link: listing it lists what it points to.
    listed.clear();
    EXPECT_TRUE(platform::ListEntryKinds(d + u"folder link", [&](const std::u16string&, EntryKind) {}));
    EXPECT_FALSE(platform::ListEntryKinds(d + u"missing", [&](const std::u16string&, EntryKind) {}));
    EXPECT_FALSE(platform::ListEntryKinds(d + u"file.ini", [&](const std::u16string&, EntryKind) {}));
}

// Another process makes the folder between the tool's look and its own attempt: the folder is
// there as asked, and the other process's is kept as it made it.
TEST(PlatformPosix, ProtectedFolderAcceptsOneMadeMeanwhileByAnotherProcess) {
    TempFolder temp;
    const std::filesystem::path folder = temp / "Lumvar";
    std::vector<int> folderCalls{SYS_mkdirat};
#ifdef SYS_mkdir
    folderCalls.push_back(SYS_mkdir);
#endif
    if (const std::string why = testing_support::SupervisionUnavailable(); !why.empty())
        GTEST_SKIP() << why;
    int made = 0;
    const int result = testing_support::RunSupervised(
        folderCalls, [&] { return platform::CreateProtectedFolder(U16(folder)) ? 0 : 1; },
        [&](const testing_support::HeldCall&) {
            made += ::mkdir(folder.c_str(), 0700) == 0 ? 1 : 0;
            ::chmod(folder.c_str(), 0700);
            return testing_support::CallAnswer{};
        });
    ASSERT_NE(result, 126) << "the system call filter could not be installed";
    EXPECT_EQ(made, 1);
    EXPECT_EQ(result, 0);
    EXPECT_TRUE(S_ISDIR(ModeOf(folder)));
    EXPECT_EQ(ModeOf(folder) & 07777, 0700u);
}

TEST(PlatformPosix, ProtectedFolderFailsWhereNoFolderCanBe) {
    TempFolder temp;
    WriteFile(temp / "Lumvar", "a file in the way");
    EXPECT_FALSE(platform::CreateProtectedFolder(U16(temp / "Lumvar")));
    EXPECT_EQ(ReadFile(temp / "Lumvar"), "a file in the way");

    std::filesystem::create_symlink(temp / "nowhere", temp / "Dangling");
    EXPECT_FALSE(platform::CreateProtectedFolder(U16(temp / "Dangling")));
    EXPECT_FALSE(std::filesystem::exists(temp / "nowhere"));

    EXPECT_FALSE(platform::CreateProtectedFolder(U16(temp / "missing" / "Lumvar")));
    EXPECT_FALSE(std::filesystem::exists(temp / "missing"));
}

TEST(PlatformPosix, RenameNeverReplacesAnExistingFile) {
    TempFolder temp;
    WriteFile(temp / "sett.xml", "new");
    WriteFile(temp / "settings.xml", "old");
    EXPECT_FALSE(platform::RenameNoReplace(U16(temp / "sett.xml"), U16(temp / "settings.xml")));
    EXPECT_EQ(ReadFile(temp / "settings.xml"), "old");
    std::filesystem::remove(temp / "settings.xml");
    EXPECT_TRUE(platform::RenameNoReplace(U16(temp.path()) + u"\\\\sett.xml",
                                          U16(temp.path()) + u"\\\\settings.xml"));
    EXPECT_EQ(ReadFile(temp / "settings.xml"), "new");
    EXPECT_FALSE(std::filesystem::exists(temp / "sett.xml"));
    EXPECT_FALSE(platform::RenameNoReplace(U16(temp / "sett.xml"), U16(temp / "other.xml")));
}

TEST(PlatformPosix, ExclusiveReadFailsWhileAnotherProcessHoldsTheFile) {
    TempFolder temp;
    WriteFile(temp / "eobd.ini", "[a]\r\nk=v\r\n");
    std::string bytes;
    ASSERT_TRUE(platform::ReadFileExclusive(U16(temp / "eobd.ini"), bytes));
    EXPECT_EQ(bytes, "[a]\r\nk=v\r\n");

    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t holder = ::fork();
    ASSERT_GE(holder, 0);
    if (holder == 0) {
        const int fd = ::open((temp / "eobd.ini").c_str(), O_RDONLY);
        ::flock(fd, LOCK_EX);
        (void)!::write(ready[1], "x", 1);
        ::pause();
        ::_exit(0);
    }
    char signal = 0;
    ASSERT_EQ(::read(ready[0], &signal, 1), 1);
    EXPECT_FALSE(platform::ReadFileExclusive(U16(temp / "eobd.ini"), bytes));
    ::kill(holder, SIGKILL);
    ::waitpid(holder, nullptr, 0);
    ::close(ready[0]);
    ::close(ready[1]);
    EXPECT_TRUE(platform::ReadFileExclusive(U16(temp / "eobd.ini"), bytes));
    EXPECT_FALSE(platform::ReadFileExclusive(U16(temp / "missing.ini"), bytes));
}

// The replaced file keeps its mode, and its owner and group (those only as root: nobody else may
// give a file away).
TEST(PlatformPosix, ReplaceFileContentsSwapsTheWholeFileAndKeepsItsIdentity) {
    TempFolder temp;
    const struct {
        mode_t mode;
        uid_t owner;
        gid_t group;
    } rows[] = {{0640, 0, 0},         {0604, 0, 0},       {0444, 0, 0},
                {0600, 65534, 65534}, {0664, 1234, 5678}, {02775, 1234, 100}};
    for (const auto& row : rows) {
        if (row.owner != 0 && ::geteuid() != 0)
            continue;
        const std::filesystem::path file = temp / "CommonConfig.xml";
        WriteFile(file, "old text");
        if (row.owner != 0) {
            ASSERT_EQ(::chown(file.c_str(), row.owner, row.group), 0);
        }
        ASSERT_EQ(::chmod(file.c_str(), row.mode), 0);
        struct stat before {};
        ASSERT_EQ(::stat(file.c_str(), &before), 0);
        ASSERT_TRUE(platform::ReplaceFileContents(U16(file), "new text")) << std::oct << row.mode;
        EXPECT_EQ(ReadFile(file), "new text");
        struct stat after {};
        ASSERT_EQ(::stat(file.c_str(), &after), 0);
        EXPECT_NE(after.st_ino, before.st_ino) << "a new file took the old one's place";
        EXPECT_EQ(after.st_mode & 07777, row.mode) << std::oct << row.mode;
        EXPECT_EQ(after.st_uid, before.st_uid) << std::oct << row.mode;
        EXPECT_EQ(after.st_gid, before.st_gid) << std::oct << row.mode;
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(temp.path()), {}), 1);
        std::filesystem::remove(file);
    }
    if (::geteuid() != 0)
        GTEST_SKIP() << "owner and group are kept only as root; the mode rows ran";
}

// Installer rights over folders users can write: a symbolic link at the settings file's path is
// itself replaced by the new file, and whatever it points to is never written.
TEST(PlatformPosix, ReplaceFileContentsReplacesALinkAndNeverWritesThroughIt) {
    TempFolder temp;
    WriteFile(temp / "protected" / "secret.xml", "kept");
    for (const char* target : {"protected/secret.xml", "nowhere.xml", "protected"}) {
        std::filesystem::create_symlink(temp / target, temp / "CommonConfig.xml");
        ASSERT_TRUE(platform::ReplaceFileContents(U16(temp / "CommonConfig.xml"), "<new/>")) << target;
        EXPECT_TRUE(
            std::filesystem::is_regular_file(std::filesystem::symlink_status(temp / "CommonConfig.xml")))
            << target;
        EXPECT_EQ(ReadFile(temp / "CommonConfig.xml"), "<new/>");
        std::filesystem::remove(temp / "CommonConfig.xml");
    }
    EXPECT_EQ(ReadFile(temp / "protected" / "secret.xml"), "kept");
    EXPECT_FALSE(std::filesystem::exists(temp / "nowhere.xml"));
}

// Settings files are regular files: a FIFO, a socket or a device at the path is refused at once
// by every way in (a FIFO without a writer would otherwise hold the open up for ever), and stays.
TEST(PlatformPosix, OnlyRegularFilesAreReadOrReplaced) {
    TempFolder temp;
    ASSERT_EQ(::mkfifo((temp / "fifo.xml").c_str(), 0644), 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string socketPath = (temp / "socket.xml").string();
    ASSERT_LT(socketPath.size(), sizeof address.sun_path);
    std::strcpy(address.sun_path, socketPath.c_str());
    const int listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_EQ(::bind(listener, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    // A device reached through a link, as a user could plant one.
    std::filesystem::create_symlink("/dev/zero", temp / "device.xml");

    for (const char* name : {"fifo.xml", "socket.xml", "device.xml"}) {
        const std::u16string path = U16(temp / name);
        for (const char* mode : {"rb", "wb"}) {
            errno = 0;
            EXPECT_EQ(platform::OpenFile(path, mode), nullptr) << name << " " << mode;
            EXPECT_EQ(errno, platform::kErrorNotRegularFile) << name << " " << mode;
        }
        std::string bytes;
        EXPECT_FALSE(platform::ReadFileExclusive(path, bytes)) << name;
        if (std::string(name) != "device.xml") {
            errno = 0;
            EXPECT_FALSE(platform::ReplaceFileContents(path, "<new/>")) << name;
            EXPECT_EQ(errno, platform::kErrorNotRegularFile) << name;
        }
    }
    ::close(listener);
    EXPECT_EQ(platform::SystemErrorText(platform::kErrorNotRegularFile), u"Not a regular file");
    EXPECT_TRUE(S_ISFIFO(ModeOf(temp / "fifo.xml")));
    EXPECT_TRUE(S_ISSOCK(ModeOf(temp / "socket.xml")));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(temp.path()), {}), 3);

    errno = 0;
    EXPECT_EQ(platform::OpenFile(U16(temp.path()), "rb"), nullptr) << "a folder";
    EXPECT_EQ(errno, EISDIR);
}

// A read that fails half-way fails the whole read: the bytes before it never pass for the file.
TEST(PlatformPosix, ExclusiveReadFailsOnAReadError) {
    TempFolder temp;
    WriteFile(temp / "eobd.ini", std::string(300000, 'k'));
    const testing_support::ScopedReadFault fault(temp / "eobd.ini", 0);
    if (!fault.active())
        GTEST_SKIP() << fault.reason();
    std::string bytes;
    EXPECT_FALSE(platform::ReadFileExclusive(U16(temp / "eobd.ini"), bytes));
    EXPECT_GT(fault.refused(), 0);
}

// The name of a save's temporary never exceeds the longest name the folder takes, whatever the
// target's name, and is the same for the same name, so stale ones of that file are found.
TEST(PlatformPosix, SaveTemporaryNamesFitTheFolderWhateverTheTargetsName) {
    using platform::save_temporary::IsTemporary;
    using platform::save_temporary::Stem;
    const std::string accented = "\xC3\xA9";  // two bytes, one character
    std::vector<std::string> names;
    for (std::size_t length = 1; length <= 255; ++length)
        names.push_back(std::string(length, 'n'));
    for (std::size_t length = 1; length <= 127; ++length) {
        std::string name;
        for (std::size_t i = 0; i < length; ++i)
            name += accented;
        names.push_back(name);
        names.push_back("x" + name);
    }
    std::set<std::string> stems;
    for (const std::string& name : names) {
        const std::string stem = Stem<char>(name, '.', 255, 6, 0);
        EXPECT_LE(stem.size() + 6, 255u) << name.size();
        EXPECT_EQ(Stem<char>(name, '.', 255, 6, 0), stem);
        EXPECT_TRUE(stems.insert(stem).second) << name.size();
        if (stem.size() != 1 + name.size() + 8) {
            // Shortened: the start of the name, cut between characters, then "~", the hash, the marker.
            const std::size_t kept = stem.size() - 2 - 16 - 8;
            EXPECT_EQ(stem.substr(1, kept), name.substr(0, kept));
            EXPECT_NE(static_cast<unsigned char>(name[kept]) & 0xC0, 0x80) << "cut inside a character";
            EXPECT_EQ(stem[1 + kept], '~');
        }
        EXPECT_TRUE(IsTemporary<char>(stem + "Ab12Cd", stem, 6, {}));
        EXPECT_FALSE(IsTemporary<char>(stem + "Ab12C", stem, 6, {}));
        EXPECT_FALSE(IsTemporary<char>(stem + "Ab_2Cd", stem, 6, {}));
    }
    EXPECT_EQ(Stem<char>("CommonConfig.xml", '.', 255, 6, 0), ".CommonConfig.xml.lumvar-");
    // A folder that takes shorter names (14 bytes of suffix and unique part here) gets shorter ones.
    EXPECT_EQ(Stem<char>(std::string(200, 'n'), '.', 64, 6, 0).size() + 6, 64u);
}

TEST(PlatformPosix, ReplaceFileContentsFailsCleanlyInAMissingFolder) {
    TempFolder temp;
    errno = 0;
    EXPECT_FALSE(platform::ReplaceFileContents(U16(temp / "missing" / "CommonConfig.xml"), "x"));
    EXPECT_EQ(errno, ENOENT);
    EXPECT_EQ(platform::SystemErrorText(ENOENT), u"No such file or directory");
}

TEST(PlatformPosix, OpenFileTakesWidePathsWithNonAsciiLetters) {
    TempFolder temp;
    std::FILE* file = platform::OpenFile(U16(temp.path()) + u"\\Città.xml", "wb");
    ASSERT_NE(file, nullptr);
    std::fputs("abc", file);
    std::fclose(file);
    EXPECT_EQ(ReadFile(temp / "Citt\xC3\xA0.xml"), "abc");
    EXPECT_EQ(platform::OpenFile(U16(temp / "none" / "x.xml"), "rb"), nullptr);
}

}  // namespace
