// Who may open the backup folder, on the Windows build under Wine: CreateProtectedFolder through
// the probe, the backup folder that "/backup" makes in a fresh prefix, and what Wine reports for links.
//
// What Wine keeps of a security descriptor (Wine 8 as Debian ships it): not the descriptor itself.
// The wine server turns the DACL given at creation into the Unix mode of the new folder (owner and
// group bits from the entries of the creating user and the groups of its token, "other" bits only
// from an Everyone entry; the server's umask still applies) and forgets the rest. A folder made
// with the backup folder's rights thus becomes mode 0750 under umask 022: other Unix users can
// neither write nor even list it. GetNamedSecurityInfoW reads back a DACL made up from that mode:
// full control for SYSTEM and the Unix owner, read & execute for Everyone when "other" may read;
// never the protected flag ("P"), never the Administrators or Users entries. Files and folders
// created inside get the server's default mode, not the inherited entries. Wine builds that store
// descriptors in the extended attribute "user.wine.sd" (Wine Staging) read back the whole
// descriptor; the whole-descriptor checks run there and are skipped, with the reason, elsewhere.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/text.h"
#include "tests/support/temp_folder.h"
#include "tests/wine/probe_test.h"
#include "tests/wine/wine_session.h"

namespace {

namespace fs = std::filesystem;
using testing_support::ReadFile;
using testing_support::WriteFile;

// The rights the tool gives the backup folder, in the form GetNamedSecurityInfoW reads them back:
// these, then full control for the running account's own security identifier.
constexpr const char* kProtectedRights = "D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FA;;;S-1-5-";

// True when rights read back are exactly the backup folder's: the three entries and nothing else.
bool AreProtectedRights(const std::string& rights) {
    return rights.rfind(kProtectedRights, 0) == 0 && rights.size() > 2 &&
           rights.compare(rights.size() - 2, 2, ")\n") == 0 &&
           rights.find('(', std::string(kProtectedRights).size()) == std::string::npos;
}

mode_t PermissionsOf(const fs::path& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0)
        return 07777;
    return info.st_mode & 07777;
}

// True when a DACL read back is one that Wine made up from the Unix mode: no protected flag and
// only entries for SYSTEM, Everyone and the Unix owner's user account.
bool MadeUpFromTheUnixMode(const std::string& rights) {
    return rights.rfind("D:(", 0) == 0 && rights.find(";BA)") == std::string::npos &&
           rights.find(";BU)") == std::string::npos;
}

std::string ProbeOutput(const std::vector<std::u16string>& arguments, int prefix = 0) {
    std::string output;
    const int code = wine::Run(wine::MingwBinFolder() / "lumvar-platform-probe.exe", arguments, &output,
                               std::chrono::seconds(60), prefix);
    return code == 0 ? output : "exit code " + std::to_string(code) + ": " + output;
}

// What a folder closed to other users looks like through Wine: no Unix rights for "other", and
// nothing for Everyone in the DACL read back. A folder made without the descriptor (as XCOPY
// makes its destination) has mode 0755 and reads back with an Everyone entry.
void ExpectClosedToOtherUsers(const fs::path& host, const std::string& rights) {
    EXPECT_TRUE(fs::is_directory(host));
    EXPECT_EQ(PermissionsOf(host) & 0007, 0u) << std::oct << PermissionsOf(host);
    EXPECT_EQ(PermissionsOf(host) & 0700, 0700u) << std::oct << PermissionsOf(host);
    EXPECT_EQ(rights.rfind("D:", 0), 0u) << rights;
    EXPECT_EQ(rights.find(";WD)"), std::string::npos) << rights;
    EXPECT_NE(rights.find("(A;OICI;FA;;;SY)"), std::string::npos) << rights;
}

class BackupFolderRightsTest : public wine::ProbeTest {};

TEST_F(BackupFolderRightsTest, NewFolderIsClosedToOtherUsersAsFarAsWineKeepsRights) {
    const fs::path folder = temp_ / "Program Data ü" / "Lumvar";
    fs::create_directories(folder.parent_path());
    // The tool's form of the path: the common folder plus "\\Lumvar".
    EXPECT_EQ(ProbeOutput({u"protect", wine::DrivePath(folder.parent_path()) + u"\\Lumvar"}), "ok\n");
    ExpectClosedToOtherUsers(folder, ProbeOutput({u"rights", wine::DrivePath(folder)}));
}

TEST_F(BackupFolderRightsTest, NewFolderKeepsItsWholeDescriptorWhereWineStoresDescriptors) {
    const fs::path folder = temp_ / "Lumvar";
    ASSERT_EQ(ProbeOutput({u"protect", wine::DrivePath(folder)}), "ok\n");
    const std::string rights = ProbeOutput({u"rights", wine::DrivePath(folder)});
    if (MadeUpFromTheUnixMode(rights)) {
        GTEST_SKIP() << "this Wine keeps no security descriptor of a file, only the Unix mode made from "
                        "it (mode "
                     << std::oct << PermissionsOf(folder) << "), and reads back " << rights;
    }
    EXPECT_TRUE(AreProtectedRights(rights)) << rights;
}

// An existing folder of the running account's own gets the rights again, its contents kept; a
// link to a folder, a folder of another Unix user (which Wine shows as owned by someone else), a
// file, or a place without a parent fails and is left as it was.
TEST_F(BackupFolderRightsTest, ExistingFoldersAreTakenBackOnlyWhenTrusted) {
    fs::create_directories(temp_ / "Open");
    fs::permissions(temp_ / "Open", fs::perms::all);
    WriteFile(temp_ / "Open" / "planted.ini", "x");
    fs::create_directories(temp_ / "Target");
    fs::permissions(temp_ / "Target", fs::perms::all);
    fs::create_directory_symlink(temp_ / "Target", temp_ / "Link");
    fs::create_directories(temp_ / "Theirs");
    fs::permissions(temp_ / "Theirs", fs::perms::all);
    const bool root = ::geteuid() == 0;
    if (root) {
        ASSERT_EQ(::chown((temp_ / "Theirs").c_str(), 4321, 4321), 0);
    }
    WriteFile(temp_ / "File", "a file in the way");
    const struct {
        fs::path path;
        const char* expected;
        const char* trusted;
    } cases[] = {
        {temp_ / "Open", "ok\n", "yes\n"},
        {temp_ / "Link", "failed\n", "no\n"},
        {temp_ / "Theirs", root ? "failed\n" : "ok\n", root ? "no\n" : "yes\n"},
        {temp_ / "File", "failed\n", "no\n"},
        {temp_ / "missing" / "Lumvar", "failed\n", "no\n"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ProbeOutput({u"protect", wine::DrivePath(c.path)}), c.expected) << c.path;
        EXPECT_EQ(ProbeOutput({u"trusted", wine::DrivePath(c.path)}), c.trusted) << c.path;
    }
    ExpectClosedToOtherUsers(temp_ / "Open", ProbeOutput({u"rights", wine::DrivePath(temp_ / "Open")}));
    EXPECT_EQ(ReadFile(temp_ / "Open" / "planted.ini"), "x");
    EXPECT_EQ(PermissionsOf(temp_ / "Target"), 0777u);
    EXPECT_TRUE(fs::is_symlink(temp_ / "Link"));
    if (root) {
        EXPECT_EQ(PermissionsOf(temp_ / "Theirs"), 0777u);
    }
    EXPECT_EQ(ReadFile(temp_ / "File"), "a file in the way");
    EXPECT_FALSE(fs::exists(temp_ / "missing"));
    if (!root)
        GTEST_SKIP() << "a folder of another Unix user needs root to make; the other rows ran";
}

// What Wine 8 reports for Unix links through the calls the platform layer makes, as the probe
// sees it: GetFileAttributesW and FindFirstFileW mark a link to a folder as a reparse point, but
// show a link to a file as the file itself; a dangling link is missing to GetFileAttributesW and
// left out of a listing, a looping one cannot be examined and is left out too. Real Windows marks
// every symbolic link and junction as a reparse point; Wine 8's mklink creates none.
TEST_F(BackupFolderRightsTest, WhatWineReportsForUnixLinks) {
    const fs::path d = temp_ / "d";
    WriteFile(d / "folder" / "file.txt", "x");
    WriteFile(d / "file.txt", "x");
    fs::create_directory_symlink(d / "folder", d / "folder link");
    fs::create_symlink(d / "file.txt", d / "file link");
    fs::create_symlink(d / "nowhere", d / "dangling");
    fs::create_symlink("loop b", d / "loop a");
    fs::create_symlink("loop a", d / "loop b");
    const struct {
        const char* name;
        const char* kind;
    } cases[] = {
        {"folder", "folder\n"},  {"folder link", "link\n"}, {"folder link\\", "link\n"},
        {"file.txt", "file\n"},  {"file link", "file\n"},   {"dangling", "missing\n"},
        {"loop a", "unknown\n"}, {"missing", "missing\n"},  {"missing\\below", "missing\n"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ProbeOutput({u"kind", wine::DrivePath(d) + u"\\" + platform::FromUtf8(c.name)}), c.kind)
            << c.name;
    }
    EXPECT_EQ(ProbeOutput({u"list", wine::DrivePath(d)}),
              "file file link\nfile file.txt\nfolder folder\nlink folder link\n");
}

// End to end: the first "/backup" into a prefix without a backup folder makes it closed to other
// users before XCOPY copies anything into it.
TEST_F(BackupFolderRightsTest, BackupIntoAFreshPrefixMakesTheBackupFolderProtected) {
    const std::string reason = wine::ProgramUnavailableReason("lumvar.exe");
    if (!reason.empty())
        GTEST_SKIP() << reason;
    const wine::PrefixClaim claim;
    ASSERT_TRUE(claim.held());
    ASSERT_EQ(wine::Prepare(claim.prefix()), "");
    const fs::path backup = wine::CommonAppDataFolder(claim.prefix()) / "Lumvar";
    fs::remove_all(backup);

    WriteFile(temp_ / "Suite" / "Common" / "CommonConfig.xml", "<config/>");
    const int code = wine::Run(wine::MingwBinFolder() / "lumvar.exe",
                               {u"/backup", wine::DrivePath(temp_ / "Suite"),
                                wine::DrivePath(temp_ / "Modules"), wine::DrivePath(temp_ / "Data")},
                               nullptr, std::chrono::seconds(60), claim.prefix());
    EXPECT_EQ(code, 0);
    EXPECT_EQ(ReadFile(backup / "CommonConfig.xml"), "<config/>");
    const std::string rights = ProbeOutput({u"rights", u"C:\\ProgramData\\Lumvar"}, claim.prefix());
    ExpectClosedToOtherUsers(backup, rights);
    if (!MadeUpFromTheUnixMode(rights)) {
        EXPECT_TRUE(AreProtectedRights(rights)) << rights;
    }
    fs::remove_all(backup);
}

}  // namespace
