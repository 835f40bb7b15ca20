// Settings files that another process holds open without sharing, on the Windows build under Wine:
// the holder is the probe's "hold" mode in the same prefix (one wine server enforces the sharing
// modes of all its processes). Wine's xcopy cannot open a held file and exits with 5; the tool's
// own INI reader gives up after its three attempts.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "tests/support/temp_folder.h"
#include "tests/wine/file_holder.h"
#include "tests/wine/probe_test.h"
#include "tests/wine/wine_session.h"

namespace {

namespace fs = std::filesystem;
using testing_support::ReadFile;
using testing_support::WriteFile;

// Every file below a folder by its relative path, with its bytes.
std::map<std::string, std::string> Files(const fs::path& root) {
    std::map<std::string, std::string> files;
    std::error_code error;
    for (const auto& entry : fs::recursive_directory_iterator(root, error)) {
        if (entry.is_regular_file())
            files[fs::relative(entry.path(), root).generic_string()] = ReadFile(entry.path());
    }
    return files;
}

class LockedFilesTest : public wine::ProbeTest {};

TEST_F(LockedFilesTest, IniLoadFailsWhileTheFileIsHeldAndLoadsOnceReleased) {
    const fs::path file = temp_ / "Modules é" / "eobd.ini";
    WriteFile(file, "[Interfaccia]\r\nPorta=COM3\r\n");
    const auto load = [&file] {
        std::string output;
        wine::Run(wine::MingwBinFolder() / "lumvar-platform-probe.exe",
                  {u"ini", wine::DrivePath(file), u"interfaccia", u"PORTA"}, &output);
        return output;
    };

    wine::HeldFile holder(file, 0);
    ASSERT_TRUE(holder.held()) << holder.output();
    EXPECT_EQ(load(), "not loaded\nReading lines failed.\n");
    EXPECT_EQ(holder.Release(), 0);
    EXPECT_EQ(holder.output(), "held\n");
    EXPECT_EQ(load(), "loaded\nCOM3\n");
}

// A held settings file fails its own copy (exit code 4), and every other step of the backup still
// runs; nothing of the held file appears in the backup folder. Once the file is released, the
// same backup succeeds and adds exactly that file.
TEST_F(LockedFilesTest, BackupWithAHeldSettingsFileFailsThatCopyOnly) {
    const std::string reason = wine::ProgramUnavailableReason("lumvar.exe");
    if (!reason.empty())
        GTEST_SKIP() << reason;
    const wine::PrefixClaim claim;
    ASSERT_TRUE(claim.held());
    ASSERT_EQ(wine::Prepare(claim.prefix()), "");
    const fs::path backup = wine::CommonAppDataFolder(claim.prefix()) / "Lumvar";
    fs::remove_all(backup);

    const fs::path root = temp_ / "Officina è";
    fs::create_directories(root);
    fs::copy(fs::path(LUMVAR_SOURCE_DIR) / "examples" / "sample", root, fs::copy_options::recursive);
    const auto runBackup = [&] {
        return wine::Run(wine::MingwBinFolder() / "lumvar.exe",
                         {u"/backup", wine::DrivePath(root / "suite"), wine::DrivePath(root / "modules"),
                          wine::DrivePath(root / "data")},
                         nullptr, std::chrono::seconds(60), claim.prefix());
    };

    std::map<std::string, std::string> whileHeld;
    {
        wine::HeldFile holder(root / "modules" / "eobd" / "eobd.ini", claim.prefix());
        ASSERT_TRUE(holder.held()) << holder.output();
        EXPECT_EQ(runBackup(), 4);
        whileHeld = Files(backup);
        EXPECT_EQ(holder.Release(), 0) << holder.output();
    }
    EXPECT_EQ(runBackup(), 0);
    std::map<std::string, std::string> complete = Files(backup);
    EXPECT_EQ(complete["eobd.ini"], ReadFile(root / "modules" / "eobd" / "eobd.ini"));

    // Steps before and after the held file's: the root files, both walks and the data folder.
    for (const char* saved :
         {"CommonConfig.xml", "oscillo.ini", "Dorvel.ini", "ConfigurationWizard.xml", "diesel/fumi.ini",
          "Data/diesel/Prova 0001.opa", "gas/gas.ini", "Data/kormo/clienti.dat"}) {
        EXPECT_EQ(whileHeld.count(saved), 1u) << saved;
    }
    complete.erase("eobd.ini");
    EXPECT_EQ(whileHeld, complete);
    fs::remove_all(backup);
}

}  // namespace
