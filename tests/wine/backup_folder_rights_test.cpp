// Who may write the backup folder, on the Windows build under Wine: CreateProtectedFolder through
// the probe, and the backup folder that "/backup" makes in a fresh prefix.
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

// The rights the tool gives the backup folder, in the form GetNamedSecurityInfoW reads them back.
constexpr const char* kProtectedRights = "D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)\n";

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
    EXPECT_EQ(rights, kProtectedRights);
}

TEST_F(BackupFolderRightsTest, ExistingFoldersAreLeftAsTheyAreAndOtherThingsFail) {
    fs::create_directories(temp_ / "Open");
    fs::permissions(temp_ / "Open", fs::perms::all);
    WriteFile(temp_ / "Open" / "planted.ini", "x");
    WriteFile(temp_ / "File", "a file in the way");
    const struct {
        fs::path path;
        const char* expected;
    } cases[] = {
        {temp_ / "Open", "ok\n"},
        {temp_ / "File", "failed\n"},
        {temp_ / "missing" / "Lumvar", "failed\n"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ProbeOutput({u"protect", wine::DrivePath(c.path)}), c.expected) << c.path;
    }
    EXPECT_EQ(PermissionsOf(temp_ / "Open"), 0777u);
    EXPECT_EQ(ReadFile(temp_ / "Open" / "planted.ini"), "x");
    EXPECT_EQ(ReadFile(temp_ / "File"), "a file in the way");
    EXPECT_FALSE(fs::exists(temp_ / "missing"));
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
        EXPECT_EQ(rights, kProtectedRights);
    }
    fs::remove_all(backup);
}

}  // namespace
