#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "jobs/recording_launcher.h"
#include "jobs/restore.h"
#include "tests/support/full_disk.h"
#include "tests/support/temp_folder.h"

namespace {

namespace fs = std::filesystem;
using testing_support::FillFileSystem;
using testing_support::ReadFile;
using testing_support::ScopedEnv;
using testing_support::ScopedTmpfs;
using testing_support::TempFolder;
using testing_support::U16;
using testing_support::WriteFile;

fs::path Examples() {
    return fs::path(LUMVAR_SOURCE_DIR) / "examples";
}

// Names in a folder, sorted: a merge leaves no temporary file behind.
std::vector<std::string> Entries(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

class MergeCommonConfigTest : public testing::Test {
protected:
    MergeCommonConfigTest() : programData_("ProgramData", (temp / "ProgramData").string()) {
        job.commonConfigFile = U16(temp / "config") + u"\\CommonConfig.xml";
    }

    fs::path SavedFile() const { return temp / "ProgramData" / "Lumvar" / "CommonConfig.xml"; }
    fs::path LiveFile() const { return temp / "config" / "CommonConfig.xml"; }

    // Writes both files and merges; the saved file must come out as it went in.
    bool Merge(const std::string& saved, const std::string& live) {
        WriteFile(SavedFile(), saved);
        WriteFile(LiveFile(), live);
        const bool merged = job.MergeCommonConfig();
        EXPECT_EQ(ReadFile(SavedFile()), saved);
        return merged;
    }

    TempFolder temp;
    ScopedEnv programData_;
    // The merge starts no command; any attempt would show up here.
    testing_support::RecordingLauncher launcher;
    CRestore job;
};

struct MergeCase {
    const char* name;
    const char* saved;
    const char* live;
    const char* expected;
};

const MergeCase kMergeCases[] = {
    {"ElementsInAnyOrderAreAllFound",
     "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
     "<Old>\n"
     "  <customerInfo>\n"
     "    <email>info@rossi.it</email>\n"
     "    <ragioneSociale>Rossi Gomme</ragioneSociale>\n"
     "  </customerInfo>\n"
     "  <titolo-customerInfo>Officina</titolo-customerInfo>\n"
     "  <language name=\"Italiano\" ISOname=\"it-IT\" code=\"1040\" lang=\"16\" subl=\"1\" img=\"it.bmp\"/>\n"
     "  <titolo-language>Lingua</titolo-language>\n"
     "  <platform name=\"Banco\"/>\n"
     "  <brand name=\"Lumen Pro\"/>\n"
     "</Old>\n",
     "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
     "<CommonConfig version=\"4\">\n"
     "  <brand name=\"Lumen\"/>\n"
     "  <platform name=\"PC\"/>\n"
     "  <titolo-language>Language</titolo-language>\n"
     "  <language name=\"English\" ISOname=\"en-GB\" code=\"2057\" lang=\"9\" subl=\"2\" img=\"gb.bmp\"/>\n"
     "  <titolo-customerInfo>Workshop</titolo-customerInfo>\n"
     "  <customerInfo>\n"
     "    <ragioneSociale></ragioneSociale>\n"
     "    <cap>00000</cap>\n"
     "    <email></email>\n"
     "  </customerInfo>\n"
     "</CommonConfig>\n",
     "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
     "<CommonConfig version=\"4\">\n"
     "  <brand name=\"Lumen Pro\"/>\n"
     "  <platform name=\"Banco\"/>\n"
     "  <titolo-language>Lingua</titolo-language>\n"
     "  <language name=\"Italiano\" ISOname=\"it-IT\" code=\"1040\" lang=\"16\" subl=\"1\" img=\"it.bmp\"/>\n"
     "  <titolo-customerInfo>Officina</titolo-customerInfo>\n"
     "  <customerInfo>\n"
     "    <ragioneSociale>Rossi Gomme</ragioneSociale>\n"
     "    <cap>00000</cap>\n"
     "    <email>info@rossi.it</email>\n"
     "  </customerInfo>\n"
     "</CommonConfig>\n"},
    {"OnlyTheFirstLanguageIsReadAndChanged",
     "<r><language name=\"Italiano\" ISOname=\"it-IT\" code=\"1040\" lang=\"16\" subl=\"1\" img=\"it.bmp\"/>"
     "<language name=\"Deutsch\" ISOname=\"de-DE\" code=\"1031\" lang=\"7\" subl=\"1\" img=\"de.bmp\"/></r>",
     "<r>\n"
     "<language name=\"English\" ISOname=\"en-GB\" code=\"2057\" lang=\"9\" subl=\"2\" img=\"gb.bmp\"/>\n"
     "<language name=\"Francais\" ISOname=\"fr-FR\" code=\"1036\" lang=\"12\" subl=\"1\" img=\"fr.bmp\"/>\n"
     "</r>\n",
     "<r>\n"
     "<language name=\"Italiano\" ISOname=\"it-IT\" code=\"1040\" lang=\"16\" subl=\"1\" img=\"it.bmp\"/>\n"
     "<language name=\"Francais\" ISOname=\"fr-FR\" code=\"1036\" lang=\"12\" subl=\"1\" img=\"fr.bmp\"/>\n"
     "</r>\n"},
    {"OnlyDirectChildrenOfTheRootAndOfCustomerInfoCount",
     "<r><settings><brand name=\"Nested\"/></settings><brandX name=\"Longer\"/><platform name=\"P2\"/>"
     "<customerInfo><dati><citta>Roma</citta></dati></customerInfo></r>",
     "<r><brand name=\"Lumen\"/><platform name=\"PC\"/><customerInfo><citta>Forlì</citta></customerInfo></r>",
     "<r><brand name=\"Lumen\"/><platform "
     "name=\"P2\"/><customerInfo><citta>Forlì</citta></customerInfo></r>"},
    {"AnAttributeMissingFromTheSavedElementBecomesEmpty",
     "<r><language name=\"Italiano\" ISOname=\"it-IT\" code=\"1040\" lang=\"16\" subl=\"1\"/><platform/></r>",
     "<r><platform name=\"PC\"/>"
     "<language name=\"English\" ISOname=\"en-GB\" code=\"2057\" lang=\"9\" subl=\"2\" img=\"gb.bmp\"/></r>",
     "<r><platform name=\"\"/>"
     "<language name=\"Italiano\" ISOname=\"it-IT\" code=\"1040\" lang=\"16\" subl=\"1\" img=\"\"/></r>"},
    {"CustomerInfoOnlyInTheLiveFileStaysAsInstalled", "<r><brand name=\"B\"/></r>",
     "<r><brand name=\"A\"/><customerInfo><citta>Forlì</citta><stato "
     "code=\"IT\">Italia</stato></customerInfo></r>",
     "<r><brand name=\"B\"/><customerInfo><citta>Forlì</citta><stato "
     "code=\"IT\">Italia</stato></customerInfo></r>"},
    {"CustomerInfoOnlyInTheSavedFileChangesNothing",
     "<r><customerInfo><citta>Roma</citta></customerInfo></r>", "<r><citta>Forlì</citta></r>",
     "<r><citta>Forlì</citta></r>"},
    {"StatoTakesItsCodeAndItsText",
     "<r><customerInfo><stato code=\"DE\">Germania</stato><provincia>BZ</provincia></customerInfo></r>",
     "<r><customerInfo>\n\t<provincia>FC</provincia>\n\t<stato "
     "code=\"IT\">Italia</stato>\n</customerInfo></r>",
     "<r><customerInfo>\n\t<provincia>BZ</provincia>\n\t<stato "
     "code=\"DE\">Germania</stato>\n</customerInfo></r>"},
    {"EntitiesAndNonAsciiLettersArriveEncodedForTheirPlace",
     "<r><brand name=\"Ricci &amp; Figli &quot;Forlì&quot; &lt;1&gt;\"/>"
     "<titolo-language>Lingua &lt;it&gt; &#8212; &#233; ü</titolo-language>"
     "<customerInfo><ragioneSociale>Nicolò &amp; C. 😀</ragioneSociale><civico>12&apos;B</civico>"
     "<email><![CDATA[a&b@x.it]]></email></customerInfo></r>",
     "<r><brand name=\"Lumen\"/><titolo-language>Language</titolo-language>"
     "<customerInfo><ragioneSociale>x</ragioneSociale><civico>1</civico><email>e</email></customerInfo></r>",
     "<r><brand name=\"Ricci &amp; Figli &quot;Forlì&quot; &lt;1&gt;\"/>"
     "<titolo-language>Lingua &lt;it&gt; — é ü</titolo-language>"
     "<customerInfo><ragioneSociale>Nicolò &amp; C. 😀</ragioneSociale><civico>12'B</civico>"
     "<email>a&amp;b@x.it</email></customerInfo></r>"},
    {"OtherQuotingIsRewrittenInDoubleQuotesAndMissingAttributesAreAdded",
     "<r><brand name='Solo \"Lumen\"'/><platform name=\"Banco\"/>"
     "<language name=\"Italiano\" ISOname=\"it-IT\" code=\"1040\" lang=\"16\" subl=\"1\" "
     "img=\"it.bmp\"/></r>",
     "<r><brand   name='Lumen'   other='x'/><platform name=PC /><language name='English' img=\"gb.bmp\" "
     "/></r>",
     "<r><brand   name=\"Solo &quot;Lumen&quot;\"   other='x'/><platform name=\"Banco\" />"
     "<language name=\"Italiano\" img=\"it.bmp\" ISOname=\"it-IT\" code=\"1040\" lang=\"16\" subl=\"1\" "
     "/></r>"},
    {"ElementsWrittenAsOneTagReceiveText",
     "<r><titolo-language>Lingua</titolo-language><titolo-customerInfo>Officina</titolo-customerInfo>"
     "<customerInfo><ragioneSociale>Rossi</ragioneSociale><indirizzo>Via Roma 1</indirizzo><citta/>"
     "<stato code=\"IT\">Italia</stato></customerInfo></r>",
     "<r><titolo-language/><titolo-customerInfo></titolo-customerInfo>"
     "<customerInfo><ragioneSociale/><indirizzo /><citta>Forlì</citta><stato/></customerInfo></r>",
     "<r><titolo-language>Lingua</titolo-language><titolo-customerInfo>Officina</titolo-customerInfo>"
     "<customerInfo><ragioneSociale>Rossi</ragioneSociale><indirizzo >Via Roma 1</indirizzo><citta></citta>"
     "<stato code=\"IT\">Italia</stato></customerInfo></r>"},
};

TEST_F(MergeCommonConfigTest, CarriesTheListedValuesIntoTheLiveFile) {
    for (const MergeCase& c : kMergeCases) {
        SCOPED_TRACE(c.name);
        EXPECT_TRUE(Merge(c.saved, c.live));
        EXPECT_EQ(ReadFile(LiveFile()), c.expected);
        EXPECT_EQ(Entries(temp / "config"), std::vector<std::string>{"CommonConfig.xml"});
    }
    EXPECT_TRUE(launcher.commands.empty());
}

// Nothing of the list in either file: the live file is still written anew, in the tool's UTF-8
// form (a stray Latin-1 byte becomes "?"), and the step succeeds.
TEST_F(MergeCommonConfigTest, NothingOfTheListStillRewritesTheLiveFile) {
    WriteFile(LiveFile(), "x");
    struct stat before {};
    ASSERT_EQ(::stat(LiveFile().c_str(), &before), 0);
    EXPECT_TRUE(
        Merge("<r><other name=\"x\"/></r>",
              "<?xml version=\"1.0\"?>\r\n<!-- caff\xE9 -->\r\n<CommonConfig><units pressure=\"bar\"/>"
              "</CommonConfig>\r\n"));
    EXPECT_EQ(ReadFile(LiveFile()),
              "<?xml version=\"1.0\"?>\r\n<!-- caff? -->\r\n<CommonConfig><units pressure=\"bar\"/>"
              "</CommonConfig>\r\n");
    struct stat after {};
    ASSERT_EQ(::stat(LiveFile().c_str(), &after), 0);
    EXPECT_NE(after.st_ino, before.st_ino) << "the live file was not replaced";
}

// The sample installation's saved file merged into both files a new installation brings: the
// configuration folder's first, then the common folder's, by one job as a "/common" restore does.
TEST_F(MergeCommonConfigTest, TheSampleMergesIntoBothFreshFilesOfOneRestore) {
    WriteFile(SavedFile(), ReadFile(Examples() / "sample" / "suite" / "Common" / "CommonConfig.xml"));
    WriteFile(LiveFile(), ReadFile(Examples() / "fresh" / "config" / "CommonConfig.xml"));
    WriteFile(temp / "common" / "CommonConfig.xml",
              ReadFile(Examples() / "fresh" / "common" / "CommonConfig.xml"));

    EXPECT_TRUE(job.MergeCommonConfig());
    EXPECT_EQ(ReadFile(LiveFile()), ReadFile(Examples() / "merged" / "config" / "CommonConfig.xml"));
    EXPECT_EQ(ReadFile(temp / "common" / "CommonConfig.xml"),
              ReadFile(Examples() / "fresh" / "common" / "CommonConfig.xml"));

    job.SetCommonFolder(U16(temp / "common"));
    EXPECT_TRUE(job.MergeCommonConfig());
    EXPECT_EQ(ReadFile(temp / "common" / "CommonConfig.xml"),
              ReadFile(Examples() / "merged" / "common" / "CommonConfig.xml"));
    EXPECT_EQ(ReadFile(LiveFile()), ReadFile(Examples() / "merged" / "config" / "CommonConfig.xml"));
}

// A first run that fails leaves nothing behind for the second.
TEST_F(MergeCommonConfigTest, ASecondRunDependsOnlyOnItsOwnFiles) {
    WriteFile(SavedFile(), "<r><brand name=\"Saved\"/></r>");
    WriteFile(LiveFile(), "<r><brand name=\"Live\"></r>");
    EXPECT_FALSE(job.MergeCommonConfig());

    WriteFile(temp / "common" / "CommonConfig.xml", "<c>\n<brand name=\"Common\"/>\n</c>");
    job.SetCommonFolder(U16(temp / "common"));
    EXPECT_TRUE(job.MergeCommonConfig());
    EXPECT_EQ(ReadFile(temp / "common" / "CommonConfig.xml"), "<c>\n<brand name=\"Saved\"/>\n</c>");
    EXPECT_EQ(ReadFile(LiveFile()), "<r><brand name=\"Live\"></r>");
}

const std::string kGoodSaved = "<r><brand name=\"Saved\"/></r>";
const std::string kGoodLive = "<r><brand name=\"Live\"/></r>";

// Documents that do not parse: empty, blanks only, two roots, an unended element, a stray end tag,
// a file cut short.
const char* const kMalformed[] = {
    "", " \r\n", "<a/><b/>", "<r><brand name=\"x\"></r>", "<r></brand></r>", "<r><brand name=\"x\"/>",
};

TEST_F(MergeCommonConfigTest, AMissingOrMalformedSavedFileFailsAndLeavesTheLiveFileUntouched) {
    WriteFile(LiveFile(), kGoodLive);
    EXPECT_FALSE(job.MergeCommonConfig());
    EXPECT_EQ(ReadFile(LiveFile()), kGoodLive);

    for (const char* saved : kMalformed) {
        SCOPED_TRACE(saved);
        EXPECT_FALSE(Merge(saved, kGoodLive));
        EXPECT_EQ(ReadFile(LiveFile()), kGoodLive);
        EXPECT_EQ(Entries(temp / "config"), std::vector<std::string>{"CommonConfig.xml"});
    }
}

TEST_F(MergeCommonConfigTest, AMissingOrMalformedLiveFileFailsAndIsNeitherCreatedNorWritten) {
    WriteFile(SavedFile(), kGoodSaved);
    fs::create_directories(temp / "config");
    EXPECT_FALSE(job.MergeCommonConfig());
    EXPECT_TRUE(fs::is_empty(temp / "config"));

    for (const char* live : kMalformed) {
        SCOPED_TRACE(live);
        EXPECT_FALSE(Merge(kGoodSaved, live));
        EXPECT_EQ(ReadFile(LiveFile()), live);
        EXPECT_EQ(Entries(temp / "config"), std::vector<std::string>{"CommonConfig.xml"});
    }

    // A folder in the live file's place is not a file that can be read.
    fs::remove(LiveFile());
    fs::create_directories(LiveFile());
    EXPECT_FALSE(job.MergeCommonConfig());
    EXPECT_TRUE(fs::is_directory(LiveFile()));
}

// A link chooses what the merge would read or write with the installer's rights: neither file may
// be one, and the saved file is read only from a backup folder of root's or the running account's
// own that is no link. Each row plants one such thing; the merge fails and changes nothing.
TEST_F(MergeCommonConfigTest, ALinkOrAStrangeBackupFolderIsNeitherReadNorWritten) {
    const fs::path backup = temp / "ProgramData" / "Lumvar";
    const fs::path elsewhere = temp / "Elsewhere";
    auto moveAway = [&](const fs::path& path) {
        fs::create_directories(elsewhere);
        fs::rename(path, elsewhere / path.filename());
        fs::create_symlink(elsewhere / path.filename(), path);
    };
    const struct {
        const char* name;
        std::function<void()> plant;
        bool needsRoot;
    } cases[] = {
        {"the saved file a link", [&] { moveAway(SavedFile()); }, false},
        {"the live file a link", [&] { moveAway(LiveFile()); }, false},
        {"the backup folder a link", [&] { moveAway(backup); }, false},
        {"the backup folder owned by another user",
         [&] { ASSERT_EQ(::chown(backup.c_str(), 4321, 4321), 0); }, true},
    };
    bool skipped = false;
    for (const auto& c : cases) {
        if (c.needsRoot && ::geteuid() != 0) {
            skipped = true;
            continue;
        }
        fs::remove_all(temp / "ProgramData");
        fs::remove_all(temp / "config");
        fs::remove_all(elsewhere);
        WriteFile(SavedFile(), kGoodSaved);
        WriteFile(LiveFile(), kGoodLive);
        c.plant();
        EXPECT_FALSE(job.MergeCommonConfig()) << c.name;
        EXPECT_EQ(ReadFile(LiveFile()), kGoodLive) << c.name;
        EXPECT_EQ(ReadFile(SavedFile()), kGoodSaved) << c.name;
        EXPECT_EQ(fs::is_symlink(LiveFile()), std::string(c.name) == "the live file a link") << c.name;
    }
    // Without any of these, the same files merge.
    fs::remove_all(temp / "ProgramData");
    fs::remove_all(temp / "config");
    WriteFile(SavedFile(), kGoodSaved);
    WriteFile(LiveFile(), kGoodLive);
    EXPECT_TRUE(job.MergeCommonConfig());
    EXPECT_NE(ReadFile(LiveFile()), kGoodLive);
    if (skipped)
        GTEST_SKIP() << "the row with a backup folder of another user needs root; the others ran";
}

// The saved file's path is formed in a buffer of 260 wide characters: up to 259 characters it is
// read; one more and the merge fails without touching anything.
TEST_F(MergeCommonConfigTest, ASavedFilePathBeyond259CharactersFails) {
    const std::size_t suffix = std::u16string_view(u"\\Lumvar\\CommonConfig.xml").size();
    const std::size_t base = U16(temp / "long").size() + 1;
    ASSERT_LT(base + suffix, 200u);
    for (const std::size_t length : {259u, 260u}) {
        // The folder holds non-ASCII letters: the limit counts UTF-16 units, not bytes.
        std::u16string name(length - suffix - base, u'a');
        name.replace(0, 2, u"àè");
        const fs::path folder = temp / "long" / fs::path(name);
        ASSERT_EQ(U16(folder).size() + suffix, length);
        WriteFile(folder / "Lumvar" / "CommonConfig.xml", kGoodSaved);
        WriteFile(LiveFile(), kGoodLive);
        const ScopedEnv programData("ProgramData", folder.string());

        EXPECT_EQ(job.MergeCommonConfig(), length == 259) << length;
        EXPECT_EQ(ReadFile(LiveFile()), length == 259 ? kGoodSaved : kGoodLive) << length;
    }
}

TEST_F(MergeCommonConfigTest, AnUnknownCommonApplicationDataFolderFails) {
    WriteFile(temp / "file", "not a folder");
    const ScopedEnv programData("ProgramData", (temp / "file" / "ProgramData").string());
    WriteFile(LiveFile(), kGoodLive);
    EXPECT_FALSE(job.MergeCommonConfig());
    EXPECT_EQ(ReadFile(LiveFile()), kGoodLive);
}

// Writing the live file on a full disk fails the step, and the installed file survives whole.
TEST_F(MergeCommonConfigTest, AFullDiskFailsTheMergeAndKeepsTheLiveFile) {
    const ScopedTmpfs disk(temp / "disk", "size=64k");
    if (!disk.mounted())
        GTEST_SKIP() << disk.reason();
    const std::string live = ReadFile(Examples() / "fresh" / "config" / "CommonConfig.xml");
    WriteFile(temp / "disk" / "CommonConfig.xml", live);
    WriteFile(SavedFile(), ReadFile(Examples() / "sample" / "suite" / "Common" / "CommonConfig.xml"));
    ASSERT_EQ(FillFileSystem(temp / "disk" / "filler"), ENOSPC);
    job.commonConfigFile = U16(temp / "disk") + u"\\CommonConfig.xml";

    EXPECT_FALSE(job.MergeCommonConfig());
    EXPECT_EQ(ReadFile(temp / "disk" / "CommonConfig.xml"), live);
    EXPECT_EQ(Entries(temp / "disk"), (std::vector<std::string>{"CommonConfig.xml", "filler"}));
}

}  // namespace
