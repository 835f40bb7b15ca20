#include <sys/file.h>
#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <vector>

#include <gtest/gtest.h>

#include "platform/platform.h"
#include "tests/support/temp_folder.h"

namespace {

using testing_support::ReadFile;
using testing_support::TempFolder;
using testing_support::U16;
using testing_support::WriteFile;

class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::string& value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old, hadOld_ = true;
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
    ScopedEnv env("ProgramData", (temp / "Program Data" / "nested").string() + "//");
    EXPECT_EQ(platform::CommonAppDataFolder(), U16(temp / "Program Data" / "nested"));
    EXPECT_TRUE(std::filesystem::is_directory(temp / "Program Data" / "nested"));
}

TEST(PlatformPosix, CommonAppDataFolderIsEmptyWhenItCannotBeCreated) {
    TempFolder temp;
    WriteFile(temp / "file", "x");
    ScopedEnv env("ProgramData", (temp / "file" / "below").string());
    EXPECT_EQ(platform::CommonAppDataFolder(), u"");
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
        {"a file in place of a folder of the path", root + u"folder\\file.ini\\below.ini", PathState::Missing},
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
std::string StateSeenByAnOrdinaryUser(const std::u16string& path) {
    const pid_t child = ::fork();
    if (child == 0) {
        if (::geteuid() == 0 && (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0))
            ::_exit(100);
        ::_exit(static_cast<int>(platform::PathStateOf(path)));
    }
    int status = 0;
    if (child < 0 || ::waitpid(child, &status, 0) != child || !WIFEXITED(status))
        return "child failed";
    const int code = WEXITSTATUS(status);
    if (code > static_cast<int>(platform::PathState::Unknown))
        return "could not give up rights";
    return StateName(static_cast<platform::PathState>(code));
}

TEST(PlatformPosix, PathStateBelowAFolderThatMayNotBeSearchedIsUnknown) {
    TempFolder temp;
    WriteFile(temp / "closed" / "file.ini", "x");
    // Everyone may reach the scratch folder; only its owner may look inside "closed".
    std::filesystem::permissions(temp.path(), std::filesystem::perms::owner_all | std::filesystem::perms::group_exec |
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
    if (::lstat(path.c_str(), &info) != 0) return 0;
    return info.st_mode;
}

// The backup folder may be written only by its owner (the installer's account), whatever umask
// the tool inherits from its caller.
TEST(PlatformPosix, ProtectedFolderIsCreatedWithMode0755WhateverTheUmask) {
    TempFolder temp;
    for (const mode_t mask : {mode_t{0}, mode_t{022}, mode_t{077}, mode_t{0777}}) {
        const std::filesystem::path folder = temp / ("Lumvar " + std::to_string(mask));
        {
            ScopedUmask umask(mask);
            ASSERT_TRUE(platform::CreateProtectedFolder(U16(folder))) << mask;
        }
        EXPECT_TRUE(S_ISDIR(ModeOf(folder))) << mask;
        EXPECT_EQ(ModeOf(folder) & 07777, 0755u) << mask;
    }
    // The tool's form of the path: backslashes, a doubled one included.
    ASSERT_TRUE(platform::CreateProtectedFolder(U16(temp.path()) + u"\\\\Città"));
    EXPECT_EQ(ModeOf(temp / "Citt\xC3\xA0") & 07777, 0755u);
}

TEST(PlatformPosix, ProtectedFolderLeavesAnExistingFolderAsItIs) {
    TempFolder temp;
    std::filesystem::create_directories(temp / "Lumvar");
    WriteFile(temp / "Lumvar" / "eobd.ini", "kept");
    for (const mode_t mode : {mode_t{0700}, mode_t{0777}, mode_t{01777}}) {
        ASSERT_EQ(::chmod((temp / "Lumvar").c_str(), mode), 0);
        EXPECT_TRUE(platform::CreateProtectedFolder(U16(temp / "Lumvar"))) << mode;
        EXPECT_EQ(ModeOf(temp / "Lumvar") & 07777, mode);
    }
    EXPECT_EQ(ReadFile(temp / "Lumvar" / "eobd.ini"), "kept");
    // A link to a folder is a folder to every later copy, and is left alone like one.
    std::filesystem::create_directory_symlink(temp / "Lumvar", temp / "Link");
    EXPECT_TRUE(platform::CreateProtectedFolder(U16(temp / "Link")));
    EXPECT_TRUE(std::filesystem::is_symlink(temp / "Link"));
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
    EXPECT_TRUE(platform::RenameNoReplace(U16(temp.path()) + u"\\\\sett.xml", U16(temp.path()) + u"\\\\settings.xml"));
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

TEST(PlatformPosix, ReplaceFileContentsSwapsTheWholeFileAndKeepsItsMode) {
    TempFolder temp;
    WriteFile(temp / "CommonConfig.xml", "old text");
    ::chmod((temp / "CommonConfig.xml").c_str(), 0640);
    ASSERT_TRUE(platform::ReplaceFileContents(U16(temp / "CommonConfig.xml"), "new text"));
    EXPECT_EQ(ReadFile(temp / "CommonConfig.xml"), "new text");
    struct stat info {};
    ASSERT_EQ(::stat((temp / "CommonConfig.xml").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(temp.path()), {}), 1);
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
