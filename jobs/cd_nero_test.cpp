#include "jobs/cd_nero.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "jobs/copy_step.h"
#include "jobs/recording_launcher.h"
#include "tests/support/temp_folder.h"

namespace {

using testing_support::ReadFile;
using testing_support::RecordingLauncher;
using testing_support::TempFolder;
using testing_support::U16;
using testing_support::WriteFile;

class CdNeroTest : public testing::Test {
protected:
    CdNeroTest() : target(temp / "Nero 7" / "neroaddin") {
        job.addinSourceFolder = U16(temp / "Suite" / "bancadati" / "addin");
        job.addinTargetFolder = U16(target) + u"\\";
    }

    TempFolder temp;
    RecordingLauncher launcher;
    const std::filesystem::path target;
    CCDNero job;
};

TEST_F(CdNeroTest, ANewJobHasBothFieldsEmpty) {
    const CCDNero fresh;
    EXPECT_TRUE(fresh.addinTargetFolder.empty());
    EXPECT_TRUE(fresh.addinSourceFolder.empty());
}

TEST_F(CdNeroTest, CopyAddinCopiesTheWholeTreeEvenWhenTheSourceIsMissing) {
    EXPECT_TRUE(job.CopyAddin());
    EXPECT_EQ(launcher.commands,
              std::vector<std::u16string>{u"/c XCOPY \"" + job.addinSourceFolder + u"\" \"" +
                                          job.addinTargetFolder + u"\" /e /i /v /y"});
}

TEST_F(CdNeroTest, CopyAddinFailsWhenTheCopyFails) {
    launcher.exitCodeFor = [](const std::u16string&) { return 4u; };
    EXPECT_FALSE(job.CopyAddin());
}

TEST_F(CdNeroTest, RenameTurnsSettIntoSettings) {
    WriteFile(target / "sett.xml", "<sett/>");
    EXPECT_TRUE(job.RenameSettingsFile());
    EXPECT_FALSE(std::filesystem::exists(target / "sett.xml"));
    EXPECT_EQ(ReadFile(target / "settings.xml"), "<sett/>");
}

TEST_F(CdNeroTest, RenameNeverReplacesAnExistingSettingsFile) {
    WriteFile(target / "sett.xml", "<new/>");
    WriteFile(target / "settings.xml", "<user/>");
    EXPECT_FALSE(job.RenameSettingsFile());
    EXPECT_EQ(ReadFile(target / "sett.xml"), "<new/>");
    EXPECT_EQ(ReadFile(target / "settings.xml"), "<user/>");
}

// The rename follows no link below the folder argument; the folder argument itself may be one.
TEST_F(CdNeroTest, RenameGoesThroughNoLinkBelowTheFolderArgument) {
    const std::filesystem::path elsewhere = temp / "Elsewhere";
    const struct {
        const char* what;
        std::function<void()> plant;
        bool renamed;
    } cases[] = {
        {"the add-in folder a link to a folder outside",
         [&] {
             WriteFile(elsewhere / "sett.xml", "<sett/>");
             std::filesystem::create_directories(temp / "Nero 7");
             std::filesystem::create_directory_symlink(elsewhere, target);
         },
         false},
        {"sett.xml a link to a file outside",
         [&] {
             WriteFile(elsewhere / "sett.xml", "<sett/>");
             std::filesystem::create_directories(target);
             std::filesystem::create_symlink(elsewhere / "sett.xml", target / "sett.xml");
         },
         false},
        {"the folder argument itself a link",
         [&] {
             WriteFile(elsewhere / "neroaddin" / "sett.xml", "<sett/>");
             std::filesystem::create_directory_symlink(elsewhere, temp / "Nero 7");
         },
         true},
    };
    const ScopedNamedFolders named({U16(temp / "Nero 7")});
    for (const auto& c : cases) {
        std::filesystem::remove_all(temp / "Nero 7");
        std::filesystem::remove_all(elsewhere);
        c.plant();
        EXPECT_EQ(job.RenameSettingsFile(), c.renamed) << c.what;
        const std::filesystem::path renamedFolder = c.renamed ? elsewhere / "neroaddin" : elsewhere;
        EXPECT_EQ(std::filesystem::exists(renamedFolder / "settings.xml"), c.renamed) << c.what;
        EXPECT_EQ(std::filesystem::exists(renamedFolder / "sett.xml"), !c.renamed) << c.what;
    }
}

TEST_F(CdNeroTest, RenameFailsWithoutSett) {
    std::filesystem::create_directories(target);
    EXPECT_FALSE(job.RenameSettingsFile());
    EXPECT_FALSE(std::filesystem::exists(target / "settings.xml"));
}

}  // namespace
