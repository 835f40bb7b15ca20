// "/cdnero" on the real executable: the add-in tree is copied and its sett.xml becomes settings.xml.
#include <gtest/gtest.h>

#include "tests/e2e/scenario_support.h"

namespace e2e {
namespace {

namespace fs = std::filesystem;
using testing_support::WriteFile;

// The add-in as the suite keeps it below "bancadati\addin".
const Tree kAddin = {
    {"sett.xml", "<?xml version=\"1.0\"?>\n<settings database=\"C:\\Suite\\bancadati\" lingua=\"it\"/>\n"},
    {"LumenAddin.dll", std::string("MZ\x90\0\x03\0\0\0", 8)},
    {"lingue/it/Testi.xml", "<testi><t id=\"1\">Masterizza la banca dati</t></testi>\n"},
    {"lingue/en/Testi.xml", "<testi><t id=\"1\">Burn the database</t></testi>\n"},
    {"cache", kEmptyFolder},
};

class CdNeroScenario : public Scenario {
protected:
    void InstallAddin(const Tree& addin) { WriteTree(root / "suite" / "bancadati" / "addin", addin); }
    int InstallInNero() { return Run({u"/cdnero", Tool("suite"), Tool("Nero 7")}); }
    Tree Installed() const { return ReadTree(root / "Nero 7" / "neroaddin"); }

    // The add-in tree with sett.xml renamed.
    static Tree Renamed(Tree tree) {
        tree["settings.xml"] = tree.at("sett.xml");
        tree.erase("sett.xml");
        return tree;
    }
};

TEST_P(CdNeroScenario, AFirstInstallationCopiesTheTreeAndRenamesTheSettings) {
    InstallAddin(kAddin);
    EXPECT_EQ(InstallInNero(), 0);
    EXPECT_EQ(Installed(), Renamed(kAddin));
}

TEST_P(CdNeroScenario, ASecondInstallationKeepsTheSettingsAndFailsWithSix) {
    InstallAddin(kAddin);
    ASSERT_EQ(InstallInNero(), 0);
    const std::string userSettings = "<settings database=\"D:\\Banca dati\" lingua=\"en\"/>\n";
    WriteFile(root / "Nero 7" / "neroaddin" / "settings.xml", userSettings);

    EXPECT_EQ(InstallInNero(), 6);
    Tree expected = kAddin;
    expected["settings.xml"] = userSettings;
    EXPECT_EQ(Installed(), expected);
}

TEST_P(CdNeroScenario, AnAddinWithoutSettGivesSixAfterCopying) {
    Tree withoutSett = kAddin;
    withoutSett.erase("sett.xml");
    InstallAddin(withoutSett);
    EXPECT_EQ(InstallInNero(), 6);
    EXPECT_EQ(Installed(), withoutSett);
}

TEST_P(CdNeroScenario, AMissingAddinGivesSix) {
    fs::create_directories(root / "suite");
    EXPECT_EQ(InstallInNero(), 6);
    EXPECT_TRUE(Installed().empty());
}

TEST_P(CdNeroScenario, AMissingAddinStillRenamesASettWaitingThere) {
    fs::create_directories(root / "suite");
    WriteFile(root / "Nero 7" / "neroaddin" / "sett.xml", "<waiting/>");
    EXPECT_EQ(InstallInNero(), 6);
    EXPECT_EQ(Installed(), (Tree{{"settings.xml", "<waiting/>"}}));
}

INSTANTIATE_TEST_SUITE_P(Builds, CdNeroScenario, testing::ValuesIn(AllBuilds()), BuildName);

}  // namespace
}  // namespace e2e
