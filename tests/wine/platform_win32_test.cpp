// The Win32 platform layer, exercised under Wine through lumvar-platform-probe.exe (one operation
// per run) and checked from the host side on the host's file system.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/text.h"
#include "tests/support/temp_folder.h"
#include "tests/wine/file_holder.h"
#include "tests/wine/wine_session.h"

namespace {

using testing_support::ReadFile;
using testing_support::TempFolder;
using testing_support::WriteFile;

struct ProbeResult {
    int exitCode = -1;
    std::string output;
};

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

// Names of everything directly inside a folder, sorted.
std::vector<std::string> Entries(const std::filesystem::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

class WinePlatformTest : public ::testing::Test {
protected:
    void SetUp() override {
        const std::string reason = wine::ProgramUnavailableReason("lumvar-platform-probe.exe");
        if (!reason.empty())
            GTEST_SKIP() << reason;
    }

    static ProbeResult Probe(const std::vector<std::u16string>& arguments) {
        ProbeResult result;
        result.exitCode =
            wine::Run(wine::MingwBinFolder() / "lumvar-platform-probe.exe", arguments, &result.output);
        return result;
    }

    static std::u16string Drive(const std::filesystem::path& host) { return wine::DrivePath(host); }

    TempFolder temp_;
};

// The interpreter is named by its full path in the system folder, never looked up through the
// search path. (A cmd.exe planted beside the program cannot show the difference under Wine: its
// loader starts the built-in cmd.exe for that name wherever the search would have found it.)
TEST_F(WinePlatformTest, InterpreterIsCmdInTheSystemFolder) {
    const ProbeResult result = Probe({u"interpreter"});
    ASSERT_EQ(result.exitCode, 0);
    EXPECT_EQ(Lower(result.output), "c:\\windows\\system32\\cmd.exe\n");
}

TEST_F(WinePlatformTest, CommonAppDataIsProgramDataWithoutTrailingSeparator) {
    const ProbeResult result = Probe({u"appdata"});
    ASSERT_EQ(result.exitCode, 0);
    EXPECT_EQ(Lower(result.output), "c:\\programdata\n");
}

TEST_F(WinePlatformTest, FrameworkInitialises) {
    const ProbeResult result = Probe({u"init"});
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.output, "true\n");
}

TEST_F(WinePlatformTest, InterpreterExitCodeComesBack) {
    const struct {
        std::u16string parameters;
        int exitCode;
    } cases[] = {
        {u"/c exit 0", 0},
        {u"/c exit 1", 1},
        {u"/c exit 4", 4},
        {u"/c exit 200", 200},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Probe({u"run", c.parameters}).exitCode, c.exitCode) << platform::ToUtf8(c.parameters);
    }
}

// The parameter string reaches cmd.exe as it stands: quoted paths with blanks and non-ASCII
// letters, and a destination whose closing backslash sits right before the quote.
TEST_F(WinePlatformTest, ParameterStringReachesTheInterpreterUnchanged) {
    WriteFile(temp_ / "Suite été" / "Common Config.xml", "<a>\r\n</a>");
    const std::u16string parameters = u"/c XCOPY \"" + Drive(temp_ / "Suite été" / "Common Config.xml") +
                                      u"\" \"" + Drive(temp_ / "Backup ü") + u"\\\" /i /v /y";
    EXPECT_EQ(Probe({u"run", parameters}).exitCode, 0);
    EXPECT_EQ(ReadFile(temp_ / "Backup ü" / "Common Config.xml"), "<a>\r\n</a>");
}

// A run that does not end is ended after the time limit, with the Windows programs it started,
// so that one stuck copy cannot hold up the whole tier. Wine's xcopy loops for ever when a folder
// of the destination path is a file (Windows reports an error instead).
TEST_F(WinePlatformTest, StuckRunIsEndedWithEveryProgramItStarted) {
    WriteFile(temp_ / "f.opa", "x");
    WriteFile(temp_ / "Lumvar" / "Data", "a file where a folder belongs");
    const std::u16string parameters = u"/c XCOPY \"" + Drive(temp_ / "f.opa") + u"\" \"" +
                                      Drive(temp_ / "Lumvar" / "Data" / "diesel") + u"\\\" /i /v /y";
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(wine::Run(wine::MingwBinFolder() / "lumvar-platform-probe.exe", {u"run", parameters}, nullptr,
                        std::chrono::seconds(3)),
              -1);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));

    // Nothing of that run is left: no process has the scratch folder on its command line.
    const std::string scratch = temp_.path().string();
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        const std::string commandLine = ReadFile(entry.path() / "cmdline");
        EXPECT_EQ(commandLine.find(scratch.substr(1)), std::string::npos) << commandLine;
    }
}

// Only "not found" is missing; a test the system cannot answer is unknown, never missing.
TEST_F(WinePlatformTest, PathStateTellsMissingFromUnknown) {
    WriteFile(temp_ / "dossier été" / "fichier ü.ini", "x");
    std::filesystem::create_symlink("loop-b", temp_ / "loop-a");
    std::filesystem::create_symlink("loop-a", temp_ / "loop-b");
    const struct {
        std::u16string path;
        const char* expected;
    } cases[] = {
        {Drive(temp_ / "dossier été" / "fichier ü.ini"), "present\n"},
        {Drive(temp_ / "dossier été"), "present\n"},
        {Drive(temp_ / "dossier été") + u"\\", "present\n"},
        {Drive(temp_ / "dossier été") + u"\\\\fichier ü.ini", "present\n"},
        {Drive(temp_ / "dossier été" / "FICHIER Ü.INI"), "present\n"},
        {Drive(temp_ / "dossier été" / "missing.ini"), "missing\n"},
        {Drive(temp_ / "missing" / "fichier ü.ini"), "missing\n"},
        {Drive(temp_ / "missing" / "deeper" / "fichier ü.ini"), "missing\n"},
        {Drive(temp_ / "dossier été" / "fichier ü.ini" / "below.ini"), "missing\n"},
        {Drive(temp_ / "loop-a"), "unknown\n"},
        {Drive(temp_ / "loop-a" / "fichier ü.ini"), "unknown\n"},
        {Drive(temp_ / "dossier été" / "fichier ü.ini") + u"\\", "missing\n"},
        // A drive letter that names no drive: Windows too says the path is not found.
        {u"Q:\\no drive\\fichier.ini", "missing\n"},
        // Wine looks a name up among the host folder's entries, and one longer than the host
        // allows is simply not among them; Windows refuses such a name (unknown).
        {Drive(temp_ / std::string(300, 'n')), "missing\n"},
        {Drive(temp_ / "star*.ini"), "unknown\n"},
        {u"\\\\nohost.invalid\\share\\fichier.ini", "unknown\n"},
    };
    for (const auto& c : cases) {
        const ProbeResult result = Probe({u"exists", c.path});
        EXPECT_EQ(result.output, c.expected) << platform::ToUtf8(c.path);
    }
}

// A relative path is resolved against the working folder as any program started there would
// resolve it; an absolute one comes back character for character.
TEST_F(WinePlatformTest, AbsolutePathResolvesOnlyRelativePaths) {
    std::filesystem::create_directories(temp_ / "work");
    const std::filesystem::path previous = std::filesystem::current_path();
    std::filesystem::current_path(temp_ / "work");
    const std::u16string work = Drive(temp_ / "work");
    const struct {
        std::u16string path;
        std::u16string expected;
    } cases[] = {
        {u"C:\\Programmi\\Suite Officina", u"C:\\Programmi\\Suite Officina"},
        {u"c:/Programmi/../Suite/", u"c:/Programmi/../Suite/"},
        {u"\\\\server\\share\\dati", u"\\\\server\\share\\dati"},
        {u"//server/share/dati", u"//server/share/dati"},
        {u"dati", work + u"\\dati"},
        {u"dati\\", work + u"\\dati\\"},
        {u".\\dati", work + u"\\dati"},
        {u"..\\dati", Drive(temp_.path()) + u"\\dati"},
        {u"Z:dati", work + u"\\dati"},
        {u"\\dati", u"Z:\\dati"},
        {u"/dati", u"Z:\\dati"},
        {u"-rf", work + u"\\-rf"},
    };
    for (const auto& c : cases) {
        const ProbeResult result = Probe({u"absolute", c.path});
        EXPECT_EQ(result.output, platform::ToUtf8(c.expected) + "\n") << platform::ToUtf8(c.path);
    }
    std::filesystem::current_path(previous);
}

TEST_F(WinePlatformTest, FindMatchesWildcardIgnoringCaseAndSkipsDotEntries) {
    WriteFile(temp_ / "fumi" / "a.crk", "1");
    WriteFile(temp_ / "fumi" / "B.CRK", "2");
    WriteFile(temp_ / "fumi" / "c.txt", "3");
    WriteFile(temp_ / "fumi" / "folder.crk" / "inside.crk", "4");
    std::filesystem::create_symlink("loop-b", temp_ / "loop-a");
    std::filesystem::create_symlink("loop-a", temp_ / "loop-b");
    const struct {
        std::u16string pattern;
        const char* expected;
    } cases[] = {
        {Drive(temp_ / "fumi") + u"\\*.crk", "B.CRK\na.crk\nfolder.crk\n"},
        {Drive(temp_ / "fumi") + u"\\*", "B.CRK\na.crk\nc.txt\nfolder.crk\n"},
        {Drive(temp_ / "fumi") + u"\\*.ini", ""},
        {Drive(temp_ / "missing") + u"\\*.crk", ""},
        {Drive(temp_ / "missing" / "fumi") + u"\\*.crk", ""},
        // A folder that cannot be listed is never taken for an empty one.
        {Drive(temp_ / "loop-a") + u"\\*.crk", "failed\n"},
    };
    for (const auto& c : cases) {
        const ProbeResult result = Probe({u"find", c.pattern});
        EXPECT_EQ(result.exitCode, 0);
        EXPECT_EQ(result.output, c.expected) << platform::ToUtf8(c.pattern);
    }
}

TEST_F(WinePlatformTest, RenameNeverReplaces) {
    const std::filesystem::path addin = temp_ / "neroaddin";
    WriteFile(addin / "sett.xml", "fresh");
    // The tool's names carry a doubled separator; the system reads it as one.
    const std::u16string from = Drive(addin) + u"\\\\sett.xml";
    const std::u16string to = Drive(addin) + u"\\\\settings.xml";

    EXPECT_EQ(Probe({u"rename", from, to}).output, "ok\n");
    EXPECT_EQ(Entries(addin), std::vector<std::string>{"settings.xml"});
    EXPECT_EQ(ReadFile(addin / "settings.xml"), "fresh");

    EXPECT_EQ(Probe({u"rename", from, to}).output, "failed\n") << "the old name is gone";

    WriteFile(addin / "sett.xml", "second");
    EXPECT_EQ(Probe({u"rename", from, to}).output, "failed\n") << "the new name exists";
    EXPECT_EQ(ReadFile(addin / "settings.xml"), "fresh");
    EXPECT_EQ(ReadFile(addin / "sett.xml"), "second");
}

TEST_F(WinePlatformTest, ExclusiveReadGivesTheBytesOrFails) {
    const char raw[] = "[Main]\r\nKey=\xC3\xA9\0tail\r\n";
    const std::string bytes(raw, sizeof raw - 1);
    WriteFile(temp_ / "oscillo.ini", bytes);
    WriteFile(temp_ / "empty.ini", "");

    EXPECT_EQ(Probe({u"read", Drive(temp_ / "oscillo.ini")}).output, bytes);
    EXPECT_EQ(Probe({u"read", Drive(temp_ / "empty.ini")}).output, "");
    EXPECT_EQ(Probe({u"read", Drive(temp_ / "missing.ini")}).output, "failed\n");
    EXPECT_EQ(Probe({u"read", Drive(temp_.path())}).output, "failed\n") << "a folder is not read";
    EXPECT_EQ(Probe({u"read-held", Drive(temp_ / "oscillo.ini")}).output, "failed\n")
        << "a file that another handle holds open cannot be opened without sharing";
}

TEST_F(WinePlatformTest, ReplaceWritesWholeFileAndLeavesNoTemporary) {
    const std::filesystem::path folder = temp_ / "Config ü";
    WriteFile(folder / "CommonConfig.xml", "old contents that are longer than the new ones");

    EXPECT_EQ(Probe({u"replace", Drive(folder / "CommonConfig.xml"), u"<brand>é</brand>"}).output, "ok\n");
    EXPECT_EQ(ReadFile(folder / "CommonConfig.xml"), "<brand>\xC3\xA9</brand>");

    EXPECT_EQ(Probe({u"replace", Drive(folder / "New.xml"), u""}).output, "ok\n");
    EXPECT_TRUE(std::filesystem::exists(folder / "New.xml"));
    EXPECT_EQ(ReadFile(folder / "New.xml"), "");

    EXPECT_EQ(Entries(folder), (std::vector<std::string>{"CommonConfig.xml", "New.xml"}));
}

TEST_F(WinePlatformTest, ReplaceFailureKeepsOriginalAndReportsCause) {
    EXPECT_EQ(Probe({u"replace", Drive(temp_ / "missing" / "CommonConfig.xml"), u"x"}).output,
              "failed: No such file or directory\n");
    EXPECT_FALSE(std::filesystem::exists(temp_ / "missing"));

    // A folder in the file's place cannot be replaced; the temporary file is removed again.
    std::filesystem::create_directories(temp_ / "Config" / "CommonConfig.xml");
    WriteFile(temp_ / "Config" / "CommonConfig.xml" / "inside.txt", "kept");
    const ProbeResult result = Probe({u"replace", Drive(temp_ / "Config" / "CommonConfig.xml"), u"x"});
    EXPECT_EQ(result.output.rfind("failed: ", 0), 0u) << result.output;
    EXPECT_EQ(Entries(temp_ / "Config"), std::vector<std::string>{"CommonConfig.xml"});
    EXPECT_EQ(ReadFile(temp_ / "Config" / "CommonConfig.xml" / "inside.txt"), "kept");
}

// The replaced file keeps its identity as far as Wine shows one: the hidden and archive attributes,
// and the rights Wine keeps as the file's Unix mode (0644: read-only for others, nothing executable).
// Real Windows keeps the security descriptor and the streams through ReplaceFileW itself; Wine's
// only renames, and rights narrower than its default (0640, 0600) come out as 0644 under it.
TEST_F(WinePlatformTest, ReplaceKeepsAttributesAndRights) {
    const std::filesystem::path file = temp_ / "CommonConfig.xml";
    WriteFile(file, "<old/>");
    ASSERT_EQ(::chmod(file.c_str(), 0644), 0);
    ASSERT_EQ(Probe({u"set-attributes", Drive(file), u"22"}).output, "ok\n");
    const std::string rights = Probe({u"rights", Drive(file)}).output;
    ASSERT_EQ(rights.rfind("D:", 0), 0u) << rights;

    EXPECT_EQ(Probe({u"replace", Drive(file), u"<new/>"}).output, "ok\n");
    EXPECT_EQ(ReadFile(file), "<new/>");
    EXPECT_EQ(Probe({u"attributes", Drive(file)}).output, "22\n") << "hidden and archive";
    EXPECT_EQ(Probe({u"rights", Drive(file)}).output, rights);
    struct stat info {};
    ASSERT_EQ(::stat(file.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0644u);
    EXPECT_EQ(Entries(temp_.path()), std::vector<std::string>{"CommonConfig.xml"});
}

// Any name the file system takes saves: the temporary's name never exceeds 255 units, whatever the
// target's (a 250-character name needed a temporary of more than 270 before).
TEST_F(WinePlatformTest, ReplaceSavesNamesUpToTheLimit) {
    for (const std::size_t length : {240u, 250u, 255u}) {
        const std::string name = std::string(length - 4, 'c') + ".xml";
        WriteFile(temp_ / name, "<old/>");
        EXPECT_EQ(Probe({u"replace", Drive(temp_ / name), u"<new/>"}).output, "ok\n") << length;
        EXPECT_EQ(ReadFile(temp_ / name), "<new/>") << length;
        EXPECT_EQ(Entries(temp_.path()), std::vector<std::string>{name}) << length;
        std::filesystem::remove(temp_ / name);
    }
}

// A save removes the temporaries that killed saves of the same file left ("~" + name + ".lumvar-",
// the writer's process id and a counter in hex, ".tmp"), but not one whose writer still runs, nor
// the temporaries of other files.
TEST_F(WinePlatformTest, ReplaceRemovesOnlyTheStaleTemporariesOfTheSameFile) {
    WriteFile(temp_ / "CommonConfig.xml", "<old/>");
    WriteFile(temp_ / "busy.txt", "");
    wine::HeldFile writer(temp_ / "busy.txt", 0);
    ASSERT_TRUE(writer.held()) << writer.output();
    const std::string live = "~CommonConfig.xml.lumvar-" + writer.processId() + "0003.tmp";
    ASSERT_EQ(live.size(), std::string("~CommonConfig.xml.lumvar-000000000000.tmp").size());
    const std::vector<std::string> stale = {"~CommonConfig.xml.lumvar-7ffffff00001.tmp",
                                            "~CommonConfig.xml.lumvar-7ffffff0abcd.tmp"};
    const std::vector<std::string> kept = {live, "~Other.xml.lumvar-7ffffff00001.tmp",
                                           "~CommonConfig.xml.lumvar-7ffffff00001.tmp.bak",
                                           "~CommonConfig.xml.lumvar-7ffffff0001.tmp"};
    for (const auto& name : stale)
        WriteFile(temp_ / name, "<half");
    for (const auto& name : kept)
        WriteFile(temp_ / name, "<half");

    EXPECT_EQ(Probe({u"replace", Drive(temp_ / "CommonConfig.xml"), u"<new/>"}).output, "ok\n");
    EXPECT_EQ(writer.Release(), 0);
    std::vector<std::string> expected = kept;
    expected.push_back("CommonConfig.xml");
    expected.push_back("busy.txt");
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(Entries(temp_.path()), expected);
}

// A symbolic link at the settings file's path is itself replaced by the new file; what it points to
// is never written nor removed. (Wine shows a Unix link as the file it points to, without a reparse
// point; its ReplaceFileW removed the linked file.)
TEST_F(WinePlatformTest, ReplaceReplacesALinkAndNeverWritesThroughIt) {
    WriteFile(temp_ / "protected" / "secret.xml", "kept");
    std::filesystem::create_symlink(temp_ / "protected" / "secret.xml", temp_ / "CommonConfig.xml");
    EXPECT_EQ(Probe({u"replace", Drive(temp_ / "CommonConfig.xml"), u"<new/>"}).output, "ok\n");
    EXPECT_TRUE(
        std::filesystem::is_regular_file(std::filesystem::symlink_status(temp_ / "CommonConfig.xml")));
    EXPECT_EQ(ReadFile(temp_ / "CommonConfig.xml"), "<new/>");
    EXPECT_EQ(ReadFile(temp_ / "protected" / "secret.xml"), "kept");
    EXPECT_EQ(Entries(temp_.path()), (std::vector<std::string>{"CommonConfig.xml", "protected"}));
}

// Settings files are regular files: a FIFO (Wine opens the Unix file) and a device fail at once,
// by every way in, and the FIFO stays.
TEST_F(WinePlatformTest, OnlyRegularFilesAreReadOrReplaced) {
    ASSERT_EQ(::mkfifo((temp_ / "fifo.xml").c_str(), 0644), 0);
    EXPECT_EQ(Probe({u"open-missing", Drive(temp_ / "fifo.xml")}).output, "Not a regular file\n");
    EXPECT_EQ(Probe({u"read", Drive(temp_ / "fifo.xml")}).output, "failed\n");
    EXPECT_EQ(Probe({u"replace", Drive(temp_ / "fifo.xml"), u"<new/>"}).output,
              "failed: Not a regular file\n");
    EXPECT_EQ(Probe({u"open-missing", Drive(temp_ / "NUL")}).output, "Not a regular file\n");
    EXPECT_EQ(Entries(temp_.path()), std::vector<std::string>{"fifo.xml"});
}

// The XML load on the Windows build: the file's 64-bit length is read, so a file beyond the
// index's 32-bit offsets is refused before anything is read (a sparse file: no room taken), and a
// FIFO fails at once.
TEST_F(WinePlatformTest, LoadRefusesHugeFilesAndFifos) {
    WriteFile(temp_ / "small.xml", "<a/>");
    EXPECT_EQ(Probe({u"load", Drive(temp_ / "small.xml")}).output, "loaded\n4 bytes to 4 wide chars\n");
    WriteFile(temp_ / "huge.xml", "<a/>");
    if (::truncate((temp_ / "huge.xml").c_str(), (off_t{1} << 32) + 10) != 0)
        GTEST_SKIP() << "no sparse file here";
    EXPECT_EQ(Probe({u"load", Drive(temp_ / "huge.xml")}).output,
              "not loaded\nFile larger than 2147483647 bytes\n");
    ASSERT_EQ(::mkfifo((temp_ / "fifo.xml").c_str(), 0644), 0);
    EXPECT_EQ(Probe({u"load", Drive(temp_ / "fifo.xml")}).output, "not loaded\nNot a regular file\n");
}

TEST_F(WinePlatformTest, SystemErrorTextsComeFromTheCLibrary) {
    const struct {
        std::vector<std::u16string> arguments;
        const char* expected;
    } cases[] = {
        {{u"error-text", u"2"}, "No such file or directory\n"},
        {{u"error-text", u"13"}, "Permission denied\n"},
        {{u"open-missing", Drive(temp_ / "missing" / "a.xml")}, "No such file or directory\n"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Probe(c.arguments).output, c.expected) << platform::ToUtf8(c.arguments.back());
    }
}

}  // namespace
