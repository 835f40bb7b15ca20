// The POSIX stand-in for cmd.exe (lumvar-cmd) against Wine's own cmd.exe and xcopy.exe: the same
// parameter strings, in the form the tool builds them, over the same source trees, must leave
// the same trees behind byte for byte and agree on success (exit code 0) or failure.
//
// Wine's side runs through lumvar-platform-probe.exe, so its parameter string takes the very road
// of the tool's own copies (ShellExecuteExW of the system folder's cmd.exe).
//
// Where Wine and the stand-in differ, the stand-in follows the documented behaviour of the
// Windows command; such cases name the difference in `onlyWindowsCreates` and the stand-in is
// checked against Wine's tree with that difference added:
// - EmptyFolderFlat, FolderHoldingOnlySubfoldersFlat: a source folder without files to copy,
//   without /e. XCOPY documents for /i that a missing destination is created as a folder and the
//   files are then copied into it, so the stand-in creates the (empty) destination folder; Wine 8
//   creates nothing. Both report success.
// Cases left out on purpose:
// - a destination inside the source tree with /e: Windows refuses it ("Cannot perform a cyclic
//   copy", exit code 4) and so does the stand-in, but Wine 8's xcopy recurses into its own copy
//   until it crashes, so it cannot serve as the reference there;
// - a destination below a file (a file where a folder of the destination path belongs): Windows
//   reports an error, Wine 8's xcopy loops for ever.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "platform/text.h"
#include "tests/support/lumvar_cmd_runner.h"
#include "tests/support/temp_folder.h"
#include "tests/wine/wine_session.h"

namespace {

namespace fs = std::filesystem;
using testing_support::ReadFile;
using testing_support::TempFolder;
using testing_support::U16;
using testing_support::WriteFile;

const fs::path kStandIn = testing_support::LumvarCmdPath();

constexpr const char16_t* kFlat = u"\" /i /v /y";
constexpr const char16_t* kTree = u"\" /e /i /v /y";

struct Case {
    const char* name;
    // Builds the trees below the root, once for each side.
    std::function<void(const fs::path& root)> setup;
    // The source path and the destination folder below the root, written with backslashes as the
    // tool joins its paths; the destination gets its closing backslash from the tail.
    std::u16string source;
    std::u16string destination;
    const char16_t* tail;
    // Files that a successful run must have produced (relative to the root, "/" separated).
    std::vector<std::string> produced;
    // Folders that the Windows command, as documented, leaves behind and Wine 8 does not. Empty
    // when Wine is the reference for the whole tree.
    std::vector<std::string> onlyWindowsCreates = {};
};

// Names the case in test listings instead of dumping its bytes.
void PrintTo(const Case& c, std::ostream* out) {
    *out << c.name;
}

// Everything below a root: folders as "<folder>", files with their bytes.
std::map<std::string, std::string> Snapshot(const fs::path& root) {
    std::map<std::string, std::string> entries;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        const std::string relative = fs::relative(entry.path(), root).generic_string();
        entries[relative] = entry.is_directory() ? "<folder>" : ReadFile(entry.path());
    }
    return entries;
}

// The parameter string as the tool builds it: "/c XCOPY \"" + source + "\" \"" + destination +
// tail, with rootForm the root in the form that the interpreter sees.
std::u16string Parameters(const std::u16string& rootForm, const Case& c) {
    return u"/c XCOPY \"" + rootForm + u"\\" + c.source + u"\" \"" + rootForm + u"\\" + c.destination +
           u"\\" + c.tail;
}

int RunStandIn(const std::u16string& parameters) {
    return testing_support::RunLumvarCmd({platform::ToUtf8(parameters)});
}

void SourceTree(const fs::path& root) {
    WriteFile(root / "src" / "a.txt", "alpha\r\n");
    WriteFile(root / "src" / "b.dat", std::string("\x00\x01\xFF\r\n\x1A", 6));
    WriteFile(root / "src" / "sub" / "c.txt", "gamma");
    WriteFile(root / "src" / "sub" / "deeper" / "d.txt", "delta");
    fs::create_directories(root / "src" / "empty");
    fs::create_directories(root / "src" / "sub" / "empty too");
}

std::string AllBytes() {
    std::string bytes;
    for (int i = 0; i < 256; ++i)
        bytes.push_back(static_cast<char>(i));
    return bytes + "\r\n\n\r";
}

const Case kCases[] = {
    {"FileIntoNewFolder",
     [](const fs::path& root) { WriteFile(root / "suite" / "eobd.ini", "[eobd]\r\n"); },
     u"suite\\eobd.ini",
     u"Lumvar",
     kFlat,
     {"Lumvar/eobd.ini"}},
    {"FileOverwritesExistingCopy",
     [](const fs::path& root) {
         WriteFile(root / "suite" / "eobd.ini", "new");
         WriteFile(root / "Lumvar" / "eobd.ini", "old and longer");
         WriteFile(root / "Lumvar" / "other.ini", "untouched");
     },
     u"suite\\eobd.ini",
     u"Lumvar",
     kFlat,
     {"Lumvar/eobd.ini", "Lumvar/other.ini"}},
    {"BinaryFileCopiedByteForByte",
     [](const fs::path& root) { WriteFile(root / "suite" / "all.bin", AllBytes()); },
     u"suite\\all.bin",
     u"Lumvar",
     kFlat,
     {"Lumvar/all.bin"}},
    {"FolderWithoutSubfolders", SourceTree, u"src", u"dst", kFlat, {"dst/a.txt", "dst/b.dat"}},
    {"FolderTreeWithEmptySubfolders",
     SourceTree,
     u"src",
     u"dst",
     kTree,
     {"dst/a.txt", "dst/b.dat", "dst/sub/c.txt", "dst/sub/deeper/d.txt", "dst/empty", "dst/sub/empty too"}},
    {"TreeOverExistingDestination",
     [](const fs::path& root) {
         SourceTree(root);
         WriteFile(root / "dst" / "a.txt", "old alpha that is longer");
         WriteFile(root / "dst" / "sub" / "c.txt", "old gamma");
         WriteFile(root / "dst" / "kept.txt", "kept");
         WriteFile(root / "dst" / "sub" / "kept too.txt", "kept too");
     },
     u"src",
     u"dst",
     kTree,
     {"dst/a.txt", "dst/sub/c.txt", "dst/kept.txt", "dst/sub/kept too.txt"}},
    {"MissingSourceFile",
     [](const fs::path& root) { fs::create_directories(root / "suite"); },
     u"suite\\CommonConfig.xml",
     u"Lumvar",
     kFlat,
     {}},
    {"MissingSourceFolder",
     [](const fs::path& root) { fs::create_directories(root / "target"); },
     u"suite\\bancadati\\addin",
     u"target\\neroaddin",
     kTree,
     {}},
    {"NamesWithBlanksAndNonAsciiLetters",
     [](const fs::path& root) {
         WriteFile(root / "Suite été" / "Données ü" / "fichier ß.txt", "straße");
         WriteFile(root / "Suite été" / "Données ü" / "Ordner ø" / "Ω.ini", "omega");
     },
     u"Suite été\\Données ü",
     u"Sauvegarde ø\\Data",
     kTree,
     {"Sauvegarde ø/Data/fichier ß.txt", "Sauvegarde ø/Data/Ordner ø/Ω.ini"}},
    {"DestinationWithMissingParents",
     [](const fs::path& root) { WriteFile(root / "suite" / "gas.ini", "g"); },
     u"suite\\gas.ini",
     u"ProgramData\\Lumvar\\Data\\gas",
     kFlat,
     {"ProgramData/Lumvar/Data/gas/gas.ini"}},
    {"DoubledSeparatorsInPaths",
     [](const fs::path& root) { WriteFile(root / "suite" / "Dorvel.ini", "d"); },
     u"suite\\\\Dorvel.ini",
     u"Lumvar\\\\Data",
     kFlat,
     {"Lumvar/Data/Dorvel.ini"}},
    {"EmptyFolderWithTree",
     [](const fs::path& root) { fs::create_directories(root / "src"); },
     u"src",
     u"dst",
     kTree,
     {}},
    {"EmptyFolderFlat",
     [](const fs::path& root) { fs::create_directories(root / "src"); },
     u"src",
     u"dst",
     kFlat,
     {},
     {"dst"}},
    {"FolderHoldingOnlySubfoldersFlat",
     [](const fs::path& root) { WriteFile(root / "src" / "only" / "inside.txt", "i"); },
     u"src",
     u"dst",
     kFlat,
     {},
     {"dst"}},
};

class XcopyDifferentialTest : public ::testing::TestWithParam<Case> {
protected:
    void SetUp() override {
        const std::string reason = wine::ProgramUnavailableReason("lumvar-platform-probe.exe");
        if (!reason.empty())
            GTEST_SKIP() << reason;
        if (!fs::exists(kStandIn))
            GTEST_SKIP() << "the POSIX build has no lumvar-cmd at " << kStandIn.string();
    }

    TempFolder temp_;
};

TEST_P(XcopyDifferentialTest, StandInLeavesTheTreeWineLeaves) {
    const Case& c = GetParam();
    const fs::path wineRoot = temp_ / "wine";
    const fs::path posixRoot = temp_ / "posix";
    fs::create_directories(wineRoot);
    fs::create_directories(posixRoot);
    c.setup(wineRoot);
    c.setup(posixRoot);

    const int wineCode = wine::Run(wine::MingwBinFolder() / "lumvar-platform-probe.exe",
                                   {u"run", Parameters(wine::DrivePath(wineRoot), c)});
    const int standInCode = RunStandIn(Parameters(U16(posixRoot), c));
    ASSERT_NE(wineCode, 255) << "Wine's cmd.exe did not start";
    ASSERT_GE(standInCode, 0) << "lumvar-cmd did not run";

    EXPECT_EQ(standInCode == 0, wineCode == 0) << "stand-in " << standInCode << ", Wine " << wineCode;
    std::map<std::string, std::string> expected = Snapshot(wineRoot);
    for (const auto& folder : c.onlyWindowsCreates) {
        EXPECT_EQ(expected.count(folder), 0u) << "Wine now creates " << folder << " as Windows does";
        expected[folder] = "<folder>";
    }
    EXPECT_EQ(Snapshot(posixRoot), expected);
    for (const auto& relative : c.produced) {
        EXPECT_TRUE(fs::exists(posixRoot / relative)) << relative;
    }
}

INSTANTIATE_TEST_SUITE_P(SameParameterStrings, XcopyDifferentialTest, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<Case>& param) {
                             return std::string(param.param.name);
                         });

}  // namespace
