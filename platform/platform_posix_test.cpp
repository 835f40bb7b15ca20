#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <vector>

#include "platform/platform.h"
#include "platform/text.h"
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
