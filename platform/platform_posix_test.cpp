#include <sys/file.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <vector>

#include <gtest/gtest.h>

#include "platform/platform.h"
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
    EXPECT_TRUE(platform::PathExists(U16(temp.path()) + u"\\a\\\\b.txt"));
    EXPECT_TRUE(platform::PathExists(U16(temp.path()) + u"\\a\\"));
    EXPECT_FALSE(platform::PathExists(U16(temp.path()) + u"\\a\\c.txt"));
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

// Another process makes the folder between the tool's look and its own attempt: the folder is
// there as asked, and the other process's is kept as it made it.
TEST(PlatformPosix, ProtectedFolderAcceptsOneMadeMeanwhileByAnotherProcess) {
    TempFolder temp;
    const std::filesystem::path folder = temp / "Lumvar";
    std::vector<int> folderCalls{SYS_mkdirat};
#ifdef SYS_mkdir
    folderCalls.push_back(SYS_mkdir);
#endif
    int made = 0;
    const int result = testing_support::RunSupervised(
        folderCalls, [&] { return platform::CreateProtectedFolder(U16(folder)) ? 0 : 1; },
        [&](const testing_support::HeldCall&) {
            made += ::mkdir(folder.c_str(), 0700) == 0 ? 1 : 0;
            ::chmod(folder.c_str(), 0700);
            return testing_support::CallAnswer{};
        });
    ASSERT_NE(result, 126) << "system call filters are not available here";
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
